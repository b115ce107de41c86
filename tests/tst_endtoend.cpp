// Both clients against the service program over real HTTPS, which is where they must agree with
// it: the window as a user drives it, and filehash-verify with its case file reader.
#include "app/filehash.h"
#include "cli/casecsv.h"
#include "core/serviceconfig.h"
#include "testsupport.h"
#include "widgets/cimg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestEndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    ServiceProcess m_service{m_dir.path()};
    QString m_kept, m_changed; // orders of kept.pdf (type 1, unchanged) and changed.wav (type 5, changed)

    // @url, @kept and @changed stand for the service and the two orders.
    QString expanded(QString text) const
    {
        return text.replace(QLatin1String("@url"), m_service.url())
            .replace(QLatin1String("@kept"), m_kept)
            .replace(QLatin1String("@changed"), m_changed);
    }
    // Starts filehash-verify in the test folder, args split at spaces and preceded by the service and its
    // CA unless they name a service. A limit on the size of the files it writes (in 512-byte blocks,
    // SIGXFSZ ignored) makes writing fail as on a full disk.
    void start(QProcess &p, QString args, int blocks = 0) const
    {
        if (!args.startsWith(QLatin1String("--service")))
            args.prepend(
                QStringLiteral("--service @url --ca %1 ").arg(testCertPath(QStringLiteral("ca.pem"))));
        p.setWorkingDirectory(m_dir.path());
        const QString program = builtProgram(QStringLiteral("filehash-verify"));
        const QStringList list = expanded(args).split(QLatin1Char(' '));
        if (blocks == 0)
            return p.start(program, list);
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(blocks),
                            program} +
                    list);
    }
    // Runs it; returns its exit code (-1 when it did not end by itself) and what it wrote.
    std::pair<int, QByteArray> run(const QString &args) const
    {
        QProcess p;
        start(p, args);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
            return {-1, {}};
        return {p.exitCode(), p.readAllStandardOutput()};
    }
    // Writes case.csv: the header, then rows in which %1 and %2 stand for the two orders.
    void writeCase(const QString &rows) const
    {
        writeTestFile(m_dir.path(), QStringLiteral("case.csv"),
                      "type,order,path\n" + rows.arg(m_kept, m_changed).toUtf8());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(installServiceCa(testCaPem()));
        m_kept = m_service.preserve(writeTestFile(m_dir.path(), QStringLiteral("kept.pdf"), "kept"), 1,
                                    QString::fromUtf8(u8"张三"), QString::fromUtf8(u8"北京市 公证处"));
        m_changed = m_service.preserve(writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "before"),
                                       5, QStringLiteral("U"), QStringLiteral("X"));
        QVERIFY(!m_kept.isEmpty() && !m_changed.isEmpty());
        writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "after");
        QVERIFY(m_service.start());
    }
    void cleanup() { closeAllModals(); }

    void window_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("order"); // @kept or @changed for the two orders
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("outcome"); // pass, fail, or the message shown
        // The failing file's type is not the first: the type chosen in the list is the one sent.
        QTest::newRow("preserved file") << "kept.pdf"
                                        << "@kept" << 1 << "pass";
        QTest::newRow("file changed since") << "changed.wav"
                                            << "@changed" << 5 << "fail";
        QTest::newRow("unknown order") << "kept.pdf"
                                       << "QV0" << 1 << QString::fromUtf8(u8"订单号不存在");
    }
    void window()
    {
        QFETCH(QString, file);
        QFETCH(QString, order);
        QFETCH(int, type);
        QFETCH(QString, outcome);
        const QString path = m_dir.filePath(file);
        filehash w;
        w.setServiceBaseUrl(m_service.url());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.cbType->setCurrentIndex(type - 1);
        QTest::mouseClick(w.leOrder, Qt::LeftButton);
        QTest::keyClicks(w.leOrder, expanded(order));
        ModalResponder responder([&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                responder.answerBox(box, QMessageBox::Ok);
            else
                pickInFileDialog(modal, path);
        });
        QTest::mouseClick(w.btnChoose, Qt::LeftButton);
        QCOMPARE(w.leFile->text(), path);
        QTest::mouseClick(w.btnCheck, Qt::LeftButton);
        QVERIFY(w.timer->isActive() && w.timer->interval() == 50000); // running until the answer
        QTRY_VERIFY_WITH_TIMEOUT(w.imgResult->isVisible() || !responder.boxes().isEmpty(), 10000);
        QVERIFY(!w.timer->isActive());
        const bool pass = outcome == QLatin1String("pass"), fail = outcome == QLatin1String("fail");
        QCOMPARE(responder.boxes().size(), pass || fail ? 0 : 1);
        QCOMPARE(responder.boxes().value(0).text, pass || fail ? QString() : outcome);
        QCOMPARE(w.imgResult->isVisible() ? w.imgResult->imagePath : QString(),
                 pass   ? QStringLiteral("res/dui.png")
                 : fail ? QStringLiteral("res/cuo.png")
                        : QString());
        QCOMPARE(w.leApplicant->isVisible(), pass);
        if (pass) // the digest sent, as the service confirmed it
            QCOMPARE(w.leApplicant->text() + w.leLocation->text() + w.leChain->text(),
                     QString::fromUtf8(u8"张三北京市 公证处") + w.leHash->text());
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
        row("missing column", head + "1,QV1\n", "2 0  : 2 fields where type,order,path are 3");
        row("types", head + "0,Q,a\n19,Q,b\nx,Q,c\n18,Q,d\n",
            "2 0 Q /c/a: the type \"0\" is not one of 1-18|3 19 Q /c/b: the type \"19\" is not one of 1-18|"
            "4 0 Q /c/c: the type \"x\" is not one of 1-18|5 18 Q /c/d: ");
        row("no order", head + "1,,a\n", "2 1  /c/a: no order number");
        row("same file twice", head + "1,Q,a\n1,Q,./d/../a\n2,Q,a\n",
            "2 1 Q /c/a: |3 1 Q /c/a: the same type, order and file as line 2|4 2 Q /c/a: ");
        row("empty file", "", "empty: it needs the header type,order,path and a row per file");
        row("no header", "1,QV1,a.pdf\n", "line 1: the header must be type,order,path");
        row("header only", head, "no rows after the header");
        row("unclosed quote", head + "1,QV1,\"a\n", "line 2: a quoted field is never closed");
        row("not UTF-8", head + "1,QV1,\xff\n", "not UTF-8 text");
        row("as written, a blank line, a row after two lines",
            head + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral(" \"x\",")}).toUtf8() +
                '\n' + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral("a\nb")}).toUtf8() +
                "\n\n1,QV1,/abs\n",
            "2 3 Q /c/ \"x\",: |3 3 Q /c/a\nb: |6 1 QV1 /abs: ");
    }
    void readCase()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, expected);
        const CaseFile file = readCaseFile(csv, QStringLiteral("/c"));
        QStringList rows;
        for (const CaseRow &r : file.rows)
            rows << QStringLiteral("%1 %2 %3 %4: %5").arg(r.line).arg(r.type).arg(r.order, r.path, r.error);
        QCOMPARE(file.error + rows.join(QLatin1Char('|')), expected);
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
        row("fail, as JSON", "--type 5 --order @changed changed.wav --json", 1, "\"verdict\":\"fail\"");
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
        const auto [code, out] = run(args);
        QCOMPARE(code, exit);
        QVERIFY2(QString::fromUtf8(out).contains(output), out.constData());
    }

    void batch()
    {
        writeCase(QStringLiteral(
            "1,%1,kept.pdf\n5,%2,changed.wav\n1,QV0,kept.pdf\n1,%1,gone.pdf\n20,%1,kept.pdf\n1,%1,.\n"));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out.d")));
        // The highest exit code, the bad row's, though the last row's is 4.
        QCOMPARE(run(QStringLiteral("--batch case.csv --report report.json --receipts out.d")).first, 64);
        QFile report(m_dir.filePath(QStringLiteral("report.json")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        QStringList verdicts;
        for (const QJsonValue &row : QJsonDocument::fromJson(report.readAll()).array())
            verdicts << row[QLatin1String("verdict")].toString();
        QCOMPARE(verdicts.join(QLatin1Char(' ')), QStringLiteral("pass fail refused file bad-row file"));
        // A receipt for each verdict; the offline check tells the file it was made for from another.
        const QDir receipts(m_dir.filePath(QStringLiteral("out.d")));
        const QStringList written = receipts.entryList({QStringLiteral("*.json")});
        QCOMPARE(written.size(), 2);
        const QString receipt = receipts.filePath(written.filter(m_kept).value(0));
        QCOMPARE(run(QStringLiteral("--check-receipt ") + receipt + QStringLiteral(" kept.pdf")).first, 0);
        QCOMPARE(run(QStringLiteral("--check-receipt ") + receipt + QStringLiteral(" changed.wav")).first, 1);
        QCOMPARE(run(QStringLiteral("--check-receipt report.json kept.pdf")).first, 64);
    }

    void notWritten_data()
    {
        QTest::addColumn<int>("blocks"); // see start()
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("told");
        QTest::newRow("receipts on a full disk") << 8 << "--batch case.csv --receipts full.d"
                                                 << "receipt not saved: ";
        QTest::newRow("report name too long") << 0
                                              << QStringLiteral("--batch case.csv --report ") +
                                                     QString(300, QLatin1Char('r')) + QStringLiteral(".csv")
                                              << "report not saved: ";
    }
    void notWritten()
    {
        QFETCH(int, blocks);
        QFETCH(QString, args);
        QFETCH(QString, told);
        writeCase(QStringLiteral("1,%1,kept.pdf\n5,%2,changed.wav\n"));
        QDir(m_dir.path()).mkdir(QStringLiteral("full.d"));
        QProcess p;
        start(p, args, blocks);
        QVERIFY(p.waitForFinished(20000));
        // Above the fail's 1, and said on standard error.
        QCOMPARE(p.exitCode(), 74);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(told));
    }

    void interrupt()
    {
        // The second file is a pipe: the program waits in it until the test has sent SIGINT.
        const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.bin")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        writeCase(QStringLiteral("1,%1,kept.pdf\n1,%1,pipe.bin\n1,%1,kept.pdf\n5,%2,changed.wav\n"));
        QProcess p;
        start(p, QStringLiteral("--batch case.csv"));
        int fd = -1;
        QTRY_VERIFY_WITH_TIMEOUT(fd >= 0 || (fd = ::open(fifo.data(), O_WRONLY | O_NONBLOCK)) >= 0, 10000);
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

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
