#include "widgets/basewnd.h"
#include "widgets/cbutton.h"
#include "widgets/cimg.h"
#include "widgets/hidpi.h"

#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
        image(QStringLiteral("i200x100.png"), 200, 100, Qt::gray);
        image(QStringLiteral("i30x40@2x.png"), 60, 80, Qt::gray);
    }

    // Steps: "enter", "leave", "L@x,y" / "R@x,y" (press), "l@x,y" / "r@x,y" (release); the states
    // after each step, the clicks, and the picture drawn at the end, stretched over the button.
    void button_data()
    {
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<QByteArray>("states");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QColor>("color");
        const auto row = [](const char *steps, const char *states, int clicks, QColor color) {
            QTest::newRow(steps) << QByteArray(steps) << QByteArray(states) << clicks << color;
        };
        row("enter L@5,5 l@5,5", "1 2 1", 1, Qt::green);
        row("L@5,5 l@19,9", "2 1", 1, Qt::green);
        row("L@5,5 l@20,5", "2 2", 0, Qt::blue); // released outside: no click
        row("L@5,5 l@5,10", "2 2", 0, Qt::blue);
        row("enter L@5,5 leave l@30,5", "1 2 0 0", 0, Qt::red);
        row("enter R@5,5 r@5,5", "1 1 1", 0, Qt::green);          // the right button does nothing
        row("L@5,5 l@-1,5 R@5,5 r@5,5", "2 2 2 1", 1, Qt::green); // until then the press is pending
    }
    void button()
    {
        QFETCH(QByteArray, steps);
        QFETCH(QByteArray, states);
        QFETCH(int, clicks);
        QFETCH(QColor, color);
        cButton button;
        button.setImage(m_dir.filePath(QStringLiteral("b")));
        QCOMPARE(button.size(), QSize(20, 10)); // the normal image decides
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        QByteArrayList seen;
        for (const QByteArray &step : steps.split(' ')) {
            const QByteArrayList xy = step.mid(2).split(',');
            const QPoint pos(xy.value(0).toInt(), xy.value(1).toInt());
            const Qt::MouseButton b = QChar::toLower(uint(step[0])) == 'l' ? Qt::LeftButton : Qt::RightButton;
            const auto type =
                QChar::isUpper(uint(step[0])) ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease;
            QMouseEvent click(type, pos, button.mapToGlobal(pos), b, b, Qt::NoModifier);
            QEvent crossing(step == "enter" ? QEvent::Enter : QEvent::Leave);
            QApplication::sendEvent(&button, step.contains('@') ? &click : &crossing);
            seen << QByteArray::number(button.state);
        }
        QCOMPARE(seen.join(' '), states);
        QCOMPARE(clicked.count(), clicks);
        QImage shot(button.size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        button.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(shot.pixelColor(19, 9), color);
        QCOMPARE(button.cursor().shape() == Qt::PointingHandCursor, color != QColor(Qt::red)); // hover, press
    }

    void imageSize_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<float>("scale");
        QTest::addColumn<QSize>("size");
        QTest::newRow("own size") << "i200x100.png" << 1.0f << QSize(200, 100);
        QTest::newRow("half") << "i200x100.png" << 0.5f << QSize(100, 50);
        QTest::newRow("missing file") << "nothing.png" << 1.0f << QSize(0, 0);
        QTest::newRow("@2x, at the 1x size") << "i30x40.png" << 1.0f << QSize(30, 40);
    }
    void imageSize()
    {
        QFETCH(QString, file);
        QFETCH(float, scale);
        QFETCH(QSize, size);
        const QString path = m_dir.filePath(file);
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
        QTest::newRow("content centred") << QSize(520, 320) << QRect(0, 0, 1920, 1040) << QPoint(710, 370);
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
        QImage shot(wnd.size(), QImage::Format_ARGB32);
        shot.fill(Qt::transparent);
        wnd.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
        // Each ring's alpha by its inset; an antialiased one-pixel line covers half of the two
        // pixels beside it, so column k gets half of ring k over half of ring k + 1.
        const double byInset[12] = {0, 0, 8, 17, 27, 38, 50, 63, 79, 100, 150, 0};
        for (int k = 0; k < 10; ++k) {
            const double over = byInset[k] / 510, under = byInset[k + 1] / 510;
            const int expected = qRound((over + under * (1 - over)) * 255);
            for (const int x : {k, shot.width() - 1 - k})
                QVERIFY2(qAbs(qAlpha(shot.pixel(x, 50)) - expected) <= 3, qPrintable(QString::number(x)));
        }
        QCOMPARE(qAlpha(shot.pixel(100, 50)), 0); // nothing inside the rings
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
