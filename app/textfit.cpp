#include "app/textfit.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

namespace
{

// A line edit scrolls its text when the text and its one-pixel cursor do not fit; the advance is
// rounded when it is compared.
constexpr qreal kSpare = 2;
// Below this the digest is no longer legible: a font is not made smaller.
constexpr qreal kSmallestPoints = 6;

} // namespace

QFont fittedFont(const QFont &font, const QString &text, int width, const QPaintDevice *device)
{
    QFont fitted = font;
    qreal points = font.pointSizeF();
    const auto advance = [&] {
        return device ? QFontMetricsF(fitted, device).horizontalAdvance(text)
                      : QFontMetricsF(fitted).horizontalAdvance(text);
    };
    while (points > kSmallestPoints && advance() > width - kSpare) {
        points -= 0.25;
        fitted.setPointSizeF(points);
    }
    return fitted;
}

int lineEditTextWidth(const QLineEdit *edit)
{
    // As QLineEdit lays out its text: the style's contents rectangle, less the text margins and the
    // two pixels it keeps on either side.
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->rect();
    option.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * 2;
}

void showWhole(QLineEdit *edit, const QString &text, const QFont &font)
{
    edit->setFont(fittedFont(font, text, lineEditTextWidth(edit), edit));
    edit->setText(text);
    edit->setCursorPosition(0);
}
