// The reference service in process: reading request bodies, building answers, the store, the
// order numbers and the commands' refusals.

#include "service/commands.h"
#include "service/requestbody.h"
#include "service/store.h"
#include "service/verification.h"

#include <QtTest>

#include <sys/stat.h>

#include <set>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define FILEHASH_LSAN 1
#endif

Q_DECLARE_METATYPE(FlatObject::Problem)

namespace
{

const std::string Digest = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";

std::string body(const std::string &hash, const std::string &order, const std::string &type)
{
    return R"({"hash":")" + hash + R"(","quorvelOrder":")" + order + R"(","type":")" + type + "\"}";
}

int run(QStringList args)
{
    args.prepend(QStringLiteral("filehash-service"));
    std::vector<QByteArray> bytes;
    for (const QString &arg : args)
        bytes.push_back(QFile::encodeName(arg));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    return runCommand(static_cast<int>(bytes.size()), argv.data());
}

} // namespace

class TestServiceAnswers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void flatObject_data();
    void flatObject();
    void answers_data();
    void answers();
    void hostileBodiesLeakNothing();
    void routes_data();
    void routes();
    void orderNumbers_data();
    void orderNumbers();
    void listLeavesNoFiles();
    void preserveRefuses_data();
    void preserveRefuses();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<EvidenceStore> m_store;
    EvidenceRecord m_record;
};

void TestServiceAnswers::initTestCase()
{
    QVERIFY(m_dir.isValid());
    std::string error;
    m_store = EvidenceStore::open((m_dir.path() + QStringLiteral("/e.db")).toStdString(),
                                  EvidenceStore::Mode::Create, &error);
    QVERIFY2(m_store, error.c_str());
    m_record.type = 7;
    m_record.digest = Digest;
    m_record.user = "张三";
    m_record.location = "北京";
    m_record.time = "2026-12-06 10:00:00";
    QVERIFY2(m_store->insert(&m_record, &error), error.c_str());
}

void TestServiceAnswers::flatObject_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<FlatObject::Problem>("problem");
    QTest::addColumn<QString>("key"); // the key named by the problem, or "key=value" of a member read

    using P = FlatObject::Problem;
    QTest::newRow("members") << QByteArray(R"( {"a" : "1" , "b":"2"} )") << P::None << "b=2";
    QTest::newRow("empty object") << QByteArray("{}") << P::None << "";
    QTest::newRow("escapes") << QByteArray(R"({"k":"\"\\\/\b\f\n\r\t"})") << P::None << "k=\"\\/\b\f\n\r\t";
    QTest::newRow("surrogate pair") << QByteArray(R"({"k":"\u00e9\ud83d\ude00"})") << P::None
                                    << QString::fromUtf8("k=\xc3\xa9\xf0\x9f\x98\x80");
    QTest::newRow("UTF-8 text") << QByteArray("{\"k\":\"\xe5\xbc\xa0\"}") << P::None
                                << QString::fromUtf8("k=张");
    QTest::newRow("repeated key") << QByteArray(R"({"a":"1","a":"1"})") << P::RepeatedKey << "a";
    QTest::newRow("repeated key, escaped")
        << QByteArray(R"({"a":"1","\u0061":"2"})") << P::RepeatedKey << "a";
    QTest::newRow("array value") << QByteArray(R"({"a":[0],"a":[0]})") << P::NotAString << "a";
    QTest::newRow("object value") << QByteArray(R"({"a":{"b":"c"}})") << P::NotAString << "a";
    QTest::newRow("number value") << QByteArray(R"({"a":"x","type":7})") << P::NotAString << "type";
    QTest::newRow("null value") << QByteArray(R"({"a":null})") << P::NotAString << "a";
    QTest::newRow("missing value") << QByteArray(R"({"a":})") << P::Malformed << "";
    QTest::newRow("missing colon") << QByteArray(R"({"a" "b"})") << P::Malformed << "";
    QTest::newRow("trailing comma") << QByteArray(R"({"a":"b",})") << P::Malformed << "";
    QTest::newRow("unclosed") << QByteArray(R"({"a":"b")") << P::Malformed << "";
    QTest::newRow("unclosed string") << QByteArray(R"({"a":"b})") << P::Malformed << "";
    QTest::newRow("after the object") << QByteArray(R"({"a":"b"}x)") << P::Malformed << "";
    QTest::newRow("two objects") << QByteArray(R"({}{})") << P::Malformed << "";
    QTest::newRow("array") << QByteArray(R"([{"a":"b"}])") << P::Malformed << "";
    QTest::newRow("empty") << QByteArray() << P::Malformed << "";
    QTest::newRow("key not a string") << QByteArray(R"({a:"b"})") << P::Malformed << "";
    QTest::newRow("raw line break") << QByteArray("{\"a\":\"b\nc\"}") << P::Malformed << "";
    QTest::newRow("unknown escape") << QByteArray(R"({"a":"\x41"})") << P::Malformed << "";
    QTest::newRow("short \\u") << QByteArray(R"({"a":"\u12"})") << P::Malformed << "";
    QTest::newRow("lone low surrogate") << QByteArray(R"({"a":"\udc00"})") << P::Malformed << "";
    QTest::newRow("high surrogate alone") << QByteArray(R"({"a":"\ud83dx"})") << P::Malformed << "";
    QTest::newRow("invalid UTF-8") << QByteArray("{\"a\":\"\xff\"}") << P::Malformed << "";
    QTest::newRow("overlong UTF-8") << QByteArray("{\"a\":\"\xc0\xaf\"}") << P::Malformed << "";
    QTest::newRow("UTF-8 surrogate") << QByteArray("{\"a\":\"\xed\xa0\x80\"}") << P::Malformed << "";
    QTest::newRow("truncated UTF-8") << QByteArray("{\"a\":\"\xe5\xbc") << P::Malformed << "";
}

void TestServiceAnswers::flatObject()
{
    QFETCH(QByteArray, body);
    QFETCH(FlatObject::Problem, problem);
    QFETCH(QString, key);
    const FlatObject read = parseFlatObject(body.toStdString());
    QCOMPARE(read.problem, problem);
    if (problem != FlatObject::Problem::None) {
        QCOMPARE(QString::fromStdString(read.key), key);
        QVERIFY(read.members.empty());
    } else if (!key.isEmpty()) {
        const QStringList kv = key.split(QLatin1Char('='));
        QCOMPARE(QString::fromStdString(read.members.at(kv[0].toStdString())), kv[1]);
    } else {
        QVERIFY(read.members.empty());
    }
}

void TestServiceAnswers::answers_data()
{
    QTest::addColumn<QByteArray>("body"); // QV = the preserved order
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("outcome");

    const auto row = [](const char *name, const std::string &b, const char *answer, const char *outcome) {
        QTest::newRow(name) << QByteArray::fromStdString(b) << QByteArray(answer) << QByteArray(outcome);
    };
    const std::string pass =
        R"({"code":0,"data":{"deviceInfo":"北京","optTime":"2026-12-06 10:00:00","result":true,"userName":"张三"}})";
    row("same file", body(Digest, "QV", "7"), pass.c_str(), "pass");
    std::string upper = Digest;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(c));
    row("upper-case digest", body(upper, "QV", "7"), pass.c_str(), "pass");
    // Nothing about the applicant for a digest that does not match.
    const char fail[] = R"({"code":0,"data":{"result":false}})";
    row("another digest", body(std::string(64, '0'), "QV", "7"), fail, "fail");
    row("digest cut short", body(Digest.substr(0, 63), "QV", "7"), fail, "fail");
    row("empty digest", body("", "QV", "7"), fail, "fail");
    row("unknown order", body(Digest, "QV2026120600000000000000", "7"),
        R"({"code":2001,"des":"订单号不存在"})", "unknown order");
    row("another type", body(Digest, "QV", "8"), R"({"code":2002,"des":"存证类型与订单不符"})",
        "type mismatch");
    row("type with a leading zero", body(Digest, "QV", "07"), R"({"code":2002,"des":"存证类型与订单不符"})",
        "type mismatch");
    row("missing hash", R"({"quorvelOrder":"QV","type":"7"})", R"({"code":1002,"des":"缺少参数：hash"})",
        "missing hash");
    row("missing type", R"({"hash":"a","quorvelOrder":"QV"})", R"({"code":1002,"des":"缺少参数：type"})",
        "missing type");
    row("type as a number", R"({"hash":"a","quorvelOrder":"QV","type":7})",
        R"({"code":1003,"des":"参数类型错误：type"})", "not a string: type");
    row("another member nested", R"({"x":[1]})", R"({"code":1001,"des":"请求格式错误"})", "not a string: x");
    row("repeated member", R"({"hash":"a","hash":"b"})", R"({"code":1001,"des":"请求格式错误"})",
        "repeated key: hash");
    row("form fields", "hash=a&type=7", R"({"code":1001,"des":"请求格式错误"})", "not a flat JSON object");
}

void TestServiceAnswers::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, outcome);
    body.replace("\"QV\"", QByteArray("\"" + QByteArray::fromStdString(m_record.order) + "\""));
    const VerificationAnswer got = answerVerification(body.toStdString(), *m_store);
    QCOMPARE(QByteArray::fromStdString(got.json), answer);
    QCOMPARE(QByteArray::fromStdString(got.outcome), outcome);
}

void TestServiceAnswers::hostileBodiesLeakNothing()
{
    // Bodies that made Qt's JSON reader leak the value of each repeated key.
    std::string nested = "{";
    std::string strings = "{";
    while (nested.size() < 64 * 1024 - 16)
        nested += R"("a":[0],)";
    while (strings.size() < 64 * 1024 - 16)
        strings += R"("a":"x",)";
    nested.back() = '}';
    strings.back() = '}';
    for (int i = 0; i < 100; ++i) {
        const VerificationAnswer a = answerVerification(i % 2 ? nested : strings, *m_store);
        QCOMPARE(a.json, std::string(R"({"code":1001,"des":"请求格式错误"})"));
    }
#ifdef FILEHASH_LSAN
    QCOMPARE(__lsan_do_recoverable_leak_check(), 0);
#endif
}

void TestServiceAnswers::routes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    const QByteArray path = VerifyPath;
    QTest::newRow("verification") << QByteArray("POST") << path << 200;
    QTest::newRow("with a query") << QByteArray("POST") << path + "?x=1" << 200;
    QTest::newRow("GET") << QByteArray("GET") << path << 404;
    QTest::newRow("trailing slash") << QByteArray("POST") << path + "/" << 404;
    QTest::newRow("another path") << QByteArray("POST") << QByteArray("/mrv/other/o_getHash") << 404;
}

void TestServiceAnswers::routes()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    const HttpAnswer a = answerRequest(method.toStdString(), target.toStdString(),
                                       body(Digest, m_record.order, "7"), *m_store);
    QCOMPARE(a.status, status);
    QCOMPARE(a.outcome, std::string(status == 200 ? "pass" : "not found"));
}

void TestServiceAnswers::orderNumbers_data()
{
    QTest::addColumn<quint64>("random");
    QTest::addColumn<QString>("order");
    QTest::newRow("zero") << quint64(0) << "QV202612060000000000000";
    QTest::newRow("all ones") << ~quint64(0) << "QV20261206FZZZZZZZZZZZZ";
    QTest::newRow("top bit") << (quint64(1) << 63) << "QV202612068000000000000";
    QTest::newRow("letters skip I L O U") << quint64(0x952db) << "QV20261206000000000JMPV";
}

void TestServiceAnswers::orderNumbers()
{
    QFETCH(quint64, random);
    QFETCH(QString, order);
    QCOMPARE(QString::fromStdString(orderNumber(2026, 12, 6, random)), order);

    // Drawn numbers: today's prefix, the alphabet, and no two alike.
    const QRegularExpression shape(QStringLiteral("^QV%1[0-9A-HJKMNP-TV-Z]{13}$")
                                       .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    std::set<std::string> drawn;
    for (int i = 0; i < 1000; ++i) {
        const std::string n = newOrderNumber();
        QVERIFY2(shape.match(QString::fromStdString(n)).hasMatch(), n.c_str());
        drawn.insert(n);
    }
    QCOMPARE(drawn.size(), std::size_t(1000));
}

void TestServiceAnswers::listLeavesNoFiles()
{
    const QString db = m_dir.path() + QStringLiteral("/list.db");
    std::string error;
    {
        auto store = EvidenceStore::open(db.toStdString(), EvidenceStore::Mode::Create, &error);
        EvidenceRecord record = m_record;
        QVERIFY(store && store->insert(&record, &error));
    }
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
    auto reader = EvidenceStore::open(db.toStdString(), EvidenceStore::Mode::ReadOnly, &error);
    QVERIFY2(reader, error.c_str());
    std::vector<EvidenceRecord> records;
    QVERIFY(reader->list(&records, &error));
    QCOMPARE(records.size(), std::size_t(1));
    EvidenceRecord record = m_record;
    QVERIFY(!reader->insert(&record, &error)); // read-only
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
    reader.reset();
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
}

void TestServiceAnswers::preserveRefuses_data()
{
    QTest::addColumn<QString>("file"); // "{fifo}" for a named pipe
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("regular file") << "evidence.bin"
                                  << "3" << 0;
    QTest::newRow("named pipe") << "{fifo}"
                                << "3" << 1;
    QTest::newRow("device") << "/dev/zero"
                            << "3" << 1;
    QTest::newRow("directory") << "."
                               << "3" << 1;
    QTest::newRow("missing file") << "missing.bin"
                                  << "3" << 1;
    QTest::newRow("type 0") << "evidence.bin"
                            << "0" << 2;
    QTest::newRow("type 19") << "evidence.bin"
                             << "19" << 2;
}

void TestServiceAnswers::preserveRefuses()
{
    QFETCH(QString, file);
    QFETCH(QString, type);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QFile evidence(QStringLiteral("evidence.bin"));
    QVERIFY(evidence.open(QIODevice::WriteOnly) && evidence.write("content") == 7);
    evidence.close();
    if (file == QLatin1String("{fifo}")) {
        file = QStringLiteral("pipe");
        QCOMPARE(::mkfifo("pipe", 0600), 0);
    }
    const int code = run({QStringLiteral("preserve"), QStringLiteral("--db"), QStringLiteral("p.db"),
                          QStringLiteral("--type"), type, QStringLiteral("--user"), QStringLiteral("u"),
                          QStringLiteral("--location"), QStringLiteral("l"), file});
    QCOMPARE(code, exitCode);
    // A refused file leaves no database behind.
    QCOMPARE(QFile::exists(QStringLiteral("p.db")), exitCode == 0);
}

QTEST_GUILESS_MAIN(TestServiceAnswers)
#include "tst_serviceanswers.moc"
