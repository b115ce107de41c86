#include "widgets/cbutton.h"

#include "widgets/hidpi.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <cstdio>

namespace
{
const char *const kSuffixes[] = {"", "_hover", "_press"};
}

cButton::cButton(QWidget *parent) : QPushButton(parent)
{
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        checkedFlag = checked;
        update();
    });
}

cButton::~cButton() = default;

void cButton::setImage(QString base)
{
    imageBase = base;
    // Without an extension Qt's loader tries each format's suffix, so this finds B.png.
    const QPixmap normal(imageBase);
    setFixedSize(normal.size());
}

void cButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    mousePressed = true;
    state = 2;
    update();
}

void cButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (!mousePressed || !rect().contains(event->pos()))
        return;
    mousePressed = false;
    state = 1;
    update();
    emit clicked(false);
}

void cButton::enterEvent(EnterEvent *)
{
    state = 1;
    update();
}

void cButton::leaveEvent(QEvent *)
{
    state = 0;
    update();
}

void cButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPixmap pixmap;
    if (isCheckable() && checkedFlag) {
        pixmap.load(imageBase + QLatin1String("_press.png"));
    } else {
        if (!isEnabled())
            state = 0;
        const int shown = (state >= 0 && state <= 2) ? state : 0;
        const QString file = imageBase + QLatin1String(kSuffixes[shown]) + QLatin1String(".png");
        setCursor(shown == 0 ? Qt::ArrowCursor : Qt::PointingHandCursor);
        qreal ratio = 1;
        if (!pixmap.load(imageForRatio(file, devicePixelRatioF(), &ratio)))
            std::printf("qrdiag load pic error path:%s\n", imageBase.toLatin1().constData());
    }
    painter.drawPixmap(rect(), pixmap);
    painter.drawText(rect(), Qt::AlignCenter, text());
}
