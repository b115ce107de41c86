// The verification without a window: the bytes it sends, how an answer body and a finished reply
// read, and what only a real HTTPS peer shows.
#include "core/hashquery.h"
#include "core/serviceconfig.h"
#include "testsupport.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using Outcome = hashquery::Outcome;
using Kind = HashAnswer::Kind;
Q_DECLARE_METATYPE(Outcome::Kind)
Q_DECLARE_METATYPE(HashAnswer::Kind)

namespace
{
const QString kHash = QString(64, QLatin1Char('a'));
const char kPass[] = R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})";
const QString kTooLarge = QString::fromUtf8(u8"服务器返回的数据过大");
} // namespace

class TestHashQuery : public QObject
{
    Q_OBJECT
    // body (embedded NULs kept) -> kind, and what the kind shows: des for a message,
    // "userName|optTime|deviceInfo" for a pass.
    template <int N> static void row(const char (&body)[N], Kind kind, const char *shown = "")
    {
        QTest::newRow(body) << QByteArray(body, N - 1) << kind << QString::fromUtf8(shown);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QNetworkReply *>();
        QVERIFY(installServiceCa(testCaPem()));
    }

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

    void body_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("body");
        // Plain strings: moc misreads some raw strings inside a class body.
        const QByteArray h = "{\"hash\":\"" + kHash.toLatin1() + "\",\"quorvelOrder\":\"";
        QTest::newRow("plain") << "QV1" << 1 << h + "QV1\",\"type\":\"1\"}";
        QTest::newRow("UTF-8") << QString::fromUtf8(u8"订单") << 18 << h + u8"订单\",\"type\":\"18\"}";
        QTest::newRow("escaped, blanks kept") << " a\"b\\c " << 10 << h + " a\\\"b\\\\c \",\"type\":\"10\"}";
    }
    void body()
    {
        QFETCH(QString, order);
        QFETCH(int, type);
        QFETCH(QByteArray, body);
        QCOMPARE(hashquery::body(order, kHash, type), body);
    }

    void outcome_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("announced");
        QTest::addColumn<Outcome::Kind>("kind");
        QTest::addColumn<HashAnswer::Kind>("answer");
        QTest::addColumn<QString>("failure"); // part of the reason, for a failure
        const auto row = [](const char *name, const QByteArray &body, int error, qint64 announced,
                            Outcome::Kind kind, HashAnswer::Kind answer, const QString &failure = QString()) {
            QTest::newRow(name) << body << error << announced << kind << answer << failure;
        };
        const int refused = QNetworkReply::ConnectionRefusedError;
        const int http500 = QNetworkReply::InternalServerError;
        const int max = int(hashquery::kMaxAnswerBytes);
        const auto answered = Outcome::Kind::Answered;
        const auto failed = Outcome::Kind::Failed;
        const auto unreadable = HashAnswer::Kind::Unreadable;
        row("pass", kPass, 0, -1, answered, HashAnswer::Kind::Pass);
        row("empty, no error: nothing to show", "", 0, -1, answered, unreadable);
        row("refused", "", refused, -1, failed, unreadable, QStringLiteral("fake failure"));
        row("HTTP 500 with HTML", "<html/>", http500, -1, failed, unreadable, QStringLiteral("fake failure"));
        row("HTTP 500 with an answer", R"({"code":2,"des":"busy"})", http500, -1, answered,
            HashAnswer::Kind::Message);
        row("exactly the bound", QByteArray(max, ' '), 0, max, answered, unreadable);
        row("one byte over the bound", QByteArray(max + 1, ' '), 0, -1, failed, unreadable, kTooLarge);
        row("announces more than the bound", kPass, 0, max + 1, failed, unreadable, kTooLarge);
    }
    void outcome()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, error);
        QFETCH(qint64, announced);
        QFETCH(Outcome::Kind, kind);
        QFETCH(HashAnswer::Kind, answer);
        QFETCH(QString, failure);
        auto *reply = new FakeReply(hashquery::url(QStringLiteral("https://x")), body,
                                    QNetworkReply::NetworkError(error), announced);
        const hashquery::Sent sent{QStringLiteral("QV1"), kHash, 7, QDateTime::currentDateTime()};
        hashquery::tag(reply, sent);
        QPointer<QNetworkReply> alive(reply);
        const Outcome out = hashquery::finish(reply);
        QCOMPARE(out.kind, kind);
        QCOMPARE(out.answer.kind, answer);
        QVERIFY2(out.failure.contains(failure), qPrintable(out.failure));
        QCOMPARE(out.failure.isEmpty(), kind == Outcome::Kind::Answered);
        QCOMPARE(out.sent.order + out.sent.hash + QString::number(out.sent.type),
                 sent.order + sent.hash + QLatin1Char('7'));
        QTRY_VERIFY(alive.isNull()); // released on every path
    }

    void overHttps_data()
    {
        QTest::addColumn<QString>("cert");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("failure"); // null: answered
        QTest::newRow("pass") << "server" << QByteArray(kPass) << QString();
        QTest::newRow("self-signed") << "selfsigned" << QByteArray(kPass) << "";
        QTest::newRow("another host's certificate") << "wronghost" << QByteArray(kPass) << "";
        QTest::newRow("2 MiB answer") << "server" << QByteArray(2 << 20, ' ') << kTooLarge;
    }
    void overHttps()
    {
        QFETCH(QString, cert);
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        std::vector<std::string> received;
        TestServer server(
            [&](const std::string &method, const std::string &target, const std::string &body) {
                received.push_back(method + ' ' + target + ' ' + body);
                return HttpAnswer{200, "application/json", answer.toStdString(), {}, {}};
            },
            cert);

        QNetworkAccessManager manager;
        QSignalSpy finished(&manager, &QNetworkAccessManager::finished);
        hashquery::post(&manager, server.url(), QStringLiteral("QV1"), kHash, 3);
        QVERIFY(finished.wait(20000));
        const Outcome out = hashquery::finish(finished.at(0).at(0).value<QNetworkReply *>());
        server.stop();
        QCOMPARE(out.kind, failure.isNull() ? Outcome::Kind::Answered : Outcome::Kind::Failed);
        QVERIFY2(out.failure.contains(failure, Qt::CaseInsensitive), qPrintable(out.failure));
        if (failure.isNull()) {
            QCOMPARE(out.answer.kind, HashAnswer::Kind::Pass);
            QCOMPARE(out.connection.certSubject, QStringLiteral("CN=localhost"));
            QCOMPARE(received, (std::vector<std::string>{
                                   "POST " + std::string(hashquery::kPath) + ' ' +
                                   hashquery::body(QStringLiteral("QV1"), kHash, 3).toStdString()}));
        }
    }
};

void TestHashQuery::answer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("shown");
    row(R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})", Kind::Pass,
        "A|T|D");
    row("{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\xE5\xBC\xA0\xE4\xB8\x89\"}}", Kind::Pass,
        u8"\u5F20\u4E09||");
    // Only JSON true passes; data that is there but not an object is a fail, not abnormal.
    row(R"({"code":0,"data":{"result":false,"userName":"A"}})", Kind::Fail);
    row(R"({"code":0,"data":{"result":"true"}})", Kind::Fail);
    row(R"({"code":0,"data":null})", Kind::Fail);
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
    row("", Kind::Unreadable);
    row(R"([{"code":0,"data":{"result":true}}])", Kind::Unreadable);
    row("<html>502</html>", Kind::Unreadable);
    // The parser sees the body up to its first NUL; malformed UTF-8 becomes U+FFFD, no codec guesses.
    row("{\"code\":1,\"des\":\"X\"}\0{\"code\":0}", Kind::Message, "X");
    row("{\"code\":0,\0\"data\":{\"result\":true}}", Kind::Unreadable);
    row("{\"code\":1,\"des\":\"a\xFF\xB2\xE2\"}", Kind::Message, u8"a\uFFFD\uFFFD\uFFFD");
    row("\xEF\xBB\xBF{\"code\":1,\"des\":\"X\"}", Kind::Message, "X");
}

QTEST_MAIN(TestHashQuery)
#include "tst_hashquery.moc"
