#include "core/texts.h"

#include "core/protocol.h"

#include <QTextCodec>

// A name for every type code the protocol has.
static_assert(texts::kTypeCount == protocol::LastType - protocol::FirstType + 1, "one name per type code");

QString gbText(const char *gb2312)
{
    static QTextCodec *const codec = QTextCodec::codecForName("GB2312");
    return codec->toUnicode(gb2312);
}
