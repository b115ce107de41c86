#include "app/filehash.h"
#include "app/resources.h"
#include "app/startup.h"
#include "testconfig.h"
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
#include <QMetaMethod>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { closeAllModals(); }

    void slotTable();
    void typeCodeFollowsCombo_data();
    void typeCodeFollowsCombo();
    void comboListsTypesInCodeOrder();
    void positions_data();
    void positions();
    void textPositions_data();
    void textPositions();
    void fonts_data();
    void fonts();
    void looks();
    void focusPolicies();
    void startupVisibility();
    void stackingOrder();
    void closeQuestionNo();
    void closeQuestionYesEndsLoop();
    void minimise();
    void startsWithoutImages();
    void executableIgnoresArguments();
    void keyboard();
    void resourceLookup_data();
    void resourceLookup();
    void qtSpeaksChinese();
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

void TestWindow::qtSpeaksChinese()
{
    QVERIFY(installQtTranslations(qApp));
    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::No);
    QVERIFY2(!box.button(QMessageBox::Yes)->text().contains(QLatin1String("Yes")),
             qPrintable(box.button(QMessageBox::Yes)->text()));
}

void TestWindow::slotTable()
{
    const QMetaObject &meta = filehash::staticMetaObject;
    QCOMPARE(QByteArray(meta.className()), QByteArray("filehash"));
    QCOMPARE(QByteArray(meta.superClass()->className()), QByteArray("baseWnd"));
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 7);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    const char *signatures[] = {"ClickBtnCheck()", "ClickBtnChoose()", "finishedPostSlot(QNetworkReply*)",
                                "onTimeout()",     "onClickBtnMin()",  "onClickBtnClose()",
                                "onCBChanged(int)"};
    for (int i = 0; i < 7; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(signatures[i]));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(QByteArray(method.typeName()), QByteArray("void"));
    }
    QCOMPARE(meta.method(meta.methodOffset() + 2).parameterNames(), QList<QByteArray>{"reply"});
    QCOMPARE(meta.method(meta.methodOffset() + 6).parameterNames(), QList<QByteArray>{"newIndex"});
    QCOMPARE(QByteArray(baseWnd::staticMetaObject.className()), QByteArray("baseWnd"));
    QCOMPARE(baseWnd::staticMetaObject.methodCount(), QMainWindow::staticMetaObject.methodCount());
}

void TestWindow::typeCodeFollowsCombo_data()
{
    QTest::addColumn<QList<int>>("indexes");
    QTest::addColumn<int>("typeCode");
    QTest::newRow("at start") << QList<int>() << 1;
    QTest::newRow("last type") << QList<int>{17} << 18;
    QTest::newRow("online documents") << QList<int>{15} << 16;
    QTest::newRow("back to the first") << QList<int>{17, 0} << 1;
}

void TestWindow::typeCodeFollowsCombo()
{
    QFETCH(QList<int>, indexes);
    QFETCH(int, typeCode);
    filehash w;
    for (int index : indexes)
        w.cbType->setCurrentIndex(index);
    QCOMPARE(w.typeCode, typeCode);
    QCOMPARE(w.cbType->currentIndex(), typeCode - 1);
}

void TestWindow::comboListsTypesInCodeOrder()
{
    const char *names[] = {u8"电子文书",     u8"邮件存证",     u8"权属登记",     u8"在线签约",
                           u8"录音存证",     u8"录像存证",     u8"委托取证",     u8"照片存证",
                           u8"网页存证",     u8"录屏存证",     u8"聊天存证",     u8"本地视频存证",
                           u8"本地录屏存证", u8"网页录屏存证", u8"授权委托存证", u8"线上电子文书存证",
                           u8"遗嘱公证",     u8"自书遗嘱"};
    filehash w;
    QCOMPARE(w.cbType->count(), 18);
    QCOMPARE(w.typeNames.size(), 18);
    for (int i = 0; i < 18; ++i) {
        QCOMPARE(w.cbType->itemText(i), QString::fromUtf8(names[i]));
        QCOMPARE(w.typeNames.value(i + 1), QString::fromUtf8(names[i]));
        QVERIFY(!w.cbType->itemData(i).isValid());
        QVERIFY(w.cbType->itemIcon(i).isNull());
    }
    QCOMPARE(w.cbType->currentText(), QString::fromUtf8(u8"电子文书"));
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
    QTest::newRow("location") << "labLocation" << 350 - 200 << 495;
    QTest::newRow("time") << "labTime" << 350 - 200 << 465;
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

void TestWindow::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pointSize");
    for (const char *n : {"cbType", "leOrder", "leFile", "leResultTitle", "leApplicant", "leTime",
                          "leLocation", "leChain", "labApplicant", "labLocation", "labTime", "labChain"})
        QTest::newRow(n) << QString::fromLatin1(n) << 10;
    for (const char *n : {"labTypeCaption", "labOrderCaption", "labFileCaption", "labResultDesc"})
        QTest::newRow(n) << QString::fromLatin1(n) << 12;
    for (const char *n : {"labTitle", "labResult"})
        QTest::newRow(n) << QString::fromLatin1(n) << 16;
}

void TestWindow::fonts()
{
    QFETCH(QString, name);
    QFETCH(int, pointSize);
    filehash w;
    QWidget *widget = w.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().family(), QStringLiteral("Microsoft YaHei"));
    QCOMPARE(widget->font().pointSize(), pointSize);
    QVERIFY(!widget->font().italic());
    QCOMPARE(widget->font().weight(), int(QFont::Normal));
}

void TestWindow::looks()
{
    filehash w;
    QCOMPARE(w.btnCheck->text(), QString::fromUtf8(u8"点击验证"));
    QCOMPARE(w.btnCheck->styleSheet(),
             QStringLiteral("QPushButton{background-color: rgb(30, 144, 255);color:white}"
                            "QPushButton:focus{border:2px solid rgb(10, 38, 92)}"));
    QCOMPARE(w.btnChoose->text(), QString::fromUtf8(u8"请选择文件"));
    QCOMPARE(w.btnChoose->font(), QApplication::font());
    QCOMPARE(w.labResult->text(), QString::fromUtf8(u8"该电子证据已通过验证"));
    QCOMPARE(w.labResult->styleSheet(), QStringLiteral("color:green"));
    QCOMPARE(w.labResultDesc->styleSheet(), QStringLiteral("color:green"));
    QCOMPARE(w.leApplicant->styleSheet(), QStringLiteral("QLineEdit{border-width:0;border-style:outset}"));
    QCOMPARE(w.leResultTitle->text(), QString());
    auto *title = w.findChild<QLabel *>(QStringLiteral("labTitle"));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(title->palette().color(group, QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(w.styleSheet(), QString());
    QCOMPARE(w.windowTitle(), QString());
    QCOMPARE(w.imgResult->imagePath, QStringLiteral("res/dui.png"));
    QCOMPARE(w.imgLogo->pos(), QPoint(15, 10));
    QVERIFY(!w.imgResult->size().isEmpty());
    // The window controls at the top right: close 10 px from the edge, minimise 15 px left of it.
    QVERIFY(!w.btnClose->size().isEmpty());
    QCOMPARE(w.btnClose->pos(), QPoint(700 - 10 - w.btnClose->width(), 10));
    QCOMPARE(w.btnMin->pos(), QPoint(w.btnClose->x() - 15 - w.btnMin->width(), 10));
    QCOMPARE(w.size(), QSize(720, 620));
}

void TestWindow::focusPolicies()
{
    filehash w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (QLineEdit *e :
         {w.leFile, w.leApplicant, w.leTime, w.leLocation, w.leChain, w.lePanel, w.leResultTitle})
        QCOMPARE(e->focusPolicy(), Qt::NoFocus);
    QTest::mouseClick(w.leFile, Qt::LeftButton);
    QVERIFY(!w.leFile->hasFocus());
    QTest::mouseClick(w.leApplicant, Qt::LeftButton);
    QVERIFY(!w.leApplicant->hasFocus());
    QTest::mouseClick(w.leOrder, Qt::LeftButton);
    QTRY_VERIFY(w.leOrder->hasFocus());
    QTest::keyClicks(w.leOrder, QStringLiteral("QV123"));
    QCOMPARE(w.leOrder->text(), QStringLiteral("QV123"));
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

void TestWindow::stackingOrder()
{
    filehash w;
    QWidget *bg = w.btnClose->parentWidget();
    QStringList order;
    for (QObject *child : bg->children())
        if (child->isWidgetType())
            order << child->objectName();
    const QStringList panel =
        QStringLiteral("lePanel leResultTitle leApplicant leTime leLocation leChain labResult "
                       "labResultDesc labApplicant labLocation labTime labChain imgResult")
            .split(QLatin1Char(' '));
    QCOMPARE(order.mid(order.size() - panel.size()), panel);
    QCOMPARE(order.mid(0, 3), QStringLiteral("btnClose btnMin imgLogo").split(QLatin1Char(' ')));
    QVERIFY(order.indexOf(QStringLiteral("labTitle")) < order.indexOf(QStringLiteral("lePanel")));
}

void TestWindow::closeQuestionNo()
{
    filehash w;
    w.show();
    w.cbType->setCurrentIndex(4);
    w.leOrder->setText(QStringLiteral("keep"));
    ModalResponder responder(QMessageBox::No);
    QTimer::singleShot(0, w.btnClose, [&w] { emit w.btnClose->clicked(false); });
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        QTRY_COMPARE(responder.boxes().size(), 1);
        loop.quit();
    });
    loop.exec();
    const SeenBox box = responder.boxes().value(0);
    QCOMPARE(box.title, QString::fromUtf8(u8"信息"));
    QCOMPARE(box.text, QString::fromUtf8(u8"确定要退出登录么？"));
    QVERIFY(box.parent == nullptr);
    QVERIFY(w.isVisible());
    QCOMPARE(w.typeCode, 5);
    QCOMPARE(w.leOrder->text(), QStringLiteral("keep"));
}

void TestWindow::closeQuestionYesEndsLoop()
{
    filehash w;
    w.show();
    ModalResponder responder(QMessageBox::Yes);
    QTimer::singleShot(0, w.btnClose, [&w] { emit w.btnClose->clicked(false); });
    // A bound in case the question never ends the loop.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(responder.boxes().size(), 1);
}

void TestWindow::minimise()
{
    filehash w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    emit w.btnMin->clicked(false);
    QTRY_VERIFY(w.isMinimized());
    w.showNormal();
    QTRY_VERIFY(!w.isMinimized());
    QCOMPARE(w.size(), QSize(720, 620));
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
        QCOMPARE(w.btnClose->size(), QSize(0, 0));
        QCOMPARE(w.imgLogo->size(), QSize(0, 0));
        // Every control still exists, placed from the zero width.
        QCOMPARE(w.cbType->pos(), QPoint(-130, 140));
        w.close();
    }
    QVERIFY(QDir::setCurrent(old));
}

void TestWindow::executableIgnoresArguments()
{
    QProcess app;
    app.setWorkingDirectory(QStringLiteral(FILEHASH_BINARY_DIR));
    app.start(
        QStringLiteral(FILEHASH_BINARY_DIR "/filehash"),
        {QStringLiteral("--order"), QStringLiteral("x"), QStringLiteral("-v"), QString::fromUtf8(u8"你")});
    QVERIFY(app.waitForStarted(10000));
    QVERIFY(!app.waitForFinished(1500)); // still running: the arguments were not taken as anything
    app.kill();
    QVERIFY(app.waitForFinished(10000));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
