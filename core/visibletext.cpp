#include "core/visibletext.h"

namespace
{

bool shownAsEscape(uint ch)
{
    switch (QChar::category(ch)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate: // only an unpaired one reaches here
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

VisibleText visibleText(const QString &text, int maxLines, int maxCharacters)
{
    VisibleText shown;
    int used = 0; // characters in shown.text
    int lines = 1;
    for (int i = 0; i < text.size(); ++i) {
        uint ch = text.at(i).unicode();
        int units = 1;
        if (QChar::isHighSurrogate(ch) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ch = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        ++shown.characters;
        if (!shown.cut) {
            const bool newLine = ch == '\n' && maxLines > 1;
            const QString piece =
                newLine || !shownAsEscape(ch)
                    ? text.mid(i, units)
                    : QStringLiteral("<U+%1>").arg(
                          QString::number(ch, 16).toUpper().rightJustified(4, QLatin1Char('0')));
            const int length = units == 2 ? 1 : piece.size();
            if (used + length > maxCharacters || (newLine && lines == maxLines)) {
                shown.cut = true;
            } else {
                shown.text += piece;
                used += length;
                lines += newLine ? 1 : 0;
            }
        }
        i += units - 1;
    }
    return shown;
}
