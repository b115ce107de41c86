// The reference service's HTTPS front in process, against clients that are slow, hostile or
// many; and the process itself for what needs one: the bound port in the log and the stop.

#include "service/httpsserver.h"
#include "service/store.h"
#include "testconfig.h"
#include "testsupport.h"

#include <QtTest>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <numeric>
#include <thread>

namespace
{

const std::string Verify = VerifyPath;

int connectTcp(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A blocking TLS client whose every read and write gives up after 5 s.
class Client
{
public:
    explicit Client(quint16 port, const char *ciphers = nullptr, int maxVersion = 0)
        : m_ctx(SSL_CTX_new(TLS_client_method())), m_fd(connectTcp(port))
    {
        SSL_CTX_set_min_proto_version(m_ctx, TLS1_VERSION);
        SSL_CTX_set_security_level(m_ctx, 0);
        if (ciphers)
            SSL_CTX_set_cipher_list(m_ctx, ciphers);
        if (maxVersion)
            SSL_CTX_set_max_proto_version(m_ctx, maxVersion);
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        m_ok = m_fd >= 0 && SSL_connect(m_ssl) == 1;
    }
    ~Client()
    {
        SSL_free(m_ssl);
        SSL_CTX_free(m_ctx);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connected() const { return m_ok; }
    std::string cipher() const { return SSL_get_cipher_name(m_ssl); }
    bool send(const std::string &bytes)
    {
        return m_ok && SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size())) == int(bytes.size());
    }
    // One whole answer (with Content-Length), or what came before the connection ended.
    std::string answer()
    {
        std::string got;
        char buffer[4096];
        for (;;) {
            const std::size_t head = got.find("\r\n\r\n");
            if (head != std::string::npos) {
                const std::size_t at = got.find("Content-Length: ");
                const std::size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
                if (got.size() >= head + 4 + length) {
                    std::string whole = got.substr(0, head + 4 + length);
                    return whole;
                }
            }
            const int n = m_ok ? SSL_read(m_ssl, buffer, sizeof buffer) : 0;
            if (n <= 0)
                return got;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::string exchange(const std::string &request) { return send(request) ? answer() : std::string(); }

private:
    SSL_CTX *m_ctx;
    SSL *m_ssl = nullptr;
    int m_fd;
    bool m_ok = false;
};

std::string post(const std::string &body, const std::string &extra = {})
{
    return "POST " + Verify + " HTTP/1.1\r\nHost: localhost\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

int statusOf(const std::string &answer)
{
    return answer.compare(0, 7, "HTTP/1.") == 0 && answer.size() > 9 ? std::atoi(answer.c_str() + 9) : 0;
}

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').at(0).toLong();
    return -1;
}

// Whether the peer has closed the connection (a read ends) within 5 s.
bool closedByPeer(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
        if (n < 0)
            return false;
    }
}

} // namespace

// The service's front on a free loopback port, serving a store with one record.
class LocalService
{
public:
    explicit LocalService(ServerOptions options, std::function<void()> gate = {})
    {
        options.host = "127.0.0.1";
        options.port = 0;
        options.certPath = testCertPath(QStringLiteral("server.pem")).toStdString();
        options.keyPath = testCertPath(QStringLiteral("server.key")).toStdString();
        std::string error;
        m_store = EvidenceStore::open((m_dir.path() + QStringLiteral("/e.db")).toStdString(),
                                      EvidenceStore::Mode::Create, &error);
        m_record.type = 1;
        m_record.digest = std::string(64, 'a');
        m_record.user = "u";
        m_record.location = "l";
        m_record.time = "t";
        m_store->insert(&m_record, &error);
        setLogSink([this](const std::string &line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_log += line + '\n';
        });
        m_server.reset(new HttpsServer(options));
        if (!m_server->open(&error))
            return;
        m_thread = std::thread([this, gate] {
            m_server->run(
                [this, gate](const std::string &method, const std::string &target, const std::string &body) {
                    if (gate)
                        gate();
                    return answerRequest(method, target, body, *m_store);
                });
        });
    }
    ~LocalService()
    {
        stop();
        setLogSink({});
    }
    void stop()
    {
        if (!m_thread.joinable())
            return;
        m_server->stop();
        m_thread.join();
    }
    quint16 port() const { return m_server->port(); }
    std::string validBody() const
    {
        return R"({"hash":")" + m_record.digest + R"(","quorvelOrder":")" + m_record.order +
               R"(","type":"1"})";
    }
    std::string log()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<EvidenceStore> m_store;
    EvidenceRecord m_record;
    std::unique_ptr<HttpsServer> m_server;
    std::thread m_thread;
    std::mutex m_mutex;
    std::string m_log;
};

class TestServiceHttp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ::signal(SIGPIPE, SIG_IGN); } // a refused client may write to a closed socket
    void requests_data();
    void requests();
    void tlsPolicy_data();
    void tlsPolicy();
    void slowClients();
    void floods_data();
    void floods();
    void connectionCap();
    void processStopsOnSignal();
};

void TestServiceHttp::requests_data()
{
    QTest::addColumn<QByteArray>("request"); // "{valid}" stands for a valid verification body
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("kept"); // the connection serves the next request

    const std::string big(70 * 1024, 'a');
    const auto row = [](const char *name, const std::string &request, int status, bool kept) {
        QTest::newRow(name) << QByteArray::fromStdString(request) << status << kept;
    };
    row("verification", post("{valid}"), 200, true);
    row("closing verification", post("{valid}", "Connection: close\r\n"), 200, false);
    row("HTTP/1.0", "POST " + Verify + " HTTP/1.0\r\nContent-Length: 7\r\n\r\n{valid}", 200, false);
    row("GET", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", 404, true);
    row("body at the limit", post("{\"p\":\"" + std::string(64 * 1024 - 8, 'a') + "\"}"), 200, true);
    row("body over the limit", post(big), 413, false);
    row("chunked body over the limit",
        "POST " + Verify + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n11800\r\n" + big + "\r\n0\r\n\r\n",
        413, false);
    row("over the limit, expecting 100",
        "POST " + Verify + " HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 70000\r\n\r\n", 413, false);
    row("expecting 100", post("{valid}", "Expect: 100-continue\r\n"), 100, true);
    row("header over 8 KiB", "GET / HTTP/1.1\r\nX: " + std::string(8 * 1024, 'a') + "\r\n\r\n", 400, false);
    row("malformed request line", "GET\r\n\r\n", 400, false);
}

void TestServiceHttp::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(bool, kept);
    LocalService service(ServerOptions{});
    QVERIFY(service.port() != 0);
    Client client(service.port());
    QVERIFY(client.connected());
    std::string bytes = request.toStdString();
    const std::size_t at = bytes.find("{valid}");
    const bool valid = at != std::string::npos;
    if (valid) {
        const std::string body = service.validBody();
        bytes.replace(at, 7, body);
        const std::size_t length = bytes.find("Content-Length: 7\r\n");
        if (length != std::string::npos)
            bytes.replace(length + 16, 1, std::to_string(body.size()));
    }
    std::string answer = client.exchange(bytes);
    QCOMPARE(statusOf(answer), status);
    if (status == 100)
        answer = client.answer();
    if (valid && (status == 200 || status == 100))
        QVERIFY2(answer.find("\"result\":true") != std::string::npos, answer.c_str());
    const std::string next = client.exchange(post(service.validBody()));
    QCOMPARE(statusOf(next), kept ? 200 : 0);
}

void TestServiceHttp::tlsPolicy_data()
{
    QTest::addColumn<int>("version"); // highest the client offers
    QTest::addColumn<QByteArray>("ciphers");
    QTest::addColumn<QByteArray>("chosen"); // empty: refused
    QTest::newRow("TLS 1.3") << 0 << QByteArray() << QByteArray("TLS_AES_256_GCM_SHA384");
    QTest::newRow("server's order wins")
        << int(TLS1_2_VERSION) << QByteArray("ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256")
        << QByteArray("ECDHE-RSA-AES128-GCM-SHA256");
    QTest::newRow("AES-256-GCM") << int(TLS1_2_VERSION) << QByteArray("ECDHE-RSA-AES256-GCM-SHA384")
                                 << QByteArray("ECDHE-RSA-AES256-GCM-SHA384");
    QTest::newRow("RSA key exchange")
        << int(TLS1_2_VERSION) << QByteArray("AES128-GCM-SHA256") << QByteArray();
    QTest::newRow("CBC with SHA-1") << int(TLS1_2_VERSION) << QByteArray("ECDHE-RSA-AES128-SHA")
                                    << QByteArray();
    QTest::newRow("CBC with SHA-384")
        << int(TLS1_2_VERSION) << QByteArray("ECDHE-RSA-AES256-SHA384") << QByteArray();
    QTest::newRow("TLS 1.1") << int(TLS1_1_VERSION) << QByteArray() << QByteArray();
}

void TestServiceHttp::tlsPolicy()
{
    QFETCH(int, version);
    QFETCH(QByteArray, ciphers);
    QFETCH(QByteArray, chosen);
    LocalService service(ServerOptions{});
    Client client(service.port(), ciphers.isEmpty() ? nullptr : ciphers.constData(), version);
    QCOMPARE(client.connected(), !chosen.isEmpty());
    if (client.connected())
        QCOMPARE(QByteArray::fromStdString(client.cipher()), chosen);
}

void TestServiceHttp::slowClients()
{
    // 64 clients stall: half in the TLS greeting, half a byte into a request. A real request is
    // still answered at once, the stalled ones are dropped at the deadline, in one log line.
    ServerOptions options;
    options.timeout = 1;
    LocalService service(options);
    std::vector<int> greeting;
    std::vector<std::unique_ptr<Client>> header;
    for (int i = 0; i < 32; ++i) {
        greeting.push_back(connectTcp(service.port()));
        QCOMPARE(::send(greeting.back(), "\x16\x03\x01", 3, MSG_NOSIGNAL), ssize_t(3));
        header.emplace_back(new Client(service.port()));
        QVERIFY(header.back()->send("P"));
    }
    QElapsedTimer timer;
    timer.start();
    Client real(service.port());
    QCOMPARE(statusOf(real.exchange(post(service.validBody()))), 200);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    for (const int fd : greeting) {
        QVERIFY(closedByPeer(fd));
        ::close(fd);
    }
    QVERIFY(timer.elapsed() < 4000);
    for (auto &client : header)
        QCOMPARE(client->answer(), std::string());
    // One line per second at most, however many connections: the 64 fall in one or two seconds.
    const QRegularExpression dropped(QStringLiteral("dropped (\\d+) connections?: request deadline passed"));
    const auto droppedLines = [&] {
        QList<int> counts;
        auto it = dropped.globalMatch(QString::fromStdString(service.log()));
        while (it.hasNext())
            counts << it.next().captured(1).toInt();
        return counts;
    };
    const auto droppedTotal = [&] {
        const QList<int> counts = droppedLines();
        return std::accumulate(counts.begin(), counts.end(), 0);
    };
    QTRY_COMPARE_WITH_TIMEOUT(droppedTotal(), 64, 3000);
    QVERIFY2(droppedLines().size() <= 2, service.log().c_str());
}

void TestServiceHttp::floods_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("unit"); // repeated up to 1 MiB after the head
    QTest::newRow("1 MiB header line") << QByteArray("GET / HTTP/1.1\r\nX: ") << QByteArray("a");
    QTest::newRow("many headers") << QByteArray("GET / HTTP/1.1\r\n") << QByteArray("X: a\r\n");
    QTest::newRow("1 MiB chunk-size line")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") << QByteArray("0");
}

void TestServiceHttp::floods()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, unit);
    LocalService service(ServerOptions{});
    const long before = rssKiB();
    Client client(service.port());
    QVERIFY(client.connected());
    std::string flood = head.toStdString();
    while (flood.size() < 1024 * 1024)
        flood += unit.toStdString();
    // The server refuses early and stops reading: part of the flood may not go out.
    client.send(flood);
    QCOMPARE(statusOf(client.answer()), 400);
    QVERIFY2(rssKiB() - before < 8 * 1024, qPrintable(QString::number(rssKiB() - before)));
}

void TestServiceHttp::connectionCap()
{
    // Two connections are being answered (held at the gate), one has sent nothing: the silent one
    // makes room for a new client, and once only answered ones are left, the next is turned away.
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> held{0};
    ServerOptions options;
    options.maxConnections = 3;
    options.threads = 4;
    LocalService service(options, [&] {
        std::unique_lock<std::mutex> lock(mutex);
        ++held;
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return open; });
    });
    const std::string request = post(service.validBody());
    const int idle = connectTcp(service.port());
    Client a(service.port());
    Client b(service.port());
    QVERIFY(a.send(request) && b.send(request));
    QTRY_COMPARE_WITH_TIMEOUT(held.load(), 2, 5000);
    Client newcomer(service.port());
    QVERIFY(newcomer.send(request));
    QVERIFY(closedByPeer(idle)); // to make room
    ::close(idle);
    QTRY_COMPARE_WITH_TIMEOUT(held.load(), 3, 5000);
    Client refused(service.port());
    QVERIFY(!refused.connected());
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
    }
    cv.notify_all();
    for (Client *client : {&a, &b, &newcomer})
        QCOMPARE(statusOf(client->answer()), 200);
    QTRY_VERIFY_WITH_TIMEOUT(
        service.log().find("dropped 1 connection: connection limit reached") != std::string::npos, 3000);
    QVERIFY(service.log().find("dropped 1 connection: idle, closed to make room") != std::string::npos);
}

void TestServiceHttp::processStopsOnSignal()
{
    QTemporaryDir dir;
    QProcess process;
    process.start(QStringLiteral(FILEHASH_BINARY_DIR "/filehash-service"),
                  {QStringLiteral("serve"), QStringLiteral("--db"), dir.path() + QStringLiteral("/e.db"),
                   QStringLiteral("--cert"), testCertPath(QStringLiteral("server.pem")),
                   QStringLiteral("--key"), testCertPath(QStringLiteral("server.key")),
                   QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(process.waitForStarted(5000));
    QByteArray log;
    const QRegularExpression listening(QStringLiteral("listening on https://127\\.0\\.0\\.1:(\\d+)/"));
    QRegularExpressionMatch match;
    QTRY_VERIFY_WITH_TIMEOUT((log += process.readAllStandardError(),
                              match = listening.match(QString::fromLatin1(log)), match.hasMatch()),
                             5000);
    const quint16 port = static_cast<quint16>(match.captured(1).toUInt());
    // Slow clients everywhere: in the greeting, in the header, and one answered.
    std::vector<int> slow;
    std::vector<std::unique_ptr<Client>> partial;
    for (int i = 0; i < 32; ++i) {
        slow.push_back(connectTcp(port));
        QCOMPARE(::send(slow.back(), "\x16\x03", 2, MSG_NOSIGNAL), ssize_t(2));
        partial.emplace_back(new Client(port));
        QVERIFY(partial.back()->send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{"));
    }
    QCOMPARE(statusOf(Client(port).exchange("GET /x HTTP/1.1\r\n\r\n")), 404);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(::kill(static_cast<pid_t>(process.processId()), SIGTERM), 0);
    // Nothing was being answered: every connection closes at once, without waiting out the grace.
    QVERIFY(process.waitForFinished(5000));
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    log += process.readAllStandardError();
    QVERIFY2(log.contains(" GET /x -> 404 not found\n"), log.constData());
    QVERIFY2(log.contains(" stopping on SIGTERM\n") && log.endsWith(" stopped\n"), log.constData());
    QVERIFY(connectTcp(port) < 0);
    for (const int fd : slow)
        ::close(fd);
}

QTEST_GUILESS_MAIN(TestServiceHttp)
#include "tst_servicehttp.moc"
