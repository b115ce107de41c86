#include "app/filehash.h"
#include "core/serviceconfig.h"
#include "testconfig.h"
#include "testsupport.h"
#include "widgets/cimg.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The whole tool as a user drives it, against the reference service over real HTTPS.
class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { closeAllModals(); }

    void verify_data();
    void verify();

private:
    QString service() const { return QStringLiteral(FILEHASH_BINARY_DIR "/filehash-service"); }
    QString db() const { return m_dir.filePath(QStringLiteral("evidence.db")); }
    QString preserve(const QString &file, int type, const QString &user, const QString &location);
    QString writeFile(const QString &name, const QByteArray &content);

    QTemporaryDir m_dir;
    QProcess m_server;
    QHash<QString, QString> m_orders;     // file name -> order number
    QHash<QString, QStringList> m_record; // order number -> list columns
};

QString TestEndToEnd::writeFile(const QString &name, const QByteArray &content)
{
    return writeTestFile(m_dir.path(), name, content);
}

QString TestEndToEnd::preserve(const QString &file, int type, const QString &user, const QString &location)
{
    QProcess p;
    p.start(service(), {QStringLiteral("preserve"), QStringLiteral("--db"), db(), QStringLiteral("--type"),
                        QString::number(type), QStringLiteral("--user"), user, QStringLiteral("--location"),
                        location, file});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void TestEndToEnd::initTestCase()
{
    qRegisterMetaType<QNetworkReply *>();
    QVERIFY(installServiceCa(serviceCaPem()));
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(service()));

    const QString kept =
        writeFile(QStringLiteral("contract.pdf"), QByteArray("%PDF-1.4 signed contract\n").repeated(500));
    const QString changed = writeFile(QStringLiteral("recording.mp4"), QByteArray(300000, 'v'));
    m_orders[QStringLiteral("contract.pdf")] =
        preserve(kept, 1, QString::fromUtf8(u8"张三"), QString::fromUtf8(u8"北京市 公证处"));
    m_orders[QStringLiteral("recording.mp4")] =
        preserve(changed, 6, QString::fromUtf8(u8"李四"), QString::fromUtf8(u8"上海"));
    for (const QString &order : qAsConst(m_orders))
        QVERIFY(!order.isEmpty());
    // The recording is altered after it was preserved: one byte.
    QByteArray altered(300000, 'v');
    altered[150000] = 'w';
    QVERIFY(!writeFile(QStringLiteral("recording.mp4"), altered).isEmpty());

    QProcess list;
    list.start(service(), {QStringLiteral("list"), QStringLiteral("--db"), db()});
    QVERIFY(list.waitForFinished(30000));
    for (const QString &line : QString::fromUtf8(list.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QStringList columns = line.split(QLatin1Char('\t'));
        if (columns.size() >= 6)
            m_record[columns.at(0)] = columns;
    }
    QCOMPARE(m_record.size(), 2);

    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    setTestServiceBaseUrl(QStringLiteral("https://localhost:%1").arg(port));
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(service(), {QStringLiteral("serve"), QStringLiteral("--db"), db(),
                               QStringLiteral("--cert"), testCertPath(QStringLiteral("server.pem")),
                               QStringLiteral("--key"), testCertPath(QStringLiteral("server.key")),
                               QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    QVERIFY(m_server.waitForStarted(10000));
    bool up = false;
    for (int i = 0; i < 200 && !up && m_server.state() == QProcess::Running; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        up = probe.waitForConnected(100);
        if (!up)
            QTest::qWait(50);
    }
    QVERIFY2(up, "the service did not start listening");
}

void TestEndToEnd::cleanupTestCase()
{
    if (m_server.state() == QProcess::Running) {
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
    }
}

void TestEndToEnd::verify_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("order"); // empty: the order the file was preserved under
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("outcome"); // pass, fail, or a message
    QTest::newRow("preserved file") << "contract.pdf"
                                    << "" << 1 << "pass";
    QTest::newRow("file changed since") << "recording.mp4"
                                        << "" << 6 << "fail";
    QTest::newRow("unknown order") << "contract.pdf"
                                   << "QV00000000000000" << 1 << QString::fromUtf8(u8"订单号不存在");
    QTest::newRow("wrong type") << "contract.pdf"
                                << "" << 2 << QString::fromUtf8(u8"存证类型与订单不符");
}

void TestEndToEnd::verify()
{
    QFETCH(QString, file);
    QFETCH(QString, order);
    QFETCH(int, type);
    QFETCH(QString, outcome);
    if (order.isEmpty())
        order = m_orders.value(file);
    const QString path = m_dir.filePath(file);

    filehash w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.cbType->setCurrentIndex(type - 1);
    QTest::mouseClick(w.leOrder, Qt::LeftButton);
    QTest::keyClicks(w.leOrder, order);

    ModalResponder responder([&](QWidget *modal) {
        if (!pickInFileDialog(modal, path)) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                responder.answerBox(box, QMessageBox::Ok);
        }
    });
    QTest::mouseClick(w.btnChoose, Qt::LeftButton);
    QCOMPARE(w.leFile->text(), path);
    QFile content(path);
    QVERIFY(content.open(QIODevice::ReadOnly));
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(content.readAll(), QCryptographicHash::Sha256).toHex());
    QCOMPARE(w.leHash->text(), digest);

    QSignalSpy finished(w.netManager, &QNetworkAccessManager::finished);
    QTest::mouseClick(w.btnCheck, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);

    if (outcome == QLatin1String("pass") || outcome == QLatin1String("fail")) {
        QVERIFY(responder.boxes().isEmpty());
        QVERIFY(w.imgResult->isVisible());
        QVERIFY(w.labResult->isVisible());
        const bool pass = outcome == QLatin1String("pass");
        QCOMPARE(w.imgResult->imagePath,
                 pass ? QStringLiteral("res/dui.png") : QStringLiteral("res/cuo.png"));
        QCOMPARE(w.labResult->text(), pass ? QString::fromUtf8(u8"该电子证据已通过验证")
                                           : QString::fromUtf8(u8"该电子证据未通过验证"));
        QCOMPARE(w.leApplicant->isVisible(), pass);
        if (pass) {
            const QStringList record = m_record.value(order);
            QCOMPARE(w.leApplicant->text(), record.at(3));
            QCOMPARE(w.leApplicant->text(), QString::fromUtf8(u8"张三"));
            QCOMPARE(w.leTime->text(), record.at(4));
            QCOMPARE(w.leLocation->text(), QString::fromUtf8(u8"北京市 公证处"));
            QCOMPARE(w.leChain->text(), digest);
        }
    } else {
        QCOMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).text, outcome);
        QVERIFY(!w.imgResult->isVisible());
    }
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
