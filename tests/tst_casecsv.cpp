// The case file reader: what a case file may look like, and what makes a row or a file refused.
#include "cli/casecsv.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

class TestCaseCsv : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("csv");
        // "line type order path: error" for each row (no error: "line type order path:"), '|' between, then "
        // / " and the error of the file, if any; paths are relative to the case file's folder, shown here as
        // @.
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &csv, const char *expected) {
            QTest::newRow(name) << csv << QString::fromUtf8(expected);
        };
        const QByteArray head = "type,order,path\n";
        row("BOM and CRLF", "\xEF\xBB\xBFtype,order,path\r\n1,QV1,a.pdf\r\n", "2 1 QV1 @/a.pdf: / ");
        row("quotes", head + "2,\" QV2 \",\"d/a \"\"b\"\", c.pdf\"\n", "2 2 QV2 @/d/a \"b\", c.pdf: / ");
        row("missing column", head + "1,QV1\n", "2 0  : 2 fields where type,order,path are 3 / ");
        row("types by code and by name", head + u8"0,Q,a\n19,Q,b\nx,Q,c\n18,Q,d\n 在线签约 ,Q,e\n",
            "2 0 Q @/a: the type \"0\" is neither a code 1-18 nor the name of one|"
            "3 0 Q @/b: the type \"19\" is neither a code 1-18 nor the name of one|"
            "4 0 Q @/c: the type \"x\" is neither a code 1-18 nor the name of one|5 18 Q @/d:|6 4 Q @/e: "
            "/ ");
        row("no order", head + "1,,a\n", "2 1  @/a: no order number / ");
        row("same file twice", head + "1,Q,a\n1,Q,./d/../a\n2,Q,a\n",
            "2 1 Q @/a:|3 1 Q @/a: the same type, order and file as line 2|4 2 Q @/a: / ");
        row("Chinese header in another order", u8"文件,类型,订单号\na,1,QV1\n", "2 1 QV1 @/a: / ");
        row("GB18030 from a spreadsheet",
            "\xCE\xC4\xBC\xFE,\xC0\xE0\xD0\xCD,\xB6\xA9\xB5\xA5\xBA\xC5\r\n"
            "\xD5\xC5\xC8\xFD.pdf,\xD4\xDA\xCF\xDF\xC7\xA9\xD4\xBC,QV1\r\n",
            u8"2 4 QV1 @/张三.pdf: / GB18030");
        row("as written, a blank line, a row after two lines",
            head + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral(" \"x\",")}).toUtf8() +
                '\n' + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral("a\nb")}).toUtf8() +
                "\n\n1,QV1,/abs\n",
            "2 3 Q @/ \"x\",:|3 3 Q @/a\nb:|6 1 QV1 /abs: / ");
        row("unclosed quote after a row", head + "1,QV1,a\n1,QV1,\"b\n",
            "2 1 QV1 @/a: / line 3: a quoted field is never closed");
        row("empty file", "", " / empty: it needs the header type,order,path and a row per file");
        row("no header", "1,QV1,a.pdf\n",
            " / line 1: the header must name the columns type,order,path (or 类型,订单号,文件)");
        row("header only", head + "\n", " / no rows after the header");
        row("neither UTF-8 nor GB18030", head + "1,QV1,\xff\n",
            " / neither UTF-8 nor GB18030 text; save it as "
            "CSV UTF-8");
        row("a line at the bound", head + "1,Q," + QByteArray(64 * 1024 - 4, 'p') + "\r\n", "");
        row("a line past the bound", head + "1,Q,a\n1,Q," + QByteArray(64 * 1024 - 3, 'p') + "\n1,Q,b\n",
            " / line 3 is longer than 64 KiB: not a case file");
        row("the last line past the bound", head + "1,Q," + QByteArray(64 * 1024, 'p'),
            " / line 2 is longer than 64 KiB: not a case file");
    }
    void read()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        const QString path = writeTestFile(m_dir.path(), QStringLiteral("case.csv"), csv);
        CaseReader reader;
        QStringList rows;
        if (reader.open(path)) {
            // Counted before a row is read, for the progress line.
            const int counted = reader.rowCount();
            while (const std::optional<CaseRow> r = reader.next())
                rows << QStringLiteral("%1 %2 %3 %4:%5")
                            .arg(r->line)
                            .arg(r->type)
                            .arg(r->order, r->path,
                                 r->error.isEmpty() ? QString() : QLatin1Char(' ') + r->error);
            if (reader.error().isEmpty())
                QCOMPARE(counted, rows.size());
        }
        const QString got =
            rows.join(QLatin1Char('|')).replace(m_dir.path(), QStringLiteral("@")) + QStringLiteral(" / ") +
            (reader.error().isEmpty() && reader.encoding() != QLatin1String("UTF-8") ? reader.encoding()
                                                                                     : reader.error());
        if (expected.isEmpty()) // a row of the full length is read whole
            QCOMPARE(rows.size() == 1 && rows.first().size() > 64 * 1024 - 4, true);
        else
            QCOMPARE(got, expected);
    }
};

QTEST_MAIN(TestCaseCsv)
#include "tst_casecsv.moc"
