#include "core/texts.h"

#include <QTextCodec>

QString gbText(const char *gb2312)
{
    static QTextCodec *const codec = QTextCodec::codecForName("GB2312");
    return codec->toUnicode(gb2312);
}
