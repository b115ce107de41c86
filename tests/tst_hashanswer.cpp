// readHashAnswer: the service's answer body -> what the window shows.
#include "core/hashanswer.h"

#include <QtTest>

namespace
{

using Kind = HashAnswer::Kind;

// Bytes of a string literal, embedded NULs included (the terminating NUL excluded).
template <int N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Unreadable:
        return QStringLiteral("Unreadable");
    case Kind::Silent:
        return QStringLiteral("Silent");
    case Kind::Message:
        return QStringLiteral("Message");
    case Kind::Abnormal:
        return QStringLiteral("Abnormal");
    case Kind::Pass:
        return QStringLiteral("Pass");
    case Kind::Fail:
        return QStringLiteral("Fail");
    }
    return QStringLiteral("Kind(%1)").arg(static_cast<int>(kind));
}

const QChar replacement(QChar::ReplacementCharacter);

} // namespace

Q_DECLARE_METATYPE(HashAnswer::Kind)

class TestHashAnswer : public QObject
{
    Q_OBJECT

private:
    // One row: body -> kind; the texts default to empty.
    static void row(const char *name, const QByteArray &body, Kind kind, const QString &des = QString(),
                    const QString &userName = QString(), const QString &optTime = QString(),
                    const QString &deviceInfo = QString())
    {
        QTest::newRow(name) << body << kind << des << userName << optTime << deviceInfo;
    }

private slots:
    void answer_data();
    void answer();
    void longTextAndTailsAfterNul();
};

void TestHashAnswer::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<HashAnswer::Kind>("kind");
    QTest::addColumn<QString>("des");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("optTime");
    QTest::addColumn<QString>("deviceInfo");

    const QString A = QStringLiteral("A"), T = QStringLiteral("T"), D = QStringLiteral("D");

    // --- pass
    row("pass", bytes(R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})"),
        Kind::Pass, QString(), A, T, D);
    row("pass, only result", bytes(R"({"code":0,"data":{"result":true}})"), Kind::Pass);
    row("pass, key order and other keys",
        bytes(R"({"x":1,"data":{"deviceInfo":"D","extra":[1],"result":true,"optTime":"T","userName":"A"},)"
              R"("des":"ignored","code":0})"),
        Kind::Pass, QString(), A, T, D);
    row("pass, whitespace around", bytes(" \r\n\t{ \"code\" : 0 , \"data\" : { \"result\" : true } }\n "),
        Kind::Pass);
    row("pass, texts not trimmed",
        bytes(R"({"code":0,"data":{"result":true,"userName":"  A ","optTime":"\tT\n","deviceInfo":""}})"),
        Kind::Pass, QString(), QStringLiteral("  A "), QStringLiteral("\tT\n"), QString());
    row("pass, non-string texts read as empty",
        bytes(R"({"code":0,"data":{"result":true,"userName":5,"optTime":null,"deviceInfo":{"a":"D"}}})"),
        Kind::Pass);
    row("pass, texts as array/bool",
        bytes(R"({"code":0,"data":{"result":true,"userName":["A"],"optTime":true,"deviceInfo":false}})"),
        Kind::Pass);
    row("pass, Chinese texts (UTF-8)",
        bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xE5\xBC\xA0\xE4\xB8\x89\","
              "\"optTime\":\"2024\xE5\xB9\xB4\",\"deviceInfo\":\"\xE5\x8C\x97\xE4\xBA\xAC\"}}"),
        Kind::Pass, QString(), QStringLiteral(u"\u5F20\u4E09"), QStringLiteral(u"2024\u5E74"),
        QStringLiteral(u"\u5317\u4EAC"));
    row("pass, Chinese via JSON escapes",
        bytes(R"({"code":0,"data":{"result":true,"userName":"\u5f20\u4e09"}})"), Kind::Pass, QString(),
        QStringLiteral(u"\u5F20\u4E09"));
    row("pass, emoji (4-byte UTF-8)",
        bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xF0\x9F\x98\x80\"}}"), Kind::Pass,
        QString(), QString::fromUtf8("\xF0\x9F\x98\x80"));
    row("pass, HTML-looking texts verbatim",
        bytes(R"({"code":0,"data":{"result":true,"userName":"<b>x</b>","optTime":"&amp;"}})"), Kind::Pass,
        QString(), QStringLiteral("<b>x</b>"), QStringLiteral("&amp;"));
    row("pass, key userName is case-sensitive",
        bytes(R"({"code":0,"data":{"result":true,"UserName":"A","username":"B","OPTTIME":"T"}})"),
        Kind::Pass);

    // --- fail: success, but data/result is not JSON true
    row("fail, result false", bytes(R"({"code":0,"data":{"result":false,"userName":"A"}})"), Kind::Fail);
    row("fail, result 1", bytes(R"({"code":0,"data":{"result":1}})"), Kind::Fail);
    row("fail, result \"true\"", bytes(R"({"code":0,"data":{"result":"true"}})"), Kind::Fail);
    row("fail, result null", bytes(R"({"code":0,"data":{"result":null}})"), Kind::Fail);
    row("fail, result missing", bytes(R"({"code":0,"data":{"userName":"A","optTime":"T"}})"), Kind::Fail);
    row("fail, result [true]", bytes(R"({"code":0,"data":{"result":[true]}})"), Kind::Fail);
    row("fail, result {}", bytes(R"({"code":0,"data":{"result":{}}})"), Kind::Fail);
    row("fail, result 0", bytes(R"({"code":0,"data":{"result":0}})"), Kind::Fail);
    row("fail, key Result", bytes(R"({"code":0,"data":{"Result":true}})"), Kind::Fail);
    row("fail, data {}", bytes(R"({"code":0,"data":{}})"), Kind::Fail);
    row("fail, data array", bytes(R"({"code":0,"data":[{"result":true}]})"), Kind::Fail);
    row("fail, data string", bytes(R"({"code":0,"data":"{\"result\":true}"})"), Kind::Fail);
    row("fail, data null", bytes(R"({"code":0,"data":null})"), Kind::Fail);
    row("fail, data true", bytes(R"({"code":0,"data":true})"), Kind::Fail);
    row("fail, data number", bytes(R"({"code":0,"data":1})"), Kind::Fail);
    row("fail, result at top level", bytes(R"({"code":0,"result":true,"data":{}})"), Kind::Fail);

    // --- abnormal: success without data
    row("abnormal", bytes(R"({"code":0})"), Kind::Abnormal);
    row("abnormal, des ignored", bytes(R"({"code":0,"des":"X"})"), Kind::Abnormal);
    row("abnormal, key DATA", bytes(R"({"code":0,"DATA":{"result":true}})"), Kind::Abnormal);
    row("abnormal, result without data", bytes(R"({"code":0,"result":true})"), Kind::Abnormal);

    // --- message / silent: failure
    row("message", bytes(R"({"code":1,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, data ignored", bytes(R"({"code":1,"des":"X","data":{"result":true,"userName":"A"}})"),
        Kind::Message, QStringLiteral("X"));
    row("silent, failure without des", bytes(R"({"code":1})"), Kind::Silent);
    row("silent, failure with data only", bytes(R"({"code":1,"data":{"result":true}})"), Kind::Silent);
    row("silent, key DES", bytes(R"({"code":1,"DES":"X"})"), Kind::Silent);
    row("message, des 5 -> empty", bytes(R"({"code":1,"des":5})"), Kind::Message);
    row("message, des null -> empty", bytes(R"({"code":1,"des":null})"), Kind::Message);
    row("message, des object -> empty", bytes(R"({"code":1,"des":{"a":"X"}})"), Kind::Message);
    row("message, des empty", bytes(R"({"code":1,"des":""})"), Kind::Message);
    row("message, HTML verbatim", bytes(R"({"code":1,"des":"<b>x</b>"})"), Kind::Message,
        QStringLiteral("<b>x</b>"));
    row("message, not trimmed, escapes decoded", bytes(R"({"code":1,"des":" a\nb\t\"c\"\\ "})"),
        Kind::Message, QStringLiteral(" a\nb\t\"c\"\\ "));
    row("message, Chinese (UTF-8)",
        bytes("{\"code\":1,\"des\":"
              "\"\xE5\x93\x88\xE5\xB8\x8C\xE5\x80\xBC\xE4\xB8\x8D\xE5\xAD\x98\xE5\x9C\xA8\"}"),
        Kind::Message, QStringLiteral(u"\u54C8\u5E0C\u503C\u4E0D\u5B58\u5728"));
    row("message, -1", bytes(R"({"code":-1,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, 2147483647", bytes(R"({"code":2147483647,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, -2147483648", bytes(R"({"code":-2147483648,"des":"X"})"), Kind::Message,
        QStringLiteral("X"));
    row("message, 1.0 is whole", bytes(R"({"code":1.0,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, 1e2 is whole", bytes(R"({"code":1e2,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, 1E0 is whole", bytes(R"({"code":1E0,"des":"X"})"), Kind::Message, QStringLiteral("X"));
    row("message, -3e1 is whole", bytes(R"({"code":-3e1,"des":"X"})"), Kind::Message, QStringLiteral("X"));

    // --- "code" that reads as 0: not a number, not whole, or out of int range
    row("code \"1\" reads as 0", bytes(R"({"code":"1","data":{"result":true}})"), Kind::Pass);
    row("code \"1\" with des reads as 0", bytes(R"({"code":"1","des":"X"})"), Kind::Abnormal);
    row("code 1.5 reads as 0", bytes(R"({"code":1.5,"data":{"result":true}})"), Kind::Pass);
    row("code -1.5 reads as 0", bytes(R"({"code":-1.5,"des":"X"})"), Kind::Abnormal);
    row("code 0.5 reads as 0", bytes(R"({"code":0.5,"data":{"result":false}})"), Kind::Fail);
    row("code 1e-7 reads as 0", bytes(R"({"code":1e-7,"des":"X"})"), Kind::Abnormal);
    row("code 2147483647.5 reads as 0", bytes(R"({"code":2147483647.5,"des":"X"})"), Kind::Abnormal);
    row("code null reads as 0", bytes(R"({"code":null,"data":{"result":true}})"), Kind::Pass);
    row("code true reads as 0", bytes(R"({"code":true,"data":{"result":true}})"), Kind::Pass);
    row("code false reads as 0", bytes(R"({"code":false,"des":"X"})"), Kind::Abnormal);
    row("code [1] reads as 0", bytes(R"({"code":[1],"des":"X"})"), Kind::Abnormal);
    row("code {} reads as 0", bytes(R"({"code":{},"des":"X"})"), Kind::Abnormal);
    row("code -0 reads as 0", bytes(R"({"code":-0,"data":{"result":true}})"), Kind::Pass);
    row("code 0.0 reads as 0", bytes(R"({"code":0.0,"data":{"result":true}})"), Kind::Pass);
    row("code 2147483648 reads as 0", bytes(R"({"code":2147483648,"des":"X"})"), Kind::Abnormal);
    row("code 2147483648 with data", bytes(R"({"code":2147483648,"data":{"result":true}})"), Kind::Pass);
    row("code -2147483649 reads as 0", bytes(R"({"code":-2147483649,"des":"X"})"), Kind::Abnormal);
    row("code 4294967296 reads as 0", bytes(R"({"code":4294967296,"des":"X"})"), Kind::Abnormal);
    row("code 4294967297 reads as 0", bytes(R"({"code":4294967297,"des":"X"})"), Kind::Abnormal);
    row("code 1e10 reads as 0", bytes(R"({"code":1e10,"des":"X"})"), Kind::Abnormal);
    row("code 1e300 reads as 0", bytes(R"({"code":1e300,"des":"X"})"), Kind::Abnormal);
    row("code -1e300 reads as 0", bytes(R"({"code":-1e300,"data":{"result":true}})"), Kind::Pass);
    row("code 2^63 reads as 0", bytes(R"({"code":9223372036854775808,"des":"X"})"), Kind::Abnormal);
    row("code 2^64 reads as 0", bytes(R"({"code":18446744073709551616,"des":"X"})"), Kind::Abnormal);

    // --- silent: an object that asks for nothing
    row("{}", bytes("{}"), Kind::Silent);
    row("{} with whitespace", bytes(" { } "), Kind::Silent);
    row("no code", bytes(R"({"des":"X","data":{"result":true}})"), Kind::Silent);
    row("key Code", bytes(R"({"Code":0,"data":{"result":true}})"), Kind::Silent);
    row("key CODE", bytes(R"({"CODE":1,"des":"X"})"), Kind::Silent);

    // --- unreadable: not a JSON object
    row("empty body", QByteArray(), Kind::Unreadable);
    row("[]", bytes("[]"), Kind::Unreadable);
    row("array of the object", bytes(R"([{"code":0,"data":{"result":true}}])"), Kind::Unreadable);
    row("not json", bytes("not json"), Kind::Unreadable);
    row("whitespace only", bytes(" \n"), Kind::Unreadable);
    row("string", bytes(R"("x")"), Kind::Unreadable);
    row("number", bytes("0"), Kind::Unreadable);
    row("null", bytes("null"), Kind::Unreadable);
    row("true", bytes("true"), Kind::Unreadable);
    row("truncated", bytes(R"({"code":0,"data":{"result":true)"), Kind::Unreadable);
    row("truncated in a string", bytes(R"({"code":1,"des":"X)"), Kind::Unreadable);
    row("trailing garbage", bytes(R"({"code":0,"data":{"result":true}} x)"), Kind::Unreadable);
    row("two objects", bytes(R"({"code":1}{"code":0})"), Kind::Unreadable);
    row("trailing comma", bytes(R"({"code":0,"data":{"result":true},})"), Kind::Unreadable);
    row("single quotes", bytes(R"({'code':0,'data':{'result':true}})"), Kind::Unreadable);
    row("unquoted key", bytes(R"({code:0,"data":{"result":true}})"), Kind::Unreadable);
    row("number too large for a double", bytes(R"({"code":1e400,"des":"X"})"), Kind::Unreadable);
    row("NaN", bytes(R"({"code":NaN,"des":"X"})"), Kind::Unreadable);
    row("hex number", bytes(R"({"code":0x1,"des":"X"})"), Kind::Unreadable);
    row("HTML error page", bytes("<html><body>502 Bad Gateway</body></html>"), Kind::Unreadable);

    // --- NUL bytes: the parser sees the body up to its first NUL
    row("NUL then garbage after the object",
        bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"A\"}}\0garbage{\"code\":1"), Kind::Pass,
        QString(), A);
    row("NUL then a second object",
        bytes("{\"code\":1,\"des\":\"X\"}\0{\"code\":0,\"data\":{\"result\":true}}"), Kind::Message,
        QStringLiteral("X"));
    row("NUL inside the object", bytes("{\"code\":0,\0\"data\":{\"result\":true}}"), Kind::Unreadable);
    row("NUL inside a string", bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"A\0B\"}}"),
        Kind::Unreadable);
    row("NUL first", bytes("\0{\"code\":0,\"data\":{\"result\":true}}"), Kind::Unreadable);
    row("NUL only", bytes("\0"), Kind::Unreadable);
    row("NUL after a malformed byte", bytes("{\"code\":1,\"des\":\"X\"}\xC3\0garbage"), Kind::Unreadable);

    // --- malformed UTF-8: replaced by U+FFFD before parsing, never a parse error inside a string
    row("\\xff\\xfe in des",
        bytes("{\"code\":1,\"des\":\"a\xFF\xFE"
              "b\"}"),
        Kind::Message, QStringLiteral("a") + replacement + replacement + QStringLiteral("b"));
    row("lone \\xc3 in des", bytes("{\"code\":1,\"des\":\"x\xC3\"}"), Kind::Message,
        QStringLiteral("x") + replacement);
    row("lone \\xc3 in userName", bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xC3\"}}"),
        Kind::Pass, QString(), QString(replacement));
    row("overlong NUL is not a NUL",
        bytes("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"a\xC0\x80"
              "b\"}}"),
        Kind::Pass, QString(), QStringLiteral("a") + replacement + replacement + QStringLiteral("b"));
    row("truncated 3-byte sequence", bytes("{\"code\":1,\"des\":\"\xE4\xB8\"}"), Kind::Message,
        QString(2, replacement));
    row("UTF-8 encoded surrogate", bytes("{\"code\":1,\"des\":\"\xED\xA0\x80\"}"), Kind::Message,
        QString(3, replacement));
    row("malformed byte outside a string", bytes("{\xFF\"code\":1,\"des\":\"X\"}"), Kind::Unreadable);
    row("malformed byte in a key",
        bytes("{\"co\xFF"
              "de\":1,\"des\":\"X\"}"),
        Kind::Silent);
    row("UTF-8 BOM", bytes("\xEF\xBB\xBF{\"code\":1,\"des\":\"X\"}"), Kind::Message, QStringLiteral("X"));
    // "\u6D4B\u8BD5" in GBK: no codec guesses, each byte that is not UTF-8 is one U+FFFD
    row("GBK bytes are not decoded", bytes("{\"code\":1,\"des\":\"\xB2\xE2\xCA\xD4\"}"), Kind::Message,
        QString(4, replacement));

    // --- what Qt's parser does, pinned so a change is noticed
    row("duplicate code: the last one counts", bytes(R"({"code":1,"code":0,"data":{"result":true}})"),
        Kind::Pass);
    row("duplicate result: the last one counts", bytes(R"({"code":0,"data":{"result":true,"result":false}})"),
        Kind::Fail);
    row("duplicate data: the last one counts",
        bytes(R"({"code":0,"data":{"result":true,"userName":"A"},"data":{"result":false}})"), Kind::Fail);
    row("escaped NUL in des is kept", bytes(R"({"code":1,"des":"a\u0000b"})"), Kind::Message,
        QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
}

void TestHashAnswer::answer()
{
    QFETCH(QByteArray, body);
    QFETCH(HashAnswer::Kind, kind);
    QFETCH(QString, des);
    QFETCH(QString, userName);
    QFETCH(QString, optTime);
    QFETCH(QString, deviceInfo);

    const HashAnswer answer = readHashAnswer(body);
    QCOMPARE(kindName(answer.kind), kindName(kind));
    QCOMPARE(answer.des, des);
    QCOMPARE(answer.userName, userName);
    QCOMPARE(answer.optTime, optTime);
    QCOMPARE(answer.deviceInfo, deviceInfo);
}

// A long text survives whole, and bytes after the first NUL never change the answer.
void TestHashAnswer::longTextAndTailsAfterNul()
{
    const QString longName(100000, QLatin1Char('x'));
    const QByteArray body = QByteArrayLiteral("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"") +
                            longName.toUtf8() + QByteArrayLiteral("\"}}");
    const HashAnswer answer = readHashAnswer(body);
    QCOMPARE(kindName(answer.kind), kindName(Kind::Pass));
    QCOMPARE(answer.userName, longName);

    const QList<QByteArray> tails = {bytes("\0"), bytes("\0\0\0"), bytes("\0\xFF\xFE"), bytes("\0{}")};
    for (const QByteArray &tail : tails) {
        const HashAnswer withTail = readHashAnswer(body + tail);
        QCOMPARE(kindName(withTail.kind), kindName(Kind::Pass));
        QCOMPARE(withTail.userName, longName);
    }
}

QTEST_APPLESS_MAIN(TestHashAnswer)
#include "tst_hashanswer.moc"
