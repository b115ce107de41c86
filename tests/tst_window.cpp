#include "app/filehash.h"
#include "app/resources.h"
#include "app/startup.h"
#include "core/texts.h"
#include "testsupport.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(installQtTranslations(qApp)); }
    void cleanup() { closeAllModals(); }

    void slotTable();
    void typeCatalogue();
    void positions_data();
    void positions();
    void textPositions_data();
    void textPositions();
    void startupVisibility();
    void closeQuestion_data();
    void closeQuestion();
    void minimise();
    void startsWithoutImages();
    void keyboard();
    void resourceLookup_data();
    void resourceLookup();
};

// Tab goes through the inputs in the order they are filled; Enter verifies.
void TestWindow::keyboard()
{
    filehash w;
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.cbType);
    for (QWidget *next : std::initializer_list<QWidget *>{w.leOrder, w.btnChoose, w.btnCheck}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    const QString noOrder = QString::fromUtf8(u8"Quorvel订单号不能为空");
    const QString noFile = QString::fromUtf8(u8"请选择取证文件");
    struct Press {
        QWidget *target;
        Qt::Key key;
        QString order;
        QString box;
    };
    for (const Press &press : {Press{w.btnCheck, Qt::Key_Return, QString(), noOrder},
                               Press{w.btnCheck, Qt::Key_Space, QString(), noOrder},
                               Press{w.leOrder, Qt::Key_Return, QStringLiteral("QV1"), noFile},
                               Press{w.leOrder, Qt::Key_Enter, QStringLiteral("QV1"), noFile}}) {
        w.leOrder->setText(press.order);
        ModalResponder responder;
        QTest::keyClick(press.target, press.key);
        QTRY_COMPARE(responder.boxes().size(), 1);
        QCOMPARE(responder.boxes().at(0).text, press.box);
    }
}

void TestWindow::resourceLookup_data()
{
    QTest::addColumn<QString>("holding"); // which of the three folders hold the images
    QTest::addColumn<int>("found");       // -1: none
    QTest::newRow("working directory first") << "abc" << 0;
    QTest::newRow("beside the executable next") << "bc" << 1;
    QTest::newRow("installed data last") << "c" << 2;
    QTest::newRow("nowhere") << "" << -1;
}

void TestWindow::resourceLookup()
{
    QFETCH(QString, holding);
    QFETCH(int, found);
    QTemporaryDir dir;
    QStringList folders;
    for (const char *name : {"a", "b", "c"}) {
        const QString folder = dir.filePath(QString::fromLatin1(name));
        QVERIFY(QDir().mkpath(folder));
        if (holding.contains(QLatin1String(name)))
            QVERIFY(!writeTestFile(folder, QStringLiteral("bg.png"), "png").isEmpty());
        folders << folder;
    }
    QCOMPARE(findResourceFolder(folders), found < 0 ? QString() : folders.at(found));
    // The working directory's "res" first, as the window has always looked.
    QCOMPARE(resourceFolders().value(0), QStringLiteral("res"));
}

void TestWindow::slotTable()
{
    const QMetaObject &meta = filehash::staticMetaObject;
    QCOMPARE(QByteArray(meta.superClass()->className()), QByteArray("baseWnd"));
    QByteArrayList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        found << meta.method(i).methodSignature() + ' ' + meta.method(i).parameterNames().join(',');
    QCOMPARE(found, (QByteArrayList{"ClickBtnCheck() ", "ClickBtnChoose() ",
                                    "finishedPostSlot(QNetworkReply*) reply", "onTimeout() ",
                                    "onClickBtnMin() ", "onClickBtnClose() ", "onCBChanged(int) newIndex"}));
}

// The combo lists the catalogue in code order, and the type code follows it.
void TestWindow::typeCatalogue()
{
    filehash w;
    QCOMPARE(w.typeCode, 1);
    QCOMPARE(w.cbType->count(), texts::kTypeCount);
    for (int code = 1; code <= texts::kTypeCount; ++code) {
        QCOMPARE(w.cbType->itemText(code - 1), gbText(texts::kTypeNames[code - 1]));
        QCOMPARE(w.typeNames.value(code), gbText(texts::kTypeNames[code - 1]));
    }
    for (int index : {17, 15, 0}) {
        w.cbType->setCurrentIndex(index);
        QCOMPARE(w.typeCode, index + 1);
    }
}

// Widget rectangles for the 700-pixel background (M = 350).
void TestWindow::positions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("cbType") << "cbType" << QRect(220, 140, 300, 30);
    QTest::newRow("leOrder") << "leOrder" << QRect(220, 190, 300, 30);
    QTest::newRow("leFile") << "leFile" << QRect(220, 240, 300, 30);
    QTest::newRow("leHash") << "leHash" << QRect(220, 290, 100, 30);
    QTest::newRow("btnChoose") << "btnChoose" << QRect(540, 240, 100, 30);
    QTest::newRow("btnCheck") << "btnCheck" << QRect(275, 290, 150, 30);
    QTest::newRow("lePanel") << "lePanel" << QRect(60, 350, 630, 210);
    QTest::newRow("leResultTitle") << "leResultTitle" << QRect(90, 335, 100, 30);
    QTest::newRow("leApplicant") << "leApplicant" << QRect(170, 430, 300, 30);
    QTest::newRow("leTime") << "leTime" << QRect(170, 460, 300, 30);
    QTest::newRow("leLocation") << "leLocation" << QRect(170, 490, 300, 30);
    QTest::newRow("leChain") << "leChain" << QRect(170, 520, 495, 30);
    QTest::newRow("imgLogo") << "imgLogo" << QRect(15, 10, 90, 90);
    QTest::newRow("btnClose") << "btnClose" << QRect(660, 10, 30, 30);
    QTest::newRow("btnMin") << "btnMin" << QRect(615, 10, 30, 30);
    QTest::newRow("imgResult") << "imgResult" << QRect(220, 360, 40, 40);
}

void TestWindow::positions()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    filehash w;
    QCOMPARE(w.backgroundSize(), QSize(700, 600));
    QWidget *widget = w.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), w.findChild<cImg *>(QString(), Qt::FindDirectChildrenOnly));
    w.show();
    QCOMPARE(widget->geometry(), rect);
}

void TestWindow::textPositions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("right"); // where the default-font text width ends
    QTest::addColumn<int>("y");
    QTest::newRow("type caption") << "labTypeCaption" << 350 - 155 << 140;
    QTest::newRow("order caption") << "labOrderCaption" << 350 - 159 << 190;
    QTest::newRow("file caption") << "labFileCaption" << 350 - 155 << 240;
    QTest::newRow("verdict") << "labResult" << 350 + 50 << 360;
    QTest::newRow("explanation") << "labResultDesc" << 350 + 185 << 400;
    QTest::newRow("applicant") << "labApplicant" << 350 - 200 << 435;
    QTest::newRow("chain") << "labChain" << 350 - 200 << 525;
}

void TestWindow::textPositions()
{
    QFETCH(QString, name);
    QFETCH(int, right);
    QFETCH(int, y);
    filehash w;
    auto *label = w.findChild<QLabel *>(name);
    QVERIFY(label);
    // Measured in the font a new label inherits from the window, not in the label's own font.
    QLabel probe(label->parentWidget());
    const QFontMetrics inherited(probe.font());
    const int width = inherited.horizontalAdvance(label->text());
    QCOMPARE(label->pos(), QPoint(right - width, y));

    auto *title = w.findChild<QLabel *>(QStringLiteral("labTitle"));
    QVERIFY(title);
    QCOMPARE(title->text(), QString::fromUtf8(u8"电子证据验证中心"));
    const int titleWidth = inherited.horizontalAdvance(title->text());
    QCOMPARE(title->pos(), QPoint(350 - titleWidth / 2, 55 - QFontMetrics(title->font()).height() / 2));
}

void TestWindow::startupVisibility()
{
    filehash w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (QWidget *hidden : std::initializer_list<QWidget *>{w.imgResult, w.labResult, w.labResultDesc,
                                                            w.labApplicant, w.labLocation, w.labTime,
                                                            w.labChain, w.lePanel, w.leResultTitle, w.leHash})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    for (QWidget *shown : std::initializer_list<QWidget *>{w.leApplicant, w.leTime, w.leLocation, w.leChain,
                                                           w.cbType, w.leOrder, w.leFile, w.btnChoose,
                                                           w.btnCheck, w.btnClose, w.btnMin, w.imgLogo})
        QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
    for (const char *caption : {"labTitle", "labTypeCaption", "labOrderCaption", "labFileCaption"})
        QVERIFY(w.findChild<QLabel *>(QString::fromLatin1(caption))->isVisible());
    QVERIFY(w.leOrder->text().isEmpty() && w.leFile->text().isEmpty() && w.leHash->text().isEmpty());
    QVERIFY(!w.timer->isActive());
}

void TestWindow::closeQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("no keeps everything") << int(QMessageBox::No);
    QTest::newRow("yes ends the loop") << int(QMessageBox::Yes);
}

void TestWindow::closeQuestion()
{
    QFETCH(int, answer);
    filehash w;
    w.show();
    w.leOrder->setText(QStringLiteral("keep"));
    QString yesText;
    ModalResponder responder([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        yesText = box->button(QMessageBox::Yes)->text();
        responder.answerBox(box, QMessageBox::StandardButton(answer));
        QTimer::singleShot(0, &w, [] { QCoreApplication::exit(7); }); // in case nothing quits
    });
    QTimer::singleShot(0, w.btnClose, [&w] { emit w.btnClose->clicked(false); });
    QCOMPARE(QCoreApplication::exec(), answer == QMessageBox::Yes ? 0 : 7);
    QCOMPARE(responder.boxes().size(), 1);
    QCOMPARE(responder.boxes().at(0).text, QString::fromUtf8(u8"确定要退出登录么？"));
    QVERIFY(responder.boxes().at(0).parent == nullptr);
    QVERIFY2(!yesText.contains(QLatin1String("Yes")), qPrintable(yesText)); // Qt's own texts in Chinese
    QCOMPARE(w.leOrder->text(), QStringLiteral("keep"));
}

void TestWindow::minimise()
{
    filehash w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    emit w.btnMin->clicked(false);
    QTRY_VERIFY(w.isMinimized());
}

void TestWindow::startsWithoutImages()
{
    QTemporaryDir empty;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(empty.path()));
    {
        filehash w;
        w.show();
        QCOMPARE(w.size(), QSize(20, 20));
        QCOMPARE(w.backgroundSize(), QSize(0, 0));
        // Every control still exists, placed from the zero width.
        QCOMPARE(w.cbType->pos(), QPoint(-130, 140));
        w.close();
    }
    QVERIFY(QDir::setCurrent(old));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
