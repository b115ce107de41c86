// readHashAnswer: the service's answer body -> what the window shows. One row per rule.
#include "core/hashanswer.h"

#include <QtTest>

using Kind = HashAnswer::Kind;
Q_DECLARE_METATYPE(HashAnswer::Kind)

class TestHashAnswer : public QObject
{
    Q_OBJECT
    // body (embedded NULs kept) -> kind, and what the kind shows: des for a message,
    // "userName|optTime|deviceInfo" for a pass.
    template <int N> static void row(const char (&body)[N], Kind kind, const char *shown = "")
    {
        QTest::newRow(body) << QByteArray(body, N - 1) << kind << QString::fromUtf8(shown);
    }
private slots:
    void answer_data(); // below: moc cannot read raw strings inside the class
    void answer()
    {
        QFETCH(QByteArray, body);
        QFETCH(Kind, kind);
        QFETCH(QString, shown);
        const HashAnswer a = readHashAnswer(body);
        QCOMPARE(int(a.kind), int(kind));
        if (kind == Kind::Pass)
            QCOMPARE(QStringList({a.userName, a.optTime, a.deviceInfo}).join(QLatin1Char('|')), shown);
        else
            QCOMPARE(a.des, shown);
    }
};

void TestHashAnswer::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("shown");
    row(R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})", Kind::Pass,
        "A|T|D");
    row(R"({"code":0,"data":{"result":true,"userName":" <b>\"A\"\n"}})", Kind::Pass, " <b>\"A\"\n||");
    row("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xE5\xBC\xA0\xE4\xB8\x89\"}}", Kind::Pass,
        u8"\u5F20\u4E09||");
    // Only JSON true passes; data that is there but not an object is a fail, not abnormal.
    row(R"({"code":0,"data":{"result":false,"userName":"A"}})", Kind::Fail);
    row(R"({"code":0,"data":{"result":"true"}})", Kind::Fail);
    row(R"({"code":0,"data":{}})", Kind::Fail);
    row(R"({"code":0,"data":null})", Kind::Fail);
    row(R"({"code":0,"data":{"result":true,"result":false}})", Kind::Fail);
    row(R"({"code":0,"des":"X"})", Kind::Abnormal);
    row(R"({"code":1,"des":"X","data":{"result":true}})", Kind::Message, "X");
    row(R"({"code":1,"data":{"result":true}})", Kind::Silent);
    row(R"({"code":-1,"des":"X"})", Kind::Message, "X");
    row(R"({"code":2147483647,"des":"X"})", Kind::Message, "X");
    // A code that is not a whole number within the int range reads as 0.
    row(R"({"code":2147483648,"des":"X"})", Kind::Abnormal);
    row(R"({"code":1.5,"data":{"result":false}})", Kind::Fail);
    row(R"({"code":"1","data":{"result":true}})", Kind::Pass, "||");
    row(R"({"des":"X","data":{"result":true}})", Kind::Silent);
    row(R"({"CODE":1,"des":"X"})", Kind::Silent);
    row("", Kind::Unreadable);
    row(R"([{"code":0,"data":{"result":true}}])", Kind::Unreadable);
    row("<html>502</html>", Kind::Unreadable);
    row(R"({"code":0,"data":{"result":true}} x)", Kind::Unreadable);
    // The parser sees the body up to its first NUL; malformed UTF-8 becomes U+FFFD, no codec guesses.
    row("{\"code\":1,\"des\":\"X\"}\0{\"code\":0}", Kind::Message, "X");
    row("{\"code\":0,\0\"data\":{\"result\":true}}", Kind::Unreadable);
    row("{\"code\":1,\"des\":\"a\xFF\xB2\xE2\"}", Kind::Message, u8"a\uFFFD\uFFFD\uFFFD");
    row("\xEF\xBB\xBF{\"code\":1,\"des\":\"X\"}", Kind::Message, "X");
}

QTEST_APPLESS_MAIN(TestHashAnswer)
#include "tst_hashanswer.moc"
