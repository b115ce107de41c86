// The reference service: request bodies, answers, the store, order numbers and commands in process;
// its HTTPS front against slow, hostile or many clients; the process for SIGTERM.

#include "core/protocol.h"
#include "service/commands.h"
#include "service/requestbody.h"
#include "service/store.h"
#include "service/verification.h"
#include "testsupport.h"

#include <QtTest>
#include <atomic>

#include <openssl/ssl.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Problem = FlatObject::Problem;

static const QByteArray Digest = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";
static const char NotAnObject[] = R"({"code":1001,"des":"请求格式错误"})";
static EvidenceRecord Stored;
// Text that an answer escapes or repairs: a byte-order mark in front, quote, backslash, controls,
// bytes that are not UTF-8, a sequence cut short and a surrogate.
static EvidenceRecord Odd;

static std::string body(const QByteArray &hash, const std::string &type)
{
    return R"({"hash":")" + hash.toStdString() + R"(","quorvelOrder":")" + Stored.order + R"(","type":")" +
           type + "\"}";
}

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
    return "POST " + std::string(protocol::VerifyPath) + " HTTP/1.1\r\nHost: localhost\r\n" + extra +
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

// Runs statements on a database of its own connection, as another program would.
int runSql(const char *file, const std::string &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(file, &db);
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc;
}

// The wait status of a child process that runs `run` and exits with what it returns.
int inChild(const std::function<int()> &run)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(run());
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
}

// While it lives, this process can make no inotify instance: the limit is the user's, and small.
struct NoInotify {
    std::vector<int> fds;
    explicit NoInotify(bool on)
    {
        for (int fd; on && fds.size() < 100000 && (fd = ::inotify_init1(IN_CLOEXEC)) >= 0;)
            fds.push_back(fd);
    }
    ~NoInotify()
    {
        for (int fd : fds)
            ::close(fd);
    }
};

} // namespace

class TestService : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<EvidenceStore> m_store; // one record, Stored
    std::string m_valid;                    // a verification body for it that passes
    std::mutex m_logMutex;
    std::string m_log; // what the servers logged

    // The data tag is the body; read: the key a problem names, or each member as "key=value;".
    static void flat(const char *body, Problem problem, const char *read = "")
    {
        QTest::newRow(body) << int(problem) << QString::fromUtf8(read);
    }
    // request: the method, then what follows the verification path.
    static void answer(const char *name, const std::string &body, const char *json, const char *outcome,
                       const char *request = "POST")
    {
        QTest::newRow(name) << QByteArray::fromStdString(body) << QByteArray(json) << QByteArray(outcome)
                            << QString::fromLatin1(request).split(QLatin1Char(' '));
    }

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

    void collectLog()
    {
        setLogSink([this](const std::string &line) {
            std::lock_guard<std::mutex> lock(m_logMutex);
            m_log += line + '\n';
        });
    }

private slots:
    void initTestCase()
    {
        ::signal(SIGPIPE, SIG_IGN); // a refused client may write to a closed socket
        collectLog();
        // The store and the files preserve is given, named relative to it.
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY(!writeTestFile(m_dir.path(), QStringLiteral("evidence.bin"), "content").isEmpty());
        QCOMPARE(::mkfifo("pipe", 0600), 0);
        std::string error;
        m_store = EvidenceStore::open("e.db", EvidenceStore::Mode::Create, &error);
        QVERIFY2(m_store, error.c_str());
        Stored = {"", 7, Digest.toStdString(), "张三", "北京", "2026-12-06 10:00:00"};
        QVERIFY2(m_store->insert(&Stored, &error), error.c_str());
        Odd = {"",
               7,
               Digest.toStdString(),
               "\xef\xbb\xbfq\"\\\x01\x1f\x7f\t",
               "z\xffz\xe5\xbc",
               Stored.time + "\xed\xa0\x80"};
        QVERIFY2(m_store->insert(&Odd, &error), error.c_str());
        m_valid = body(Digest, "7");
    }

    void flatObject_data()
    {
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("read");
        flat(R"( {"a" : "1" , "b":"张"} )", Problem::None, "a=1;b=张;");
        flat("{\"k\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\"}", Problem::None,
             "k=\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80;");
        flat(R"({"a":"1","\u0061":"2"})", Problem::RepeatedKey, "a"); // escapes decoded before keys compared
        // The first problem is named: the hostile repeated nesting stops at its first member.
        flat(R"({"a":[0],"a":[0]})", Problem::NotAString, "a");
        // Not one object, or a string that is not well-formed: control character, bad escapes, lone
        // surrogates, invalid, overlong, surrogate and cut-short UTF-8. No raw string with an odd number of
        // quotes: moc misreads it and would lose the class.
        for (const char *body :
             {R"({"a":})", R"({"a" "b"})", R"({"a":"b",})", "{\"a\":\"b}", R"({"a":"b"}x)", R"([{"a":"b"}])",
              "", R"({a:"b"})", "{\"a\":\"b\x1f\"}", R"({"a":"\x41"})", R"({"a":"\u12"})",
              R"({"a":"\udc00"})", R"({"a":"\ud83dx"})", "{\"a\":\"\xff\"}", "{\"a\":\"\xc0\xaf\"}",
              "{\"a\":\"\xed\xa0\x80\"}", "{\"a\":\"\xe5\xbc"})
            flat(body, Problem::Malformed);
    }
    void flatObject()
    {
        QFETCH(int, problem);
        QFETCH(QString, read);
        const FlatObject object = parseFlatObject(QTest::currentDataTag());
        QCOMPARE(int(object.problem), problem);
        QString got = QString::fromStdString(object.key);
        for (const auto &[key, value] : object.members)
            got += QString::fromStdString(key + '=' + value + ';');
        QCOMPARE(got, read);
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("outcome");
        QTest::addColumn<QStringList>("request");
        const char pass[] =
            R"({"code":0,"data":{"deviceInfo":"北京","optTime":"2026-12-06 10:00:00","result":true,"userName":"张三"}})";
        answer("same file", body(Digest, "7"), pass, "pass");
        answer("upper-case digest", body(Digest.toUpper(), "7"), pass, "pass");
        // Nothing about the applicant for a digest that does not match.
        const char fail[] = R"({"code":0,"data":{"result":false}})";
        answer("digest cut short", body(Digest.left(63), "7"), fail, "fail");
        answer("unknown order", R"({"hash":"a","quorvelOrder":"QV0","type":"7"})",
               R"({"code":2001,"des":"订单号不存在"})", "unknown order");
        answer("type with a leading zero", body(Digest, "07"), R"({"code":2002,"des":"存证类型与订单不符"})",
               "type mismatch");
        answer("missing hash", R"({"quorvelOrder":"QV","type":"7"})",
               R"({"code":1002,"des":"缺少参数：hash"})", "missing hash");
        answer("type as a number", R"({"hash":"a","quorvelOrder":"QV","type":7})",
               R"({"code":1003,"des":"参数类型错误：type"})", "not a string: type");
        answer("repeated member", R"({"hash":"a","hash":"b"})", NotAnObject, "repeated key: hash");
        answer("form fields", "hash=a&type=7", NotAnObject, "not a flat JSON object");
        answer("text escaped or repaired",
               R"({"hash":")" + Digest.toStdString() + R"(","quorvelOrder":")" + Odd.order +
                   R"(","type":"7"})",
               "{\"code\":0,\"data\":{\"deviceInfo\":\"z\xef\xbf\xbdz\xef\xbf\xbd\xef\xbf\xbd\",\"optTime\":"
               "\"2026-12-06 "
               "10:00:00\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\",\"result\":true,\"userName\":"
               "\"q\\\"\\\\\\u0001\\u001f\x7f\\t\"}}",
               "pass");
        answer("query ignored", body(Digest, "7"), pass, "pass", "POST ?x=1");
        answer("GET", body(Digest, "7"), "not found\n", "not found", "GET");
        answer("below the path", body(Digest, "7"), "not found\n", "not found", "POST /");
    }
    void answers()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, outcome);
        QFETCH(QStringList, request);
        const HttpAnswer got =
            answerRequest(request[0].toStdString(), protocol::VerifyPath + request.value(1).toStdString(),
                          body.toStdString(), *m_store);
        QCOMPARE(QByteArray::fromStdString(got.body), answer);
        QCOMPARE(QByteArray::fromStdString(got.outcome), outcome);
        QCOMPARE(got.status, outcome == "not found" ? 404 : 200);
    }

    void orderNumbers()
    {
        // 64 bits in 13 characters, the first with a single bit; the alphabet skips I, L, O and U.
        QCOMPARE(orderNumber(2026, 12, 6, ~quint64(0)), std::string("QV20261206FZZZZZZZZZZZZ"));
        QCOMPARE(orderNumber(2026, 12, 6, 0x952db), std::string("QV20261206000000000JMPV"));
        // Drawn numbers: today's prefix, the alphabet, and no two alike.
        const QRegularExpression shape(QStringLiteral("^QV%1[0-9A-HJKMNP-TV-Z]{13}$")
                                           .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
        QSet<QString> drawn;
        for (int i = 0; i < 1000; ++i)
            drawn += QString::fromStdString(newOrderNumber());
        QCOMPARE(drawn.size(), 1000);
        std::vector<QSet<QChar>> seen(13); // per character: each of its 16 or 32 values shows
        for (const QString &n : drawn) {
            QVERIFY2(shape.match(n).hasMatch(), qPrintable(n));
            for (int i = 0; i < 13; ++i)
                seen[i] += n[10 + i];
        }
        for (int i = 0; i < 13; ++i)
            QCOMPARE(seen[i].size(), i == 0 ? 16 : 32);
    }

    // Records found are kept in memory: another writer's change to one (sqlite3 at the shell, say)
    // must still be seen, in either journal mode. A reader lists them and leaves no file behind.
    void storeFollowsTheDatabase_data()
    {
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<bool>("watched");
        QTest::newRow("rollback journal") << QByteArray("DELETE") << true;
        QTest::newRow("persisted journal") << QByteArray("PERSIST") << true;
        QTest::newRow("write-ahead log") << QByteArray("WAL") << true;
        QTest::newRow("no inotify left") << QByteArray("DELETE") << false;
    }
    void storeFollowsTheDatabase()
    {
        QFETCH(QByteArray, journal);
        QFETCH(bool, watched);
        const NoInotify exhausted(!watched);
        std::string error;
        QFile::remove(QStringLiteral("k.db"));
        auto store = EvidenceStore::open("k.db", EvidenceStore::Mode::Create, &error);
        EvidenceRecord record = Stored, found;
        QVERIFY2(store && store->insert(&record, &error), error.c_str());
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open("k.db", &other), SQLITE_OK);
        const auto run = [&](const QByteArray &sql) {
            QCOMPARE(sqlite3_exec(other, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        };
        run("PRAGMA journal_mode = " + journal);
        // The second change makes no file in the folder: a persisted journal or the -wal stay.
        for (const std::string user : {"changed", "again"}) {
            QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
            run("UPDATE evidence SET user_name = '" + QByteArray::fromStdString(user) + "'");
            QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
            QCOMPARE(found.user, user);
        }
        sqlite3_close(other);
        store.reset();
        const QStringList before = QDir().entryList(QDir::Files);
        auto reader = EvidenceStore::open("k.db", EvidenceStore::Mode::ReadOnly, &error);
        std::vector<EvidenceRecord> records;
        QVERIFY2(reader && reader->list(&records, &error), error.c_str());
        QCOMPARE(records.size(), std::size_t(1));
        QVERIFY(!reader->insert(&record, &error));
        reader.reset();
        QCOMPARE(QDir().entryList(QDir::Files), before);
    }

    // A writer killed inside its transaction leaves a hot journal, which the next lookup rolls back.
    void crashedWriter()
    {
        std::string error;
        const mode_t umask = ::umask(0277); // the file made 0400, the owner could not write
        auto store = EvidenceStore::open("c.db", EvidenceStore::Mode::Serve, &error);
        ::umask(umask);
        EvidenceRecord record = Stored;
        QVERIFY2(store && store->insert(&record, &error), error.c_str());
        const int status = inChild([] {
            sqlite3 *db = nullptr;
            sqlite3_open("c.db", &db);
            // Unsynced, the journal counts as written at once, as it does from the commit on.
            sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN; DELETE FROM evidence", nullptr, nullptr,
                         nullptr);
            return ::raise(SIGKILL);
        });
        QVERIFY(WIFSIGNALED(status));
        // Names and places: for the owner alone, whatever the umask.
        for (const char *file : {"c.db", "c.db-journal"}) {
            struct stat st;
            QVERIFY2(::stat(file, &st) == 0 && (st.st_mode & 0777) == 0600, file);
        }
        EvidenceRecord found;
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
        QVERIFY(!QFile::exists(QStringLiteral("c.db-journal")));
    }

    // An operator moves a new database over the one served: the next lookup reads the new one, even
    // when both files show the same change counter.
    void replacedDatabase_data()
    {
        QTest::addColumn<bool>("watched");
        QTest::newRow("watched") << true;
        QTest::newRow("no inotify left") << false;
    }
    void replacedDatabase()
    {
        QFETCH(bool, watched);
        const NoInotify exhausted(!watched);
        QFile::remove(QStringLiteral("r.db"));
        std::string error;
        auto store = EvidenceStore::open("r.db", EvidenceStore::Mode::Serve, &error);
        EvidenceRecord record = Stored, found;
        QVERIFY2(store && store->insert(&record, &error), error.c_str());
        QVERIFY(QFile::copy(QStringLiteral("r.db"), QStringLiteral("n.db")));
        QCOMPARE(runSql("r.db", "UPDATE evidence SET user_name = 'old'"), SQLITE_OK);
        QCOMPARE(runSql("n.db", "UPDATE evidence SET user_name = 'new'"), SQLITE_OK);
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
        QCOMPARE(found.user, std::string("old"));
        QCOMPARE(::rename("n.db", "r.db"), 0);
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
        QCOMPARE(found.user, std::string("new"));
    }

    // The server only reads: a database of mode 0444 in a folder that may not be written is served,
    // to a user who owns neither.
    void readOnlyDatabase()
    {
        QVERIFY(QDir().mkpath(QStringLiteral("ro")));
        QVERIFY(QFile::copy(QStringLiteral("e.db"), QStringLiteral("ro/e.db")));
        QVERIFY(::chmod("ro/e.db", 0444) == 0 && ::chmod("ro", 0555) == 0 && ::chmod(".", 0755) == 0);
        const int status = inChild([] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 1;
            std::string error;
            EvidenceRecord found;
            auto store = EvidenceStore::open("ro/e.db", EvidenceStore::Mode::Serve, &error);
            return store && store->find(Stored.order, &found, &error) == EvidenceStore::Lookup::Found ? 0 : 2;
        });
        ::chmod("ro", 0755);
        QCOMPARE(status, 0); // exited, with 0
    }

    // The data tag: what follows "preserve --db p.db --user u --location l"; "pipe" is a FIFO.
    void preserveRefuses_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::newRow("--type 3 evidence.bin") << 0;
        QTest::newRow("--type 3 pipe") << 1;
        QTest::newRow("--type 19 evidence.bin") << 2;
    }
    void preserveRefuses()
    {
        QFETCH(int, exitCode);
        QByteArrayList args{"filehash-service", "preserve", "--db", "p.db", "--user", "u", "--location", "l"};
        args += QByteArray(QTest::currentDataTag()).split(' ');
        std::vector<char *> argv(args.size() + 1); // ending in a null pointer
        std::transform(args.begin(), args.end(), argv.begin(), [](QByteArray &arg) { return arg.data(); });
        QCOMPARE(runCommand(int(args.size()), argv.data()), exitCode);
        QCOMPARE(QFile::remove(QStringLiteral("p.db")), exitCode == 0); // none for a refusal
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
        const std::string chunked = "POST " + std::string(protocol::VerifyPath) +
                                    " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
        row("closing", post(m_valid, "Connection: close\r\n"), 200, false);
        row("HTTP/1.0, kept alive",
            "POST " + std::string(protocol::VerifyPath) + " HTTP/1.0\r\nConnection: keep-alive\r\n" +
                "Content-Length: " + std::to_string(m_valid.size()) + "\r\n\r\n" + m_valid,
            200, true);
        row("unknown path", get + "Host: x\r\n\r\n", 404, true);
        row("body at the limit", post("{\"p\":\"" + std::string(64 * 1024 - 8, 'a') + "\"}"), 200, true);
        row("body over the limit", post(big), 413, false);
        row("chunked, over the limit", chunked + "11800\r\n" + big + "\r\n0\r\n\r\n", 413, false);
        row("over the limit, expecting 100", post(big, expect), 413, false);
        row("expecting 100", post(m_valid, expect), 100, true);
        // A body framed otherwise than by Content-Length or chunked alone; no Host.
        for (const char *coding :
             {"gzip", "xchunked", "chunked, identity", "gzip\r\nTransfer-Encoding: chunked"})
            row(coding,
                "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: " + std::string(coding) + "\r\n\r\n" +
                    m_valid,
                400, false);
        row("no Host", "GET / HTTP/1.1\r\n\r\n", 400, false);
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
        if (statusOf(answer) == 200 && request.contains(m_valid.c_str()))
            QVERIFY2(answer.find("\"result\":true") != std::string::npos, answer.c_str());
        // The head says what the server does with the connection.
        const bool http10 = request.contains(" HTTP/1.0\r\n");
        QCOMPARE(answer.find(http10 ? "Connection: keep-alive" : "Connection: close") != std::string::npos,
                 http10 ? kept : !kept);
        QVERIFY2(rssKiB() - before < 8 * 1024, qPrintable(QString::number(rssKiB() - before)));
        QCOMPARE(statusOf(client.exchange(post(m_valid))), kept ? 200 : 0);
    }

    // What a client sends reaches the log as printable ASCII, cut to its length, with the time of the
    // answer and never the query.
    void logLines_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("line"); // after the time and the peer
        const std::string path(protocol::VerifyPath);
        QTest::newRow("verification")
            << QByteArray::fromStdString(post(m_valid).insert(5 + path.size(), "?key=secret"))
            << QStringLiteral("POST ") + QRegularExpression::escape(QString::fromStdString(path)) +
                   QStringLiteral(" order=QV\\d{8}[0-9A-Z]{13} -> 200 pass");
        QTest::newRow("bidi and backslash")
            << QByteArray("GET /\xe2\x80\xae\\?x HTTP/1.1\r\nHost: x\r\n\r\n")
            << QStringLiteral("GET /\\\\xe2\\\\x80\\\\xae\\\\x5c -> 404 not found");
        QTest::newRow("long target") << "GET /" + QByteArray(150, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n"
                                     << QStringLiteral("GET /a{99}\\.\\.\\. -> 404 not found");
        QTest::newRow("order with escapes")
            << QByteArray::fromStdString(post("{\"hash\":\"" + Digest.toStdString() +
                                              "\",\"quorvelOrder\":\"\\u001b[2J\\u202e" +
                                              std::string(40, 'Q') + "\",\"type\":\"7\"}"))
            << QStringLiteral(
                   "POST \\S+ order=\\\\x1b\\[2J\\\\xe2\\\\x80\\\\xaeQ{21}\\.\\.\\. -> 200 unknown order");
    }
    void logLines()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, line);
        {
            std::lock_guard<std::mutex> lock(m_logMutex);
            m_log.clear();
        }
        const QString before =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        auto service = serve();
        QVERIFY(statusOf(Client(service->port()).exchange(request.toStdString())) != 0);
        service.reset();
        const QString after =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        std::lock_guard<std::mutex> lock(m_logMutex);
        const QRegularExpression answered(QStringLiteral("^(\\S+ \\S+) 127\\.0\\.0\\.1:\\d+ (.*)$"),
                                          QRegularExpression::MultilineOption);
        QStringList lines;
        for (auto it = answered.globalMatch(QString::fromStdString(m_log)); it.hasNext();) {
            const auto match = it.next();
            QVERIFY2(before <= match.captured(1) && match.captured(1) <= after,
                     qPrintable(match.captured(1)));
            lines << match.captured(2);
        }
        QCOMPARE(lines.size(), 1);
        QVERIFY2(QRegularExpression(QLatin1Char('^') + line + QLatin1Char('$')).match(lines[0]).hasMatch(),
                 qPrintable(lines[0]));
    }

    void tlsPolicy()
    {
        // Per client: the highest version it offers (0: TLS 1.3) and its ciphers; "-": refused. The
        // server's order wins; no RSA key exchange, no CBC, nothing below TLS 1.2.
        const std::pair<int, const char *> clients[] = {
            {0, "DEFAULT"},
            {TLS1_2_VERSION, "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256"},
            {TLS1_2_VERSION, "AES128-GCM-SHA256"},
            {TLS1_2_VERSION, "ECDHE-RSA-AES256-SHA384"},
            {TLS1_1_VERSION, "DEFAULT"}};
        const auto service = serve();
        QByteArrayList chosen;
        for (const auto &[version, ciphers] : clients) {
            Client client(service->port(), true, ciphers, version);
            chosen << (client.ok ? SSL_get_cipher_name(client.ssl) : "-");
        }
        QCOMPARE(chosen.join(' '), "TLS_AES_256_GCM_SHA384 ECDHE-RSA-AES128-GCM-SHA256 - - -");
    }

    void slowClients()
    {
        // A real request is answered at once past 64 stalled clients, which are dropped at their
        // deadlines (the handshake's is shorter).
        ServerOptions options;
        options.timeout = 3;
        options.handshakeTimeout = 1;
        const auto service = serve(options);
        const auto stalled = stall(service->port(), "P");
        QVERIFY(!stalled.empty());
        QElapsedTimer timer;
        timer.start();
        Client kept(service->port());
        QCOMPARE(statusOf(kept.exchange(post(m_valid))), 200);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        for (std::size_t i = 0; i < stalled.size(); i += 2)
            QVERIFY(stalled[i]->closed());
        QVERIFY(timer.elapsed() < 2500);
        QCOMPARE(statusOf(kept.exchange(post(m_valid))), 200);
        for (const auto &client : stalled)
            QVERIFY(client->closed());
        QVERIFY(timer.elapsed() < 6000);
        // Idle less than the deadline each time, past it in all: each request has a deadline of its own.
        QTest::qSleep(int(std::max<qint64>(0, 4000 - timer.elapsed())));
        QCOMPARE(statusOf(kept.exchange(post(m_valid))), 200);
        // At most a line a second, not one per connection.
        QTRY_COMPARE_WITH_TIMEOUT(dropped("request deadline passed").first, 64, 3000);
        QVERIFY(dropped("request deadline passed").second <= 4);
    }

    void connectionCap()
    {
        // At the cap, the connection longest without completing a request makes room, whatever it
        // does; once only those held at the gate are left, the next is turned away. One that never
        // speaks is not even handed over.
        QSemaphore held, released;
        std::atomic<bool> gate{false};
        ServerOptions options;
        options.maxConnections = 3;
        options.threads = 8; // a loop each: a held request holds up its loop
        options.handshakeTimeout = 10;
        const auto service = serve(options, [&] {
            if (gate) {
                held.release();
                released.tryAcquire(1, 5000);
            }
        });
        Client silent(service->port(), false);
        Client idle(service->port());
        Client oneByte(service->port(), false);
        QVERIFY(oneByte.send("\x16"));
        Client header(service->port()); // accepted after oneByte: connections are taken in turn
        QCOMPARE(statusOf(idle.exchange(post(m_valid))), 200);
        QVERIFY(header.send("P"));
        gate = true;
        std::vector<std::unique_ptr<Client>> answered;
        for (Client *victim : {&oneByte, &header, &idle}) {
            answered.push_back(std::make_unique<Client>(service->port()));
            QVERIFY(answered.back()->send(post(m_valid)));
            QVERIFY(held.tryAcquire(1, 5000));
            QVERIFY(victim->closed());
        }
        QVERIFY(!Client(service->port()).ok);
        released.release(3);
        for (const auto &client : answered)
            QCOMPARE(statusOf(client->answer()), 200);
        QTRY_COMPARE_WITH_TIMEOUT(dropped("connection limit reached").first, 1, 3000);
        QCOMPARE(dropped("closed to make room at the cap").first, 3);
    }

    void reload()
    {
        // New handshakes get the new pair while a connection in hand goes on; a pair that does not
        // load is refused, and the one in use stays.
        const QString cert = m_dir.filePath(QStringLiteral("reload.pem"));
        const QString key = m_dir.filePath(QStringLiteral("reload.key"));
        QVERIFY(QFile::copy(testCertPath(QStringLiteral("server.pem")), cert));
        QVERIFY(QFile::copy(testCertPath(QStringLiteral("server.key")), key));
        ServerOptions options;
        options.certPath = cert.toStdString();
        options.keyPath = key.toStdString();
        const auto service = serve(options);
        const auto subject = [](const Client &client) {
            char name[256] = {};
            X509_NAME_oneline(X509_get_subject_name(SSL_get0_peer_certificate(client.ssl)), name,
                              sizeof name);
            return QByteArray(name);
        };
        Client before(service->port());
        QVERIFY(QFile::remove(cert) && QFile::copy(testCertPath(QStringLiteral("wronghost.pem")), cert));
        std::string error;
        QVERIFY2(service->server().reload(&error), error.c_str());
        QCOMPARE(subject(Client(service->port())), QByteArray("/CN=wrong.invalid"));
        QCOMPARE(statusOf(before.exchange(post(m_valid))), 200);
        QCOMPARE(subject(before), QByteArray("/CN=localhost"));
        QVERIFY(!writeTestFile(m_dir.path(), QStringLiteral("reload.key"), "not a key").isEmpty());
        QVERIFY(!service->server().reload(&error));
        QVERIFY2(error.find("reload.key") != std::string::npos, error.c_str());
        QCOMPARE(subject(Client(service->port())), QByteArray("/CN=wrong.invalid"));
    }

    void processStopsOnSignal()
    {
        ServiceProcess service(m_dir.path());
        QVERIFY(service.start());
        // Slow clients everywhere: in the greeting, in the body.
        const auto stalled =
            stall(service.port(), "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{");
        QVERIFY(!stalled.empty());
        // SIGHUP reloads and does not end it.
        QCOMPARE(::kill(static_cast<pid_t>(service.process().processId()), SIGHUP), 0);
        QTRY_VERIFY_WITH_TIMEOUT(service.log().contains(" SIGHUP: certificate and key reloaded\n"), 3000);
        QCOMPARE(statusOf(Client(service.port()).exchange("GET /x HTTP/1.1\r\nHost: x\r\n\r\n")), 404);
        // Requests pipelined, then the stop: what is read whole is answered, and the log counts
        // exactly the answers the client gets.
        auto pipelining = std::make_unique<Client>(service.port());
        std::string requests;
        for (int i = 0; i < 500; ++i)
            requests += post(m_valid);
        QVERIFY(pipelining->send(requests));
        QCOMPARE(statusOf(pipelining->answer()), 200);
        QCOMPARE(::kill(static_cast<pid_t>(service.process().processId()), SIGTERM), 0);
        int answered = 1;
        while (statusOf(pipelining->answer()) == 200)
            ++answered;
        pipelining.reset();
        // Nothing else was being answered: every connection closes at once, without waiting out the grace.
        QVERIFY(service.process().waitForFinished(1500));
        QCOMPARE(service.process().exitCode(), 0); // not 15: the signal is handled
        const QByteArray log = service.log();
        QVERIFY2(log.contains(" GET /x -> 404 not found\n"), log.constData());
        QCOMPARE(int(log.count(" -> 200 unknown order\n")), answered);
        QVERIFY2(log.contains(" stopping on SIGTERM\n") && log.endsWith(" stopped\n"), log.constData());
    }

    // Standard error is a pipe whose reader stops reading: the service answers all the same, and a
    // SIGTERM still ends it at once.
    void processOutlivesItsLog()
    {
        int log[2];
        QCOMPARE(::pipe2(log, O_CLOEXEC), 0);
        ::fcntl(log[0], F_SETPIPE_SZ, 4096); // full after some 40 lines
        QProcess service;
        service.setStandardErrorFile(QStringLiteral("/dev/fd/%1").arg(log[1]));
        service.start(builtProgram(QStringLiteral("filehash-service")),
                      {QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("e.db"),
                       QStringLiteral("--cert"), testCertPath(QStringLiteral("server.pem")),
                       QStringLiteral("--key"), testCertPath(QStringLiteral("server.key")),
                       QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
        ::close(log[1]);
        QByteArray first; // "... listening on https://127.0.0.1:PORT/..."
        pollfd readable{log[0], POLLIN, 0};
        char c = 0;
        while (c != '\n' && ::poll(&readable, 1, 10000) == 1 && ::read(log[0], &c, 1) == 1)
            first += c;
        const quint16 port = QRegularExpression(QStringLiteral(":(\\d+)/"))
                                 .match(QString::fromLatin1(first))
                                 .captured(1)
                                 .toUShort();
        QVERIFY2(port, first.constData());
        Client client(port);
        for (int i = 0; i < 300; ++i)
            QCOMPARE(statusOf(client.exchange(post(m_valid))), 200);
        QCOMPARE(statusOf(Client(port).exchange(post(m_valid))), 200);
        QCOMPARE(::kill(static_cast<pid_t>(service.processId()), SIGTERM), 0);
        QVERIFY(service.waitForFinished(2000));
        QCOMPARE(service.exitCode(), 0);
        ::close(log[0]);
    }

    // Standard error is a pipe that fills: what does not fit in the queue is dropped, and a line after
    // the ones queued before says how many. When the reader goes, the log gives up, not the service.
    void logDropsWhatItCannotQueue()
    {
        int log[2];
        QCOMPARE(::pipe2(log, O_CLOEXEC), 0);
        ::fcntl(log[1], F_SETPIPE_SZ, 4096);
        const int standardError = ::dup(2);
        ::dup2(log[1], 2);
        setLogSink({});
        const std::string line(99, 'x');
        for (int i = 0; i < 10000; ++i) // far more than the pipe and the queue hold
            logLine(line);
        // Read until the writer has been quiet for a second: it may drop in more than one round.
        QByteArray got;
        pollfd readable{log[0], POLLIN, 0};
        char buffer[65536];
        while (::poll(&readable, 1, 1000) == 1)
            got.append(buffer, int(std::max(::read(log[0], buffer, sizeof buffer), ssize_t(0))));
        ::close(log[0]);
        logLine(line);
        QVERIFY(flushLog(std::chrono::milliseconds(5000)));
        ::dup2(standardError, 2);
        collectLog();
        int written = 0;
        int dropped = 0;
        for (const QByteArray &entry : got.split('\n')) {
            const QByteArrayList words = entry.split(' '); // "DATE TIME N log lines dropped"
            written += entry == QByteArray::fromStdString(line);
            dropped += words.value(3) == "log" ? words.value(2).toInt() : 0;
        }
        QVERIFY(dropped > 0);
        QVERIFY(got.endsWith(" dropped\n"));
        QCOMPARE(written + dropped, 10000);
        for (int fd : {log[1], standardError})
            ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
