// readHashAnswer: the service's answer body -> what the window shows. One row per rule.
#include "core/hashanswer.h"

#include <QtTest>

namespace
{

using Kind = HashAnswer::Kind;

// Bytes of a string literal, embedded NULs included.
template <int N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

const QChar kBad(QChar::ReplacementCharacter);

} // namespace

Q_DECLARE_METATYPE(HashAnswer::Kind)

class TestHashAnswer : public QObject
{
    Q_OBJECT
private:
    // body -> kind, and the one text the kind shows (des for a message, userName for a pass).
    static void row(const char *name, const QByteArray &body, Kind kind, const QString &text = QString())
    {
        QTest::newRow(name) << body << kind << text;
    }
private slots:
    void answer_data();
    void answer();
};

void TestHashAnswer::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<HashAnswer::Kind>("kind");
    QTest::addColumn<QString>("text");

    row("pass, all texts",
        bytes(R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})"),
        Kind::Pass, QStringLiteral("A"));
    row("texts verbatim, not trimmed", bytes(R"({"code":0,"data":{"result":true,"userName":" <b>\"A\"\n"}})"),
        Kind::Pass, QStringLiteral(" <b>\"A\"\n"));
    row("non-string text reads empty", bytes(R"({"code":0,"data":{"result":true,"userName":5}})"),
        Kind::Pass);
    row("keys are case-sensitive", bytes(R"({"code":0,"data":{"result":true,"UserName":"A"}})"), Kind::Pass);
    row("Chinese, UTF-8",
        bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xE5\xBC\xA0\xE4\xB8\x89\"}}"),
        Kind::Pass, QStringLiteral(u"\u5F20\u4E09"));
    // Only JSON true passes.
    row("result false", bytes(R"({"code":0,"data":{"result":false,"userName":"A"}})"), Kind::Fail);
    row("result 1", bytes(R"({"code":0,"data":{"result":1}})"), Kind::Fail);
    row("result \"true\"", bytes(R"({"code":0,"data":{"result":"true"}})"), Kind::Fail);
    row("result missing", bytes(R"({"code":0,"data":{}})"), Kind::Fail);
    row("data not an object", bytes(R"({"code":0,"data":[{"result":true}]})"), Kind::Fail);
    row("data null", bytes(R"({"code":0,"data":null})"), Kind::Fail);
    row("no data", bytes(R"({"code":0,"des":"X"})"), Kind::Abnormal);
    row("message", bytes(R"({"code":1,"des":"X","data":{"result":true}})"), Kind::Message,
        QStringLiteral("X"));
    row("des not a string reads empty", bytes(R"({"code":1,"des":5})"), Kind::Message);
    row("failure without des", bytes(R"({"code":1,"data":{"result":true}})"), Kind::Silent);
    row("code -1", bytes(R"({"code":-1,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("code at int max", bytes(R"({"code":2147483647,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("code 1e2 is whole", bytes(R"({"code":1e2,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    // A code that is not a whole number within the int range reads as 0.
    row("code past int max", bytes(R"({"code":2147483648,"des":"X"})"), Kind::Abnormal);
    row("code below int min", bytes(R"({"code":-2147483649,"data":{"result":true}})"), Kind::Pass);
    row("code 1.5", bytes(R"({"code":1.5,"data":{"result":false}})"), Kind::Fail);
    row("code \"1\"", bytes(R"({"code":"1","data":{"result":true}})"), Kind::Pass);
    row("code null", bytes(R"({"code":null,"des":"X"})"), Kind::Abnormal);
    row("code true", bytes(R"({"code":true,"des":"X"})"), Kind::Abnormal);
    row("no code", bytes(R"({"des":"X","data":{"result":true}})"), Kind::Silent);
    row("key CODE", bytes(R"({"CODE":1,"des":"X"})"), Kind::Silent);
    row("{}", bytes("{}"), Kind::Silent);
    row("empty body", QByteArray(), Kind::Unreadable);
    row("array", bytes(R"([{"code":0,"data":{"result":true}}])"), Kind::Unreadable);
    row("not JSON", bytes("<html>502</html>"), Kind::Unreadable);
    row("trailing garbage", bytes(R"({"code":0,"data":{"result":true}} x)"), Kind::Unreadable);
    row("truncated", bytes(R"({"code":0,"data":{"result":true)"), Kind::Unreadable);
    // The parser sees the body up to its first NUL.
    row("NUL then garbage", bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"A\"}}\0x{"),
        Kind::Pass, QStringLiteral("A"));
    row("NUL then another object", bytes("{\"code\":1,\"des\":\"X\"}\0{\"code\":0}"), Kind::Message,
        QStringLiteral("X"));
    row("NUL inside", bytes("{\"code\":0,\0\"data\":{\"result\":true}}"), Kind::Unreadable);
    // Malformed UTF-8 becomes U+FFFD before parsing; no codec guesses.
    row("malformed UTF-8 in a string",
        bytes("{\"code\":1,\"des\":\"a\xFF\xFE"
              "b\"}"),
        Kind::Message, QStringLiteral("a") + kBad + kBad + QStringLiteral("b"));
    row("GBK bytes", bytes("{\"code\":1,\"des\":\"\xB2\xE2\"}"), Kind::Message, QString(2, kBad));
    row("UTF-8 BOM", bytes("\xEF\xBB\xBF{\"code\":1,\"des\":\"X\"}"), Kind::Message, QStringLiteral("X"));
    row("duplicate key: the last counts", bytes(R"({"code":0,"data":{"result":true,"result":false}})"),
        Kind::Fail);
}

void TestHashAnswer::answer()
{
    QFETCH(QByteArray, body);
    QFETCH(HashAnswer::Kind, kind);
    QFETCH(QString, text);
    const HashAnswer answer = readHashAnswer(body);
    QCOMPARE(int(answer.kind), int(kind));
    QCOMPARE(kind == Kind::Message ? answer.des : answer.userName, text);
    if (kind != Kind::Message)
        QVERIFY(answer.des.isEmpty());
    if (body.contains("\"T\""))
        QCOMPARE(answer.optTime + answer.deviceInfo, QStringLiteral("TD"));
}

QTEST_APPLESS_MAIN(TestHashAnswer)
#include "tst_hashanswer.moc"
