#include "cli/casecsv.h"
#include "testconfig.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// filehash-verify: the case file reader directly, the program against the reference service.
class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void readCase_data();
    void readCase();
    void single_data();
    void single();
    void batch();
    void interrupt();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString run(const QString &service, bool trusted, const QStringList &args, QByteArray *out);
    QStringList caseArgs(const QString &csv, const QStringList &more);
    QString preserve(const QString &file, int type);

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_url;
    QString m_kept;    // order of kept.pdf, type 1, unchanged since
    QString m_changed; // order of changed.wav, type 5, changed since
};

QString TestCli::preserve(const QString &file, int type)
{
    QProcess p;
    p.start(QStringLiteral(FILEHASH_BINARY_DIR "/filehash-service"),
            {QStringLiteral("preserve"), QStringLiteral("--db"), path(QStringLiteral("db")),
             QStringLiteral("--type"), QString::number(type), QStringLiteral("--user"),
             QString::fromUtf8(u8"张三"), QStringLiteral("--location"), QStringLiteral("X"), path(file)});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestCli::initTestCase()
{
    writeTestFile(m_dir.path(), QStringLiteral("kept.pdf"), QByteArray(100000, 'k'));
    writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "before");
    writeTestFile(m_dir.path(), QStringLiteral("empty.txt"), "");
    m_kept = preserve(QStringLiteral("kept.pdf"), 1);
    m_changed = preserve(QStringLiteral("changed.wav"), 5);
    QVERIFY(!m_kept.isEmpty() && !m_changed.isEmpty());
    writeTestFile(m_dir.path(), QStringLiteral("changed.wav"), "after");

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    m_url = QStringLiteral("https://localhost:%1").arg(port);
    m_server.start(QStringLiteral(FILEHASH_BINARY_DIR "/filehash-service"),
                   {QStringLiteral("serve"), QStringLiteral("--db"), path(QStringLiteral("db")),
                    QStringLiteral("--cert"), testCertPath(QStringLiteral("server.pem")),
                    QStringLiteral("--key"), testCertPath(QStringLiteral("server.key")),
                    QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    QTRY_VERIFY_WITH_TIMEOUT(
        [port] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            return s.waitForConnected(100);
        }(),
        10000);
}

void TestCli::cleanupTestCase()
{
    m_server.terminate();
    m_server.waitForFinished(10000);
}

// Runs filehash-verify against service, trusting the test CA or not; returns its exit code as text,
// or "crashed", with its standard output in out.
QString TestCli::run(const QString &service, bool trusted, const QStringList &args, QByteArray *out)
{
    QProcess p;
    QStringList all{QStringLiteral("--service"), service};
    if (trusted)
        all << QStringLiteral("--ca") << testCertPath(QStringLiteral("ca.pem"));
    p.start(QStringLiteral(FILEHASH_BINARY_DIR "/filehash-verify"), all + args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("crashed");
    *out = p.readAllStandardOutput();
    return QString::number(p.exitCode());
}

void TestCli::readCase_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>(
        "expected"); // "line type order path: error" a row, '|' between; or the file's error
    const QByteArray head = "type,order,path\n";
    QTest::newRow("BOM and CRLF") << QByteArray("\xEF\xBB\xBFtype,order,path\r\n1,QV1,a.pdf\r\n")
                                  << "2 1 QV1 /c/a.pdf: ";
    QTest::newRow("quotes") << head + "2,\" QV2 \",\"d/a \"\"b\"\", c.pdf\"\n"
                            << "2 2 QV2 /c/d/a \"b\", c.pdf: ";
    QTest::newRow("line end in a field") << head + "1,QV1,\"a\nb\"\n\n1,QV1,/abs\n"
                                         << "2 1 QV1 /c/a\nb: |5 1 QV1 /abs: ";
    QTest::newRow("missing column") << head + "1,QV1\n"
                                    << "2 0  : 2 fields";
    QTest::newRow("extra column") << head + "1,QV1,a,b\n"
                                  << "2 0  : 4 fields";
    QTest::newRow("types")
        << head + "0,Q,a\n19,Q,b\nx,Q,c\n18,Q,d\n"
        << "2 0 Q /c/a: \"0\" is not|3 19 Q /c/b: \"19\" is not|4 0 Q /c/c: \"x\" is not|5 18 Q /c/d: ";
    QTest::newRow("no order") << head + "1,,a\n"
                              << "2 1  /c/a: no order";
    QTest::newRow("same file twice") << head + "1,Q,a\n1,Q,./d/../a\n2,Q,a\n"
                                     << "2 1 Q /c/a: |3 1 Q /c/a: as line 2|4 2 Q /c/a: ";
    QTest::newRow("empty file") << QByteArray() << "empty";
    QTest::newRow("no header") << QByteArray("1,QV1,a.pdf\n") << "line 1: the header";
    QTest::newRow("header only") << head << "no rows";
    QTest::newRow("unclosed quote") << head + "1,QV1,\"a\n"
                                    << "line 2: a quoted field is never closed";
    QTest::newRow("not UTF-8") << head + "1,QV1,\xff\n"
                               << "not UTF-8";
    QTest::newRow("as written")
        << head + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral(" \"x\",")}).toUtf8() +
               '\n' + csvLine({QStringLiteral("3"), QStringLiteral("Q"), QStringLiteral("a\nb")}).toUtf8()
        << "2 3 Q /c/ \"x\",: |3 3 Q /c/a\nb: ";
}

void TestCli::readCase()
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
        const CaseRow &row = file.rows.at(i);
        const QString got =
            QStringLiteral("%1 %2 %3 %4: ").arg(row.line).arg(row.type).arg(row.order, row.path);
        const QString want = rows.at(i).left(rows.at(i).indexOf(QStringLiteral(": ")) + 2);
        QCOMPARE(got, want);
        const QString error = rows.at(i).mid(want.size());
        QVERIFY2(error.isEmpty() ? row.error.isEmpty() : row.error.contains(error), qPrintable(row.error));
    }
}

void TestCli::single_data()
{
    QTest::addColumn<QString>("service"); // url, closed, untrusted, http
    QTest::addColumn<QString>("args");    // @kept and @changed: their orders; a name with a dot: a file
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("output");
    QTest::newRow("pass") << "url"
                          << "--type 1 --order @kept kept.pdf" << 0 << u8"张三";
    QTest::newRow("pass as JSON") << "url"
                                  << "--type 1 --order @kept kept.pdf --json" << 0 << "\"verdict\":\"pass\"";
    QTest::newRow("fail") << "url"
                          << "--type 5 --order @changed changed.wav" << 1 << "FAIL";
    QTest::newRow("unknown order") << "url"
                                   << "--type 1 --order QV0 kept.pdf" << 2 << u8"订单号不存在";
    QTest::newRow("wrong type") << "url"
                                << "--type 2 --order @kept kept.pdf" << 2 << u8"存证类型与订单不符";
    QTest::newRow("no service") << "closed"
                                << "--type 1 --order @kept kept.pdf" << 3 << "network";
    QTest::newRow("untrusted") << "untrusted"
                               << "--type 1 --order @kept kept.pdf" << 3 << "network";
    QTest::newRow("no such file") << "url"
                                  << "--type 1 --order @kept gone.pdf" << 4 << "no such file";
    QTest::newRow("empty file") << "url"
                                << "--type 1 --order @kept empty.txt" << 4 << "empty";
    QTest::newRow("no order") << "url"
                              << "--type 1 kept.pdf" << 64 << "";
    QTest::newRow("type 19") << "url"
                             << "--type 19 --order Q kept.pdf" << 64 << "";
    QTest::newRow("plain HTTP") << "http"
                                << "--type 1 --order @kept kept.pdf" << 64 << "";
}

void TestCli::single()
{
    QFETCH(QString, service);
    QFETCH(QString, args);
    QFETCH(int, exit);
    QFETCH(QString, output);
    QStringList list = args.replace(QStringLiteral("@kept"), m_kept)
                           .replace(QStringLiteral("@changed"), m_changed)
                           .split(QLatin1Char(' '));
    for (QString &arg : list) {
        if (!arg.startsWith(QLatin1Char('-')) && arg.contains(QLatin1Char('.')))
            arg = path(arg);
    }
    const QString url = service == QLatin1String("url") || service == QLatin1String("untrusted") ? m_url
                        : service == QLatin1String("closed") ? QStringLiteral("https://localhost:1")
                                                             : QStringLiteral("http://localhost:1");
    QByteArray out;
    QCOMPARE(run(url, service != QLatin1String("untrusted"), list, &out), QString::number(exit));
    QVERIFY2(QString::fromUtf8(out).contains(output), out.constData());
}

// Writes a case file and returns the arguments that verify it.
QStringList TestCli::caseArgs(const QString &csv, const QStringList &more)
{
    QString text = csv;
    writeTestFile(m_dir.path(), QStringLiteral("case.csv"),
                  text.replace(QStringLiteral("@kept"), m_kept)
                      .replace(QStringLiteral("@changed"), m_changed)
                      .toUtf8());
    return QStringList{QStringLiteral("--batch"), path(QStringLiteral("case.csv"))} + more;
}

void TestCli::batch()
{
    QTemporaryDir receipts;
    const QString report = path(QStringLiteral("report.json"));
    QByteArray out;
    const QStringList args =
        caseArgs(QStringLiteral("type,order,path\n1,@kept,kept.pdf\n5,@changed,changed.wav\n"
                                "1,QV0,kept.pdf\n1,@kept,gone.pdf\n20,@kept,kept.pdf\n1,@kept,.\n"),
                 {QStringLiteral("--report"), report, QStringLiteral("--receipts"), receipts.path()});
    QCOMPARE(run(m_url, true, args, &out), QStringLiteral("64")); // the highest: the bad row
    QVERIFY2(out.contains("6 of 6 rows: 1 passed, 1 failed, 1 refused, 0 network, 2 file, 1 bad rows"),
             out.constData());
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList verdicts;
    for (const QJsonValue &row : QJsonDocument::fromJson(file.readAll()).array())
        verdicts << row.toObject().value(QStringLiteral("verdict")).toString();
    QCOMPARE(verdicts,
             (QStringList{QStringLiteral("pass"), QStringLiteral("fail"), QStringLiteral("refused"),
                          QStringLiteral("file"), QStringLiteral("bad-row"), QStringLiteral("file")}));
    QVERIFY(out.contains("a folder, not a file"));

    // A receipt for each verdict, and the offline check against it.
    const QStringList written = QDir(receipts.path()).entryList({QStringLiteral("*.json")});
    QCOMPARE(written.size(), 2);
    const QString passReceipt = receipts.filePath(written.filter(m_kept).value(0));
    QFile receipt(passReceipt);
    QVERIFY(receipt.open(QIODevice::ReadOnly));
    const QJsonObject service =
        QJsonDocument::fromJson(receipt.readAll()).object().value(QStringLiteral("service")).toObject();
    QCOMPARE(
        service.value(QStringLiteral("certificate")).toObject().value(QStringLiteral("issuer")).toString(),
        QStringLiteral("CN=filehash test CA"));
    QVERIFY(service.value(QStringLiteral("protocol")).toString().startsWith(QStringLiteral("TLSv1.")));
    QCOMPARE(run(m_url, true,
                 {QStringLiteral("--check-receipt"), passReceipt, path(QStringLiteral("kept.pdf"))}, &out),
             QStringLiteral("0"));
    QCOMPARE(run(m_url, true,
                 {QStringLiteral("--check-receipt"), passReceipt, path(QStringLiteral("changed.wav"))}, &out),
             QStringLiteral("1"));
    QCOMPARE(
        run(m_url, true, {QStringLiteral("--check-receipt"), report, path(QStringLiteral("kept.pdf"))}, &out),
        QStringLiteral("64"));
}

void TestCli::interrupt()
{
    // The second file is a pipe: the program waits in it until the test has sent SIGINT.
    const QString fifo = path(QStringLiteral("pipe.bin"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString report = path(QStringLiteral("interrupted.csv"));
    QProcess p;
    p.start(
        QStringLiteral(FILEHASH_BINARY_DIR "/filehash-verify"),
        QStringList{QStringLiteral("--service"), m_url, QStringLiteral("--ca"),
                    testCertPath(QStringLiteral("ca.pem"))} +
            caseArgs(QStringLiteral("type,order,path\n1,@kept,kept.pdf\n1,@kept,pipe.bin\n1,@kept,kept.pdf\n"
                                    "5,@changed,changed.wav\n"),
                     {QStringLiteral("--report"), report}));
    int fd = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        fd >= 0 || (fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) >= 0, 10000);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QByteArray told;
    QTRY_VERIFY_WITH_TIMEOUT((told += p.readAllStandardError()).contains("interrupted"), 10000);
    QCOMPARE(::write(fd, "piped", 5), 5);
    ::close(fd);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 130);
    // What was done, the file under way included, and nothing after it.
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const QList<CsvRecord> rows = parseCsv(QString::fromUtf8(file.readAll()), &error);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(1).fields.value(6), QStringLiteral("pass"));
    QCOMPARE(rows.at(2).fields.value(6), QStringLiteral("fail"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
