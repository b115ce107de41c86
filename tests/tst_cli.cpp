// filehash-verify's rules that need no process: what reaches a terminal and a spreadsheet, where a
// receipt contradicts itself, and that the manual lists every exit code.
#include "cli/checkreceipt.h"
#include "cli/exitcodes.h"
#include "cli/output.h"
#include "testconfig.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace
{

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// A consistent pass receipt as filehash-verify writes one.
Receipt passReceipt()
{
    Receipt r;
    r.pass = true;
    r.type = 4;
    r.typeName = u(u8"在线签约");
    r.order = QStringLiteral("QV20261206K3F9ZQ2M7TB0X");
    r.fileName = QStringLiteral("a.pdf");
    r.filePath = QStringLiteral("/case/a.pdf");
    r.sha256 = QString(64, QLatin1Char('a'));
    r.applicant = u(u8"张三");
    r.time = QStringLiteral("2026-12-06 10:00:00");
    r.location = std::nullopt;
    r.body = u8R"({"code":0,"data":{"result":true,"userName":"张三","optTime":"2026-12-06 10:00:00"}})";
    r.digestedAt = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    r.sentAt = r.digestedAt.addMSecs(5);
    r.answeredAt = r.sentAt.addMSecs(40);
    return r;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void terminalText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        // Which characters are escaped is visibleText()'s, tested with the receipt; here, that a terminal
        // gets them escaped on one line, and cut with an ellipsis.
        QTest::newRow("C1 and a line break") << u("a\xc2\x9b"
                                                  "1m\nb\rc")
                                             << u("a<U+009B>1m<U+000A>b<U+000D>c");
        QTest::newRow("cut with an ellipsis")
            << QString(5000, QLatin1Char('x')) << QString(4096, QLatin1Char('x')) + QChar(0x2026);
    }
    void terminalText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(::terminalText(text), shown);
    }

    void spreadsheetCell_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        for (const char *formula :
             {"=HYPERLINK(\"http://x\")", "+cmd|' /C calc'!A0", "-2+3", "@SUM(A1)", "\tx", "\rx"})
            QTest::newRow(formula) << u(formula) << QLatin1Char('\'') + u(formula);
        for (const char *text : {"", "a=b", u8"张三", "'quoted", " =x"})
            QTest::newRow(text) << u(text) << u(text);
    }
    void spreadsheetCell()
    {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        QCOMPARE(::spreadsheetCell(text), cell);
    }

    // A long file name takes the room it needs on its own line only: the columns after it start
    // where they always do on the other lines.
    void tableIsBounded()
    {
        RowResult normal;
        normal.row = {2, 1, QStringLiteral("QV1"), QStringLiteral("/c/a.pdf"), QString()};
        normal.verdict = RowResult::Verdict::Refused;
        normal.message = QStringLiteral("X");
        RowResult wide = normal;
        wide.row.path = QStringLiteral("/c/") + QString(100000, QLatin1Char('n'));
        const QString header = tableHeader();
        QCOMPARE(tableLine(normal).indexOf(QLatin1Char('X')), header.indexOf(QStringLiteral("detail")));
        QVERIFY(tableLine(wide).size() < 4096 + header.size());
        QVERIFY(tableLine(wide).endsWith(QChar(0x2026) + QStringLiteral("  X")));
    }

    void contradictions_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("found"); // the start of the first contradiction; empty: none
        QTest::newRow("as written") << ""
                                    << "";
        QTest::newRow("verdict") << "verdict"
                                 << "it states a fail where the answer it holds is a pass";
        QTest::newRow("applicant") << "applicant" << u8"its applicant is \"李四\" where";
        QTest::newRow("a field the answer lacks")
            << "location"
            << "its location is \"X\" where the answer it holds has none";
        QTest::newRow("answer") << "answer"
                                << "it states a pass where the answer it holds is a fail";
        QTest::newRow("type name") << "type"
                                   << "its evidence type 5 is named";
        QTest::newRow("digest") << "digest"
                                << "its digest is not 64 lower-case hexadecimal digits";
        QTest::newRow("file name") << "file"
                                   << "its file name \"b.pdf\" is not the last part of its path";
        QTest::newRow("times") << "times"
                               << "its answer did not come after its request";
    }
    void contradictions()
    {
        QFETCH(QString, edit);
        QFETCH(QString, found);
        Receipt r = passReceipt();
        if (edit == QLatin1String("verdict"))
            r.pass = false;
        else if (edit == QLatin1String("applicant"))
            r.applicant = u(u8"李四");
        else if (edit == QLatin1String("location"))
            r.location = QStringLiteral("X");
        else if (edit == QLatin1String("answer"))
            r.body.replace("true", "false");
        else if (edit == QLatin1String("type"))
            r.type = 5;
        else if (edit == QLatin1String("digest"))
            r.sha256 = r.sha256.toUpper();
        else if (edit == QLatin1String("file"))
            r.fileName = QStringLiteral("b.pdf");
        else if (edit == QLatin1String("times"))
            r.answeredAt = r.sentAt.addSecs(-1);
        const QStringList got = receiptContradictions(r);
        QCOMPARE(got.size(), found.isEmpty() ? 0 : 1);
        if (!found.isEmpty())
            QVERIFY2(got.first().startsWith(found), qPrintable(got.first()));
    }

    // The manual lists every exit code the program has, with nothing left over.
    void manualListsExitCodes()
    {
        QFile manual(QStringLiteral(FILEHASH_SOURCE_DIR "/packaging/man/filehash-verify.1"));
        QVERIFY(manual.open(QIODevice::ReadOnly));
        QList<int> listed;
        const QRegularExpression item(QStringLiteral("^\\.TP\\n\\.B (\\d+)$"),
                                      QRegularExpression::MultilineOption);
        auto it = item.globalMatch(QString::fromUtf8(manual.readAll()));
        while (it.hasNext())
            listed << it.next().captured(1).toInt();
        QList<int> codes;
        for (const exitcode::Meaning &m : exitcode::kTable)
            codes << m.code;
        QCOMPARE(listed, codes);
    }
};

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
