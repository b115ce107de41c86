// The reference service in process: request bodies, answers, the store, order numbers, commands' refusals.

#include "service/commands.h"
#include "service/requestbody.h"
#include "service/store.h"
#include "service/verification.h"
#include "testsupport.h"

#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

using Problem = FlatObject::Problem;

static const QByteArray Digest = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";
static const char NotAnObject[] = R"({"code":1001,"des":"请求格式错误"})";
static EvidenceRecord Stored;

static std::string body(const QByteArray &hash, const std::string &type)
{
    return R"({"hash":")" + hash.toStdString() + R"(","quorvelOrder":")" + Stored.order + R"(","type":")" +
           type + "\"}";
}

class TestServiceAnswers : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<EvidenceStore> m_store;

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

private slots:
    void initTestCase()
    {
        // The store and the files preserve is given, named relative to it.
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY(!writeTestFile(m_dir.path(), QStringLiteral("evidence.bin"), "content").isEmpty());
        QCOMPARE(::mkfifo("pipe", 0600), 0);
        std::string error;
        m_store = EvidenceStore::open("e.db", EvidenceStore::Mode::Create, &error);
        QVERIFY2(m_store, error.c_str());
        Stored = {"", 7, Digest.toStdString(), "张三", "北京", "2026-12-06 10:00:00"};
        QVERIFY2(m_store->insert(&Stored, &error), error.c_str());
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
            answerRequest(request[0].toStdString(), VerifyPath + request.value(1).toStdString(),
                          body.toStdString(), *m_store);
        QCOMPARE(QByteArray::fromStdString(got.body), answer);
        QCOMPARE(QByteArray::fromStdString(got.outcome), outcome);
        QCOMPARE(got.status, outcome == "not found" ? 404 : 200);
    }

    void hostileBodiesLeakNothing()
    {
        // Bodies that made Qt's JSON reader leak the value of each repeated key.
        for (const char *member : {R"("a":[0],)", R"("a":"x",)"}) {
            const QByteArray hostile = '{' + QByteArray(member).repeated(8000).chopped(1) + '}';
            for (int i = 0; i < 50; ++i)
                QCOMPARE(answerVerification(hostile.toStdString(), *m_store).json, std::string(NotAnObject));
        }
#ifdef __SANITIZE_ADDRESS__
        QCOMPARE(__lsan_do_recoverable_leak_check(), 0);
#endif
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
        for (const QString &n : drawn)
            QVERIFY2(shape.match(n).hasMatch(), qPrintable(n));
    }

    void listLeavesNoFiles()
    {
        const QStringList before = QDir().entryList(QDir::Files);
        std::string error;
        auto reader = EvidenceStore::open("e.db", EvidenceStore::Mode::ReadOnly, &error);
        QVERIFY2(reader, error.c_str());
        std::vector<EvidenceRecord> records;
        QVERIFY(reader->list(&records, &error));
        QCOMPARE(records.size(), std::size_t(1));
        EvidenceRecord record = Stored;
        QVERIFY(!reader->insert(&record, &error));
        reader.reset();
        QCOMPARE(QDir().entryList(QDir::Files), before);
    }

    // Records found are kept in memory: another writer's change to one (sqlite3 at the shell, say)
    // must still be seen, in either journal mode.
    void keptRecordsFollowTheDatabase_data()
    {
        QTest::addColumn<QByteArray>("journal");
        QTest::newRow("rollback journal") << QByteArray("DELETE");
        QTest::newRow("write-ahead log") << QByteArray("WAL");
    }
    void keptRecordsFollowTheDatabase()
    {
        QFETCH(QByteArray, journal);
        std::string error;
        QFile::remove(QStringLiteral("k.db"));
        auto store = EvidenceStore::open("k.db", EvidenceStore::Mode::Create, &error);
        EvidenceRecord record = Stored;
        QVERIFY2(store && store->insert(&record, &error), error.c_str());
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open("k.db", &other), SQLITE_OK);
        const auto run = [&](const QByteArray &sql) {
            QCOMPARE(sqlite3_exec(other, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        };
        run("PRAGMA journal_mode = " + journal);
        EvidenceRecord found;
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
        run("UPDATE evidence SET user_name = 'changed'");
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::Found);
        QCOMPARE(found.user, std::string("changed"));
        run("DELETE FROM evidence");
        QCOMPARE(store->find(record.order, &found, &error), EvidenceStore::Lookup::NotFound);
        sqlite3_close(other);
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
};

QTEST_GUILESS_MAIN(TestServiceAnswers)
#include "tst_serviceanswers.moc"
