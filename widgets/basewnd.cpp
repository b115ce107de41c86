#include "widgets/basewnd.h"

#include "widgets/cimg.h"

#include <QColor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

#include <cmath>

namespace
{

QPoint globalPoint(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->globalPosition().toPoint();
#else
    return event->globalPos();
#endif
}

} // namespace

baseWnd::baseWnd(QWidget *parent) : QMainWindow(parent, Qt::WindowFlags())
{
    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);
}

baseWnd::~baseWnd() = default;

void baseWnd::setBackground(const char *path)
{
    bgPath = QString::fromUtf8(path);
    const QSize image = QPixmap(bgPath).size().expandedTo(QSize(0, 0));
    QRect available;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    const QSize window(image.width() + 2 * shadowWidth, image.height() + 2 * shadowWidth);
    setGeometry(QRect(placeWindow(window, shadowWidth, available), window));
    if (!imgBg)
        imgBg = new cImg(this);
    imgBg->setImage(bgPath, 1.0f);
    imgBg->move(shadowWidth, shadowWidth);
}

QPoint placeWindow(const QSize &window, int margin, const QRect &available)
{
    // Centred by the content, then kept inside, so that the title band and the buttons stay on
    // screen however small it is.
    const int x = available.x() + (available.width() - window.width() + 2 * margin) / 2;
    const int y = available.y() + (available.height() - window.height() + 2 * margin) / 2;
    return QPoint(qMax(available.left(), qMin(x, available.x() + available.width() - window.width())),
                  qMax(available.top(), qMin(y, available.y() + available.height() - window.height())));
}

void baseWnd::setDragArea(int x, int y, int width, int height)
{
    dragAreaX = x + shadowWidth;
    dragAreaY = y + shadowWidth;
    dragAreaWidth = width;
    dragAreaHeight = height;
}

QSize baseWnd::backgroundSize() const
{
    return imgBg ? imgBg->size() : size();
}

void baseWnd::mousePressEvent(QMouseEvent *event)
{
    const QPoint frame = frameGeometry().topLeft();
    const QPoint global = globalPoint(event);
    const int left = frame.x() + dragAreaX;
    const int top = frame.y() + dragAreaY;
    // Inclusive on all four edges.
    const bool inside = global.x() >= left && global.x() <= left + dragAreaWidth && global.y() >= top &&
                        global.y() <= top + dragAreaHeight;
    if (inside && event->button() == Qt::LeftButton) {
        dragging = true;
        pressGlobalPos = global;
        pressWindowPos = frame;
    }
}

void baseWnd::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging)
        move(pressWindowPos + (globalPoint(event) - pressGlobalPos));
}

void baseWnd::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        dragging = false;
}

void baseWnd::paintEvent(QPaintEvent *)
{
    if (!shadowEnabled)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Ten one-pixel rings around the image, fading outwards.
    for (int i = 0; i < shadowWidth; ++i) {
        const int d = shadowWidth - i;
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        path.addRect(d, d, width() - 2.0 * d, height() - 2.0 * d);
        QColor color(0, 0, 0);
        color.setAlpha(static_cast<int>(150 - 50 * std::sqrt(static_cast<double>(i))));
        painter.setPen(color);
        painter.drawPath(path);
    }
}
