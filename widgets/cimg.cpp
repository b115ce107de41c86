#include "widgets/cimg.h"

#include <QImage>
#include <QPixmap>

cImg::cImg(QWidget *parent) : QLabel(parent, Qt::WindowFlags()) {}

cImg::~cImg() = default;

void cImg::setImage(QString path, float scale)
{
    imagePath = path;
    const QImage image(imagePath);
    // Scaled contents stay on once another scale was used: a later 1.0 keeps the earlier look.
    if (scale != 1.0f)
        setScaledContents(true);
    QPixmap pixmap = QPixmap::fromImage(image);
    const int targetW = static_cast<int>(static_cast<float>(image.width()) * scale);
    const int targetH = static_cast<int>(static_cast<float>(image.height()) * scale);
    pixmap = pixmap.scaled(targetW, targetH, Qt::KeepAspectRatio, Qt::FastTransformation);
    setPixmap(pixmap);
    setFixedSize(pixmap.size());
}
