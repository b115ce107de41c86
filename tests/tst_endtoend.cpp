// Both clients against the service program over real HTTPS, which is where they must agree with
// it: the window as a user drives it, and filehash-verify.
#include "app/filehash.h"
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

    // @url, @kept and @changed stand for the service and the two orders, @long for a name too long.
    QString expanded(QString text) const
    {
        return text.replace(QLatin1String("@url"), m_service.url())
            .replace(QLatin1String("@kept"), m_kept)
            .replace(QLatin1String("@changed"), m_changed)
            .replace(QLatin1String("@long"), QString(300, QLatin1Char('r')));
    }
    // Starts filehash-verify in the test folder, args split at spaces and preceded by the service and its
    // CA unless they name a service, check or stamp a receipt. A limit on the size of the files it writes
    // (in 512-byte blocks, SIGXFSZ ignored) makes writing fail as on a full disk; a negative one
    // starts it with its output into a closed pipe.
    void start(QProcess &p, QString args, int blocks = 0) const
    {
        args = args.trimmed();
        if (!args.startsWith(QLatin1String("--service")) &&
            !args.startsWith(QLatin1String("--check-receipt")) && !args.startsWith(QLatin1String("--stamp")))
            args.prepend(
                QStringLiteral("--service @url --ca %1 ").arg(testCertPath(QStringLiteral("ca.pem"))));
        p.setWorkingDirectory(m_dir.path());
        const QString program = builtProgram(QStringLiteral("filehash-verify"));
        const QStringList list = expanded(args).split(QLatin1Char(' '));
        if (blocks == 0)
            return p.start(program, list);
        if (blocks < 0) // its output into a pipe nobody reads; its exit code on standard error
            return p.start(QStringLiteral("/bin/sh"),
                           QStringList{QStringLiteral("-c"),
                                       QStringLiteral("{ \"$0\" \"$@\"; echo $? >&2; } | true"), program} +
                               list);
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(blocks),
                            program} +
                    list);
    }
    struct Ran {
        int code; // -1 when it did not end by itself
        QByteArray out;
        QString err;
    };
    // Runs it as start() does; blocks -2: with standard output on /dev/full.
    Ran run(const QString &args, int blocks = 0) const
    {
        QProcess p;
        if (blocks == -2)
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
        start(p, args, blocks == -2 ? 0 : blocks);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
            return {-1, {}, {}};
        return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
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
        writeTestFile(m_dir.path(), QStringLiteral("two.csv"),
                      "type,order,path\n1," + m_kept.toUtf8() + ",kept.pdf\n5," + m_changed.toUtf8() +
                          ",changed.wav\n");
        QVERIFY(m_service.start());
    }
    void cleanup() { closeAllModals(); }

    // A message the service sends is shown as tst_verify's message row shows; tst_service has the
    // unknown order's answer.
    void window_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("order"); // @kept or @changed for the two orders
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("pass");
        // The failing file's type is not the first: the type chosen in the list is the one sent.
        QTest::newRow("preserved file") << "kept.pdf"
                                        << "@kept" << 1 << true;
        QTest::newRow("file changed since") << "changed.wav"
                                            << "@changed" << 5 << false;
    }
    void window()
    {
        QFETCH(QString, file);
        QFETCH(QString, order);
        QFETCH(int, type);
        QFETCH(bool, pass);
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
        QVERIFY2(responder.boxes().isEmpty(), qPrintable(responder.boxes().value(0).text));
        QCOMPARE(w.imgResult->imagePath,
                 pass ? QStringLiteral("res/dui.png") : QStringLiteral("res/cuo.png"));
        QCOMPARE(w.leApplicant->isVisible(), pass);
        if (pass) // the digest sent, as the service confirmed it
            QCOMPARE(w.leApplicant->text() + w.leLocation->text() + w.leChain->text(),
                     QString::fromUtf8(u8"张三北京市 公证处") + w.leHash->text());
    }

    // One command each: its exit code, and a pattern for its standard output, "stderr: " and its
    // standard error. Writes that fail exit with 74, above the fail's 1, and say so on standard error.
    void commands_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("blocks"); // see start() and run()
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("output");
        const auto row = [](const char *name, const char *args, int exit, const char *output,
                            int blocks = 0) {
            QTest::newRow(name) << QString::fromUtf8(args) << blocks << exit << QString::fromUtf8(output);
        };
        row("pass", "--type 1 --order @kept kept.pdf", 0, u8"张三.*stderr: ");
        row("fail, as JSON", "--type 5 --order @changed changed.wav --json", 1,
            "\"verdict\":\"fail\".*stderr: ");
        row("refused", "--type 2 --order @kept kept.pdf", 2, u8"存证类型与订单不符.*stderr: ");
        row("untrusted", "--service @url --type 1 --order @kept kept.pdf", 3, "network.*stderr: ");
        row("no such file", "--type 1 --order @kept gone.pdf", 4, "no such file.*stderr: ");
        row("type by name, a device", u8"--type 电子文书 --order @kept /dev/zero", 4,
            "not a regular file.*stderr: ");
        row("plain HTTP", "--service http://localhost:1 --type 1 --order Q kept.pdf", 64, "");
        // A case (a pass, then a fail) prints only what did not pass, or nothing at all.
        row("case, quiet", "--batch two.csv --quiet", 1, "^3 [^\n]*\n\n2 of 2 rows");
        row("case, status", "--batch two.csv --status", 1, "^stderr: $");
        row("receipts on a full disk", "--batch two.csv --receipts full.d", 74,
            "stderr: .*receipt not saved: ", 8);
        row("standard output full", "--batch two.csv", 74, "stderr: .*standard output", -1);
        row("standard output closed", "--batch two.csv", 74, "stderr: .*standard output", -2);
        row("report name too long", "--batch two.csv --report @long.csv", 74, "stderr: .*report not saved: ");
        row("report folder missing", "--batch two.csv --report none/r.csv", 74,
            "stderr: .*report not saved: none/");
    }
    void commands()
    {
        QFETCH(QString, args);
        QFETCH(int, blocks);
        QFETCH(int, exit);
        QFETCH(QString, output);
        QDir(m_dir.path()).mkdir(QStringLiteral("full.d"));
        const Ran r = run(args, blocks);
        // Into a closed pipe, the exit code is the last line on standard error.
        QCOMPARE(blocks == -1 ? r.err.trimmed().section(QLatin1Char('\n'), -1).toInt() : r.code, exit);
        const QString got = QString::fromUtf8(r.out) + QStringLiteral("stderr: ") + r.err;
        QVERIFY2(got.contains(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)),
                 qPrintable(got));
    }

    // A case: a line per row in the case's order, the highest exit code, a report whose rows are the
    // case's, a receipt per verdict, and the offline check of a receipt against a file.
    void batch()
    {
        QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.bin"))).constData(), 0600) ==
                0);
        writeCase(
            QStringLiteral("1,%1,kept.pdf\n5,%2,changed.wav\n1,QV0,kept.pdf\n1,%1,gone.pdf\n20,%1,kept.pdf\n"
                           "1,%1,.\n1,%1,pipe.bin\n"));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("out.d")));
        const auto [code, out, err] =
            run(QStringLiteral("--batch case.csv --report report.csv --receipts out.d"));
        // The highest exit code, the bad row's, though the last row's is 4; the FIFO did not hold it.
        QCOMPARE(code, 64);
        QStringList printed;
        for (const QString &line : QString::fromUtf8(out).split(QLatin1Char('\n')).mid(1, 7))
            printed << line.section(QLatin1Char(' '), 0, 0) + QLatin1Char(':') +
                           line.simplified().section(QLatin1Char(' '), 1, 1);
        QCOMPARE(printed.join(QLatin1Char(' ')),
                 QStringLiteral("2:pass 3:FAIL 4:refused 5:file 6:bad-row 7:file 8:file"));
        QVERIFY2(out.contains("not a regular file") &&
                     out.contains("7 of 7 rows: 1 passed, 1 failed, 1 refused, 0 "
                                  "network, 3 file, 1 bad rows"),
                 out.constData());
        // The report read back: a row for each of the case's, in its order, with its verdict.
        QFile report(m_dir.filePath(QStringLiteral("report.csv")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = report.readAll().split('\n');
        QVERIFY(lines.first().startsWith("\xEF\xBB\xBFline,type,order,path,size,sha256,verdict"));
        QStringList reported;
        for (const QByteArray &line : lines.mid(1, lines.size() - 2))
            reported << QString::fromUtf8(line.left(line.indexOf(','))) + QLatin1Char(':') +
                            QString::fromUtf8(line.split(',').value(6));
        QCOMPARE(reported.join(QLatin1Char(' ')),
                 QStringLiteral("2:pass 3:fail 4:refused 5:file 6:bad-row 7:file 8:file"));

        // A receipt for each verdict. The check tells the file it was made for from another, a
        // receipt of a fail from one of a pass, and a receipt edited by hand from one as written.
        const QDir receipts(m_dir.filePath(QStringLiteral("out.d")));
        const QStringList written = receipts.entryList({QStringLiteral("*.json")});
        QCOMPARE(written.size(), 2);
        const QString pass = receipts.filePath(written.filter(m_kept).value(0));
        const QString fail = receipts.filePath(written.filter(m_changed).value(0));
        QFile original(pass);
        QVERIFY(original.open(QIODevice::ReadOnly));
        writeTestFile(m_dir.path(), QStringLiteral("edited.json"),
                      original.readAll().replace("\"verdict\": \"pass\"", "\"verdict\": \"fail\""));
        const QString check = QStringLiteral("--check-receipt %1 %2");
        QCOMPARE(run(check.arg(pass, QStringLiteral("kept.pdf"))).code, 0);
        QCOMPARE(run(check.arg(pass, QStringLiteral("changed.wav"))).code, 1);
        QCOMPARE(run(check.arg(fail, QStringLiteral("changed.wav"))).code, 5);
        const Ran edited = run(check.arg(QStringLiteral("edited.json"), QStringLiteral("kept.pdf --json")));
        QCOMPARE(edited.code, 6);
        const QJsonObject found = QJsonDocument::fromJson(edited.out).object();
        QCOMPARE(found.value(QLatin1String("exitCode")).toInt(), 6);
        QVERIFY(found.value(QLatin1String("sameFile")).toBool());
        QCOMPARE(run(check.arg(QStringLiteral("report.csv"), QStringLiteral("kept.pdf"))).code, 64);
        QCOMPARE(run(check.arg(pass, QStringLiteral("pipe.bin"))).code, 4);
    }

    // A service, a case and a file name that carry escape sequences, bidi overrides and formulas:
    // none reaches the terminal or a spreadsheet as such.
    void hostileText()
    {
        const QByteArray escape = "\x1b[2J\x1b[32m pass: all good";
        TestServer server([&](const std::string &, const std::string &, const std::string &) {
            const QJsonObject data{
                {QStringLiteral("result"), true},
                {QStringLiteral("userName"), QString::fromUtf8(escape)},
                {QStringLiteral("optTime"), QString::fromUtf8("\x1b]0;owned\x07")},
                {QStringLiteral("deviceInfo"), QStringLiteral("=HYPERLINK(\"http://x\")")}};
            const QJsonObject answer{{QStringLiteral("code"), 0}, {QStringLiteral("data"), data}};
            return HttpAnswer{200, "application/json", QJsonDocument(answer).toJson().toStdString(), {}, {}};
        });
        const QString evil = QString::fromUtf8("evil\x1b[31m\u202Efdp.exe");
        writeTestFile(m_dir.path(), evil, "x");
        writeTestFile(m_dir.path(), QStringLiteral("case.csv"),
                      "type,order,path\n1,@SUM(A1),\"" + evil.toUtf8() + "\"\n");
        const Ran r = run(QStringLiteral("--service %1 --ca %2 --batch case.csv --report hostile.csv")
                              .arg(server.url(), testCertPath(QStringLiteral("ca.pem"))));
        QCOMPARE(r.code, 0);
        const QByteArray out = r.out + r.err.toUtf8();
        QVERIFY2(!out.contains('\x1b') && !out.contains('\x07') && !out.contains("\u202E") &&
                     out.contains("<U+001B>[2J<U+001B>[32m") && out.contains("<U+202E>fdp.exe"),
                 out.constData());
        QFile report(m_dir.filePath(QStringLiteral("hostile.csv")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QByteArray csv = report.readAll();
        QVERIFY2(csv.contains(",'@SUM(A1),") && csv.contains(",\"'=HYPERLINK(\"\"http://x\"\")\",") &&
                     !csv.contains(",=") && !csv.contains(",@"),
                 csv.constData());
    }

    // Receipts stamped by the service's own time-stamping authority: one that cannot be reached
    // leaves the receipt unstamped and says so, --stamp stamps it later, openssl alone checks it as
    // the README says, and one character edited afterwards is told as a change after stamping.
    void stamps()
    {
        const QString tsaCa = testCertPath(QStringLiteral("tsa-ca.pem"));
        const QString stampBy = QStringLiteral(" --tsa %1/tsa --tsa-ca %2").arg(m_service.url(), tsaCa);
        writeCase(QStringLiteral("1,%1,kept.pdf\n"));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("late.d")));
        const Ran unreachable =
            run(QStringLiteral("--batch case.csv --receipts late.d --tsa https://localhost:1/tsa"));
        QCOMPARE(unreachable.code, 8);
        QVERIFY(unreachable.err.contains(QLatin1String("receipt saved without a time-stamp")));
        const QDir late(m_dir.filePath(QStringLiteral("late.d")));
        QCOMPARE(late.entryList(QDir::Files).filter(QStringLiteral(".tsr")).size(), 0);
        const QString receipt = late.filePath(late.entryList({QStringLiteral("*.json")}).value(0));
        const QString check = QStringLiteral("--check-receipt %1 kept.pdf --tsa-ca %2").arg(receipt, tsaCa);
        Ran checked = run(check);
        QCOMPARE(checked.code, 0);
        QVERIFY2(checked.out.contains("not stamped: the tool's own record"), checked.out.constData());

        // The authority's TLS is trusted as the service's is.
        const QString stampIt = QStringLiteral("--stamp ") + receipt + stampBy + QStringLiteral(" --ca ") +
                                testCertPath(QStringLiteral("ca.pem"));
        QCOMPARE(run(stampIt).code, 0);
        checked = run(check);
        QCOMPARE(checked.code, 0);
        QVERIFY2(checked.out.contains("stamped by O=filehash, CN="), checked.out.constData());
        QString tsr = receipt;
        tsr.replace(QStringLiteral(".json"), QStringLiteral(".tsr"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral(
                 R"(sed 's/^    "timeStamp": {.*}\(,\{0,1\}\)$/    "timeStamp": null\1/' "$0" >"$0.data" &&
                                         openssl ts -verify -data "$0.data" -in "$1" -CAfile "$2")"),
             receipt, tsr, tsaCa});
        QVERIFY(openssl.waitForFinished(20000));
        QVERIFY2(openssl.exitCode() == 0 && openssl.readAll().contains("Verification: OK"),
                 "openssl ts -verify");

        QFile file(receipt);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stamped = file.readAll();
        writeTestFile(m_dir.path(), QStringLiteral("edited.json"),
                      QByteArray(stamped).replace("kept.pdf", "kept.pdF"));
        QCOMPARE(run(QStringLiteral("--check-receipt edited.json kept.pdf --tsa-ca ") + tsaCa).code, 7);
        // Another authority's CA: the stamp cannot be trusted.
        QCOMPARE(run(check.section(QLatin1Char(' '), 0, 2) + QStringLiteral(" --tsa-ca ") +
                     testCertPath(QStringLiteral("ca.pem")))
                     .code,
                 8);
        QCOMPARE(run(stampIt).code, 64); // stamped already

        // Stamped as it is saved.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("stamped.d")));
        QCOMPARE(run(QStringLiteral("--batch case.csv --receipts stamped.d") + stampBy).code, 0);
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("stamped.d"))).entryList(QDir::Files).size(), 3);
    }

    // Ctrl+C ends a case at once, whatever is being hashed: the row under way is interrupted, the
    // rows done are printed and in the report, nothing after it is started.
    void interrupt()
    {
        const QString large = m_dir.filePath(QStringLiteral("large.bin"));
        QFile sparse(large);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(64) << 30));
        sparse.close();
        writeCase(QStringLiteral("1,%1,kept.pdf\n1,%1,large.bin\n1,%1,kept.pdf\n5,%2,changed.wav\n"));
        QProcess p;
        start(p, QStringLiteral("--batch case.csv --report interrupted.json"));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("\n2 "), 10000);
        QTest::qWait(300); // into the large file
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        // Hashing it all would take half a minute and more.
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QFile::remove(large);
        QCOMPARE(p.exitCode(), 130);
        out += p.readAllStandardOutput();
        QVERIFY2(
            out.contains("\n3     interrupted") &&
                out.contains("2 of 4 rows: 1 passed, 0 failed, 0 refused, 0 network, 0 file, 0 bad rows, "
                             "1 interrupted; stopped by Ctrl+C"),
            out.constData());
        QFile report(m_dir.filePath(QStringLiteral("interrupted.json")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(report.readAll()).array().size(), 2);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
