#include "core/receipt.h"
#include "report/receiptpdf.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

const QString kDigest = QStringLiteral("0123456789abcdef").repeated(4);

hashquery::Outcome outcome(const QByteArray &body,
                           hashquery::Outcome::Kind kind = hashquery::Outcome::Kind::Answered)
{
    hashquery::Outcome o;
    o.kind = kind;
    o.body = body;
    o.answer = readHashAnswer(body);
    o.sent = {QStringLiteral("QV2026/1206"), kDigest, 6, QDateTime(QDate(2026, 12, 6), QTime(9, 30, 1, 250))};
    o.answeredAt = o.sent.at.addMSecs(420);
    o.url = QUrl(QStringLiteral("https://verify.example.com/mrv/other/o_getHashByQuorvelOrderRequest"));
    o.connection = {QStringLiteral("CN=verify.example.com"),
                    QStringLiteral("CN=Example CA"),
                    QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC),
                    QDateTime(QDate(2027, 1, 1), QTime(0, 0), Qt::UTC),
                    QStringLiteral("AB:CD"),
                    QStringLiteral("TLSv1.3"),
                    QStringLiteral("TLS_AES_256_GCM_SHA384")};
    return o;
}

const ReceiptFile kFile{QStringLiteral("/case/recording.mp4"), 300000,
                        QDateTime(QDate(2026, 11, 30), QTime(17, 5, 9), Qt::UTC)};

} // namespace

// The receipt as a pure function of a verdict: what it holds, how it reads back, and what its PDF says.
class TestReceipt : public QObject
{
    Q_OBJECT
private slots:
    void content_data();
    void content();
    void notAReceipt_data();
    void notAReceipt();
    void save();
};

void TestReceipt::content_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("verdict"); // empty: no receipt
    QTest::addColumn<QString>("inPdf");
    QTest::addColumn<QString>("location"); // the answer's, as the receipt holds it
    QTest::newRow("pass") << QByteArray(
                                 u8R"({"code":0,"data":{"result":true,"userName":"张三","deviceInfo":"L"}})")
                          << u8"该电子证据已通过验证" << u8"张三" << "L";
    QTest::newRow("fail") << QByteArray(R"({"code":0,"data":{"result":false,"deviceInfo":"L"}})")
                          << u8"该电子证据未通过验证" << "L"
                          << "L";
    QTest::newRow("fail, body not UTF-8")
        << QByteArray("{\"code\":0,\"data\":{\"result\":false,\"x\":\"\xff\"}}") << u8"该电子证据未通过验证"
        << u8"不是有效的UTF-8文本" << "";
    QTest::newRow("refused") << QByteArray(R"({"code":1,"des":"X"})") << ""
                             << ""
                             << "";
    QTest::newRow("abnormal") << QByteArray(R"({"code":0})") << ""
                              << ""
                              << "";
}

void TestReceipt::content()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, verdict);
    QFETCH(QString, inPdf);
    QFETCH(QString, location);
    const std::optional<Receipt> r = makeReceipt(outcome(body), kFile, QStringLiteral("filehash"));
    QCOMPARE(r.has_value(), !verdict.isEmpty());
    QVERIFY(!makeReceipt(outcome(body, hashquery::Outcome::Kind::Failed), kFile, QString()));
    if (!r)
        return;
    QCOMPARE(r->typeName, QString::fromUtf8(u8"录像存证"));
    QCOMPARE(r->fileName, QStringLiteral("recording.mp4"));
    QCOMPARE(r->location, location);
    QCOMPARE(receiptBaseName(*r), QString::fromUtf8(u8"验证报告-QV2026_1206-20261206-093001"));
    QString error;
    const std::optional<Receipt> back = readReceiptJson(receiptJson(*r), &error);
    QVERIFY2(back, qPrintable(error));
    QVERIFY(*back == *r);
    QCOMPARE(back->body, body);

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(receiptPdf(*r)) > 0);
    file.close();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(10000));
    const QString got = QString::fromUtf8(text.readAllStandardOutput());
    QVERIFY2(got.contains(verdict) && got.contains(inPdf) && got.contains(r->order), qPrintable(got));
    // The digest whole, on one line.
    QVERIFY2(got.contains(kDigest), qPrintable(got));
}

void TestReceipt::notAReceipt_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not JSON") << QByteArray("%PDF-1.4");
    QTest::newRow("another format") << QByteArray(R"({"format":"other","formatVersion":1})");
    QTest::newRow("no digest") << QByteArray(
        R"({"format":"filehash-receipt","formatVersion":1,"verdict":"pass","sha256":""})");
    QTest::newRow("a later version") << receiptJson(*makeReceipt(outcome(R"({"code":0,"data":{}})"), kFile,
                                                                 QString()))
                                            .replace("\"formatVersion\": 1", "\"formatVersion\": 2");
}

void TestReceipt::notAReceipt()
{
    QFETCH(QByteArray, json);
    QString error;
    QVERIFY(!readReceiptJson(json, &error));
    QVERIFY(!error.isEmpty());
}

void TestReceipt::save()
{
    const Receipt r = *makeReceipt(outcome(R"({"code":0,"data":{"result":true}})"), kFile, QString());
    QTemporaryDir dir;
    QString error;
    QVERIFY2(saveReceipt(r, dir.filePath(QStringLiteral("a")), &error), qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             (QStringList{QStringLiteral("a.json"), QStringLiteral("a.pdf")}));
    // A folder that cannot be written (under a file: so even for root): told, nothing left behind.
    QVERIFY(!saveReceipt(r, dir.filePath(QStringLiteral("a.json/b")), &error));
    QVERIFY(error.contains(QStringLiteral("a.json/b")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2);
}

QTEST_MAIN(TestReceipt)
#include "tst_receipt.moc"
