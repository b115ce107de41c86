// The reference service as a separate process: its command line, its answers over real HTTPS,
// its limits, and how it holds up under concurrent and misbehaving clients.

#include "core/filedigest.h"
#include "testconfig.h"
#include "testsupport.h"

#include <QtNetwork>
#include <QtTest>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace
{

const char VerifyPath[] = "/mrv/other/o_getHashByQuorvelOrderRequest";
const char Form[] = "application/x-www-form-urlencoded";
const int TimeoutMs = 30000;

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

QString servicePath()
{
    return u8(FILEHASH_BINARY_DIR "/filehash-service");
}

// Waits a bounded time for the process to end, and kills it if it does not.
bool finish(QProcess &process)
{
    if (process.waitForFinished(TimeoutMs))
        return true;
    process.kill();
    process.waitForFinished(5000);
    return false;
}

struct Run {
    int exitCode = -1; // -1 when it crashed or kept running
    QByteArray out;
    QByteArray err;
};

Run runService(const QStringList &args, const QString &workingDirectory = QString())
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(servicePath(), args);
    const bool ended =
        process.waitForStarted(TimeoutMs) && finish(process) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QByteArray requestBody(const QString &hash, const QString &order, const QString &type = u8("7"))
{
    const QJsonObject object{{u8("hash"), hash}, {u8("quorvelOrder"), order}, {u8("type"), type}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::unique_ptr<httplib::SSLClient> makeClient(quint16 port, bool keepAlive = false)
{
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path(testCertPath(u8("ca.pem")).toStdString());
    client->enable_server_certificate_verification(true);
    client->set_connection_timeout(10);
    client->set_read_timeout(20);
    client->set_write_timeout(20);
    client->set_keep_alive(keepAlive);
    return client;
}

httplib::Result post(httplib::SSLClient &client, const QByteArray &body)
{
    return client.Post(VerifyPath, body.constData(), static_cast<size_t>(body.size()), Form);
}

QJsonObject jsonOf(const httplib::Result &result)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
}

bool passes(const httplib::Result &result)
{
    return result && result->status == 200 &&
           jsonOf(result).value(u8("data")).toObject().value(u8("result")).toBool();
}

int connectTcp(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool connectTls(QSslSocket &socket, quint16 port)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(QSslCertificate::fromPath(testCertPath(u8("ca.pem"))));
    socket.setSslConfiguration(config);
    socket.connectToHostEncrypted(u8("127.0.0.1"), port, u8("localhost"));
    return socket.waitForEncrypted(TimeoutMs);
}

// Sends the bytes exactly as given and returns the answer's status, 0 if none came.
int rawStatus(quint16 port, const QByteArray &request)
{
    QSslSocket socket;
    if (!connectTls(socket, port))
        return 0;
    socket.write(request);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (!received.contains("\r\n\r\n") && timer.elapsed() < TimeoutMs) {
        if (socket.bytesToWrite() > 0 || socket.encryptedBytesToWrite() > 0)
            socket.waitForBytesWritten(20);
        else
            socket.waitForReadyRead(20);
        received += socket.readAll();
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    return QRegularExpression(u8("^HTTP/1\\.1 (\\d{3}) "))
        .match(QString::fromLatin1(received))
        .captured(1)
        .toInt();
}

QByteArray chunked(const QByteArray &body)
{
    QByteArray out;
    for (int at = 0; at < body.size(); at += 8192)
        out += QByteArray::number(qMin(8192, body.size() - at), 16) + "\r\n" + body.mid(at, 8192) + "\r\n";
    return out + "0\r\n\r\n";
}

// A client that goes away early: right after connecting (0), in the middle of its TLS greeting
// (1), the same with a reset (2), or after part of a body with a length (3) or chunked (4).
void dropClient(quint16 port, int how)
{
    const std::string part = "{\"hash\":\"0123456789abcdef";
    const auto once = [&](size_t offset, httplib::DataSink &sink) {
        return offset == 0 && sink.write(part.data(), part.size());
    };
    if (how == 3)
        makeClient(port)->Post(
            VerifyPath, 200,
            [&](size_t offset, size_t, httplib::DataSink &sink) { return once(offset, sink); },
            "application/json");
    if (how == 4)
        makeClient(port)->Post(VerifyPath, once, "application/json");
    const int fd = how < 3 ? connectTcp(port) : -1;
    if (fd < 0)
        return;
    const linger reset{1, 0};
    if (how == 2)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    // The first bytes of a TLS ClientHello that announces 512 bytes.
    if (how > 0)
        ::send(fd, "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11, MSG_NOSIGNAL);
    ::close(fd);
}

class ServiceInstance
{
public:
    ~ServiceInstance() { stop(SIGKILL); }

    bool start(const QString &db, const QString &log, const QStringList &extra = {})
    {
        // Another process may take the free port before the service binds it: try another.
        for (int attempt = 0; attempt < 5 && m_process.state() == QProcess::NotRunning; ++attempt) {
            m_port = freePort();
            QFile::remove(log);
            m_process.setStandardOutputFile(QProcess::nullDevice());
            m_process.setStandardErrorFile(log);
            m_process.start(servicePath(), QStringList{u8("serve"), u8("--db"), db, u8("--cert"),
                                                       testCertPath(u8("server.pem")), u8("--key"),
                                                       testCertPath(u8("server.key")), u8("--listen"),
                                                       u8("127.0.0.1:%1").arg(m_port)} +
                                               extra);
            // Only the process that bound the port says it listens there.
            const QByteArray listening = u8("listening on https://127.0.0.1:%1/").arg(m_port).toUtf8();
            QElapsedTimer timer;
            timer.start();
            while (m_process.waitForStarted(TimeoutMs) && timer.elapsed() < TimeoutMs &&
                   !m_process.waitForFinished(20)) {
                QFile file(log);
                if (file.open(QIODevice::ReadOnly) && file.readAll().contains(listening)) {
                    const httplib::Result answer = makeClient(m_port)->Get("/");
                    return answer && answer->status == 404;
                }
            }
        }
        return false;
    }

    // True when the service exited normally with 0.
    bool stop(int signal = SIGTERM)
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        return finish(m_process) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void requests_data();
    void requests();
    void oversized_data();
    void oversized();
    void load_data();
    void load();
    void preserveAndList_data();
    void preserveAndList();
    void commandErrors_data();
    void commandErrors();
    void stopsOnSignal_data();
    void stopsOnSignal();
    void logLines();

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    QByteArray passBody() const { return requestBody(m_digest, m_order); }
    bool writeFile(const QString &file, const QByteArray &content);
    QByteArray output(const QStringList &args); // standard output of a command that must succeed
    QString preserve(const QString &db, const QString &file, int type, const QString &user,
                     const QString &location);
    QByteArray listing(const QString &db) { return output({u8("list"), u8("--db"), db}); }

    QTemporaryDir m_dir;
    QString m_db;
    QString m_digest;
    QString m_changedDigest;
    QString m_order;
    QString m_optTime;
    QHash<QString, int> m_refusalCodes; // des -> code
    const QString m_user = u8("张三");
    const QString m_location = u8("北京市 第一公证处");
    ServiceInstance m_service;
};

bool TestService::writeFile(const QString &file, const QByteArray &content)
{
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(content) == content.size();
}

QByteArray TestService::output(const QStringList &args)
{
    const Run run = runService(args);
    if (run.exitCode != 0)
        qWarning("%s failed: %s", qPrintable(args.first()), run.err.constData());
    return run.exitCode == 0 ? run.out : QByteArray();
}

QString TestService::preserve(const QString &db, const QString &file, int type, const QString &user,
                              const QString &location)
{
    return QString::fromUtf8(output({u8("preserve"), u8("--db"), db, u8("--type"), QString::number(type),
                                     u8("--user"), user, u8("--location"), location, file}))
        .trimmed();
}

void TestService::initTestCase()
{
    QVERIFY2(QFileInfo(servicePath()).isExecutable(), qPrintable(servicePath()));
    QVERIFY(m_dir.isValid());
    QByteArray content(100000, 'e');
    QVERIFY(writeFile(path("evidence.bin"), content));
    content[50000] = static_cast<char>(content[50000] ^ 1);
    QVERIFY(writeFile(path("changed.bin"), content));
    QVERIFY(writeFile(path("empty.bin"), QByteArray()));
    QVERIFY(writeFile(path("noaccess.bin"), "secret"));
    QVERIFY(QFile::setPermissions(path("noaccess.bin"), QFile::WriteOwner));
    for (const char *name : {"ca.pem", "server.pem", "server.key"})
        QVERIFY(QFile::copy(testCertPath(u8(name)), path(name)));
    m_digest = digestFile(path("evidence.bin")).hex;
    m_changedDigest = digestFile(path("changed.bin")).hex;
    QVERIFY(m_digest.size() == 64 && m_changedDigest.size() == 64 && m_digest != m_changedDigest);

    m_db = path("evidence.db");
    m_order = preserve(m_db, path("evidence.bin"), 7, m_user, m_location);
    QVERIFY(!m_order.isEmpty());
    m_optTime = QRegularExpression(u8("^%1\t7\t%2\t[^\t]*\t([^\t]+)\t").arg(m_order, m_digest),
                                   QRegularExpression::MultilineOption)
                    .match(QString::fromUtf8(listing(m_db)))
                    .captured(1);
    QVERIFY(!m_optTime.isEmpty());
    // A database nobody may write to.
    QVERIFY(!preserve(path("noaccess.db"), path("evidence.bin"), 1, m_user, m_location).isEmpty());
    QVERIFY(
        QFile::setPermissions(path("noaccess.db"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    QVERIFY(m_service.start(m_db, path("service.log")));
}

void TestService::cleanupTestCase()
{
    QVERIFY(m_service.stop());
}

void TestService::requests_data()
{
    QTest::addColumn<QByteArray>("line"); // method and target
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("des"); // of a refusal, empty when the order is found
    QTest::addColumn<bool>("result");

    const auto row = [](const char *name, const QByteArray &body, const char *des, bool result = false,
                        const char *contentType = Form,
                        const QByteArray &line = "POST " + QByteArray(VerifyPath)) {
        QTest::newRow(name) << line << body << QByteArray(contentType) << QString::fromUtf8(des) << result;
    };
    const auto text = [this](const char *format) {
        return QString::fromLatin1(format).arg(m_digest, m_order).toUtf8();
    };
    row("same file", passBody(), "", true);
    row("same file, JSON content type", passBody(), "", true, "application/json");
    row("same file, no content type", passBody(), "", true, "");
    row("same file, upper-case hash", requestBody(m_digest.toUpper(), m_order), "", true);
    row("changed file", requestBody(m_changedDigest, m_order), "");
    row("hash cut short", requestBody(m_digest.left(63), m_order), "");
    row("hash with a space", requestBody(m_digest + QLatin1Char(' '), m_order), "");
    row("unknown order", requestBody(m_digest, u8("QV00000000000000")), "订单号不存在");
    row("order in lower case", requestBody(m_digest, m_order.toLower()), "订单号不存在");
    row("another type", requestBody(m_digest, m_order, u8("8")), "存证类型与订单不符");
    row("type with a leading zero", requestBody(m_digest, m_order, u8("07")), "存证类型与订单不符");
    row("form fields, not JSON", text("hash=%1&quorvelOrder=%2&type=7"), "请求格式错误");
    row("JSON array", "[" + passBody() + "]", "请求格式错误");
    row("empty body", QByteArray(), "请求格式错误");
    row("missing type", text(R"({"hash":"%1","quorvelOrder":"%2"})"), "缺少参数：type");
    row("type as a number", text(R"({"hash":"%1","quorvelOrder":"%2","type":7})"), "参数类型错误：type");
    row("another path", passBody(), "", false, Form, "POST /mrv/other/o_getHash");
    row("trailing slash", passBody(), "", false, Form, "POST " + QByteArray(VerifyPath) + '/');
    row("GET", QByteArray(), "", false, "", "GET " + QByteArray(VerifyPath));
    row("GET with a body", passBody(), "", false, Form, "GET " + QByteArray(VerifyPath));
}

void TestService::requests()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, des);
    QFETCH(bool, result);

    auto client = makeClient(m_service.port(), true);
    httplib::Request request;
    request.method = line.left(line.indexOf(' ')).toStdString();
    request.path = line.mid(line.indexOf(' ') + 1).toStdString();
    request.body = body.toStdString();
    if (!contentType.isEmpty())
        request.set_header("Content-Type", contentType.toStdString());
    const httplib::Result answer = client->send(request);
    QVERIFY2(answer, httplib::to_string(answer.error()).c_str());
    const bool served = line == "POST " + QByteArray(VerifyPath);
    QCOMPARE(answer->status, served ? 200 : 404);
    // The same connection again: what this request left on it must not be read as the next.
    QVERIFY(passes(post(*client, passBody())));
    if (!served)
        return;

    QCOMPARE(QByteArray::fromStdString(answer->get_header_value("Content-Type")),
             QByteArray("application/json; charset=utf-8"));
    const QJsonObject json = jsonOf(answer);
    const int code = json.value(u8("code")).toInt();
    const QJsonObject data{{u8("result"), result},
                           {u8("userName"), m_user},
                           {u8("optTime"), m_optTime},
                           {u8("deviceInfo"), m_location}};
    const QJsonObject expected = des.isEmpty() ? QJsonObject{{u8("code"), 0}, {u8("data"), data}}
                                               : QJsonObject{{u8("code"), code}, {u8("des"), des}};
    QCOMPARE(QJsonDocument(json).toJson(), QJsonDocument(expected).toJson());
    if (des.isEmpty())
        return;
    QVERIFY(code != 0);
    // A client must be able to tell the reasons apart by the code alone.
    QCOMPARE(m_refusalCodes.value(des, code), code);
    QCOMPARE(m_refusalCodes.key(code, des), des);
    m_refusalCodes.insert(des, code);
}

void TestService::oversized_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("mayClose"); // instead of answering 413

    const QByteArray head = QByteArray("POST ") + VerifyPath + " HTTP/1.1\r\nHost: localhost\r\n";
    // Valid JSON all the way, so only its size can be the reason for refusing it.
    QByteArray body = passBody();
    body.insert(1, "\"padding\":\"" + QByteArray(70 * 1024, 'a') + "\",");
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";

    QTest::newRow("Content-Length") << head + length + "\r\n" + body << false;
    QTest::newRow("chunked") << head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(body) << false;
    QTest::newRow("no length") << head + "\r\n" + body << true;
    QTest::newRow("Expect: 100-continue") << head + "Expect: 100-continue\r\n" + length + "\r\n" << false;
}

void TestService::oversized()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, mayClose);

    const int status = rawStatus(m_service.port(), request);
    if (status != 0 || !mayClose)
        QCOMPARE(status, 413);
    QVERIFY(passes(post(*makeClient(m_service.port()), passBody())));
}

void TestService::load_data()
{
    QTest::addColumn<bool>("dropping");
    QTest::newRow("well-behaved clients") << false;
    QTest::newRow("while others drop mid-request") << true;
}

void TestService::load()
{
    QFETCH(bool, dropping);

    const int clients = 50;
    const int requests = 2000;
    const quint16 port = m_service.port();
    // Pass, fail and unknown order in turn: under load each must get what a lone client gets.
    const QByteArray bodies[3] = {passBody(), requestBody(m_changedDigest, m_order),
                                  requestBody(m_digest, u8("QV00000000000000"))};
    std::string expected[3];
    for (int kind = 0; kind < 3; ++kind) {
        const httplib::Result answer = post(*makeClient(port), bodies[kind]);
        QVERIFY(answer && answer->status == 200);
        QCOMPARE(jsonOf(answer).value(u8("data")).toObject().value(u8("result")),
                 kind < 2 ? QJsonValue(kind == 0) : QJsonValue(QJsonValue::Undefined));
        expected[kind] = answer->body;
    }
    std::atomic<int> next{0}, correct{0}, drops{0};
    std::mutex problemsMutex;
    QStringList problems;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);

    std::vector<std::thread> threads;
    for (int c = 0; c < clients + (dropping ? 5 : 0); ++c) {
        threads.emplace_back([&, c] {
            for (; c >= clients && next < requests && std::chrono::steady_clock::now() < deadline; ++drops)
                dropClient(port, c - clients);
            if (c >= clients)
                return;
            // Half the clients keep their connection, as a browser or Qt would.
            auto client = makeClient(port, c % 2 == 0);
            for (int n; (n = next++) < requests && std::chrono::steady_clock::now() < deadline;) {
                const httplib::Result answer = post(*client, bodies[n % 3]);
                if (answer && answer->status == 200 && answer->body == expected[n % 3]) {
                    ++correct;
                    continue;
                }
                std::lock_guard<std::mutex> lock(problemsMutex);
                problems.append(answer ? QString::number(answer->status) + QLatin1Char(' ') +
                                             QString::fromStdString(answer->body)
                                       : QString::fromStdString(httplib::to_string(answer.error())));
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join(QLatin1Char('\n'))));
    QCOMPARE(correct.load(), requests);
    QCOMPARE(drops.load() > 0, dropping);
    QVERIFY(passes(post(*makeClient(port), passBody())));
}

void TestService::preserveAndList_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("listed"); // user and location as listed

    QTest::newRow("lowest type, tab and line break")
        << 1 << u8("A\tB") << u8("Lab\n1") << u8("A\\tB\tLab\\n1");
    QTest::newRow("highest type, Chinese") << 18 << u8("李四") << u8("上海 1") << u8("李四\t上海 1");
}

void TestService::preserveAndList()
{
    QFETCH(int, type);
    QFETCH(QString, user);
    QFETCH(QString, location);
    QFETCH(QString, listed);

    // Both rows add to the same database, so the second order must differ from the first.
    const QString file = m_dir.filePath(u8("list-%1.txt").arg(type));
    QVERIFY(writeFile(file, "evidence of type " + QByteArray::number(type)));
    const QString order = preserve(path("list.db"), file, type, user, location);
    QVERIFY2(QRegularExpression(u8("^QV\\d{14}$")).match(order).hasMatch(), qPrintable(order));
    const QStringList lines = QString::fromUtf8(listing(path("list.db")))
                                  .split(QLatin1Char('\n'))
                                  .filter(QRegularExpression(QLatin1Char('^') + order + QLatin1Char('\t')));
    QCOMPARE(lines.size(), 1);
    const QStringList fields = lines.first().split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields.mid(0, 3), (QStringList{order, QString::number(type), digestFile(file).hex}));
    QVERIFY2(
        QRegularExpression(u8("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(fields[4]).hasMatch(),
        qPrintable(fields[4]));
    QCOMPARE(fields[3] + QLatin1Char('\t') + fields[5], listed);
}

void TestService::commandErrors_data()
{
    QTest::addColumn<QStringList>("args"); // run in the test folder, which holds copies of the certificates
    QTest::addColumn<bool>("usage");       // the usage text is printed too

    const auto row = [](const char *name, const char *command, const char *rest, bool usage) {
        const QString line = QString::fromLatin1(command) + QString::fromLatin1(rest);
        QTest::newRow(name) << (line.isEmpty() ? QStringList() : line.split(QLatin1Char(' '))) << usage;
    };
    const char preserve[] = "preserve --db fresh.db --user u --location l ";
    const char serve[] = "serve --db fresh.db --key server.key ";
    row("preserve: missing file", preserve, "--type 3 missing.bin", false);
    row("preserve: unreadable file", preserve, "--type 3 noaccess.bin", false);
    row("preserve: a directory", preserve, "--type 3 .", false);
    row("preserve: empty file", preserve, "--type 3 empty.bin", false);
    row("preserve: type 0", preserve, "--type 0 evidence.bin", true);
    row("preserve: type 19", preserve, "--type 19 evidence.bin", true);
    row("preserve: type x", preserve, "--type x evidence.bin", true);
    row("preserve: type 3.5", preserve, "--type 3.5 evidence.bin", true);
    row("preserve: no --type", preserve, "evidence.bin", true);
    row("preserve: two files", preserve, "--type 3 evidence.bin changed.bin", true);
    row("preserve: read-only db", "preserve --db noaccess.db --user u --location l", " --type 3 evidence.bin",
        false);
    row("preserve: db in a missing folder", "preserve --db none/x.db --user u --location l",
        " --type 3 evidence.bin", false);
    row("list: missing db", "list --db fresh.db", "", false);
    row("list: unknown option", "list --db fresh.db --all 1", "", true);
    row("unknown command", "verify --db fresh.db", "", true);
    row("no command", "", "", true);
    row("serve: port in use", serve, "--cert server.pem --listen 127.0.0.1:{busy}", false);
    row("serve: port of the running service", serve, "--cert server.pem --listen 127.0.0.1:{served}", false);
    row("serve: missing certificate", serve, "--cert none.pem --listen {free}", false);
    row("serve: key of another certificate", serve, "--cert ca.pem --listen {free}", false);
    row("serve: db in a missing folder", "serve --db none/x.db --key server.key --cert server.pem", "",
        false);
    row("serve: bad --listen", serve, "--cert server.pem --listen 127.0.0.1", true);
    row("serve: no --key", "serve --db fresh.db --cert server.pem", "", true);
}

void TestService::commandErrors()
{
    QFETCH(QStringList, args);
    QFETCH(bool, usage);

    if (args.join(QLatin1Char(' ')).contains(QLatin1String("noaccess")) && ::geteuid() == 0)
        QSKIP("root reads and writes whatever the permissions say");
    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
    for (QString &arg : args) {
        arg.replace(QLatin1String("{busy}"), QString::number(busy.serverPort()));
        arg.replace(QLatin1String("{served}"), QString::number(m_service.port()));
        arg.replace(QLatin1String("{free}"), u8("127.0.0.1:%1").arg(freePort()));
    }
    // A row that failed may have left one behind.
    for (const char *name : {"fresh.db", "fresh.db-wal", "fresh.db-shm", "fresh.db-journal"})
        QFile::remove(path(name));
    const QByteArray noAccessBefore = listing(path("noaccess.db"));
    const QStringList dirBefore = QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const Run run = runService(args, m_dir.path());
    QVERIFY2(run.exitCode > 0, run.out.constData());
    QVERIFY2(run.err.startsWith("filehash-service: "), run.err.constData());
    QCOMPARE(run.err.contains("usage:"), usage);
    QCOMPARE(run.out, QByteArray());
    // Nothing written: no file appeared and the existing database lists the same.
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), dirBefore);
    QCOMPARE(listing(path("noaccess.db")), noAccessBefore);
}

void TestService::stopsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestService::stopsOnSignal()
{
    QFETCH(int, signal);

    // Clients that stop half-way and keep their connection take both workers, but not for good.
    ServiceInstance service;
    QVERIFY(service.start(m_db, path("signal.log"), {u8("--threads"), u8("2"), u8("--timeout"), u8("1")}));
    std::vector<int> tcp;
    std::vector<std::unique_ptr<QSslSocket>> tls;
    for (int i = 0; i < 2; ++i) {
        tcp.push_back(connectTcp(service.port()));
        QCOMPARE(::send(tcp.back(), "\x16\x03\x01", 3, MSG_NOSIGNAL), ssize_t(3));
        tls.emplace_back(new QSslSocket);
        QVERIFY(connectTls(*tls.back(), service.port()));
        tls.back()->write(QByteArray("POST ") + VerifyPath +
                          " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 500\r\n\r\n{");
        QVERIFY(tls.back()->waitForBytesWritten(TimeoutMs));
    }
    QVERIFY(passes(post(*makeClient(service.port()), passBody())));
    for (const int fd : tcp)
        ::close(fd);

    QVERIFY(service.stop(signal));
    QFile log(path("signal.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().trimmed().endsWith(" stopped"));
    QVERIFY(!makeClient(service.port())->Get("/"));
}

void TestService::logLines()
{
    QFile file(path("service.log"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    // A line for each request, naming the order and the outcome, never what was posted.
    QVERIFY(!log.contains(m_digest.toLatin1()) && !log.contains(m_changedDigest.toLatin1()));
    const QByteArray order = " order=" + m_order.toLatin1() + " -> 200 ";
    // The load test alone sent 2 x 667 passes and failures and 2 x 666 unknown orders.
    QVERIFY(log.count(order + "pass") >= 2 * 667 && log.count(order + "fail") >= 2 * 667);
    QVERIFY(log.count(" order=QV00000000000000 -> 200 unknown order") >= 2 * 666);
    QVERIFY(log.contains(" -> 404 not found") && log.contains(" -> 413 body too large"));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
