#include "widgets/basewnd.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"
#include "widgets/hidpi.h"

#include <QtTest>

// A screen scaled 2x, as on a high-density display: set before the application starts.
[[maybe_unused]] static const bool kScaled = qputenv("QT_SCALE_FACTOR", "2");

class TestWidgets : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString image(const QString &name, int w, int h, QColor color)
    {
        QImage picture(w, h, QImage::Format_ARGB32);
        picture.fill(color);
        return picture.save(m_dir.filePath(name)) ? m_dir.filePath(name) : QString();
    }

private slots:
    void initTestCase()
    {
        image(QStringLiteral("b.png"), 20, 10, Qt::red);
        image(QStringLiteral("b_hover.png"), 40, 20, Qt::green);
        image(QStringLiteral("b_press.png"), 10, 5, Qt::blue);
        image(QStringLiteral("only@2x.png"), 60, 80, Qt::gray);
    }

    // The data tag holds the steps: "enter", "leave", "L@x,y" / "R@x,y" (upper case: press), "l@x,y" /
    // "r@x,y" (release); then the states after each step, the clicks, and the picture drawn at the end.
    void button_data()
    {
        QTest::addColumn<QByteArray>("states");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QColor>("color");
        QTest::newRow("L@5,5 l@19,9") << QByteArray("2 1") << 1 << QColor(Qt::green);
        QTest::newRow("L@5,5 l@20,5") << QByteArray("2 2") << 0 << QColor(Qt::blue); // released outside
        QTest::newRow("enter L@5,5 leave l@30,5") << QByteArray("1 2 0 0") << 0 << QColor(Qt::red);
        QTest::newRow("enter R@5,5 r@5,5") << QByteArray("1 1 1") << 0 << QColor(Qt::green); // right: nothing
        // A left press released outside stays pending: a later release inside, of either button, clicks.
        QTest::newRow("L@5,5 l@-1,5 R@5,5 r@5,5") << QByteArray("2 2 2 1") << 1 << QColor(Qt::green);
    }
    void button()
    {
        QFETCH(QByteArray, states);
        QFETCH(int, clicks);
        QFETCH(QColor, color);
        cButton button;
        button.setImage(m_dir.filePath(QStringLiteral("b")));
        QCOMPARE(button.size(), QSize(20, 10)); // the normal image decides
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        QByteArrayList seen;
        for (const QByteArray &step : QByteArray(QTest::currentDataTag()).split(' ')) {
            const QByteArrayList xy = step.mid(2).split(',');
            const QPoint pos(xy.value(0).toInt(), xy.value(1).toInt());
            const Qt::MouseButton b = step.toUpper()[0] == 'L' ? Qt::LeftButton : Qt::RightButton;
            const auto type = step[0] < 'a' ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease;
            QMouseEvent click(type, pos, button.mapToGlobal(pos), b, b, Qt::NoModifier);
            QEvent crossing(step == "enter" ? QEvent::Enter : QEvent::Leave);
            QApplication::sendEvent(&button, step.contains('@') ? &click : &crossing);
            seen << QByteArray::number(button.state);
        }
        QCOMPARE(seen.join(' '), states);
        QCOMPARE(clicked.count(), clicks);
        const QImage shot = button.grab().toImage(); // the picture is stretched over the whole button
        QCOMPARE(shot.pixelColor(shot.width() - 1, shot.height() - 1), color);
        QCOMPARE(button.cursor().shape() == Qt::PointingHandCursor, color != QColor(Qt::red)); // hover, press
    }

    void imageSize_data()
    {
        QTest::addColumn<float>("scale"); // the data tag is the file
        QTest::addColumn<QSize>("size");
        QTest::newRow("b.png") << 0.5f << QSize(10, 5);
        QTest::newRow("nothing.png") << 1.0f << QSize(0, 0);
        QTest::newRow("only.png") << 1.0f << QSize(30, 40); // only an @2x picture, drawn at the 1x size
    }
    void imageSize()
    {
        QFETCH(float, scale);
        QFETCH(QSize, size);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        cImg label;
        label.setImage(path, scale);
        QCOMPARE(label.size(), size);
        qreal ratio = 0;
        QCOMPARE(imageForRatio(path, 1.0, &ratio), path); // an unscaled screen draws the 1x picture
    }

    void placement_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("odd remainder") << QSize(520, 120) << QRect(0, 0, 999, 400) << QPoint(249, 150);
        QTest::newRow("offset area") << QSize(520, 320) << QRect(100, 50, 800, 600) << QPoint(250, 200);
        QTest::newRow("shadow past the edge") << QSize(520, 320) << QRect(0, 0, 500, 300) << QPoint(0, 0);
        QTest::newRow("taller only") << QSize(520, 900) << QRect(0, 24, 1366, 744) << QPoint(433, 24);
    }
    void placement()
    {
        QFETCH(QSize, window);
        QFETCH(QRect, available);
        QFETCH(QPoint, position);
        QCOMPARE(placeWindow(window, 10, available), position);
    }

    // A left press inside the band starts a drag (edges included); moves then carry the window.
    void dragBounds_data()
    {
        QTest::addColumn<QPoint>("pos"); // relative to the window's top-left corner
        QTest::addColumn<bool>("drags");
        QTest::newRow("top-left corner") << QPoint(10, 10) << true;
        QTest::newRow("bottom-right corner") << QPoint(510, 120) << true;
        QTest::newRow("right of the band") << QPoint(511, 120) << false;
        QTest::newRow("below the band") << QPoint(510, 121) << false;
    }
    void dragBounds()
    {
        QFETCH(QPoint, pos);
        QFETCH(bool, drags);
        baseWnd wnd;
        wnd.setBackground(image(QStringLiteral("bg.png"), 500, 300, Qt::white).toUtf8().constData());
        QCOMPARE(wnd.findChild<cImg *>()->geometry(), QRect(10, 10, 500, 300));
        wnd.setDragArea(0, 0, 500, 110);
        const QPoint origin = wnd.frameGeometry().topLeft();
        // Sends an event (a move with the button held); returns how far the window has moved.
        auto mouse = [&](QEvent::Type type, Qt::MouseButton b, QPoint offset) {
            QMouseEvent e(type, offset, origin + offset, b, b, Qt::NoModifier);
            QApplication::sendEvent(&wnd, &e);
            return wnd.frameGeometry().topLeft() - origin;
        };
        const QPoint step(30, 40), none;
        mouse(QEvent::MouseButtonPress, Qt::RightButton, pos);
        QCOMPARE(mouse(QEvent::MouseMove, Qt::RightButton, pos + step), none);
        mouse(QEvent::MouseButtonPress, Qt::LeftButton, pos);
        QCOMPARE(mouse(QEvent::MouseMove, Qt::LeftButton, pos + step), drags ? step : none);
        mouse(QEvent::MouseButtonRelease, Qt::RightButton, pos); // only the left button's release ends it
        QCOMPARE(mouse(QEvent::MouseMove, Qt::LeftButton, pos + 2 * step), drags ? 2 * step : none);
        mouse(QEvent::MouseButtonRelease, Qt::LeftButton, pos);
        QCOMPARE(mouse(QEvent::MouseMove, Qt::LeftButton, pos), drags ? 2 * step : none);
    }

    void shadowRings()
    {
        baseWnd wnd;
        wnd.resize(200, 100);
        // At the 2x scale each one-pixel ring covers two whole pixels, with no antialiasing between rings.
        const QImage shot = wnd.grab().toImage();
        const int byInset[] = {0, 0, 8, 17, 27, 38, 50, 63, 79, 100, 150, 0}; // then nothing inside the rings
        for (int x = 0; x < 22; ++x)
            for (const int column : {x, shot.width() - 1 - x})
                QCOMPARE(qAlpha(shot.pixel(column, 100)), byInset[(x + 1) / 2]);
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
