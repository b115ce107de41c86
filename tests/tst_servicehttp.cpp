// The service's HTTPS front in process against slow, hostile or many clients; the process for SIGTERM.

#include "service/store.h"
#include "testsupport.h"

#include <QtTest>
#include <atomic>

#include <openssl/ssl.h>

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// A blocking client whose every read and write gives up after 5 s. Without tls it only connects and
// send() writes raw bytes: a client that stalls before or in its TLS greeting.
struct Client {
    explicit Client(quint16 port, bool tls = true, const char *ciphers = "DEFAULT", int maxVersion = 0)
        : ssl(SSL_new(SSL_CTX_new(TLS_client_method()))), fd(::socket(AF_INET, SOCK_STREAM, 0)), tls(tls)
    {
        const timeval timeout{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        // It offers what the server must refuse, to see it refused.
        SSL_set_min_proto_version(ssl, TLS1_VERSION);
        SSL_set_max_proto_version(ssl, maxVersion);
        SSL_set_security_level(ssl, 0);
        SSL_set_cipher_list(ssl, ciphers);
        SSL_set_fd(ssl, fd);
        const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
             (!tls || SSL_connect(ssl) == 1);
    }
    ~Client() { SSL_CTX_free(SSL_get_SSL_CTX(ssl)), SSL_free(ssl), ::close(fd); }
    bool send(const std::string &bytes)
    {
        const int size = static_cast<int>(bytes.size());
        return ok && (tls ? SSL_write(ssl, bytes.data(), size) : ::write(fd, bytes.data(), size)) == size;
    }
    // One whole answer (by its Content-Length), or what came before the connection ended.
    std::string answer()
    {
        std::string got;
        char buffer[4096];
        for (;;) {
            const std::size_t head = got.find("\r\n\r\n");
            if (head != std::string::npos) {
                const std::size_t at = got.find("Content-Length: ");
                const std::size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
                if (got.size() >= head + 4 + length)
                    return got.substr(0, head + 4 + length);
            }
            const int n = ok ? SSL_read(ssl, buffer, sizeof buffer) : 0;
            if (n <= 0)
                return got;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::string exchange(const std::string &request) { return send(request) ? answer() : std::string(); }
    // Whether the server closes (or resets) the connection within 5 s, whatever it sends first.
    bool closed()
    {
        pollfd hangup{fd, POLLRDHUP, 0};
        return ok && ::poll(&hangup, 1, 5000) == 1;
    }

    SSL *ssl;
    int fd;
    bool tls;
    bool ok;
};

std::string post(const std::string &body, const std::string &extra = {})
{
    return "POST " + std::string(VerifyPath) + " HTTP/1.1\r\nHost: localhost\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

long rssKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    return statm.open(QIODevice::ReadOnly)
               ? statm.readAll().split(' ').value(1).toLong() * (::sysconf(_SC_PAGESIZE) / 1024)
               : -1;
}

// 64 connections that stall: half one byte into the TLS greeting, half having sent part of
// `request`. None if one could not.
std::vector<std::unique_ptr<Client>> stall(quint16 port, const std::string &request)
{
    std::vector<std::unique_ptr<Client>> stalled(64);
    for (std::size_t i = 0; i < stalled.size(); ++i) {
        stalled[i] = std::make_unique<Client>(port, i % 2);
        if (!stalled[i]->send(i % 2 ? request : "\x16"))
            return {};
    }
    return stalled;
}

} // namespace

class TestServiceHttp : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<EvidenceStore> m_store; // one record
    std::string m_valid;                    // a verification body for it that passes
    std::mutex m_logMutex;
    std::string m_log; // what the servers logged

    static int statusOf(const std::string &answer) { return answer.size() > 9 ? std::atoi(&answer[9]) : 0; }

    // The front on a free port answering from the store; gate, if set, holds each request.
    std::unique_ptr<TestServer> serve(ServerOptions options = {}, std::function<void()> gate = {})
    {
        return std::make_unique<TestServer>(
            [this, gate](const auto &method, const auto &target, const auto &body) {
                if (gate)
                    gate();
                return answerRequest(method, target, body, *m_store);
            },
            QStringLiteral("server"), options);
    }

    // How many connections the log says were dropped for `cause`, and in how many lines.
    QPair<int, int> dropped(const char *cause)
    {
        std::lock_guard<std::mutex> lock(m_logMutex);
        QPair<int, int> seen{0, 0};
        const QRegularExpression line(QStringLiteral("dropped (\\d+) connections?: ") + QLatin1String(cause));
        for (auto it = line.globalMatch(QString::fromStdString(m_log)); it.hasNext(); ++seen.second)
            seen.first += it.next().captured(1).toInt();
        return seen;
    }

private slots:
    void initTestCase()
    {
        ::signal(SIGPIPE, SIG_IGN); // a refused client may write to a closed socket
        setLogSink([this](const std::string &line) {
            std::lock_guard<std::mutex> lock(m_logMutex);
            m_log += line + '\n';
        });
        std::string error;
        m_store = EvidenceStore::open(m_dir.filePath(QStringLiteral("e.db")).toStdString(),
                                      EvidenceStore::Mode::Create, &error);
        EvidenceRecord record{{}, 1, std::string(64, 'a'), "u", "l", "t"};
        QVERIFY2(m_store && m_store->insert(&record, &error), error.c_str());
        m_valid =
            "{\"hash\":\"" + record.digest + "\",\"quorvelOrder\":\"" + record.order + "\",\"type\":\"1\"}";
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("kept"); // the connection serves the next request
        const auto row = [](const char *name, const std::string &request, int status, bool kept) {
            QTest::newRow(name) << QByteArray::fromStdString(request) << status << kept;
        };
        const std::string big(70 * 1024, 'a');
        const std::string get = "GET / HTTP/1.1\r\n", expect = "Expect: 100-continue\r\n";
        const std::string chunked =
            "POST " + std::string(VerifyPath) + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
        row("closing", post(m_valid, "Connection: close\r\n"), 200, false);
        row("unknown path", get + "Host: x\r\n\r\n", 404, true);
        row("body at the limit", post("{\"p\":\"" + std::string(64 * 1024 - 8, 'a') + "\"}"), 200, true);
        row("body over the limit", post(big), 413, false);
        row("chunked, over the limit", chunked + "11800\r\n" + big + "\r\n0\r\n\r\n", 413, false);
        row("over the limit, expecting 100", post(big, expect), 413, false);
        row("expecting 100", post(m_valid, expect), 100, true);
        row("header over 8 KiB", get + "X: " + std::string(8 * 1024, 'a') + "\r\n\r\n", 400, false);
        // Floods: the server refuses early and stops reading, holding little of what was sent.
        row("1 MiB header line", get + "X: " + std::string(1 << 20, 'a'), 400, false);
        row("1 MiB chunk-size line", chunked + std::string(1 << 20, '0'), 400, false);
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(bool, kept);
        const auto service = serve();
        const long before = rssKiB();
        Client client(service->port());
        client.send(request.toStdString()); // part of a flood may not go out
        std::string answer = client.answer();
        QCOMPARE(statusOf(answer), status);
        if (status == 100)
            answer = client.answer();
        if (request.contains(m_valid.c_str()))
            QVERIFY2(answer.find("\"result\":true") != std::string::npos, answer.c_str());
        QVERIFY2(rssKiB() - before < 8 * 1024, qPrintable(QString::number(rssKiB() - before)));
        QCOMPARE(statusOf(client.exchange(post(m_valid))), kept ? 200 : 0);
    }

    void tlsPolicy_data()
    {
        QTest::addColumn<int>("version"); // the highest the client offers; 0: TLS 1.3
        QTest::addColumn<QByteArray>("ciphers");
        QTest::addColumn<QByteArray>("chosen"); // empty: refused
        const auto row = [](const char *name, int version, const char *ciphers, const char *chosen) {
            QTest::newRow(name) << version << QByteArray(ciphers) << QByteArray(chosen);
        };
        row("TLS 1.3", 0, "DEFAULT", "TLS_AES_256_GCM_SHA384");
        row("server's order wins", TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256",
            "ECDHE-RSA-AES128-GCM-SHA256");
        row("RSA key exchange", TLS1_2_VERSION, "AES128-GCM-SHA256", "");
        row("CBC", TLS1_2_VERSION, "ECDHE-RSA-AES256-SHA384", "");
        row("TLS 1.1", TLS1_1_VERSION, "DEFAULT", "");
    }
    void tlsPolicy()
    {
        QFETCH(int, version);
        QFETCH(QByteArray, ciphers);
        QFETCH(QByteArray, chosen);
        const auto service = serve();
        Client client(service->port(), true, ciphers.constData(), version);
        QCOMPARE(client.ok ? QByteArray(SSL_get_cipher_name(client.ssl)) : QByteArray(), chosen);
    }

    void slowClients()
    {
        // 64 clients stall, half in the TLS greeting, half a byte into a request: a real request is
        // still answered at once, and the stalled ones are dropped at the deadline in one log line.
        ServerOptions options;
        options.timeout = 1;
        const auto service = serve(options);
        const auto stalled = stall(service->port(), "P");
        QVERIFY(!stalled.empty());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(statusOf(Client(service->port()).exchange(post(m_valid))), 200);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        for (const auto &client : stalled)
            QVERIFY(client->closed());
        QVERIFY(timer.elapsed() < 4000);
        // At most a line a second: the 64 fall within one or two seconds.
        QTRY_COMPARE_WITH_TIMEOUT(dropped("request deadline passed").first, 64, 3000);
        QVERIFY(dropped("request deadline passed").second <= 2);
    }

    void connectionCap()
    {
        // Two connections are being answered (held at the gate), one idles after its answer: the idle
        // one makes room for a new client, and once only answered ones are left, the next is turned
        // away. A connection that never speaks takes no room: it is not even handed over.
        QSemaphore held, released;
        std::atomic<bool> gate{false};
        ServerOptions options;
        options.maxConnections = 3;
        options.threads = 4;
        const auto service = serve(options, [&] {
            if (gate) {
                held.release();
                released.tryAcquire(1, 5000);
            }
        });
        Client silent(service->port(), false);
        Client idle(service->port());
        QCOMPARE(statusOf(idle.exchange(post(m_valid))), 200);
        gate = true;
        Client a(service->port()), b(service->port());
        QVERIFY(a.send(post(m_valid)) && b.send(post(m_valid)));
        QVERIFY(held.tryAcquire(2, 5000));
        Client newcomer(service->port());
        QVERIFY(newcomer.send(post(m_valid)));
        QVERIFY(idle.closed());
        QVERIFY(held.tryAcquire(1, 5000));
        QVERIFY(!Client(service->port()).ok);
        released.release(3);
        for (Client *client : {&a, &b, &newcomer})
            QCOMPARE(statusOf(client->answer()), 200);
        QTRY_COMPARE_WITH_TIMEOUT(dropped("connection limit reached").first, 1, 3000);
        QCOMPARE(dropped("idle, closed to make room").first, 1);
    }

    void processStopsOnSignal()
    {
        ServiceProcess service(m_dir.path());
        QVERIFY(service.start());
        // Slow clients everywhere: in the greeting, in the body.
        const auto stalled = stall(service.port(), "POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\n{");
        QVERIFY(!stalled.empty());
        QCOMPARE(statusOf(Client(service.port()).exchange("GET /x HTTP/1.1\r\n\r\n")), 404);
        QCOMPARE(::kill(static_cast<pid_t>(service.process().processId()), SIGTERM), 0);
        // Nothing was being answered: every connection closes at once, without waiting out the grace.
        QVERIFY(service.process().waitForFinished(1500));
        QCOMPARE(service.process().exitCode(), 0); // not 15: the signal is handled
        const QByteArray log = service.log();
        QVERIFY2(log.contains(" GET /x -> 404 not found\n"), log.constData());
        QVERIFY2(log.contains(" stopping on SIGTERM\n") && log.endsWith(" stopped\n"), log.constData());
    }
};

QTEST_GUILESS_MAIN(TestServiceHttp)
#include "tst_servicehttp.moc"
