#include "testsupport.h"
#include "widgets/basewnd.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"
#include "widgets/hidpi.h"

#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
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
};

class TestWidgets : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void buttonStates_data();
    void buttonStates();
    void buttonPaint_data();
    void buttonPaint();
    void imageSize_data();
    void imageSize();
    void placement_data();
    void placement();
    void dragBounds_data();
    void dragBounds();
    void shadowRings();

private:
    QString image(const QString &name, int w, int h, QColor color);
    QTemporaryDir m_dir;
};

void TestWidgets::initTestCase()
{
    QVERIFY(m_dir.isValid());
    image(QStringLiteral("b.png"), 20, 10, Qt::red);
    image(QStringLiteral("b_hover.png"), 40, 20, Qt::green);
    image(QStringLiteral("b_press.png"), 10, 5, Qt::blue);
    image(QStringLiteral("i200x100.png"), 200, 100, Qt::gray);
    image(QStringLiteral("i101x51.png"), 101, 51, Qt::gray);
    image(QStringLiteral("i30x40@2x.png"), 60, 80, Qt::gray);
}

QString TestWidgets::image(const QString &name, int w, int h, QColor color)
{
    QImage picture(w, h, QImage::Format_ARGB32);
    picture.fill(color);
    const QString path = m_dir.filePath(name);
    picture.save(path);
    return path;
}

// Steps: "enter", "leave", "L@x,y" / "R@x,y" (press), "l@x,y" / "r@x,y" (release); the states after
// each step, the clicks, and whether a press is still pending.
void TestWidgets::buttonStates_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("states");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("pending");
    QTest::newRow("hover, press, release") << "enter L@5,5 l@5,5"
                                           << "1 2 1" << 1 << false;
    QTest::newRow("release outside") << "enter L@5,5 leave l@30,5"
                                     << "1 2 0 0" << 0 << true;
    QTest::newRow("right press changes nothing") << "enter R@5,5 r@5,5"
                                                 << "1 1 1" << 0 << false;
    QTest::newRow("then any release inside") << "L@5,5 l@-1,5 R@5,5 r@5,5"
                                             << "2 2 2 1" << 1 << false;
    QTest::newRow("last pixel is inside") << "L@5,5 l@19,9"
                                          << "2 1" << 1 << false;
    QTest::newRow("one past the column") << "L@5,5 l@20,5"
                                         << "2 2" << 0 << true;
    QTest::newRow("one past the row") << "L@5,5 l@5,10"
                                      << "2 2" << 0 << true;
}

void TestWidgets::buttonStates()
{
    QFETCH(QString, steps);
    QFETCH(QString, states);
    QFETCH(int, clicks);
    QFETCH(bool, pending);
    cButton button;
    button.setImage(m_dir.filePath(QStringLiteral("b")));
    QCOMPARE(button.size(), QSize(20, 10)); // the normal image decides
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QSignalSpy pressed(&button, &QAbstractButton::pressed);
    const QStringList expected = states.split(QLatin1Char(' '));
    int i = 0;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("enter") || step == QLatin1String("leave")) {
            QEvent e(step == QLatin1String("enter") ? QEvent::Enter : QEvent::Leave);
            QApplication::sendEvent(&button, &e);
        } else {
            const QStringList xy = step.mid(2).split(QLatin1Char(','));
            const QPoint pos(xy.at(0).toInt(), xy.at(1).toInt());
            const Qt::MouseButton b =
                step.at(0).toLower() == QLatin1Char('l') ? Qt::LeftButton : Qt::RightButton;
            const bool press = step.at(0).isUpper();
            QMouseEvent e(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, pos,
                          button.mapToGlobal(pos), b, press ? b : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&button, &e);
        }
        QVERIFY2(button.state == expected.at(i++).toInt(), qPrintable(step));
    }
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(button.mousePressed, pending);
    QCOMPARE(pressed.count(), 0); // the base handlers never run
}

void TestWidgets::buttonPaint_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("cursor");
    QTest::newRow("normal") << "" << 0 << QColor(Qt::red) << int(Qt::ArrowCursor);
    QTest::newRow("hover, stretched") << "" << 1 << QColor(Qt::green) << int(Qt::PointingHandCursor);
    QTest::newRow("press, stretched") << "" << 2 << QColor(Qt::blue) << int(Qt::PointingHandCursor);
    QTest::newRow("disabled paints normal") << "disabled" << 2 << QColor(Qt::red) << int(Qt::ArrowCursor);
    QTest::newRow("checked paints press") << "checked" << 0 << QColor(Qt::blue) << int(Qt::ArrowCursor);
    QTest::newRow("missing image: the line")
        << "missing" << 1 << QColor(Qt::transparent) << int(Qt::PointingHandCursor);
}

void TestWidgets::buttonPaint()
{
    QFETCH(QString, how);
    QFETCH(int, state);
    QFETCH(QColor, color);
    QFETCH(int, cursor);
    cButton button;
    const QString base =
        m_dir.filePath(how == QLatin1String("missing") ? QStringLiteral("x") : QStringLiteral("b"));
    button.setImage(base);
    button.setFixedSize(20, 10);
    button.state = state;
    button.setEnabled(how != QLatin1String("disabled"));
    button.setCheckable(how == QLatin1String("checked"));
    button.setChecked(how == QLatin1String("checked"));
    QImage shot(button.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    const QByteArray out =
        captureStdout([&] { button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren); });
    // The line names the base path, not the state's file.
    QCOMPARE(out, how == QLatin1String("missing") ? "qrdiag load pic error path:" + base.toLatin1() + '\n'
                                                  : QByteArray());
    for (const QPoint p : {QPoint(0, 0), QPoint(19, 9)})
        QCOMPARE(shot.pixelColor(p), color);
    QCOMPARE(int(button.cursor().shape()), cursor);
    QCOMPARE(button.state, how == QLatin1String("disabled") ? 0 : state);
}

void TestWidgets::imageSize_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<float>("scale");
    QTest::addColumn<qreal>("screenRatio");
    QTest::addColumn<QSize>("size");
    QTest::newRow("own size") << "i200x100.png" << 1.0f << 1.0 << QSize(200, 100);
    QTest::newRow("half") << "i200x100.png" << 0.5f << 1.0 << QSize(100, 50);
    // 101 x 51 at 0.5 targets 50 x 25; the picture is fitted inside keeping its aspect ratio.
    QTest::newRow("fractional target truncated") << "i101x51.png" << 0.5f << 1.0 << QSize(49, 25);
    QTest::newRow("missing file") << "nothing.png" << 1.0f << 1.0 << QSize(0, 0);
    // On a scaled screen the @2x picture takes the place of the 1x one, at the same size.
    QTest::newRow("@2x on a scaled screen") << "i30x40.png" << 1.0f << 2.0 << QSize(30, 40);
}

void TestWidgets::imageSize()
{
    QFETCH(QString, file);
    QFETCH(float, scale);
    QFETCH(qreal, screenRatio);
    QFETCH(QSize, size);
    qreal ratio = 0;
    const QString chosen = ::imageForRatio(m_dir.filePath(file), screenRatio, &ratio);
    QCOMPARE(ratio, chosen.contains(QLatin1String("@2x")) ? 2.0 : 1.0);
    if (screenRatio > 1) {
        QCOMPARE(QImage(chosen).size() / ratio, size);
        return;
    }
    cImg label;
    label.setImage(m_dir.filePath(file), scale);
    QCOMPARE(label.size(), size);
    QCOMPARE(label.maximumSize(), size);
    QCOMPARE(label.hasScaledContents(), scale != 1.0f);
}

void TestWidgets::placement_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("content centred") << QSize(520, 320) << QRect(0, 0, 1920, 1040) << QPoint(710, 370);
    QTest::newRow("odd remainder truncated") << QSize(520, 120) << QRect(0, 0, 999, 400) << QPoint(249, 150);
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

// A press inside the band starts a drag (edges included); moves then carry the window.
void TestWidgets::dragBounds_data()
{
    QTest::addColumn<QPoint>("pos"); // relative to the window's top-left corner
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("drags");
    QTest::newRow("top-left corner") << QPoint(10, 10) << int(Qt::LeftButton) << true;
    QTest::newRow("bottom-right, inclusive") << QPoint(510, 120) << int(Qt::LeftButton) << true;
    QTest::newRow("right of the band") << QPoint(511, 120) << int(Qt::LeftButton) << false;
    QTest::newRow("below the band") << QPoint(510, 121) << int(Qt::LeftButton) << false;
    QTest::newRow("in the shadow") << QPoint(9, 50) << int(Qt::LeftButton) << false;
    QTest::newRow("right button") << QPoint(100, 50) << int(Qt::RightButton) << false;
}

void TestWidgets::dragBounds()
{
    QFETCH(QPoint, pos);
    QFETCH(int, button);
    QFETCH(bool, drags);
    ProbeWnd wnd;
    wnd.setBackground(image(QStringLiteral("bg.png"), 500, 300, Qt::white).toUtf8().constData());
    QCOMPARE(wnd.imgBg->geometry(), QRect(10, 10, 500, 300));
    QCOMPARE(wnd.size(), QSize(520, 320));
    wnd.setDragArea(0, 0, 500, 110);
    const QPoint origin = wnd.frameGeometry().topLeft();
    auto mouse = [&](QEvent::Type type, Qt::MouseButton b, QPoint offset) {
        QMouseEvent e(type, offset, origin + offset, b, type == QEvent::MouseMove ? Qt::LeftButton : b,
                      Qt::NoModifier);
        QApplication::sendEvent(&wnd, &e);
    };
    mouse(QEvent::MouseButtonPress, Qt::MouseButton(button), pos);
    QCOMPARE(wnd.dragging, drags);
    mouse(QEvent::MouseMove, Qt::NoButton, pos + QPoint(30, 40));
    QCOMPARE(wnd.frameGeometry().topLeft(), drags ? origin + QPoint(30, 40) : origin);
    // Another button's release does not end a drag; the left one does.
    mouse(QEvent::MouseButtonRelease, Qt::RightButton, pos);
    QCOMPARE(wnd.dragging, drags);
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, pos);
    QVERIFY(!wnd.dragging);
}

void TestWidgets::shadowRings()
{
    ProbeWnd wnd;
    wnd.resize(200, 100);
    QImage shot(wnd.size(), QImage::Format_ARGB32);
    shot.fill(Qt::transparent);
    wnd.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
    // Ring i (alpha below) is stroked at inset 10 - i with an antialiased one-pixel pen, half on each
    // pixel beside its line: column k is covered half by ring inset k + 1 and half by ring inset k.
    const int ringAlpha[10] = {150, 100, 79, 63, 50, 38, 27, 17, 8, 0};
    auto ring = [&](int inset) { return inset >= 1 && inset <= 10 ? ringAlpha[10 - inset] / 255.0 : 0.0; };
    const int y = shot.height() / 2;
    for (int k = 0; k < 10; ++k) {
        const double under = ring(k + 1) / 2, over = ring(k) / 2;
        const int expected = qRound((over + under * (1 - over)) * 255);
        QVERIFY2(qAbs(qAlpha(shot.pixel(k, y)) - expected) <= 3, qPrintable(QString::number(k)));
        QVERIFY2(qAbs(qAlpha(shot.pixel(shot.width() - 1 - k, y)) - expected) <= 3,
                 qPrintable(QString::number(k)));
    }
    QCOMPARE(qAlpha(shot.pixel(100, 50)), 0); // nothing inside the rings
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
