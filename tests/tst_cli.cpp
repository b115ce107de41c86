// filehash-verify: the case file reader directly, the program against the service program.
#include "cli/casecsv.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestCli : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    ServiceProcess m_service{m_dir.path()};
    QString m_kept;    // order of kept.pdf, type 1, unchanged since
    QString m_changed; // order of changed.wav, type 5, changed since

    // Splits args at spaces, after the service and its CA unless args name a service. @url, @kept and
    // @changed stand for the service and the two orders, any other word with a dot for a file in the
    // test folder.
    QStringList expand(QString args) const
    {
        if (!args.startsWith(QLatin1String("--service")))
            args.prepend(QStringLiteral("--service @url --ca ") + testCertPath(QStringLiteral("ca.pem")) +
                         QLatin1Char(' '));
        QStringList words = args.split(QLatin1Char(' '));
        for (QString &w : words) {
            if (w.startsWith(QLatin1Char('@')))
                w = w == QLatin1String("@url")    ? m_service.url()
                    : w == QLatin1String("@kept") ? m_kept
                                                  : m_changed;
            else if (!w.startsWith(QLatin1Char('-')) && w.contains(QLatin1Char('.')))
                w = QDir(m_dir.path()).filePath(w);
        }
        return words;
    }
    // Runs filehash-verify; returns its exit code, or -1 when it did not end by itself.
    int run(const QString &args, QByteArray *out) const
    {
        QProcess p;
        p.start(builtProgram(QStringLiteral("filehash-verify")), expand(args));
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        *out = p.readAllStandardOutput();
        return p.exitCode();
    }
    // Writes case.csv; %1 and %2 stand for the orders of kept.pdf and changed.wav.
    void writeCase(const QString &csv) const
    {
        writeTestFile(m_dir.path(), QStringLiteral("case.csv"),
                      "type,order,path\n" + csv.arg(m_kept, m_changed).toUtf8());
    }

private slots:
    void initTestCase()
    {
        m_kept = m_service.preserve(writeTestFile(m_dir.path(), QStringLiteral("kept.pdf"), "kept"), 1,
                                    QString::fromUtf8(u8"张三"), QStringLiteral("X"));
        m_changed = m_service.preserve(writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "before"),
                                       5, QStringLiteral("U"), QStringLiteral("X"));
        QVERIFY(!m_kept.isEmpty() && !m_changed.isEmpty());
        writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "after");
        QVERIFY(m_service.start());
    }

    void readCase_data()
    {
        QTest::addColumn<QByteArray>("csv");
        // "line type order path: error" for each row, '|' between; or the error of the whole file
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &csv, const char *expected) {
            QTest::newRow(name) << csv << QString::fromUtf8(expected);
        };
        const QByteArray head = "type,order,path\n";
        row("BOM and CRLF", "\xEF\xBB\xBFtype,order,path\r\n1,QV1,a.pdf\r\n", "2 1 QV1 /c/a.pdf: ");
        row("quotes", head + "2,\" QV2 \",\"d/a \"\"b\"\", c.pdf\"\n", "2 2 QV2 /c/d/a \"b\", c.pdf: ");
        row("line end in a field", head + "1,QV1,\"a\nb\"\n\n1,QV1,/abs\n",
            "2 1 QV1 /c/a\nb: |5 1 QV1 /abs: ");
        row("missing column", head + "1,QV1\n", "2 0  : 2 fields");
        row("types", head + "0,Q,a\n19,Q,b\nx,Q,c\n18,Q,d\n",
            "2 0 Q /c/a: \"0\" is not|3 19 Q /c/b: \"19\" is not|4 0 Q /c/c: \"x\" is not|5 18 Q /c/d: ");
        row("no order", head + "1,,a\n", "2 1  /c/a: no order");
        row("same file twice", head + "1,Q,a\n1,Q,./d/../a\n2,Q,a\n",
            "2 1 Q /c/a: |3 1 Q /c/a: as line 2|4 2 Q /c/a: ");
        row("empty file", "", "empty");
        row("no header", "1,QV1,a.pdf\n", "line 1: the header");
        row("header only", head, "no rows");
        row("unclosed quote", head + "1,QV1,\"a\n", "line 2: a quoted field is never closed");
        row("not UTF-8", head + "1,QV1,\xff\n", "not UTF-8");
        row("as written",
            head + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral(" \"x\",")}).toUtf8() +
                '\n' + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral("a\nb")}).toUtf8(),
            "2 3 Q /c/ \"x\",: |3 3 Q /c/a\nb: ");
    }
    void readCase()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        const CaseFile file = readCaseFile(csv, QStringLiteral("/c"));
        if (!file.error.isEmpty()) {
            QVERIFY2(file.error.contains(expected), qPrintable(file.error));
            QVERIFY(file.rows.isEmpty());
            return;
        }
        const QStringList rows = expected.split(QLatin1Char('|'));
        QCOMPARE(file.rows.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            const CaseRow &r = file.rows.at(i);
            const QString got = QStringLiteral("%1 %2 %3 %4: ").arg(r.line).arg(r.type).arg(r.order, r.path);
            const QString error = rows.at(i).mid(got.size()); // a part of the row's error
            QCOMPARE(got + (!error.isEmpty() && r.error.contains(error) ? error : r.error), rows.at(i));
        }
    }

    void single_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("output");
        const auto row = [](const char *name, const char *args, int exit, const char *output) {
            QTest::newRow(name) << QString::fromUtf8(args) << exit << QString::fromUtf8(output);
        };
        row("pass", "--type 1 --order @kept kept.pdf", 0, u8"张三");
        row("as JSON", "--type 1 --order @kept kept.pdf --json", 0, "\"verdict\":\"pass\"");
        row("fail", "--type 5 --order @changed changed.wav", 1, "FAIL");
        row("refused", "--type 2 --order @kept kept.pdf", 2, u8"存证类型与订单不符");
        row("untrusted", "--service @url --type 1 --order @kept kept.pdf", 3, "network");
        row("no such file", "--type 1 --order @kept gone.pdf", 4, "no such file");
        row("plain HTTP", "--service http://localhost:1 --type 1 --order Q kept.pdf", 64, "");
    }
    void single()
    {
        QFETCH(QString, args);
        QFETCH(int, exit);
        QFETCH(QString, output);
        QByteArray out;
        QCOMPARE(run(args, &out), exit);
        QVERIFY2(QString::fromUtf8(out).contains(output), out.constData());
    }

    void batch()
    {
        writeCase(QStringLiteral(
            "1,%1,kept.pdf\n5,%2,changed.wav\n1,QV0,kept.pdf\n1,%1,gone.pdf\n20,%1,kept.pdf\n1,%1,.\n"));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out.d")));
        QByteArray out;
        // The highest exit code, of the bad row, though the last row's is 4.
        QCOMPARE(run(QStringLiteral("--batch case.csv --report report.json --receipts out.d"), &out), 64);
        QVERIFY2(out.contains("6 of 6 rows: 1 passed, 1 failed, 1 refused, 0 network, 2 file, 1 bad rows"),
                 out.constData());
        QFile report(m_dir.filePath(QStringLiteral("report.json")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        QStringList verdicts;
        for (const QJsonValue &row : QJsonDocument::fromJson(report.readAll()).array())
            verdicts << row.toObject().value(QLatin1String("verdict")).toString();
        QCOMPARE(verdicts.join(QLatin1Char(' ')), QStringLiteral("pass fail refused file bad-row file"));
        // A receipt for each verdict; the offline check tells the file it was made for from another.
        const QDir receipts(m_dir.filePath(QStringLiteral("out.d")));
        const QStringList written = receipts.entryList({QStringLiteral("*.json")});
        QCOMPARE(written.size(), 2);
        const QString receipt = receipts.filePath(written.filter(m_kept).value(0));
        QCOMPARE(run(QStringLiteral("--check-receipt ") + receipt + QStringLiteral(" kept.pdf"), &out), 0);
        QCOMPARE(run(QStringLiteral("--check-receipt ") + receipt + QStringLiteral(" changed.wav"), &out), 1);
        QCOMPARE(run(QStringLiteral("--check-receipt report.json kept.pdf"), &out), 64);
    }

    void interrupt()
    {
        // The second file is a pipe: the program waits in it until the test has sent SIGINT.
        const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.bin")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        writeCase(QStringLiteral("1,%1,kept.pdf\n1,%1,pipe.bin\n1,%1,kept.pdf\n5,%2,changed.wav\n"));
        QProcess p;
        p.start(builtProgram(QStringLiteral("filehash-verify")), expand(QStringLiteral("--batch case.csv")));
        int fd = -1;
        QTRY_VERIFY_WITH_TIMEOUT(fd >= 0 || (fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK)) >= 0,
                                 10000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += p.readAllStandardError()).contains("interrupted"), 10000);
        QCOMPARE(::write(fd, "piped", 5), 5);
        ::close(fd);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 130);
        // The file under way is finished (it differs from kept.pdf), nothing after it is started.
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(out.contains("2 of 4 rows: 1 passed, 1 failed, 0 refused, 0 network, 0 file, 0 bad rows"),
                 out.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
