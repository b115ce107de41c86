#include "core/hashquery.h"
#include "core/serviceconfig.h"
#include "testsupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

namespace
{

using Outcome = hashquery::Outcome;
using Reply = TestHttpsServer::Reply;
const QString kHash = QString(64, QLatin1Char('a'));
const char kPass[] = R"({"code":0,"data":{"result":true,"userName":"A","optTime":"T","deviceInfo":"D"}})";

Reply normal(const std::string &body, int status = 200)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

Reply mode(Reply::Mode m, long long announced = -1)
{
    Reply reply;
    reply.mode = m;
    reply.announced = announced;
    return reply;
}

} // namespace

Q_DECLARE_METATYPE(Outcome::Kind)
Q_DECLARE_METATYPE(HashAnswer::Kind)
Q_DECLARE_METATYPE(TestHttpsServer::Reply)

// The verification request without a window: the bytes it sends, how a finished reply reads, and
// what only a real HTTPS peer shows.
class TestHashQuery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<QNetworkReply *>();
        QVERIFY(installServiceCa(serviceCaPem()));
    }
    void body_data();
    void body();
    void outcome_data();
    void outcome();
    void overHttps_data();
    void overHttps();
};

void TestHashQuery::body_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("body");
    const QByteArray h = kHash.toLatin1();
    QTest::newRow("plain") << "QV20261206000001" << 1
                           << QByteArray(R"({"hash":")" + h +
                                         R"(","quorvelOrder":"QV20261206000001","type":"1"})");
    QTest::newRow("type 18, Chinese as UTF-8")
        << QString::fromUtf8(u8"订单一号") << 18
        << QByteArray(R"({"hash":")" + h + u8R"(","quorvelOrder":"订单一号","type":"18"})");
    QTest::newRow("quote, backslash, blanks kept")
        << QStringLiteral(R"( a"b\c )") << 10
        << QByteArray(R"({"hash":")" + h + R"(","quorvelOrder":" a\"b\\c ","type":"10"})");
}

void TestHashQuery::body()
{
    QFETCH(QString, order);
    QFETCH(int, type);
    QFETCH(QByteArray, body);
    QCOMPARE(hashquery::body(order, kHash, type), body);
}

void TestHashQuery::outcome_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("error");
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<Outcome::Kind>("kind");
    QTest::addColumn<HashAnswer::Kind>("answer");
    QTest::addColumn<QString>("failure"); // part of the reason, for a failure

    const int refused = QNetworkReply::ConnectionRefusedError;
    const int http500 = QNetworkReply::InternalServerError;
    const qint64 max = hashquery::kMaxAnswerBytes;
    const QString tooLarge = QString::fromUtf8(u8"服务器返回的数据过大");
    QTest::newRow("pass") << QByteArray(kPass) << 0 << qint64(-1) << Outcome::Kind::Answered
                          << HashAnswer::Kind::Pass << QString();
    QTest::newRow("empty, no error: nothing to show")
        << QByteArray() << 0 << qint64(-1) << Outcome::Kind::Answered << HashAnswer::Kind::Unreadable
        << QString();
    QTest::newRow("refused, empty: failed") << QByteArray() << refused << qint64(-1) << Outcome::Kind::Failed
                                            << HashAnswer::Kind::Unreadable << QStringLiteral("fake failure");
    QTest::newRow("HTTP 500 with HTML: failed")
        << QByteArray("<html/>") << http500 << qint64(-1) << Outcome::Kind::Failed
        << HashAnswer::Kind::Unreadable << QStringLiteral("fake failure");
    QTest::newRow("HTTP 500 with a JSON answer: answered")
        << QByteArray(R"({"code":2,"des":"busy"})") << http500 << qint64(-1) << Outcome::Kind::Answered
        << HashAnswer::Kind::Message << QString();
    QTest::newRow("exactly the bound") << QByteArray(int(max), ' ') << 0 << max << Outcome::Kind::Answered
                                       << HashAnswer::Kind::Unreadable << QString();
    QTest::newRow("one byte over the bound")
        << QByteArray(int(max) + 1, ' ') << 0 << qint64(-1) << Outcome::Kind::Failed
        << HashAnswer::Kind::Unreadable << tooLarge;
    QTest::newRow("announces more than the bound")
        << QByteArray(kPass) << 0 << max + 1 << Outcome::Kind::Failed << HashAnswer::Kind::Unreadable
        << tooLarge;
}

void TestHashQuery::outcome()
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
    QCOMPARE(out.sent.order, sent.order);
    QCOMPARE(out.sent.hash, sent.hash);
    QCOMPARE(out.sent.type, sent.type);
    QTRY_VERIFY(alive.isNull()); // released on every path
}

void TestHashQuery::overHttps_data()
{
    QTest::addColumn<QString>("cert"); // empty: nothing listens
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<Outcome::Kind>("kind");
    QTest::addColumn<QString>("failure");
    const Outcome::Kind failed = Outcome::Kind::Failed;
    const QString tooLarge = QString::fromUtf8(u8"服务器返回的数据过大");
    QTest::newRow("pass") << "server" << normal(kPass) << Outcome::Kind::Answered << QString();
    QTest::newRow("connection refused") << "" << Reply() << failed << QStringLiteral("refused");
    QTest::newRow("self-signed certificate") << "selfsigned" << normal(kPass) << failed << QString();
    QTest::newRow("certificate for another host") << "wronghost" << normal(kPass) << failed << QString();
    QTest::newRow("expired certificate") << "expired" << normal(kPass) << failed << QString();
    QTest::newRow("closed mid-answer") << "server" << mode(Reply::Mode::Close) << failed << QString();
    QTest::newRow("endless chunked answer") << "server" << mode(Reply::Mode::Endless) << failed << tooLarge;
    QTest::newRow("announces 2 MiB") << "server" << mode(Reply::Mode::Endless, 2 << 20) << failed << tooLarge;
}

void TestHashQuery::overHttps()
{
    QFETCH(QString, cert);
    QFETCH(Reply, reply);
    QFETCH(Outcome::Kind, kind);
    QFETCH(QString, failure);
    TestHttpsServer server(cert.isEmpty() ? QStringLiteral("server") : cert);
    const QString url = server.url();
    if (cert.isEmpty())
        server.stop();
    server.setHandler([reply](const TestHttpsServer::Request &) { return reply; });

    QNetworkAccessManager manager;
    QSignalSpy finished(&manager, &QNetworkAccessManager::finished);
    hashquery::post(&manager, url, QStringLiteral("QV1"), kHash, 3);
    QVERIFY(finished.wait(20000));
    const Outcome out = hashquery::finish(finished.at(0).at(0).value<QNetworkReply *>());
    QCOMPARE(out.kind, kind);
    QVERIFY2(out.failure.contains(failure, Qt::CaseInsensitive), qPrintable(out.failure));
    if (kind == Outcome::Kind::Answered) {
        QCOMPARE(out.answer.kind, HashAnswer::Kind::Pass);
        QCOMPARE(out.sent.hash, kHash);
        const auto requests = server.requests();
        QCOMPARE(int(requests.size()), 1);
        QCOMPARE(QByteArray::fromStdString(requests[0].method), QByteArray("POST"));
        QCOMPARE(QByteArray::fromStdString(requests[0].target), QByteArray(hashquery::kPath));
        QCOMPARE(QByteArray::fromStdString(requests[0].body),
                 hashquery::body(QStringLiteral("QV1"), kHash, 3));
    }
}

QTEST_MAIN(TestHashQuery)
#include "tst_hashquery.moc"
