#include "app/filehash.h"
#include "core/serviceconfig.h"
#include "testsupport.h"
#include "widgets/cimg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The window as a user drives it, against the service program over real HTTPS: what the two must
// agree on, from the request's keys to the answer's fields.
class TestEndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    ServiceProcess m_service{m_dir.path()};
    QString m_contract;  // order of contract.pdf, type 1, unchanged since
    QString m_recording; // order of recording.mp4, type 6, changed since

private slots:
    void initTestCase()
    {
        QVERIFY(installServiceCa(serviceCaPem()));
        const QString contract =
            writeTestFile(m_dir.path(), QStringLiteral("contract.pdf"), "%PDF-1.4 contract");
        const QString recording = writeTestFile(m_dir.path(), QStringLiteral("recording.mp4"), "take 1");
        m_contract = m_service.preserve(contract, 1, QString::fromUtf8(u8"张三"),
                                        QString::fromUtf8(u8"北京市 公证处"));
        m_recording = m_service.preserve(recording, 6, QStringLiteral("L"), QStringLiteral("S"));
        QVERIFY(!m_contract.isEmpty() && !m_recording.isEmpty());
        QVERIFY(!writeTestFile(m_dir.path(), QStringLiteral("recording.mp4"), "take 2").isEmpty());
        QVERIFY(m_service.start());
        setTestServiceBaseUrl(m_service.url());
    }
    void cleanup() { closeAllModals(); }

    void verify_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("order");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("outcome"); // pass, fail, or the message shown
        const auto row = [](const char *name, const char *file, const QString &order, int type,
                            const char *outcome) {
            QTest::newRow(name) << QString::fromUtf8(file) << order << type << QString::fromUtf8(outcome);
        };
        // The failing file's type is not the first: the type chosen in the list is the one sent.
        row("preserved file", "contract.pdf", m_contract, 1, "pass");
        row("file changed since", "recording.mp4", m_recording, 6, "fail");
        row("unknown order", "contract.pdf", QStringLiteral("QV00000000000000"), 1, u8"订单号不存在");
    }

    void verify()
    {
        QFETCH(QString, file);
        QFETCH(QString, order);
        QFETCH(int, type);
        QFETCH(QString, outcome);
        const QString path = m_dir.filePath(file);
        filehash w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.cbType->setCurrentIndex(type - 1);
        QTest::mouseClick(w.leOrder, Qt::LeftButton);
        QTest::keyClicks(w.leOrder, order);
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

        if (outcome != QLatin1String("pass") && outcome != QLatin1String("fail")) {
            QCOMPARE(responder.boxes().size(), 1);
            QCOMPARE(responder.boxes().at(0).text, outcome);
            QVERIFY(!w.imgResult->isVisible());
            return;
        }
        const bool pass = outcome == QLatin1String("pass");
        QVERIFY(responder.boxes().isEmpty());
        QCOMPARE(w.imgResult->imagePath,
                 pass ? QStringLiteral("res/dui.png") : QStringLiteral("res/cuo.png"));
        QCOMPARE(w.leApplicant->isVisible(), pass);
        if (pass) {
            QCOMPARE(w.leApplicant->text(), QString::fromUtf8(u8"张三"));
            const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
            QVERIFY2(w.leTime->text().contains(time), qPrintable(w.leTime->text()));
            QCOMPARE(w.leLocation->text(), QString::fromUtf8(u8"北京市 公证处"));
            QCOMPARE(w.leChain->text(), w.leHash->text()); // the digest sent, as the service confirmed it
        }
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
