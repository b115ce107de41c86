#ifndef FILEHASH_CBUTTON_H
#define FILEHASH_CBUTTON_H

#include <QPushButton>
#include <QString>

// A push button drawn entirely from three images named from one base path B:
// B.png (normal), B_hover.png (hover) and B_press.png (pressed).
class cButton : public QPushButton
{
    Q_OBJECT
public:
    explicit cButton(QWidget *parent = nullptr);
    ~cButton() override;

    // Stores the base path and fixes the button's size to the normal image's size.
    void setImage(QString base);

    int state = 0; // 0 normal, 1 hover, 2 press
    QString imageBase;
    bool mousePressed = false;
    bool checkedFlag = false; // follows the checked state of a checkable button

protected:
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    using EnterEvent = QEnterEvent; // Qt 6 tells where the pointer entered
#else
    using EnterEvent = QEvent;
#endif

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(EnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

#endif
