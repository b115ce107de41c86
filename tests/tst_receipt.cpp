// The receipt as a pure function of a verdict: what it holds, how it reads back, what its PDF says
// and shows; text from outside made visible; and files written whole or not at all.
#include "core/receipt.h"
#include "core/visibletext.h"
#include "core/wholefile.h"
#include "report/receiptpdf.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const QString kDigest = QStringLiteral("0123456789abcdef").repeated(4);
// Digested at a local time, which the receipt gives with its zone whatever the machine's.
const ReceiptFile kFile{QStringLiteral("/case/recording.mp4"), 300000,
                        QDateTime(QDate(2026, 11, 30), QTime(17, 5, 9), Qt::UTC),
                        QDateTime(QDate(2026, 12, 6), QTime(1, 29, 58), Qt::UTC).toLocalTime()};

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

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Runs a poppler tool (its options split at spaces) on files; its standard output.
QByteArray poppler(const QString &command, const QStringList &files)
{
    QStringList args = command.split(QLatin1Char(' ')) + files;
    QProcess p;
    p.start(args.takeFirst(), args);
    return p.waitForFinished(20000) ? p.readAllStandardOutput() : QByteArray();
}

} // namespace

class TestReceipt : public QObject
{
    Q_OBJECT
private slots:
    void content_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("verdict");   // pass, fail, or empty: no receipt
        QTest::addColumn<QStringList>("inPdf"); // what the PDF's text holds, white space aside
        const auto row = [](const char *name, const QByteArray &body, const char *verdict,
                            const QStringList &inPdf) { QTest::newRow(name) << body << u(verdict) << inPdf; };
        row("pass",
            u8"{\"code\":0,\"data\":{\"result\":true,\"userName\":\"张三\",\"optTime\":\"T\",\"deviceInfo\":"
            u8"\"L\"}}",
            "pass", {u(u8"申请人：张三时间信息：T（服务给出，未注明时区）位置信息：L")});
        row("fail, no fields", "{\"code\":0,\"data\":{\"result\":false}}", "fail",
            {u(u8"申请人：（服务未返回）"), u(u8"位置信息：（服务未返回）")});
        row("fail, empty fields",
            "{\"code\":0,\"data\":{\"result\":false,\"userName\":\"\",\"optTime\":\"\",\"deviceInfo\":\"\"}}",
            "fail", {u(u8"申请人：时间信息：（服务给出，未注明时区）位置信息：应答原文")});
        // The fields as the window reads them, the body as it is not.
        row("fail, body not UTF-8", "{\"code\":0,\"data\":{\"result\":false,\"userName\":\"\xff\"}}", "fail",
            {u(u8"申请人：\uFFFD"), u(u8"不是有效的UTF-8文本")});
        // Text that would pass for other text, and a field that would run to a hundred pages.
        row("hostile answer",
            u8"{\"code\":0,\"data\":{\"result\":true,\"userName\":\"\u202Eevil\u202C张三.fdp\","
            u8"\"optTime\":\"2026\u200B-12-06\",\"deviceInfo\":\"" +
                QByteArray(100000, 'x') + "\"}}",
            "pass",
            {u(u8"<U+202E>evil<U+202C>张三.fdp"), u(u8"2026<U+200B>-12-06"), u(u8"全文共100000个字符")});
        row("refused", "{\"code\":1,\"des\":\"X\"}", "", {});
        row("abnormal", "{\"code\":0}", "", {});
    }
    void content()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, verdict);
        QFETCH(QStringList, inPdf);
        const std::optional<Receipt> r = makeReceipt(outcome(body), kFile, QStringLiteral("filehash"));
        QCOMPARE(r.has_value(), !verdict.isEmpty());
        QVERIFY(!makeReceipt(outcome(body, hashquery::Outcome::Kind::Failed), kFile, QString()));
        if (!r)
            return;
        QCOMPARE(r->typeName + r->fileName, QString::fromUtf8(u8"录像存证recording.mp4"));
        QCOMPARE(receiptBaseName(*r), QString::fromUtf8(u8"验证报告-QV2026_1206-20261206-093001"));

        // Saved, and read back from the file as written.
        QTemporaryDir dir;
        QString error;
        QVERIFY2(
            saveReceipt(*r, receiptJson(*r), {}, u("the reason"), dir.filePath(QStringLiteral("r")), &error),
            qPrintable(error));
        QFile json(dir.filePath(QStringLiteral("r.json")));
        QVERIFY(json.open(QIODevice::ReadOnly));
        const std::optional<Receipt> back = readReceiptJson(json.readAll(), &error);
        QVERIFY2(back, qPrintable(error));
        QVERIFY(*back == *r);
        QCOMPARE(back->body, body);

        // What was compared, when, in which zone; the digest whole, on one line.
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        const bool pass = verdict == QLatin1String("pass");
        inPdf << u(pass ? u8"该电子证据已通过验证" : u8"该电子证据未通过验证")
              << u(pass ? u8"与验证服务为此订单号和存证类型保存的摘要一致。"
                        : u8"与验证服务为此订单号和存证类型保存的摘要不一致。")
              << r->order << u(u8"本报告未加盖时间戳，仅是本工具的自行记录。未能取得时间戳：thereason");
        QString got = QString::fromUtf8(poppler(u("pdftotext -layout"), {pdf, u("-")}));
        QVERIFY2(got.contains(QRegularExpression(u("\\s") + kDigest + u("\n"))), qPrintable(got));
        got.remove(QRegularExpression(QStringLiteral("\\s")));
        for (const QString &expected : inPdf)
            QVERIFY2(got.contains(expected), qPrintable(expected + QStringLiteral(" not in ") + got));
        const QString digested = u("2026-12-\\d\\dT\\d\\d:\\d9:58\\.000(Z|[+-]\\d\\d:\\d\\d)");
        QVERIFY(got.contains(
            QRegularExpression(u(u8"本工具于") + digested + u(u8"对该文件计算的SHA-256摘要，"))));
        QVERIFY(got.contains(QRegularExpression(digested + u("\\(UTC2026-12-06T01:29:58\\.000Z\\)"))));
        const QByteArray info = poppler(u("pdfinfo"), {pdf});
        QVERIFY2(info.contains("Pages:           1") || info.contains("Pages:           2"),
                 info.constData());

        // The mark a reader sees first: points that only a tick inks, and only a cross.
        QRectF mark;
        QVERIFY(!receiptPdf(*r, QString(), &mark).isEmpty());
        poppler(u("pdftoppm -r 72 -f 1 -l 1 -singlefile -png"), {pdf, dir.filePath(u("page"))});
        const QImage page(dir.filePath(QStringLiteral("page.png")));
        QCOMPARE(page.size(), QSize(595, 842));
        const auto inked = [&](qreal fx, qreal fy) {
            return qGray(page.pixel(
                       QPointF(mark.x() + fx * mark.width(), mark.y() + fy * mark.height()).toPoint())) < 128;
        };
        QCOMPARE(inked(0.30, 0.54), pass);  // the tick's short stroke
        QCOMPARE(inked(0.38, 0.38), !pass); // the cross's upper left arm
    }

    // A stamp takes the receipt's "timeStamp" line and nothing else: the bytes it is over come back
    // from the saved JSON (by the README's sed line too: tst_endtoend has openssl check them); the
    // stamp reads back, and its PDF shows who stamped what when.
    void stampedJson()
    {
        Receipt r = *makeReceipt(outcome("{\"code\":0,\"data\":{\"result\":true}}"), kFile, u("filehash"));
        const QByteArray json = receiptJson(r);
        QVERIFY(json.contains("\n    \"timeStamp\": null,\n"));
        QCOMPARE(unstampedReceiptJson(json).value_or(QByteArray()), json);
        ReceiptStamp stamp{QByteArray("\x30\x82token", 8),
                           {u("CN=Demo TSA, O=filehash \"demo\""),
                            QDateTime(QDate(2026, 12, 7), QTime(8, 0, 1), Qt::UTC), u("0A1B2C"),
                            QString(64, QLatin1Char('d')), u("SHA256"), u("1.2.3")}};
        const QByteArray stamped = stampedReceiptJson(json, stamp);
        QCOMPARE(stamped.count('\n'), json.count('\n'));
        QCOMPARE(unstampedReceiptJson(stamped).value_or(QByteArray()), json);
        QVERIFY(!unstampedReceiptJson(QByteArray(json).replace("timeStamp", "timestamp")));

        const std::optional<Receipt> back = readReceiptJson(stamped);
        QVERIFY(back && back->stamp);
        QCOMPARE(back->stamp->token, stamp.token);
        r.stamp = stamp;
        QVERIFY(*back == r);
        QTemporaryDir dir;
        QString error;
        QVERIFY2(saveReceipt(r, json, "response", QString(), dir.filePath(u("s")), &error),
                 qPrintable(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{u("s.json"), u("s.pdf"), u("s.tsr")}));
        QString got = QString::fromUtf8(poppler(u("pdftotext"), {dir.filePath(u("s.pdf")), u("-")}));
        got.remove(QRegularExpression(QStringLiteral("\\s")));
        for (const QString &expected :
             {u(u8"时间戳机构："), u("CN=DemoTSA,O=filehash\"demo\""), u("(UTC2026-12-07T08:00:01.000Z)"),
              u("0A1B2C"), QString(64, QLatin1Char('d'))})
            QVERIFY2(got.contains(expected), qPrintable(expected + QStringLiteral(" not in ") + got));
        // Saved again unstamped, the stamp of the earlier one does not stay beside it.
        r.stamp.reset();
        QVERIFY(saveReceipt(r, json, {}, QString(), dir.filePath(u("s")), &error));
        QVERIFY(!QFile::exists(dir.filePath(u("s.tsr"))));
    }

    // What a document shows of text from outside.
    void visible_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("cut");
        const auto row = [](const char *name, const QString &text, int maxLines, const QString &shown,
                            bool cut) { QTest::newRow(name) << text << maxLines << shown << cut; };
        const QString a(2000, QLatin1Char('a'));
        row("plain", u(u8"张三 Beijing 😀"), 1, u(u8"张三 Beijing 😀"), false);
        // All format characters (category Cf), as the code has it: one of each kind here.
        row("bidi, marks and zero width", u(u8"\u202Ea\u2066b\u200F\u061C\u200Bc\uFEFF"), 1,
            u("<U+202E>a<U+2066>b<U+200F><U+061C><U+200B>c<U+FEFF>"), false);
        row("other format, beyond 16 bits", u(u8"\u00AD\U000E0041"), 1, u("<U+00AD><U+E0041>"), false);
        row("C0 and C1 controls", QString(QChar(0)) + u(u8"\u001B[31m\u007F\u0085\u009B"), 1,
            u("<U+0000><U+001B>[31m<U+007F><U+0085><U+009B>"), false);
        row("an unpaired surrogate", QString(QChar(0xD800)) + u("x"), 1, u("<U+D800>x"), false);
        row("line breaks on one line", u(u8"a\nb\r\tc\u2028d\u2029"), 1,
            u("a<U+000A>b<U+000D><U+0009>c<U+2028>d<U+2029>"), false);
        row("line feeds kept up to the last line", u("a\nb\r\nc\nd"), 3, u("a\nb<U+000D>\nc"), true);
        row("2,000 characters", a, 1, a, false);
        row("2,001 characters", a + u("b"), 1, a, true);
        row("2,000 characters beyond 16 bits", u(u8"😀").repeated(2000), 1, u(u8"😀").repeated(2000), false);
        row("an escape is not split", a.left(1995) + u(u8"\u202E"), 1, a.left(1995), true);
    }
    void visible()
    {
        QFETCH(QString, text);
        QFETCH(int, maxLines);
        QFETCH(QString, shown);
        QFETCH(bool, cut);
        const VisibleText got = visibleText(text, maxLines);
        QCOMPARE(got.text, shown);
        QCOMPARE(got.cut, cut);
        QCOMPARE(got.characters, int(text.toUcs4().size()));
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        const QByteArray good =
            receiptJson(*makeReceipt(outcome("{\"code\":0,\"data\":{}}"), kFile, QString()));
        QTest::newRow("not JSON") << QByteArray("%PDF-1.4") << false;
        QTest::newRow("another format") << QByteArray(good).replace("filehash-receipt", "other") << false;
        QTest::newRow("no digest") << QByteArray(good).replace(kDigest.toLatin1(), "") << false;
        QTest::newRow("a later version")
            << QByteArray(good).replace("\"formatVersion\": 1", "\"formatVersion\": 2") << false;
        QTest::newRow("no version") << QByteArray(good).replace("\"formatVersion\": 1,", "") << false;
        QTest::newRow("written before the digest's time was kept")
            << QByteArray(good).replace("\"digestedAt\"", "\"other\"") << true;
    }
    void read()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        QString error;
        const std::optional<Receipt> r = readReceiptJson(json, &error);
        QCOMPARE(r.has_value(), readable);
        QCOMPARE(error.isEmpty(), readable);
        if (r)
            QVERIFY(!r->digestedAt.isValid() && r->fileModified == kFile.modified);
    }

    // A set of files is written whole or not at all. A file-size limit (SIGXFSZ ignored) makes
    // writing fail part-way as a full disk does, without privileges; it is set in a child process.
    void wholeOrNone_data()
    {
        QTest::addColumn<int>("limit");      // bytes a file may reach; 0: no limit
        QTest::addColumn<QString>("second"); // the second file's path in the folder
        QTest::addColumn<QString>("named");  // the file the error names; empty: both written whole
        const auto row = [](const char *name, int limit, const QString &second, const QString &named) {
            QTest::newRow(name) << limit << second << named;
        };
        // The first file is smaller than the write buffer, so only flush() meets the limit; the
        // second is larger, so write() does.
        row("limit below the first", 1000, u("b.json"), u("a.pdf"));
        row("limit between the two", 6000, u("b.json"), u("b.json"));
        row("no limit", 0, u("b.json"), QString());
        // Under a file: a folder that cannot be written, even for root.
        row("folder cannot be written", 0, u("blocker/b.json"), u("blocker/b.json"));
        row("name too long", 0, QString(300, QLatin1Char('n')), QString(300, QLatin1Char('n')));
    }
    void wholeOrNone()
    {
        QFETCH(int, limit);
        QFETCH(QString, second);
        QFETCH(QString, named);
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(QStringLiteral("blocker"))).open(QIODevice::WriteOnly));
        const QVector<WholeFile> files{{dir.filePath(QStringLiteral("a.pdf")), QByteArray(4000, 'a')},
                                       {dir.filePath(second), QByteArray(100000, 'b')}};
        int pipe[2];
        QCOMPARE(::pipe(pipe), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit size{rlim_t(limit), rlim_t(limit)};
            if (limit > 0 && ::setrlimit(RLIMIT_FSIZE, &size) != 0)
                ::_exit(1);
            QString error;
            const bool written = writeWholeFiles(files, &error);
            [[maybe_unused]] const ssize_t n =
                ::write(pipe[1], error.toUtf8().constData(), error.toUtf8().size());
            ::_exit(written ? 0 : 2);
        }
        ::close(pipe[1]);
        int status = -1;
        bool ended = false;
        QTRY_VERIFY_WITH_TIMEOUT(ended || (ended = ::waitpid(child, &status, WNOHANG) == child), 20000);
        QFile told;
        QVERIFY(told.open(pipe[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QString error = QString::fromUtf8(told.readAll());
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), named.isEmpty() ? 0 : 2);
        QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        left.removeOne(QStringLiteral("blocker"));
        if (named.isEmpty()) {
            QCOMPARE(left, (QStringList{QStringLiteral("a.pdf"), QStringLiteral("b.json")}));
            for (const WholeFile &file : files)
                QCOMPARE(QFileInfo(file.path).size(), qint64(file.bytes.size()));
        } else {
            // Nothing of the set, not even a temporary file; the error names the file and why.
            QCOMPARE(left, QStringList());
            QVERIFY2(error.startsWith(dir.filePath(named) + QStringLiteral(": ")) &&
                         error.size() > dir.filePath(named).size() + 2,
                     qPrintable(error));
        }
    }
};

QTEST_MAIN(TestReceipt)
#include "tst_receipt.moc"
