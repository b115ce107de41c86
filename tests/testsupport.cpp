#include "testsupport.h"

#include "testconfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QThread>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#include <thread>

ModalResponder::ModalResponder(QMessageBox::StandardButton button) : ModalResponder(Handler())
{
    m_handler = [this, button](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            answerBox(box, button);
    };
}

ModalResponder::ModalResponder(Handler handler) : m_handler(std::move(handler))
{
    connect(&m_timer, &QTimer::timeout, this, &ModalResponder::poll);
    m_timer.start(10);
}

void ModalResponder::answerBox(QMessageBox *box, QMessageBox::StandardButton button)
{
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.format = box->textFormat();
    seen.parent = box->parentWidget();
    m_boxes.append(seen);
    if (QAbstractButton *b = box->button(button))
        b->click();
    else
        box->reject();
}

void ModalResponder::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    for (const QPointer<QWidget> &done : qAsConst(m_done))
        if (done == modal)
            return;
    m_done.append(modal);
    ++m_handled;
    if (m_handler)
        m_handler(modal);
}

bool pickInFileDialog(QWidget *modal, const QString &path)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    if (!dialog)
        return false;
    // selectFile() leaves a focused name field alone: type the path instead.
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name)
        return false;
    name->setText(path);
    static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept checks the choice
    return true;
}

void closeAllModals()
{
    for (int i = 0; i < 20; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        QCoreApplication::processEvents();
    }
}

QString writeTestFile(const QString &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

QString testCertPath(const QString &fileName)
{
    return QStringLiteral(FILEHASH_TEST_CERT_DIR) + QLatin1Char('/') + fileName;
}

struct TestHttpsServer::Private {
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = 0;
    mutable std::mutex mutex;
    Handler handler;
    std::vector<Request> requests;
    std::atomic<bool> stopping{false};
};

TestHttpsServer::TestHttpsServer(const QString &certName) : d(new Private)
{
    const std::string cert = testCertPath(certName + QStringLiteral(".pem")).toStdString();
    const std::string key = testCertPath(QStringLiteral("server.key")).toStdString();
    d->server.reset(new httplib::SSLServer(cert.c_str(), key.c_str()));
    Private *p = d.get();
    auto handle = [p](const httplib::Request &req, httplib::Response &res) {
        Request seen;
        seen.method = req.method;
        seen.target = req.target;
        seen.body = req.body;
        for (const auto &h : req.headers)
            seen.headers.emplace_back(h.first, h.second);
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(p->mutex);
            p->requests.push_back(seen);
            handler = p->handler;
        }
        const Reply reply = handler ? handler(seen) : Reply();
        res.status = reply.status;
        switch (reply.mode) {
        case Reply::Mode::Normal:
            res.set_content(reply.body, reply.contentType.c_str());
            break;
        case Reply::Mode::Endless: {
            auto provide = [p](size_t, httplib::DataSink &sink) {
                static const std::string chunk(64 * 1024, '0');
                return !p->stopping && sink.is_writable() && sink.write(chunk.data(), chunk.size());
            };
            if (reply.announced < 0)
                res.set_chunked_content_provider(reply.contentType.c_str(), provide);
            else
                res.set_content_provider(size_t(reply.announced), reply.contentType.c_str(),
                                         [provide](size_t offset, size_t, httplib::DataSink &sink) {
                                             return provide(offset, sink);
                                         });
            break;
        }
        case Reply::Mode::Close:
            res.set_content_provider(1000, reply.contentType.c_str(),
                                     [](size_t, size_t, httplib::DataSink &) { return false; });
            break;
        case Reply::Mode::Hang:
            while (!p->stopping)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            break;
        }
    };
    d->server->set_keep_alive_timeout(1);
    d->server->Get(".*", handle);
    d->server->Post(".*", handle);
    d->port = d->server->bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        return;
    d->thread = std::thread([p] { p->server->listen_after_bind(); });
    for (int i = 0; i < 200 && !d->server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TestHttpsServer::~TestHttpsServer()
{
    stop();
}

quint16 TestHttpsServer::port() const
{
    return quint16(d->port);
}

QString TestHttpsServer::url() const
{
    return QStringLiteral("https://localhost:%1").arg(d->port);
}

void TestHttpsServer::setHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->handler = std::move(handler);
}

std::vector<TestHttpsServer::Request> TestHttpsServer::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->requests;
}

void TestHttpsServer::stop()
{
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    d->server->stop();
    d->thread.join();
}

FakeReply::FakeReply(const QUrl &url, const QByteArray &body, NetworkError error, qint64 announced)
    : m_body(body)
{
    setUrl(url);
    setOperation(QNetworkAccessManager::PostOperation);
    if (announced >= 0)
        setHeader(QNetworkRequest::ContentLengthHeader, announced);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (error != NoError)
        setError(error, QStringLiteral("fake failure %1").arg(int(error)));
    setFinished(true);
}

qint64 FakeReply::bytesAvailable() const
{
    return m_body.size() - m_offset + QNetworkReply::bytesAvailable();
}

qint64 FakeReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, m_body.size() - m_offset);
    memcpy(data, m_body.constData() + m_offset, size_t(n));
    m_offset += n;
    return n;
}

QByteArray captureStdout(const std::function<void()> &fn)
{
#ifdef Q_OS_UNIX
    QTemporaryFile sink;
    if (!sink.open())
        return QByteArray();
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(sink.handle(), 1);
    fn();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    sink.seek(0);
    return sink.readAll();
#else
    fn();
    return QByteArray();
#endif
}
