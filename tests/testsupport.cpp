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

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

struct TestHttpsServer::Private {
    net::io_context ioc;
    ssl::context tls{ssl::context::tls_server};
    tcp::acceptor acceptor{ioc};
    std::thread acceptThread;
    std::vector<std::thread> connections;
    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::vector<int> sockets; // open connections, shut down to wake their threads at stop()
    Handler handler;
    std::vector<Request> requests;
    quint16 port = 0;

    void acceptLoop();
    void serve(tcp::socket socket);
    void answer(beast::ssl_stream<tcp::socket> &stream, const Reply &reply, unsigned version, bool keepAlive,
                bool *goOn);
    bool isStopping()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }
};

void TestHttpsServer::Private::acceptLoop()
{
    for (;;) {
        tcp::socket socket(ioc);
        beast::error_code ec;
        acceptor.accept(socket, ec);
        std::lock_guard<std::mutex> lock(mutex);
        if (ec || stopping)
            return;
        sockets.push_back(socket.native_handle());
        connections.emplace_back(
            [this, s = std::make_shared<tcp::socket>(std::move(socket))]() mutable { serve(std::move(*s)); });
    }
}

void TestHttpsServer::Private::serve(tcp::socket socket)
{
    const int fd = socket.native_handle();
    beast::ssl_stream<tcp::socket> stream(std::move(socket), tls);
    beast::error_code ec;
    stream.handshake(ssl::stream_base::server, ec);
    beast::flat_buffer buffer;
    bool goOn = !ec;
    while (goOn) {
        http::request<http::string_body> req;
        http::read(stream, buffer, req, ec);
        if (ec)
            break;
        Request seen;
        seen.method = std::string(req.method_string());
        seen.target = std::string(req.target());
        seen.body = req.body();
        for (const auto &field : req)
            seen.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        Handler handle;
        {
            std::lock_guard<std::mutex> lock(mutex);
            requests.push_back(seen);
            handle = handler;
        }
        answer(stream, handle ? handle(seen) : Reply(), req.version(), req.keep_alive(), &goOn);
    }
    std::lock_guard<std::mutex> lock(mutex);
    sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
}

void TestHttpsServer::Private::answer(beast::ssl_stream<tcp::socket> &stream, const Reply &reply,
                                      unsigned version, bool keepAlive, bool *goOn)
{
    beast::error_code ec;
    *goOn = false;
    switch (reply.mode) {
    case Reply::Mode::Normal: {
        http::response<http::string_body> res{static_cast<http::status>(reply.status), version};
        res.set(http::field::content_type, reply.contentType);
        res.body() = reply.body;
        res.keep_alive(keepAlive);
        res.prepare_payload();
        http::write(stream, res, ec);
        *goOn = !ec && keepAlive;
        return;
    }
    case Reply::Mode::Close:
        return; // the socket closes as the stream goes, without a TLS goodbye
    case Reply::Mode::Hang: {
        std::unique_lock<std::mutex> lock(mutex);
        stopped.wait(lock, [this] { return stopping; });
        return;
    }
    case Reply::Mode::Endless:
        break;
    }
    const bool chunked = reply.announced < 0;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) +
                       " OK\r\nContent-Type: " + reply.contentType + "\r\n" +
                       (chunked ? std::string("Transfer-Encoding: chunked")
                                : "Content-Length: " + std::to_string(reply.announced)) +
                       "\r\n\r\n";
    net::write(stream, net::buffer(head), ec);
    const std::string block(16 * 1024, '0');
    const std::string chunk = "4000\r\n" + block + "\r\n";
    while (!ec && !isStopping())
        net::write(stream, net::buffer(chunked ? chunk : block), ec);
}

TestHttpsServer::TestHttpsServer(const QString &certName) : d(new Private)
{
    const std::string cert = testCertPath(certName + QStringLiteral(".pem")).toStdString();
    const std::string key = testCertPath(QStringLiteral("server.key")).toStdString();
    beast::error_code ec;
    d->tls.use_certificate_chain_file(cert, ec);
    if (!ec)
        d->tls.use_private_key_file(key, ssl::context::pem, ec);
    const tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), 0);
    if (!ec)
        d->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        d->acceptor.bind(endpoint, ec);
    if (!ec)
        d->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        return;
    d->port = d->acceptor.local_endpoint().port();
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
}

TestHttpsServer::~TestHttpsServer()
{
    stop();
}

quint16 TestHttpsServer::port() const
{
    return d->port;
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
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->stopping)
            return;
        d->stopping = true;
        // Wakes the threads blocked in accept, read or write.
        ::shutdown(d->acceptor.native_handle(), SHUT_RDWR);
        for (const int fd : d->sockets)
            ::shutdown(fd, SHUT_RDWR);
    }
    d->stopped.notify_all();
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    for (std::thread &t : d->connections)
        t.join();
    d->connections.clear();
    beast::error_code ignored;
    d->acceptor.close(ignored);
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
