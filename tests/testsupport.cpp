#include "testsupport.h"

#include "testconfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QThread>

#include <httplib.h>

#include <chrono>
#include <cstdio>

#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
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

TestHttpsServer::TestHttpsServer(const QString &certName, int port)
{
    const std::string cert = testCertPath(certName + QStringLiteral(".pem")).toStdString();
    const std::string key = testCertPath(QStringLiteral("server.key")).toStdString();
    m_server.reset(new httplib::SSLServer(cert.c_str(), key.c_str()));
    auto handle = [this](const httplib::Request &req, httplib::Response &res) {
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Request seen;
            seen.method = req.method;
            seen.path = req.path;
            seen.body = req.body;
            for (const auto &h : req.headers)
                seen.headers.emplace_back(h.first, h.second);
            m_requests.push_back(seen);
            handler = m_handler;
        }
        if (handler)
            handler(req, res);
    };
    // Address reuse only: httplib's default also sets SO_REUSEPORT, whose closed connections keep
    // the port from servers that do not set it (the reference service) for a minute.
#ifdef Q_OS_UNIX
    m_server->set_socket_options([](int fd) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
#endif
    // Short keep-alive, so that stopping does not wait long for idle connections.
    m_server->set_keep_alive_timeout(1);
    m_server->Get(".*", handle);
    m_server->Post(".*", handle);
    m_server->Put(".*", handle);
    if (!m_server->bind_to_port("127.0.0.1", port))
        return;
    m_thread = new std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 200 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TestHttpsServer::~TestHttpsServer()
{
    stop();
}

bool TestHttpsServer::isRunning() const
{
    return m_thread && m_server->is_running();
}

void TestHttpsServer::setHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

std::vector<TestHttpsServer::Request> TestHttpsServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void TestHttpsServer::stop()
{
    if (!m_thread)
        return;
    m_server->stop();
    m_thread->join();
    delete m_thread;
    m_thread = nullptr;
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
