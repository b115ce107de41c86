#include "widgets/cimg.h"

#include "widgets/hidpi.h"

#include <QImage>
#include <QPixmap>

cImg::cImg(QWidget *parent) : QLabel(parent, Qt::WindowFlags()) {}

cImg::~cImg() = default;

void cImg::setImage(QString path, float scale)
{
    imagePath = path;
    // On a scaled screen the @2x picture is drawn at the same size, with twice the pixels.
    qreal ratio = 1;
    const QImage image(imageForRatio(imagePath, screenPixelRatio(), &ratio));
    // Scaled contents stay on once another scale was used: a later 1.0 keeps the earlier look.
    if (scale != 1.0f)
        setScaledContents(true);
    QPixmap pixmap = QPixmap::fromImage(image);
    const int w = static_cast<int>(image.width() / ratio);
    const int h = static_cast<int>(image.height() / ratio);
    const int targetW = static_cast<int>(static_cast<float>(w) * scale);
    const int targetH = static_cast<int>(static_cast<float>(h) * scale);
    pixmap = pixmap.scaled(int(targetW * ratio), int(targetH * ratio), Qt::KeepAspectRatio,
                           Qt::FastTransformation);
    pixmap.setDevicePixelRatio(ratio);
    setPixmap(pixmap);
    setFixedSize(pixmap.size() / ratio);
}
