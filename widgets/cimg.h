#ifndef FILEHASH_CIMG_H
#define FILEHASH_CIMG_H

#include <QLabel>
#include <QString>

// A label that shows one image file and takes exactly the size of the shown picture.
class cImg : public QLabel
{
    Q_OBJECT
public:
    explicit cImg(QWidget *parent = nullptr);
    ~cImg() override;

    // Shows the image at `path` scaled by `scale` and fixes the label to its size; a file that
    // does not load leaves an empty, 0 x 0 label.
    void setImage(QString path, float scale);

    QString imagePath;
};

#endif
