#ifndef FILEHASH_APP_TEXTFIT_H
#define FILEHASH_APP_TEXTFIT_H

#include <QFont>
#include <QString>

class QLineEdit;
class QPaintDevice;

// The font, no larger than font and in steps of a quarter point, in which text fits within width
// pixels as laid out on device (the widget that will show it: its screen's resolution decides the
// pixel size of a point size); font itself when it already fits. A scaled screen draws the text
// at the advances measured here, so one fit holds at every scale.
QFont fittedFont(const QFont &font, const QString &text, int width, const QPaintDevice *device);

// The width a line edit gives its text before it scrolls it.
int lineEditTextWidth(const QLineEdit *edit);

// Shows text whole in edit from its first character: in the font fitted to the edit's width when
// font is too wide for it, else in font, and scrolled to its start in any case.
void showWhole(QLineEdit *edit, const QString &text, const QFont &font);

#endif
