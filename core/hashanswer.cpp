#include "core/hashanswer.h"

#include "core/protocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <limits>
#include <string>

namespace
{

// The bytes handed to the JSON parser. The chain is the one the window has always used:
//   QString::fromStdString(body.toStdString())   decodes UTF-8, malformed sequences become U+FFFD
//   .toUtf8()                                     back to (now well-formed) UTF-8, NULs kept
//   QString(const QByteArray &)                   decodes UTF-8 up to the first NUL byte
//   .toUtf8()
// QT_NO_CAST_FROM_ASCII hides QString(const QByteArray &); in Qt 5 that constructor is
// fromUtf8(data, qstrnlen(data, size)), and fromUtf8(const char *) with its default size -1 takes
// strlen(data): the same text, since toUtf8() always leaves a terminating NUL after its data.
// Net effect: the parser sees the body up to its first NUL byte, malformed UTF-8 replaced by U+FFFD
// (and, as Qt 5's fromUtf8 does on every decode, a leading UTF-8 BOM dropped).
QByteArray parserInput(const QByteArray &body)
{
    const QByteArray whole = QString::fromStdString(body.toStdString()).toUtf8();
    return QString::fromUtf8(whole.constData()).toUtf8();
}

// "code": a number with a whole value within the int range gives that value; anything else
// (string, fraction, out of range, bool, null, array, object) reads as 0. Qt 5.15's
// QJsonValue::toInt(0) agrees, but older Qt converted out-of-range doubles with undefined
// behaviour, so the rule is spelled out here.
int readCode(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return 0;
    if (number < static_cast<double>(std::numeric_limits<int>::min()) ||
        number > static_cast<double>(std::numeric_limits<int>::max()))
        return 0;
    return static_cast<int>(number);
}

} // namespace

HashAnswer readHashAnswer(const QByteArray &body)
{
    HashAnswer answer;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(parserInput(body), &error);
    if (document.isNull() || error.error != QJsonParseError::NoError || !document.isObject()) {
        answer.kind = HashAnswer::Kind::Unreadable;
        return answer;
    }

    const QJsonObject top = document.object();
    const QString codeKey = QLatin1String(protocol::Code);
    if (top.isEmpty() || !top.contains(codeKey)) {
        answer.kind = HashAnswer::Kind::Silent;
        return answer;
    }

    if (readCode(top.value(codeKey)) != 0) {
        const QString desKey = QLatin1String(protocol::Des);
        if (top.contains(desKey)) {
            answer.kind = HashAnswer::Kind::Message;
            answer.des = top.value(desKey).toString();
        } else {
            answer.kind = HashAnswer::Kind::Silent;
        }
        return answer;
    }

    const QString dataKey = QLatin1String(protocol::Data);
    if (!top.contains(dataKey)) {
        answer.kind = HashAnswer::Kind::Abnormal;
        return answer;
    }

    const QJsonObject data = top.value(dataKey).toObject();
    if (data.value(QLatin1String(protocol::Result)).toBool(false)) {
        answer.kind = HashAnswer::Kind::Pass;
        answer.userName = data.value(QLatin1String(protocol::UserName)).toString();
        answer.optTime = data.value(QLatin1String(protocol::OptTime)).toString();
        answer.deviceInfo = data.value(QLatin1String(protocol::DeviceInfo)).toString();
    } else {
        answer.kind = HashAnswer::Kind::Fail;
    }
    return answer;
}

QJsonObject hashAnswerData(const QByteArray &body)
{
    return QJsonDocument::fromJson(parserInput(body))
        .object()
        .value(QLatin1String(protocol::Data))
        .toObject();
}
