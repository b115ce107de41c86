#ifndef FILEHASH_BASEWND_H
#define FILEHASH_BASEWND_H

#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class cImg;

// Where a window of the given size goes: its content (the window less a margin on each side)
// centred in the available area of its screen, and the window inside that area whatever the sizes,
// its top-left first when it cannot fit.
QPoint placeWindow(const QSize &window, int margin, const QRect &available);

// A frameless main window built around a background image: it sizes and centres itself from
// the image, paints a soft shadow in a transparent margin around it and can be dragged by a
// rectangular area of the image.
class baseWnd : public QMainWindow
{
    Q_OBJECT
public:
    explicit baseWnd(QWidget *parent = nullptr);
    ~baseWnd() override;

    void setBackground(const char *path);
    // x and y are relative to the background image's top-left corner.
    void setDragArea(int x, int y, int width, int height);
    QSize backgroundSize() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

    int dragAreaX = 0;
    int dragAreaY = 0;
    int dragAreaWidth = 0;
    int dragAreaHeight = 0;
    bool dragging = false;
    QPoint pressGlobalPos;
    QPoint pressWindowPos;
    bool shadowEnabled = true;
    int shadowWidth = 10;
    cImg *imgBg = nullptr;
    QString bgPath;
};

#endif
