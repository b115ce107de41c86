// libFuzzer target for readHashAnswer: any body must give the answer the rules give, never crash,
// never leak. Each check abort()s with a note on stderr so libFuzzer keeps the input.

// The reference below decodes with QString(const QByteArray &), which the project otherwise hides;
// readHashAnswer spells that step differently, and this checks the two agree.
#undef QT_NO_CAST_FROM_ASCII

#include "core/hashanswer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace
{

using Kind = HashAnswer::Kind;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_hashanswer: violated: %s\n", what);
        std::abort();
    }
}

bool same(const HashAnswer &a, const HashAnswer &b)
{
    return a.kind == b.kind && a.des == b.des && a.userName == b.userName && a.optTime == b.optTime &&
           a.deviceInfo == b.deviceInfo;
}

// The text the parser gets, by the chain as written: decode, encode, QString(const QByteArray &)
// (stops at the first NUL), encode.
QByteArray chainText(const QByteArray &body)
{
    const QByteArray once = QString::fromStdString(body.toStdString()).toUtf8();
    return QString(once).toUtf8();
}

// The same by its net effect: the raw body up to its first NUL byte, malformed UTF-8 replaced.
QByteArray cutText(const QByteArray &body)
{
    const int nul = body.indexOf('\0');
    const QByteArray raw = nul < 0 ? body : body.left(nul);
    return QString::fromUtf8(raw.constData(), raw.size()).toUtf8();
}

const QByteArray utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

// Appended after a NUL: must change nothing.
const char tail[] = "\0{\"code\":0,\"data\":{\"result\":true}}\xFF";

// The answer rules, written out once more, with Qt's own QJsonValue::toInt for "code".
HashAnswer expected(const QJsonDocument &document, const QJsonParseError &error)
{
    HashAnswer answer;
    if (document.isNull() || error.error != QJsonParseError::NoError || !document.isObject())
        return answer;
    const QJsonObject top = document.object();
    if (top.isEmpty() || !top.contains(QStringLiteral("code"))) {
        answer.kind = Kind::Silent;
        return answer;
    }
    const int code = top.value(QStringLiteral("code")).toInt(0);
    if (code != 0) {
        if (!top.contains(QStringLiteral("des"))) {
            answer.kind = Kind::Silent;
            return answer;
        }
        answer.kind = Kind::Message;
        const QJsonValue des = top.value(QStringLiteral("des"));
        if (des.isString())
            answer.des = des.toString();
        return answer;
    }
    if (!top.contains(QStringLiteral("data"))) {
        answer.kind = Kind::Abnormal;
        return answer;
    }
    const QJsonValue data = top.value(QStringLiteral("data"));
    const QJsonValue result =
        data.isObject() ? data.toObject().value(QStringLiteral("result")) : QJsonValue();
    if (!(result.isBool() && result.toBool())) {
        answer.kind = Kind::Fail;
        return answer;
    }
    answer.kind = Kind::Pass;
    const QJsonObject fields = data.toObject();
    const auto field = [&fields](const char *key) {
        const QJsonValue value = fields.value(QLatin1String(key));
        return value.isString() ? value.toString() : QString();
    };
    answer.userName = field("userName");
    answer.optTime = field("optTime");
    answer.deviceInfo = field("deviceInfo");
    return answer;
}

// A U+0000 in a text can only come from a \u0000 escape: raw NULs end the body.
bool nulExplained(const QString &s, const QByteArray &text)
{
    return !s.contains(QChar(0)) || text.toLower().contains(QByteArrayLiteral("\\u0000"));
}

// Qt's JSON parser is not instrumented, so libFuzzer sees almost no coverage in it. Tell it the
// shape of each answer instead, through its extra counters: an input with a new shape is kept.
__attribute__((used, section("__libfuzzer_extra_counters"))) std::uint8_t shapes[1 << 18];

unsigned valueShape(const QJsonValue &value, bool present)
{
    if (!present)
        return 0;
    switch (value.type()) {
    case QJsonValue::Null:
        return 1;
    case QJsonValue::Bool:
        return value.toBool() ? 2 : 3;
    case QJsonValue::String:
        return 4;
    case QJsonValue::Array:
        return 5;
    case QJsonValue::Object:
        return value.toObject().isEmpty() ? 6 : 7;
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (number == 0)
            return 8;
        if (std::trunc(number) != number)
            return 9;
        return std::fabs(number) <= 2147483648.0 ? 10 : 11;
    }
    default:
        return 12;
    }
}

void noteShape(const Kind kind, const QJsonDocument &document, bool nul, const QByteArray &text)
{
    const QJsonObject top = document.object();
    const QString code = QStringLiteral("code"), data = QStringLiteral("data");
    const QString result = QStringLiteral("result");
    const QJsonObject inner = top.value(data).toObject();
    unsigned shape = static_cast<unsigned>(kind);
    shape = shape << 4 | valueShape(top.value(code), top.contains(code));
    shape = shape << 4 | valueShape(top.value(data), top.contains(data));
    shape = shape << 4 | valueShape(inner.value(result), inner.contains(result));
    shape = shape << 1 | (nul ? 1 : 0);
    shape = shape << 1 | (text.contains("\xEF\xBF\xBD") ? 1 : 0); // U+FFFD
    shape = shape << 1 | (text.contains(utf8Bom) ? 1 : 0);
    shapes[shape % sizeof shapes] = 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4))
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const HashAnswer answer = readHashAnswer(body);

    // Only the documented kinds, and texts only where that kind shows them.
    switch (answer.kind) {
    case Kind::Unreadable:
    case Kind::Silent:
    case Kind::Message:
    case Kind::Abnormal:
    case Kind::Pass:
    case Kind::Fail:
        break;
    default:
        check(false, "kind out of range");
    }
    check(answer.kind == Kind::Message || answer.des.isEmpty(), "des outside Message");
    check(answer.kind == Kind::Pass ||
              (answer.userName.isEmpty() && answer.optTime.isEmpty() && answer.deviceInfo.isEmpty()),
          "Pass texts outside Pass");

    // The chain as written, and its net effect, hand the parser the same text (Qt 5 drops a leading
    // UTF-8 BOM on every decode, so a body starting with one may lose more than one BOM).
    const QByteArray text = chainText(body);
    check(!text.contains('\0'), "NUL reaches the parser");
    const QByteArray cut = cutText(body);
    if (!cut.startsWith(utf8Bom))
        check(text == cut, "parser text is not the body cut at its first NUL");

    // The rules, worked out independently.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    check(same(answer, expected(document, error)), "answer differs from the rules");

    // Pass and Fail only for an object with a "code" that reads as 0 and a "data" key.
    if (answer.kind == Kind::Pass || answer.kind == Kind::Fail) {
        const QJsonObject top = document.object();
        check(top.contains(QStringLiteral("code")) && top.contains(QStringLiteral("data")),
              "verdict without code and data");
        check(top.value(QStringLiteral("code")).toInt(0) == 0, "verdict with a failure code");
    }

    check(nulExplained(answer.des, text) && nulExplained(answer.userName, text) &&
              nulExplained(answer.optTime, text) && nulExplained(answer.deviceInfo, text),
          "NUL in a text without a \\u0000 escape");

    // Nothing after the first NUL byte counts.
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        check(same(answer, readHashAnswer(body.left(nul))), "bytes after the first NUL changed the answer");
    else
        check(same(answer, readHashAnswer(body + QByteArray(tail, sizeof tail - 1))),
              "a tail after a NUL changed the answer");

    noteShape(answer.kind, document, nul >= 0, text);
    return 0;
}
