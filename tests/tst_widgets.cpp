#include "testsupport.h"
#include "widgets/basewnd.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"

#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Exposes the base window's drag state to the test.
class ProbeWnd : public baseWnd
{
public:
    using baseWnd::dragging;
    using baseWnd::imgBg;
    using baseWnd::shadowWidth;
};

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void buttonStates_data();
    void buttonStates();
    void buttonPaintsImageOfState_data();
    void buttonPaintsImageOfState();
    void disabledButtonPaintsNormal();
    void buttonLoadFailureNamesBase();
    void buttonSizeFromNormalImage();
    void checkedButtonShowsPressImage();

    void imageSize_data();
    void imageSize();
    void imageReplaced();

    void windowGeometry_data();
    void windowGeometry();
    void placement_data();
    void placement();
    void dragBounds_data();
    void dragBounds();
    void dragMovesAndEnds();
    void shadowRings();

private:
    QString writeImage(const QString &name, int w, int h, QColor color);
    QTemporaryDir m_dir;
};

void TestWidgets::initTestCase()
{
    QVERIFY(m_dir.isValid());
    writeImage(QStringLiteral("b.png"), 20, 10, Qt::red);
    writeImage(QStringLiteral("b_hover.png"), 40, 20, Qt::green);
    writeImage(QStringLiteral("b_press.png"), 10, 5, Qt::blue);
    writeImage(QStringLiteral("i200x100.png"), 200, 100, Qt::gray);
    writeImage(QStringLiteral("i101x51.png"), 101, 51, Qt::gray);
    writeImage(QStringLiteral("i30x40.png"), 30, 40, Qt::gray);
}

QString TestWidgets::writeImage(const QString &name, int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    const QString path = m_dir.filePath(name);
    image.save(path);
    return path;
}

static void send(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint pos)
{
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Steps: "enter", "leave", "L@x,y" / "R@x,y" (press), "l@x,y" / "r@x,y" (release).
void TestWidgets::buttonStates_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("states"); // state after each step
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("pressedAfter");

    QTest::newRow("hover press release inside") << "enter L@5,5 l@5,5"
                                                << "1 2 1" << 1 << false;
    QTest::newRow("release outside") << "enter L@5,5 leave l@30,5"
                                     << "1 2 0 0" << 0 << true;
    QTest::newRow("right press changes nothing") << "enter R@5,5 r@5,5"
                                                 << "1 1 1" << 0 << false;
    QTest::newRow("outside then right release inside") << "L@5,5 l@-1,5 R@5,5 r@5,5"
                                                       << "2 2 2 1" << 1 << false;
    QTest::newRow("release on last column") << "L@5,5 l@19,5"
                                            << "2 1" << 1 << false;
    QTest::newRow("release on last row") << "L@5,5 l@5,9"
                                         << "2 1" << 1 << false;
    QTest::newRow("release just beyond column") << "L@5,5 l@20,5"
                                                << "2 2" << 0 << true;
    QTest::newRow("release just beyond row") << "L@5,5 l@5,10"
                                             << "2 2" << 0 << true;
    QTest::newRow("release without press") << "enter l@5,5"
                                           << "1 1" << 0 << false;
    QTest::newRow("two clicks") << "L@1,1 l@1,1 L@2,2 l@0,0"
                                << "2 1 2 1" << 2 << false;
}

void TestWidgets::buttonStates()
{
    QFETCH(QString, steps);
    QFETCH(QString, states);
    QFETCH(int, clicks);
    QFETCH(bool, pressedAfter);

    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    QCOMPARE(button.size(), QSize(20, 10));
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QSignalSpy pressed(&button, &QAbstractButton::pressed);
    QSignalSpy released(&button, &QAbstractButton::released);

    const QStringList stepList = steps.split(QLatin1Char(' '));
    const QStringList expected = states.split(QLatin1Char(' '));
    QCOMPARE(stepList.size(), expected.size());
    for (int i = 0; i < stepList.size(); ++i) {
        const QString step = stepList.at(i);
        if (step == QLatin1String("enter")) {
            QEvent e(QEvent::Enter);
            QApplication::sendEvent(&button, &e);
        } else if (step == QLatin1String("leave")) {
            QEvent e(QEvent::Leave);
            QApplication::sendEvent(&button, &e);
        } else {
            const QStringList xy = step.mid(2).split(QLatin1Char(','));
            const QPoint pos(xy.at(0).toInt(), xy.at(1).toInt());
            const QChar kind = step.at(0);
            const Qt::MouseButton b = kind.toLower() == QLatin1Char('l') ? Qt::LeftButton : Qt::RightButton;
            send(&button, kind.isUpper() ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, b, pos);
        }
        QVERIFY2(button.state == expected.at(i).toInt(),
                 qPrintable(QStringLiteral("after %1: state %2").arg(step).arg(button.state)));
    }
    QCOMPARE(clicked.count(), clicks);
    for (const QList<QVariant> &args : clicked)
        QCOMPARE(args.at(0).toBool(), false);
    QCOMPARE(button.mousePressed, pressedAfter);
    // The base handlers never run: no down state, no pressed/released signals.
    QCOMPARE(pressed.count(), 0);
    QCOMPARE(released.count(), 0);
    QVERIFY(!button.isDown());
}

void TestWidgets::buttonPaintsImageOfState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("cursor");
    QTest::newRow("normal") << 0 << QColor(Qt::red) << int(Qt::ArrowCursor);
    QTest::newRow("hover, stretched from 40x20") << 1 << QColor(Qt::green) << int(Qt::PointingHandCursor);
    QTest::newRow("press, stretched from 10x5") << 2 << QColor(Qt::blue) << int(Qt::PointingHandCursor);
}

void TestWidgets::buttonPaintsImageOfState()
{
    QFETCH(int, state);
    QFETCH(QColor, color);
    QFETCH(int, cursor);
    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    button.state = state;
    const QImage shot = button.grab().toImage();
    QCOMPARE(shot.size(), QSize(20, 10));
    for (const QPoint p : {QPoint(0, 0), QPoint(19, 9), QPoint(10, 5)})
        QCOMPARE(shot.pixelColor(p), color);
    QCOMPARE(int(button.cursor().shape()), cursor);
}

void TestWidgets::disabledButtonPaintsNormal()
{
    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&button, &enter);
    send(&button, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(3, 3));
    QCOMPARE(button.state, 2);
    button.setEnabled(false);
    const QImage shot = button.grab().toImage();
    QCOMPARE(shot.pixelColor(10, 5), QColor(Qt::red));
    QCOMPARE(button.state, 0);
    QCOMPARE(button.cursor().shape(), Qt::ArrowCursor);
}

void TestWidgets::buttonLoadFailureNamesBase()
{
    const QString base = m_dir.filePath(QStringLiteral("missing"));
    cButton button;
    button.setImage(base);
    QCOMPARE(button.size(), QSize(0, 0));
    button.setFixedSize(40, 20);
    button.setText(QStringLiteral("X"));
    for (int state : {0, 1, 2}) {
        button.state = state;
        QImage shot(button.size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        const QByteArray out =
            captureStdout([&] { button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren); });
        QCOMPARE(out, QByteArray("qrdiag load pic error path:") + base.toLatin1() + '\n');
        // The text is still drawn, centred.
        bool inked = false;
        for (int x = 10; x < 30 && !inked; ++x)
            for (int y = 2; y < 18 && !inked; ++y)
                inked = qAlpha(shot.pixel(x, y)) > 0;
        QVERIFY(inked);
        QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
    }
}

void TestWidgets::buttonSizeFromNormalImage()
{
    // Hover and press images of other sizes do not decide the size.
    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    QCOMPARE(button.minimumSize(), QSize(20, 10));
    QCOMPARE(button.maximumSize(), QSize(20, 10));
}

void TestWidgets::checkedButtonShowsPressImage()
{
    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    button.setCheckable(true);
    button.setChecked(true);
    QVERIFY(button.checkedFlag);
    QCOMPARE(button.grab().toImage().pixelColor(10, 5), QColor(Qt::blue));
    button.setChecked(false);
    QVERIFY(!button.checkedFlag);
    QCOMPARE(button.grab().toImage().pixelColor(10, 5), QColor(Qt::red));
}

void TestWidgets::imageSize_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("scaledContents");
    QTest::newRow("own size") << "i200x100.png" << 1.0f << QSize(200, 100) << false;
    QTest::newRow("half") << "i200x100.png" << 0.5f << QSize(100, 50) << true;
    // 101 x 51 at 0.5 targets 50 x 25; the picture is fitted inside keeping its aspect ratio.
    QTest::newRow("fractional target truncated") << "i101x51.png" << 0.5f << QSize(49, 25) << true;
    QTest::newRow("missing file") << "nothing.png" << 1.0f << QSize(0, 0) << false;
}

void TestWidgets::imageSize()
{
    QFETCH(QString, file);
    QFETCH(float, scale);
    QFETCH(QSize, size);
    QFETCH(bool, scaledContents);
    cImg label;
    label.setImage(m_dir.filePath(file), scale);
    QCOMPARE(label.size(), size);
    QCOMPARE(label.minimumSize(), size);
    QCOMPARE(label.maximumSize(), size);
    QCOMPARE(label.hasScaledContents(), scaledContents);
    QCOMPARE(label.imagePath, m_dir.filePath(file));
}

void TestWidgets::imageReplaced()
{
    QWidget parent;
    cImg label(&parent);
    label.move(7, 9);
    label.setImage(m_dir.filePath(QStringLiteral("i200x100.png")), 0.5f);
    label.setImage(m_dir.filePath(QStringLiteral("i30x40.png")), 1.0f);
    QCOMPARE(label.size(), QSize(30, 40));
    QCOMPARE(label.pixmap()->size(), QSize(30, 40));
    QCOMPARE(label.pos(), QPoint(7, 9));
    QVERIFY(label.hasScaledContents()); // never turned off again
    QVERIFY(label.isHidden() || !parent.isVisible());
}

void TestWidgets::windowGeometry_data()
{
    const QSize available = QGuiApplication::primaryScreen()->availableGeometry().size();
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("centred by image size")
        << QSize(500, 300) << QRect((available.width() - 500) / 2, (available.height() - 300) / 2, 520, 320);
    // Kept on screen: the title band and the buttons stay reachable.
    const int over = available.width() + 401;
    QTest::newRow("wider than the screen")
        << QSize(over, 100) << QRect(0, (available.height() - 100) / 2, over + 20, 120);
    const int odd = available.width() - 499;
    QTest::newRow("odd remainder") << QSize(odd, 100)
                                   << QRect(249, (available.height() - 100) / 2, odd + 20, 120);
    QTest::newRow("missing image") << QSize(0, 0)
                                   << QRect(available.width() / 2, available.height() / 2, 20, 20);
}

void TestWidgets::placement_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("content centred") << QSize(520, 320) << QRect(0, 0, 1920, 1040) << QPoint(710, 370);
    QTest::newRow("area with an origin") << QSize(520, 320) << QRect(100, 50, 800, 600) << QPoint(250, 200);
    QTest::newRow("shadow past the edge") << QSize(520, 320) << QRect(0, 0, 500, 300) << QPoint(0, 0);
    QTest::newRow("1024 x 600 at 200 %") << QSize(720, 620) << QRect(0, 0, 512, 300) << QPoint(0, 0);
    QTest::newRow("taller only") << QSize(520, 900) << QRect(0, 24, 1366, 744) << QPoint(433, 24);
}

void TestWidgets::placement()
{
    QFETCH(QSize, window);
    QFETCH(QRect, available);
    QFETCH(QPoint, position);
    QCOMPARE(placeWindow(window, 10, available), position);
}

void TestWidgets::windowGeometry()
{
    QFETCH(QSize, image);
    QFETCH(QRect, geometry);
    QString path = m_dir.filePath(QStringLiteral("missing-bg.png"));
    if (!image.isEmpty())
        path = writeImage(QStringLiteral("bg-%1x%2.png").arg(image.width()).arg(image.height()),
                          image.width(), image.height(), Qt::white);
    ProbeWnd wnd;
    QVERIFY(wnd.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(wnd.testAttribute(Qt::WA_TranslucentBackground));
    wnd.setBackground(path.toUtf8().constData());
    QCOMPARE(wnd.geometry(), geometry);
    QVERIFY(wnd.imgBg);
    QCOMPARE(wnd.imgBg->pos(), QPoint(10, 10));
    QCOMPARE(wnd.imgBg->size(), image);
    QCOMPARE(wnd.backgroundSize(), image);
    // A second call reuses the label.
    cImg *first = wnd.imgBg;
    wnd.setBackground(path.toUtf8().constData());
    QCOMPARE(wnd.imgBg, first);
    QCOMPARE(wnd.geometry(), geometry);
}

void TestWidgets::dragBounds_data()
{
    QTest::addColumn<QPoint>("pos"); // relative to the window's top-left corner
    QTest::addColumn<int>("buttonCode");
    QTest::addColumn<bool>("drags");
    QTest::newRow("top-left corner") << QPoint(10, 10) << int(Qt::LeftButton) << true;
    QTest::newRow("bottom-right, inclusive") << QPoint(510, 120) << int(Qt::LeftButton) << true;
    QTest::newRow("right of the area") << QPoint(511, 120) << int(Qt::LeftButton) << false;
    QTest::newRow("below the area") << QPoint(510, 121) << int(Qt::LeftButton) << false;
    QTest::newRow("left of the area") << QPoint(9, 50) << int(Qt::LeftButton) << false;
    QTest::newRow("above the area") << QPoint(50, 9) << int(Qt::LeftButton) << false;
    QTest::newRow("right button inside") << QPoint(100, 50) << int(Qt::RightButton) << false;
}

void TestWidgets::dragBounds()
{
    QFETCH(QPoint, pos);
    QFETCH(int, buttonCode);
    const auto button = static_cast<Qt::MouseButton>(buttonCode);
    QFETCH(bool, drags);
    ProbeWnd wnd;
    wnd.setBackground(writeImage(QStringLiteral("bg500.png"), 500, 300, Qt::white).toUtf8().constData());
    wnd.setDragArea(0, 0, 500, 110);
    const QPoint origin = wnd.frameGeometry().topLeft();
    QMouseEvent press(QEvent::MouseButtonPress, pos, origin + pos, button, button, Qt::NoModifier);
    QApplication::sendEvent(&wnd, &press);
    QCOMPARE(wnd.dragging, drags);
    // Moves without a held button only reach widgets that track the mouse.
    QMouseEvent move(QEvent::MouseMove, pos, origin + pos + QPoint(30, 40), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&wnd, &move);
    QCOMPARE(wnd.frameGeometry().topLeft(), drags ? origin + QPoint(30, 40) : origin);
}

void TestWidgets::dragMovesAndEnds()
{
    ProbeWnd wnd;
    wnd.setBackground(writeImage(QStringLiteral("bg500.png"), 500, 300, Qt::white).toUtf8().constData());
    wnd.setDragArea(0, 0, 500, 110);
    const QPoint origin = wnd.frameGeometry().topLeft();
    auto mouse = [&](QEvent::Type type, Qt::MouseButton button, QPoint global) {
        QMouseEvent e(type, global - wnd.frameGeometry().topLeft(), global, button,
                      type == QEvent::MouseMove ? Qt::LeftButton : button, Qt::NoModifier);
        QApplication::sendEvent(&wnd, &e);
    };
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, origin + QPoint(100, 50));
    mouse(QEvent::MouseMove, Qt::NoButton, origin + QPoint(90, 45));
    QCOMPARE(wnd.frameGeometry().topLeft(), origin + QPoint(-10, -5));
    // Another button's release does not end the drag.
    mouse(QEvent::MouseButtonRelease, Qt::RightButton, origin + QPoint(90, 45));
    QVERIFY(wnd.dragging);
    mouse(QEvent::MouseMove, Qt::NoButton, origin + QPoint(120, 60));
    QCOMPARE(wnd.frameGeometry().topLeft(), origin + QPoint(20, 10));
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, origin + QPoint(500, 500));
    QVERIFY(!wnd.dragging);
    const QPoint rest = wnd.frameGeometry().topLeft();
    mouse(QEvent::MouseMove, Qt::NoButton, rest + QPoint(200, 200));
    QCOMPARE(wnd.frameGeometry().topLeft(), rest);
}

void TestWidgets::shadowRings()
{
    ProbeWnd wnd;
    wnd.resize(200, 100);
    QImage shot(wnd.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    wnd.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    // Ring i (alpha below) is stroked at inset 10 - i with an antialiased one-pixel pen, so it
    // lands half on each of the two pixels beside its line; pixel column k is covered half by
    // ring inset k + 1 (drawn first) and half by ring inset k.
    const int ringAlpha[10] = {150, 100, 79, 63, 50, 38, 27, 17, 8, 0};
    auto ring = [&](int inset) { return inset >= 1 && inset <= 10 ? ringAlpha[10 - inset] / 255.0 : 0.0; };
    const int y = shot.height() / 2;
    for (int k = 0; k < 10; ++k) {
        const double under = ring(k + 1) / 2, over = ring(k) / 2;
        const int expected = qRound((over + under * (1 - over)) * 255);
        const int left = qAlpha(shot.pixel(k, y));
        const int right = qAlpha(shot.pixel(shot.width() - 1 - k, y));
        QVERIFY2(qAbs(left - expected) <= 3,
                 qPrintable(QStringLiteral("column %1: %2, expected %3").arg(k).arg(left).arg(expected)));
        QVERIFY2(qAbs(right - expected) <= 3, qPrintable(QStringLiteral("column -%1: %2").arg(k).arg(right)));
        QCOMPARE(qRed(shot.pixel(k, y)), 0);
    }
    // The outermost pixel ring carries only the faint half of the inset-1 ring (alpha 8).
    QVERIFY(qAlpha(shot.pixel(0, y)) <= 5);
    // Inside the rings nothing is painted.
    QCOMPARE(qAlpha(shot.pixel(100, 50)), 0);
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
