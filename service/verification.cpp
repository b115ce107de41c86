#include "verification.h"

#include "store.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

namespace
{

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}
QString u8(const std::string &text)
{
    return QString::fromStdString(text);
}

std::string toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

VerificationAnswer refusal(AnswerCode code, const QString &des, std::string outcome, std::string order = {})
{
    QJsonObject object;
    object.insert(QStringLiteral("code"), static_cast<int>(code));
    object.insert(QStringLiteral("des"), des);
    return {toJson(object), std::move(order), std::move(outcome)};
}

// Digests are hexadecimal: compare ASCII letters without case and nothing else, so that no
// Unicode case folding can make another text match.
bool sameDigest(const std::string &posted, const std::string &stored)
{
    if (posted.size() != stored.size())
        return false;
    for (std::size_t i = 0; i < posted.size(); ++i) {
        char a = posted[i];
        char b = stored[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

VerificationAnswer answerVerification(const std::string &body, EvidenceStore &store)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(body.data(), static_cast<int>(body.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return refusal(AnswerCode::NotAnObject, u8("请求格式错误"), "not a JSON object");
    const QJsonObject request = document.object();

    const QJsonValue orderValue = request.value(QStringLiteral("quorvelOrder"));
    const std::string order = orderValue.isString() ? orderValue.toString().toStdString() : std::string();
    // Checked in this order so that the answer names the first problem.
    for (const char *name : {"hash", "quorvelOrder", "type"}) {
        const QJsonValue value = request.value(QLatin1String(name));
        if (value.isUndefined())
            return refusal(AnswerCode::MissingMember, u8("缺少参数：") + QLatin1String(name),
                           std::string("missing ") + name, order);
        if (!value.isString())
            return refusal(AnswerCode::NotAString, u8("参数类型错误：") + QLatin1String(name),
                           std::string("not a string: ") + name, order);
    }
    const std::string hash = request.value(QStringLiteral("hash")).toString().toStdString();
    const QString type = request.value(QStringLiteral("type")).toString();

    EvidenceRecord record;
    std::string error;
    switch (store.find(order, &record, &error)) {
    case EvidenceStore::Lookup::NotFound:
        return refusal(AnswerCode::UnknownOrder, u8("订单号不存在"), "unknown order", order);
    case EvidenceStore::Lookup::Failed:
        return refusal(AnswerCode::StoreFailed, u8("服务内部错误"), "database error: " + error, order);
    case EvidenceStore::Lookup::Found:
        break;
    }
    // The code travels as its decimal text; anything else ("03", " 3") is another type.
    if (type != QString::number(record.type))
        return refusal(AnswerCode::TypeMismatch, u8("存证类型与订单不符"), "type mismatch", order);

    const bool same = sameDigest(hash, record.digest);
    QJsonObject data;
    data.insert(QStringLiteral("result"), same);
    data.insert(QStringLiteral("userName"), u8(record.user));
    data.insert(QStringLiteral("optTime"), u8(record.time));
    data.insert(QStringLiteral("deviceInfo"), u8(record.location));
    QJsonObject object;
    object.insert(QStringLiteral("code"), static_cast<int>(AnswerCode::Ok));
    object.insert(QStringLiteral("data"), data);
    return {toJson(object), order, same ? "pass" : "fail"};
}
