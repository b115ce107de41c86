// The receipt as a pure function of a verdict: what it holds, how it reads back, what its PDF says,
// and that it is saved whole or not at all.
#include "core/receipt.h"
#include "report/receiptpdf.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

const QString kDigest = QStringLiteral("0123456789abcdef").repeated(4);
const ReceiptFile kFile{QStringLiteral("/case/recording.mp4"), 300000,
                        QDateTime(QDate(2026, 11, 30), QTime(17, 5, 9), Qt::UTC)};

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

} // namespace

class TestReceipt : public QObject
{
    Q_OBJECT
private slots:
    void content_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("verdict"); // empty: no receipt
        QTest::addColumn<QString>("inPdf");
        QTest::addColumn<QString>("location"); // the answer's, as the receipt holds it
        const auto row = [](const char *name, const QByteArray &body, const char *verdict, const char *inPdf,
                            const char *location) {
            QTest::newRow(name) << body << QString::fromUtf8(verdict) << QString::fromUtf8(inPdf)
                                << QString::fromUtf8(location);
        };
        const char *fail = u8"该电子证据未通过验证";
        row("pass", u8"{\"code\":0,\"data\":{\"result\":true,\"userName\":\"张三\",\"deviceInfo\":\"L\"}}",
            u8"该电子证据已通过验证", u8"张三", "L");
        row("fail", "{\"code\":0,\"data\":{\"result\":false,\"deviceInfo\":\"L\"}}", fail, "L", "L");
        row("fail, body not UTF-8", "{\"code\":0,\"data\":{\"result\":false,\"x\":\"\xff\"}}", fail,
            u8"不是有效的UTF-8文本", "");
        row("refused", "{\"code\":1,\"des\":\"X\"}", "", "", "");
        row("abnormal", "{\"code\":0}", "", "", "");
    }
    void content()
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
        QCOMPARE(r->typeName + r->fileName + r->location,
                 QString::fromUtf8(u8"录像存证recording.mp4") + location);
        QCOMPARE(receiptBaseName(*r), QString::fromUtf8(u8"验证报告-QV2026_1206-20261206-093001"));
        QString error;
        const std::optional<Receipt> back = readReceiptJson(receiptJson(*r), &error);
        QVERIFY2(back, qPrintable(error));
        QVERIFY(*back == *r);
        QCOMPARE(back->body, body);

        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("r.pdf")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(receiptPdf(*r)) > 0);
        file.close();
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), file.fileName(), QStringLiteral("-")});
        QVERIFY(text.waitForFinished(10000));
        const QString got = QString::fromUtf8(text.readAllStandardOutput());
        // The digest whole, on one line.
        QVERIFY2(got.contains(verdict) && got.contains(inPdf) && got.contains(r->order) &&
                     got.contains(kDigest),
                 qPrintable(got));
    }

    void notAReceipt_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QByteArray good =
            receiptJson(*makeReceipt(outcome("{\"code\":0,\"data\":{}}"), kFile, QString()));
        QTest::newRow("not JSON") << QByteArray("%PDF-1.4");
        QTest::newRow("another format") << QByteArray(good).replace("filehash-receipt", "other");
        QTest::newRow("no digest") << QByteArray(good).replace(kDigest.toLatin1(), "");
        QTest::newRow("a later version")
            << QByteArray(good).replace("\"formatVersion\": 1", "\"formatVersion\": 2");
        QTest::newRow("no version") << QByteArray(good).replace("\"formatVersion\": 1,", "");
    }
    void notAReceipt()
    {
        QFETCH(QByteArray, json);
        QString error;
        QVERIFY(!readReceiptJson(json, &error));
        QVERIFY(!error.isEmpty());
    }

    void save()
    {
        const Receipt r = *makeReceipt(outcome("{\"code\":0,\"data\":{\"result\":true}}"), kFile, QString());
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
};

QTEST_MAIN(TestReceipt)
#include "tst_receipt.moc"
