// The reference service as a separate process: its command line, its answers over real HTTPS,
// its limits, and how it holds up under concurrent and misbehaving clients.

#include "filedigest.h"
#include "testconfig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

const char VerifyPath[] = "/mrv/other/o_getHashByQuorvelOrderRequest";
const int ProcessTimeoutMs = 30000;
const int EvidenceType = 7;

QString servicePath()
{
    return QStringLiteral(FILEHASH_BINARY_DIR "/filehash-service");
}

QString certFile(const char *name)
{
    return QDir(QStringLiteral(FILEHASH_TEST_CERT_DIR)).filePath(QLatin1String(name));
}

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

struct Finished {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

Finished runService(const QStringList &args)
{
    QProcess process;
    process.start(servicePath(), args);
    Finished result;
    if (!process.waitForStarted(ProcessTimeoutMs))
        return result;
    result.finished = process.waitForFinished(ProcessTimeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray requestBody(const QString &hash, const QString &order, const QString &type)
{
    QJsonObject object;
    object.insert(QStringLiteral("hash"), hash);
    object.insert(QStringLiteral("quorvelOrder"), order);
    object.insert(QStringLiteral("type"), type);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::unique_ptr<httplib::SSLClient> makeClient(quint16 port, bool keepAlive = false)
{
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
    client->set_ca_cert_path(certFile("ca.pem").toStdString());
    client->enable_server_certificate_verification(true);
    client->set_connection_timeout(10);
    client->set_read_timeout(20);
    client->set_write_timeout(20);
    client->set_keep_alive(keepAlive);
    return client;
}

httplib::Result post(httplib::SSLClient &client, const QByteArray &body,
                     const char *contentType = "application/x-www-form-urlencoded")
{
    return client.Post(VerifyPath, body.constData(), static_cast<size_t>(body.size()), contentType);
}

QJsonObject jsonOf(const httplib::Result &result)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
}

// The serve command on a free loopback port, with its log in a file.
class ServiceInstance
{
public:
    ~ServiceInstance() { stop(SIGKILL); }

    bool start(const QString &db, const QString &log, const QStringList &extra = {})
    {
        // Another process may take the free port before the service binds it: try another.
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = freePort();
            if (m_port == 0)
                continue;
            QFile::remove(log);
            m_process.setStandardOutputFile(QProcess::nullDevice());
            m_process.setStandardErrorFile(log);
            m_process.start(servicePath(), QStringList{QStringLiteral("serve"), QStringLiteral("--db"), db,
                                                       QStringLiteral("--cert"), certFile("server.pem"),
                                                       QStringLiteral("--key"), certFile("server.key"),
                                                       QStringLiteral("--listen"),
                                                       QStringLiteral("127.0.0.1:%1").arg(m_port)} +
                                               extra);
            if (!m_process.waitForStarted(ProcessTimeoutMs))
                return false;
            // The service says so once it has bound the port, which only this process can have done.
            const QByteArray listening =
                QStringLiteral("listening on https://127.0.0.1:%1/").arg(m_port).toUtf8();
            QElapsedTimer timer;
            timer.start();
            bool bound = false;
            while (!bound && timer.elapsed() < ProcessTimeoutMs && !m_process.waitForFinished(20)) {
                QFile file(log);
                bound = file.open(QIODevice::ReadOnly) && file.readAll().contains(listening);
            }
            if (bound)
                return accepts();
            if (m_process.state() != QProcess::NotRunning)
                return false;
        }
        return false;
    }

    // Sends the signal and waits for the end: true when the service exited normally with 0.
    bool stop(int signal = SIGTERM)
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        const bool ended = m_process.waitForFinished(ProcessTimeoutMs);
        if (!ended) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    quint16 port() const { return m_port; }

private:
    // A real HTTPS exchange: the service accepts, shakes hands and answers.
    bool accepts()
    {
        auto client = makeClient(m_port);
        const httplib::Result result = client->Get("/");
        return result && result->status == 404;
    }

    QProcess m_process;
    quint16 m_port = 0;
};

struct RawAnswer {
    bool answered = false; // a status line came back before the connection ended
    int status = 0;
};

// Sends bytes exactly as given over TLS and reads the status line of the answer, if any.
RawAnswer rawExchange(quint16 port, const QByteArray &request)
{
    QSslSocket socket;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(QSslCertificate::fromPath(certFile("ca.pem")));
    socket.setSslConfiguration(config);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, QStringLiteral("localhost"));
    RawAnswer answer;
    if (!socket.waitForEncrypted(ProcessTimeoutMs))
        return answer;
    socket.write(request);
    QByteArray received;
    QElapsedTimer timer;
    timer.start();
    while (!received.contains("\r\n\r\n") && timer.elapsed() < ProcessTimeoutMs) {
        if (socket.bytesToWrite() > 0 || socket.encryptedBytesToWrite() > 0)
            socket.waitForBytesWritten(20);
        else
            socket.waitForReadyRead(20);
        received += socket.readAll();
        if (socket.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^HTTP/1\\.1 (\\d{3}) ")).match(QString::fromLatin1(received));
    answer.answered = match.hasMatch();
    answer.status = match.captured(1).toInt();
    return answer;
}

QByteArray chunked(const QByteArray &body)
{
    QByteArray out;
    for (int at = 0; at < body.size(); at += 8192) {
        const QByteArray piece = body.mid(at, 8192);
        out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }
    return out + "0\r\n\r\n";
}

// A plain TCP client that goes away early: right after connecting, in the middle of its TLS
// greeting, or with a reset.
void dropTcp(quint16 port, int how)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        // The first bytes of a TLS ClientHello that announces 512 bytes.
        static const char partialHello[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03";
        if (how == 1)
            ::send(fd, partialHello, sizeof partialHello - 1, MSG_NOSIGNAL);
        if (how == 2) {
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::send(fd, partialHello, sizeof partialHello - 1, MSG_NOSIGNAL);
        }
    }
    ::close(fd);
}

// A TLS client that sends part of its body and then gives up and closes.
void dropMidBody(quint16 port, bool withLength)
{
    auto client = makeClient(port);
    const std::string part = "{\"hash\":\"0123456789abcdef";
    if (withLength) {
        client->Post(
            VerifyPath, 200,
            [&](size_t offset, size_t, httplib::DataSink &sink) {
                if (offset > 0)
                    return false;
                sink.write(part.data(), part.size());
                return true;
            },
            "application/json");
    } else {
        client->Post(
            VerifyPath,
            [&](size_t offset, httplib::DataSink &sink) {
                if (offset > 0)
                    return false;
                sink.write(part.data(), part.size());
                return true;
            },
            "application/json");
    }
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void verify_data();
    void verify();
    void refused_data();
    void refused();
    void refusalCodesDiffer();
    void notFound_data();
    void notFound();
    void oversized_data();
    void oversized();
    void stalledClientsDoNotBlock();
    void load_data();
    void load();
    void preserveAndList_data();
    void preserveAndList();
    void ordersAreUnique();
    void commandErrors_data();
    void commandErrors();
    void stopsOnSignal_data();
    void stopsOnSignal();
    void logLines();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray passBody() const { return requestBody(m_digest, m_order, QString::number(EvidenceType)); }
    QString preserve(const QString &db, const QString &file, int type, const QString &user,
                     const QString &location);
    QByteArray listing(const QString &db);

    QTemporaryDir m_dir;
    QString m_db;
    QString m_digest;
    QString m_changedDigest;
    QString m_order;
    QString m_optTime;
    QString m_log;
    QString m_readOnlyDb;
    const QString m_user = u8("张三");
    const QString m_location = u8("北京市 第一公证处");
    ServiceInstance m_service;
};

QString TestService::preserve(const QString &db, const QString &file, int type, const QString &user,
                              const QString &location)
{
    const Finished run =
        runService({QStringLiteral("preserve"), QStringLiteral("--db"), db, QStringLiteral("--type"),
                    QString::number(type), QStringLiteral("--user"), user, QStringLiteral("--location"),
                    location, file});
    if (!run.finished || run.exitCode != 0) {
        qWarning("preserve failed: %s", run.err.constData());
        return QString();
    }
    return QString::fromUtf8(run.out).trimmed();
}

QByteArray TestService::listing(const QString &db)
{
    const Finished run = runService({QStringLiteral("list"), QStringLiteral("--db"), db});
    return run.finished && run.exitCode == 0 ? run.out : QByteArray("list failed: ") + run.err;
}

void TestService::initTestCase()
{
    QVERIFY2(QFileInfo(servicePath()).isExecutable(), qPrintable(servicePath()));
    QVERIFY(m_dir.isValid());

    QByteArray content;
    for (int i = 0; i < 100000; ++i)
        content += static_cast<char>((i * 7919) % 251);
    QFile evidence(path(QStringLiteral("evidence.bin")));
    QVERIFY(evidence.open(QIODevice::WriteOnly));
    QCOMPARE(evidence.write(content), qint64(content.size()));
    evidence.close();
    content[50000] = static_cast<char>(content[50000] ^ 1);
    QFile changed(path(QStringLiteral("changed.bin")));
    QVERIFY(changed.open(QIODevice::WriteOnly));
    QCOMPARE(changed.write(content), qint64(content.size()));
    changed.close();

    const FileDigest digest = digestFile(evidence.fileName());
    const FileDigest changedDigest = digestFile(changed.fileName());
    QCOMPARE(digest.status, FileDigest::Status::Ok);
    QCOMPARE(changedDigest.status, FileDigest::Status::Ok);
    m_digest = digest.hex;
    m_changedDigest = changedDigest.hex;
    QVERIFY(m_digest != m_changedDigest);

    m_db = path(QStringLiteral("evidence.db"));
    m_order = preserve(m_db, evidence.fileName(), EvidenceType, m_user, m_location);
    QVERIFY(!m_order.isEmpty());
    for (const QByteArray &line : listing(m_db).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 6 && QString::fromUtf8(fields[0]) == m_order)
            m_optTime = QString::fromUtf8(fields[4]);
    }
    QVERIFY(!m_optTime.isEmpty());

    m_log = path(QStringLiteral("service.log"));
    // A database and a folder nobody may write to.
    m_readOnlyDb = path(QStringLiteral("readonly.db"));
    QVERIFY(!preserve(m_readOnlyDb, evidence.fileName(), 1, m_user, m_location).isEmpty());
    QVERIFY(QFile::setPermissions(m_readOnlyDb, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("readonly")));
    QVERIFY(QFile::setPermissions(path(QStringLiteral("readonly")),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

    QVERIFY(m_service.start(m_db, m_log));
}

void TestService::cleanupTestCase()
{
    QVERIFY(m_service.stop());
}

void TestService::verify_data()
{
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("result");

    const QByteArray form = "application/x-www-form-urlencoded";
    QTest::newRow("same file") << m_digest << form << true;
    QTest::newRow("same file, upper-case hash") << m_digest.toUpper() << form << true;
    QTest::newRow("same file, no content type") << m_digest << QByteArray() << true;
    QTest::newRow("same file, JSON content type") << m_digest << QByteArray("application/json") << true;
    QTest::newRow("changed file") << m_changedDigest << form << false;
    QTest::newRow("hash cut short") << m_digest.left(63) << form << false;
    QTest::newRow("hash with a space") << m_digest + QLatin1Char(' ') << form << false;
}

void TestService::verify()
{
    QFETCH(QString, hash);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, result);

    auto client = makeClient(m_service.port());
    const QByteArray body = requestBody(hash, m_order, QString::number(EvidenceType));
    const httplib::Result answer = post(*client, body, contentType.constData());
    QVERIFY2(answer, httplib::to_string(answer.error()).c_str());
    QCOMPARE(answer->status, 200);
    QCOMPARE(QByteArray::fromStdString(answer->get_header_value("Content-Type")),
             QByteArray("application/json; charset=utf-8"));
    const QJsonObject json = jsonOf(answer);
    QCOMPARE(json.value(QStringLiteral("code")).toInt(-1), 0);
    const QJsonObject data = json.value(QStringLiteral("data")).toObject();
    QVERIFY(data.value(QStringLiteral("result")).isBool());
    QCOMPARE(data.value(QStringLiteral("result")).toBool(), result);
    QCOMPARE(data.value(QStringLiteral("userName")).toString(), m_user);
    QCOMPARE(data.value(QStringLiteral("deviceInfo")).toString(), m_location);
    QCOMPARE(data.value(QStringLiteral("optTime")).toString(), m_optTime);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(m_optTime)
                .hasMatch());
}

void TestService::refused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("des");

    const QString type = QString::number(EvidenceType);
    const QString unknown = u8("订单号不存在");
    const QString mismatch = u8("存证类型与订单不符");
    const QString malformed = u8("请求格式错误");
    QTest::newRow("unknown order") << requestBody(m_digest, QStringLiteral("QV00000000000000"), type)
                                   << unknown;
    QTest::newRow("order in lower case") << requestBody(m_digest, m_order.toLower(), type) << unknown;
    QTest::newRow("empty order") << requestBody(m_digest, QString(), type) << unknown;
    QTest::newRow("another type") << requestBody(m_digest, m_order, QString::number(EvidenceType + 1))
                                  << mismatch;
    QTest::newRow("type with a leading zero")
        << requestBody(m_digest, m_order, QLatin1Char('0') + type) << mismatch;
    QTest::newRow("type as a name") << requestBody(m_digest, m_order, QStringLiteral("seven")) << mismatch;
    QTest::newRow("form fields, not JSON")
        << QByteArray("hash=" + m_digest.toLatin1() + "&quorvelOrder=" + m_order.toLatin1() + "&type=7")
        << malformed;
    QTest::newRow("JSON array") << QByteArray("[" + passBody() + "]") << malformed;
    QTest::newRow("JSON cut short") << passBody().left(40) << malformed;
    QTest::newRow("empty body") << QByteArray() << malformed;
    QTest::newRow("missing hash") << QByteArray("{\"quorvelOrder\":\"" + m_order.toLatin1() +
                                                "\",\"type\":\"7\"}")
                                  << u8("缺少参数：hash");
    QTest::newRow("missing order") << QByteArray("{\"hash\":\"" + m_digest.toLatin1() + "\",\"type\":\"7\"}")
                                   << u8("缺少参数：quorvelOrder");
    QTest::newRow("missing type") << QByteArray("{\"hash\":\"" + m_digest.toLatin1() +
                                                "\",\"quorvelOrder\":\"" + m_order.toLatin1() + "\"}")
                                  << u8("缺少参数：type");
    QTest::newRow("type as a number")
        << QByteArray("{\"hash\":\"" + m_digest.toLatin1() + "\",\"quorvelOrder\":\"" + m_order.toLatin1() +
                      "\",\"type\":7}")
        << u8("参数类型错误：type");
    QTest::newRow("hash as null") << QByteArray("{\"hash\":null,\"quorvelOrder\":\"" + m_order.toLatin1() +
                                                "\",\"type\":\"7\"}")
                                  << u8("参数类型错误：hash");
}

void TestService::refused()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, des);

    auto client = makeClient(m_service.port());
    const httplib::Result answer = post(*client, body);
    QVERIFY2(answer, httplib::to_string(answer.error()).c_str());
    QCOMPARE(answer->status, 200);
    QCOMPARE(QByteArray::fromStdString(answer->get_header_value("Content-Type")),
             QByteArray("application/json; charset=utf-8"));
    const QJsonObject json = jsonOf(answer);
    QVERIFY(json.value(QStringLiteral("code")).isDouble());
    QVERIFY(json.value(QStringLiteral("code")).toInt() != 0);
    QCOMPARE(json.value(QStringLiteral("des")).toString(), des);
    QVERIFY(!json.contains(QStringLiteral("data")));
}

void TestService::refusalCodesDiffer()
{
    // One request for each reason: a client must be able to tell them apart by code alone.
    const QString type = QString::number(EvidenceType);
    const QList<QByteArray> bodies = {
        requestBody(m_digest, QStringLiteral("QV00000000000000"), type),
        requestBody(m_digest, m_order, QString::number(EvidenceType + 1)),
        QByteArray("not json"),
        QByteArray("{\"quorvelOrder\":\"" + m_order.toLatin1() + "\",\"type\":\"7\"}"),
        QByteArray("{\"hash\":1,\"quorvelOrder\":\"" + m_order.toLatin1() + "\",\"type\":\"7\"}"),
    };
    auto client = makeClient(m_service.port(), true);
    QSet<int> codes;
    for (const QByteArray &body : bodies) {
        const httplib::Result answer = post(*client, body);
        QVERIFY(answer);
        codes.insert(jsonOf(answer).value(QStringLiteral("code")).toInt());
    }
    QCOMPARE(codes.size(), bodies.size());
    QVERIFY(!codes.contains(0));
}

void TestService::notFound_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");

    const QByteArray path = VerifyPath;
    const QByteArray body = passBody();
    QTest::newRow("POST, another path") << QByteArray("POST") << QByteArray("/mrv/other/o_getHash") << body;
    QTest::newRow("POST, the folder") << QByteArray("POST") << QByteArray("/mrv/other/") << body;
    QTest::newRow("POST, trailing slash") << QByteArray("POST") << path + '/' << body;
    QTest::newRow("POST, root") << QByteArray("POST") << QByteArray("/") << body;
    QTest::newRow("GET") << QByteArray("GET") << path << QByteArray();
    QTest::newRow("GET with a body") << QByteArray("GET") << path << body;
    QTest::newRow("HEAD") << QByteArray("HEAD") << path << QByteArray();
    QTest::newRow("PUT") << QByteArray("PUT") << path << body;
    QTest::newRow("PATCH") << QByteArray("PATCH") << path << body;
    QTest::newRow("DELETE") << QByteArray("DELETE") << path << body;
    QTest::newRow("OPTIONS") << QByteArray("OPTIONS") << path << QByteArray();
}

void TestService::notFound()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);

    auto client = makeClient(m_service.port(), true);
    httplib::Request request;
    request.method = method.toStdString();
    request.path = target.toStdString();
    request.body = body.toStdString();
    if (!body.isEmpty())
        request.set_header("Content-Type", "application/json");
    const httplib::Result answer = client->send(request);
    QVERIFY2(answer, httplib::to_string(answer.error()).c_str());
    QCOMPARE(answer->status, 404);

    // The same client again: whatever the refused request left on its connection must not be
    // taken for the next request.
    const httplib::Result next = post(*client, passBody());
    QVERIFY2(next, httplib::to_string(next.error()).c_str());
    QCOMPARE(next->status, 200);
    QCOMPARE(jsonOf(next).value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toBool(),
             true);
}

void TestService::oversized_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("mayReset"); // the service may close instead of answering 413

    const QByteArray head = QByteArray("POST ") + VerifyPath + " HTTP/1.1\r\nHost: localhost\r\n";
    // Valid JSON all the way, so only its size can be the reason for refusing it.
    QByteArray body = passBody();
    body.insert(1, "\"padding\":\"" + QByteArray(70 * 1024, 'a') + "\",");
    QByteArray huge = passBody();
    huge.insert(1, "\"padding\":\"" + QByteArray(2 * 1024 * 1024, 'a') + "\",");

    QTest::newRow("Content-Length") << head + "Content-Length: " + QByteArray::number(body.size()) +
                                           "\r\n\r\n" + body
                                    << false;
    QTest::newRow("chunked") << head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(body) << false;
    QTest::newRow("no length") << head + "\r\n" + body << true;
    QTest::newRow("Expect: 100-continue")
        << head + "Expect: 100-continue\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
        << false;
    QTest::newRow("Content-Length, 2 MiB")
        << head + "Content-Length: " + QByteArray::number(huge.size()) + "\r\n\r\n" + huge << true;
    QTest::newRow("chunked, 2 MiB") << head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(huge) << true;
}

void TestService::oversized()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, mayReset);

    const RawAnswer answer = rawExchange(m_service.port(), request);
    if (answer.answered || !mayReset)
        QCOMPARE(answer.status, 413);

    QVERIFY(m_service.isRunning());
    auto client = makeClient(m_service.port());
    const httplib::Result next = post(*client, passBody());
    QVERIFY2(next, httplib::to_string(next.error()).c_str());
    QCOMPARE(jsonOf(next).value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toBool(),
             true);
}

void TestService::stalledClientsDoNotBlock()
{
    // Few workers and a short timeout: clients that stop half-way, and keep their connection
    // open, take every worker for a while, but never for good.
    ServiceInstance service;
    QVERIFY(service.start(m_db, path(QStringLiteral("stalled.log")),
                          {QStringLiteral("--threads"), QStringLiteral("2"), QStringLiteral("--timeout"),
                           QStringLiteral("1")}));
    std::vector<int> tcp;
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        tcp.push_back(fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(service.port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::send(fd, "\x16\x03\x01", 3, MSG_NOSIGNAL), ssize_t(3));
    }
    std::vector<std::unique_ptr<QSslSocket>> tls;
    for (int i = 0; i < 2; ++i) {
        tls.emplace_back(new QSslSocket);
        QSslSocket &socket = *tls.back();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslCertificate::fromPath(certFile("ca.pem")));
        socket.setSslConfiguration(config);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), service.port(),
                                      QStringLiteral("localhost"));
        QVERIFY(socket.waitForEncrypted(ProcessTimeoutMs));
        socket.write(QByteArray("POST ") + VerifyPath +
                     " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 500\r\n\r\n{");
        QVERIFY(socket.waitForBytesWritten(ProcessTimeoutMs));
    }

    auto client = makeClient(service.port());
    const httplib::Result answer = post(*client, passBody());
    QVERIFY2(answer, httplib::to_string(answer.error()).c_str());
    QCOMPARE(jsonOf(answer).value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toBool(),
             true);

    for (const int fd : tcp)
        ::close(fd);
    QVERIFY(service.stop());
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
    const QString type = QString::number(EvidenceType);
    // Three kinds of request in turn, each with the answer it must get.
    const std::string bodies[3] = {
        passBody().toStdString(),
        requestBody(m_changedDigest, m_order, type).toStdString(),
        requestBody(m_digest, QStringLiteral("QV19700101000000"), type).toStdString(),
    };
    const QString user = m_user;

    std::atomic<int> next{0};
    std::atomic<int> correct{0};
    std::atomic<bool> loadDone{false};
    std::atomic<int> drops{0};
    std::mutex problemsMutex;
    QStringList problems;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);

    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            // Half the clients keep their connection, as a browser or Qt would.
            auto client = makeClient(port, c % 2 == 0);
            int n;
            while ((n = next++) < requests && std::chrono::steady_clock::now() < deadline) {
                const int kind = n % 3;
                const httplib::Result answer =
                    client->Post(VerifyPath, bodies[kind], "application/x-www-form-urlencoded");
                QString problem;
                if (!answer) {
                    problem = QString::fromStdString(httplib::to_string(answer.error()));
                } else {
                    const QJsonObject json = jsonOf(answer);
                    const QJsonObject data = json.value(QStringLiteral("data")).toObject();
                    const int code = json.value(QStringLiteral("code")).toInt(-1);
                    const bool ok =
                        answer->status == 200 &&
                        (kind == 2 ? code != 0 && !json.contains(QStringLiteral("data"))
                                   : code == 0 && data.value(QStringLiteral("result")).isBool() &&
                                         data.value(QStringLiteral("result")).toBool() == (kind == 0) &&
                                         data.value(QStringLiteral("userName")).toString() == user);
                    if (!ok)
                        problem = QStringLiteral("%1: %2")
                                      .arg(answer->status)
                                      .arg(QString::fromStdString(answer->body));
                }
                if (problem.isEmpty()) {
                    ++correct;
                } else {
                    std::lock_guard<std::mutex> lock(problemsMutex);
                    problems.append(problem);
                }
            }
        });
    }
    std::vector<std::thread> droppers;
    if (dropping) {
        for (int d = 0; d < 5; ++d) {
            droppers.emplace_back([&, d] {
                while (!loadDone && std::chrono::steady_clock::now() < deadline) {
                    if (d < 3)
                        dropTcp(port, d);
                    else
                        dropMidBody(port, d == 3);
                    ++drops;
                }
            });
        }
    }
    for (std::thread &thread : threads)
        thread.join();
    loadDone = true;
    for (std::thread &thread : droppers)
        thread.join();

    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join(QLatin1Char('\n'))));
    QCOMPARE(correct.load(), requests);
    if (dropping)
        QVERIFY(drops.load() > 0);

    // And it still answers afterwards.
    QVERIFY(m_service.isRunning());
    auto client = makeClient(port);
    const httplib::Result answer = post(*client, passBody());
    QVERIFY(answer);
    QCOMPARE(jsonOf(answer).value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toBool(),
             true);
}

void TestService::preserveAndList_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("listedUser");

    QTest::newRow("lowest type") << 1 << QStringLiteral("Alice") << QStringLiteral("Lab 1")
                                 << QStringLiteral("Alice");
    QTest::newRow("highest type") << 18 << u8("李四") << u8("上海") << u8("李四");
    QTest::newRow("tab in a name") << 5 << QStringLiteral("A\tB") << QStringLiteral("x")
                                   << QStringLiteral("A\\tB");
}

void TestService::preserveAndList()
{
    QFETCH(int, type);
    QFETCH(QString, user);
    QFETCH(QString, location);
    QFETCH(QString, listedUser);

    const QString db = path(QStringLiteral("list.db"));
    const QString file = path(QStringLiteral("list-%1.txt").arg(type));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("evidence of type " + QByteArray::number(type));
    out.close();

    const QString order = preserve(db, file, type, user, location);
    QVERIFY2(QRegularExpression(QStringLiteral("^QV\\d{14}$")).match(order).hasMatch(), qPrintable(order));

    const QString expected =
        QStringList{order, QString::number(type), digestFile(file).hex, listedUser}.join(QLatin1Char('\t'));
    QString found;
    for (const QByteArray &line : listing(db).split('\n')) {
        if (line.startsWith(order.toLatin1() + '\t'))
            found = QString::fromUtf8(line);
    }
    QVERIFY2(!found.isEmpty(), qPrintable(order));
    const QStringList fields = found.split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields.mid(0, 4).join(QLatin1Char('\t')), expected);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(fields[4])
                .hasMatch());
    QCOMPARE(fields[5], location);
}

void TestService::ordersAreUnique()
{
    const QString db = path(QStringLiteral("unique.db"));
    const QString file = path(QStringLiteral("evidence.bin"));
    QSet<QString> orders;
    for (int i = 0; i < 20; ++i) {
        const QString order = preserve(db, file, 3, QStringLiteral("u"), QStringLiteral("l"));
        QVERIFY(!order.isEmpty());
        orders.insert(order);
    }
    QCOMPARE(orders.size(), 20);
    QCOMPARE(listing(db).count('\n'), 20);
}

void TestService::commandErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("usage"); // the usage text is printed too

    // {db}: the served database, which must stay as it is; {new}: a database that must not
    // come into being; {busy}: a port another socket listens on; {served}: the port of the
    // service under test.
    const QString file = path(QStringLiteral("evidence.bin"));
    const QString missing = path(QStringLiteral("missing.bin"));
    const QString empty = path(QStringLiteral("empty.bin"));
    const QString noDir = path(QStringLiteral("no-such-dir/x.db"));
    const QString cert = certFile("server.pem");
    const QString key = certFile("server.key");
    const auto preserveArgs = [&](const QString &db, const QString &type, const QString &evidence) {
        return QStringList{QStringLiteral("preserve"),
                           QStringLiteral("--db"),
                           db,
                           QStringLiteral("--type"),
                           type,
                           QStringLiteral("--user"),
                           QStringLiteral("u"),
                           QStringLiteral("--location"),
                           QStringLiteral("l"),
                           evidence};
    };
    const auto serveArgs = [&](const QString &db, const QString &certPath, const QString &keyPath,
                               const QString &listen) {
        return QStringList{QStringLiteral("serve"),
                           QStringLiteral("--db"),
                           db,
                           QStringLiteral("--cert"),
                           certPath,
                           QStringLiteral("--key"),
                           keyPath,
                           QStringLiteral("--listen"),
                           listen};
    };
    const QString db = QStringLiteral("{db}");
    const QString fresh = QStringLiteral("{new}");
    const QString free = QStringLiteral("127.0.0.1:{free}");

    QTest::newRow("preserve: missing file") << preserveArgs(fresh, QStringLiteral("3"), missing) << false;
    QTest::newRow("preserve: missing file, existing db")
        << preserveArgs(db, QStringLiteral("3"), missing) << false;
    QTest::newRow("preserve: empty file") << preserveArgs(fresh, QStringLiteral("3"), empty) << false;
    QTest::newRow("preserve: a directory") << preserveArgs(fresh, QStringLiteral("3"), m_dir.path()) << false;
    QTest::newRow("preserve: type 0") << preserveArgs(fresh, QStringLiteral("0"), file) << true;
    QTest::newRow("preserve: type 19") << preserveArgs(fresh, QStringLiteral("19"), file) << true;
    QTest::newRow("preserve: type x") << preserveArgs(fresh, QStringLiteral("x"), file) << true;
    QTest::newRow("preserve: type -3") << preserveArgs(fresh, QStringLiteral("-3"), file) << true;
    QTest::newRow("preserve: type 3.5") << preserveArgs(fresh, QStringLiteral("3.5"), file) << true;
    QTest::newRow("preserve: empty type") << preserveArgs(fresh, QString(), file) << true;
    QTest::newRow("preserve: type 0, existing db") << preserveArgs(db, QStringLiteral("0"), file) << true;
    QTest::newRow("preserve: db in a missing folder")
        << preserveArgs(noDir, QStringLiteral("3"), file) << false;
    QTest::newRow("preserve: read-only db")
        << preserveArgs(QStringLiteral("{readonly}"), QStringLiteral("3"), file) << false;
    QTest::newRow("preserve: db in a read-only folder")
        << preserveArgs(path(QStringLiteral("readonly/new.db")), QStringLiteral("3"), file) << false;
    QTest::newRow("preserve: db is a folder")
        << preserveArgs(m_dir.path(), QStringLiteral("3"), file) << false;
    QTest::newRow("preserve: no --user") << QStringList{QStringLiteral("preserve"),
                                                        QStringLiteral("--db"),
                                                        fresh,
                                                        QStringLiteral("--type"),
                                                        QStringLiteral("3"),
                                                        QStringLiteral("--location"),
                                                        QStringLiteral("l"),
                                                        file}
                                         << true;
    QTest::newRow("preserve: two files")
        << preserveArgs(fresh, QStringLiteral("3"), file) + QStringList{file} << true;
    QTest::newRow("list: missing db")
        << QStringList{QStringLiteral("list"), QStringLiteral("--db"), fresh} << false;
    QTest::newRow("list: unknown option") << QStringList{QStringLiteral("list"), QStringLiteral("--db"), db,
                                                         QStringLiteral("--all"), QStringLiteral("1")}
                                          << true;
    QTest::newRow("unknown command") << QStringList{QStringLiteral("verify"), QStringLiteral("--db"), db}
                                     << true;
    QTest::newRow("no command") << QStringList() << true;
    QTest::newRow("serve: port in use")
        << serveArgs(fresh, cert, key, QStringLiteral("127.0.0.1:{busy}")) << false;
    QTest::newRow("serve: port of the running service")
        << serveArgs(fresh, cert, key, QStringLiteral("127.0.0.1:{served}")) << false;
    QTest::newRow("serve: port in use, existing db")
        << serveArgs(db, cert, key, QStringLiteral("127.0.0.1:{busy}")) << false;
    QTest::newRow("serve: missing certificate")
        << serveArgs(fresh, path(QStringLiteral("none.pem")), key, free) << false;
    QTest::newRow("serve: missing key")
        << serveArgs(fresh, cert, path(QStringLiteral("none.key")), free) << false;
    QTest::newRow("serve: key given as certificate") << serveArgs(fresh, key, key, free) << false;
    QTest::newRow("serve: certificate given as key") << serveArgs(fresh, cert, cert, free) << false;
    QTest::newRow("serve: key of another certificate")
        << serveArgs(fresh, certFile("ca.pem"), key, free) << false;
    QTest::newRow("serve: bad certificate, existing db")
        << serveArgs(db, path(QStringLiteral("none.pem")), key, free) << false;
    QTest::newRow("serve: db in a missing folder") << serveArgs(noDir, cert, key, free) << false;
    QTest::newRow("serve: bad --listen") << serveArgs(fresh, cert, key, QStringLiteral("127.0.0.1")) << true;
    QTest::newRow("serve: no --key") << QStringList{QStringLiteral("serve"), QStringLiteral("--db"), fresh,
                                                    QStringLiteral("--cert"), cert}
                                     << true;
}

void TestService::commandErrors()
{
    QFETCH(QStringList, args);
    QFETCH(bool, usage);

    QFile::remove(path(QStringLiteral("empty.bin")));
    QFile empty(path(QStringLiteral("empty.bin")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    if (args.join(QLatin1Char(' ')).contains(QLatin1String("readonly")) && ::geteuid() == 0)
        QSKIP("root writes whatever the permissions say");
    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::LocalHost, 0));

    const QString fresh = path(QStringLiteral("fresh.db"));
    // A row that failed may have left one behind.
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(fresh + QLatin1String(suffix));
    for (QString &arg : args) {
        arg.replace(QLatin1String("{db}"), m_db);
        arg.replace(QLatin1String("{readonly}"), m_readOnlyDb);
        arg.replace(QLatin1String("{new}"), fresh);
        arg.replace(QLatin1String("{busy}"), QString::number(busy.serverPort()));
        arg.replace(QLatin1String("{served}"), QString::number(m_service.port()));
        arg.replace(QLatin1String("{free}"), QString::number(freePort()));
    }
    const QByteArray before = listing(m_db);
    const QByteArray readOnlyBefore = listing(m_readOnlyDb);
    const QStringList dirBefore = QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const Finished run = runService(args);
    QVERIFY2(run.finished, "the command kept running");
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode != 0, run.out.constData());
    QVERIFY2(run.err.startsWith("filehash-service: "), run.err.constData());
    QCOMPARE(run.err.contains("usage:"), usage);
    QCOMPARE(run.out, QByteArray());

    // Nothing written: the served database lists the same, and no database file appeared.
    QCOMPARE(listing(m_db), before);
    QCOMPARE(listing(m_readOnlyDb), readOnlyBefore);
    QVERIFY(QDir(path(QStringLiteral("readonly"))).isEmpty());
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), dirBefore);
    QVERIFY(!QFileInfo::exists(fresh));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("no-such-dir"))));
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

    const QString log = path(QStringLiteral("signal.log"));
    ServiceInstance service;
    QVERIFY(service.start(m_db, log));
    auto client = makeClient(service.port());
    QVERIFY(post(*client, passBody()));
    QVERIFY(service.stop(signal));

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().trimmed().endsWith(" stopped"));
    QVERIFY(!makeClient(service.port())->Get("/"));
}

void TestService::logLines()
{
    QFile file(m_log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    // The log names the order and the outcome, never what was posted.
    QVERIFY(!log.contains(m_digest.toLatin1()));
    QVERIFY(!log.contains(m_changedDigest.toLatin1()));
    QVERIFY(!log.contains("aaaaaaaaaaaaaaaa"));
    const QByteArray order = m_order.toLatin1();
    int passes = 0;
    int fails = 0;
    int unknown = 0;
    int notFound = 0;
    int tooLarge = 0;
    for (const QByteArray &line : log.split('\n')) {
        if (line.contains(VerifyPath) && line.contains(" order=" + order + " -> 200 pass"))
            ++passes;
        if (line.contains(" order=" + order + " -> 200 fail"))
            ++fails;
        if (line.contains(" order=QV19700101000000 -> 200 unknown order"))
            ++unknown;
        if (line.contains(" -> 404"))
            ++notFound;
        if (line.contains(" -> 413"))
            ++tooLarge;
    }
    // At least one line for each request of the load test alone.
    QVERIFY2(passes >= 2 * 667, QByteArray::number(passes).constData());
    QVERIFY2(fails >= 2 * 667, QByteArray::number(fails).constData());
    QVERIFY2(unknown >= 2 * 666, QByteArray::number(unknown).constData());
    QVERIFY(notFound > 0);
    QVERIFY(tooLarge > 0);
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
