#include "service/verification.h"

#include "service/requestbody.h"
#include "service/store.h"

#include "core/protocol.h"

#include <QJsonDocument>
#include <QJsonObject>
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
    object.insert(QLatin1String(protocol::Code), static_cast<int>(code));
    object.insert(QLatin1String(protocol::Des), des);
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

const char *const RequiredMembers[] = {protocol::Hash, protocol::Order, protocol::Type};

bool isRequired(const std::string &key)
{
    for (const char *name : RequiredMembers)
        if (key == name)
            return true;
    return false;
}

} // namespace

VerificationAnswer answerVerification(const std::string &body, EvidenceStore &store)
{
    const FlatObject request = parseFlatObject(body);
    switch (request.problem) {
    case FlatObject::Problem::None:
        break;
    case FlatObject::Problem::Malformed:
        return refusal(AnswerCode::NotAnObject, u8("请求格式错误"), "not a flat JSON object");
    case FlatObject::Problem::RepeatedKey:
        return refusal(AnswerCode::NotAnObject, u8("请求格式错误"), "repeated key: " + request.key);
    case FlatObject::Problem::NotAString:
        // Only the members the service knows are named back to the client.
        if (isRequired(request.key))
            return refusal(AnswerCode::NotAString, u8("参数类型错误：") + u8(request.key),
                           "not a string: " + request.key);
        return refusal(AnswerCode::NotAnObject, u8("请求格式错误"), "not a string: " + request.key);
    }
    const auto member = [&](const char *name) -> const std::string * {
        const auto it = request.members.find(name);
        return it == request.members.end() ? nullptr : &it->second;
    };
    const std::string *order = member(protocol::Order);
    // Checked in this order so that the answer names the first problem.
    for (const char *name : RequiredMembers) {
        if (!member(name))
            return refusal(AnswerCode::MissingMember, u8("缺少参数：") + QLatin1String(name),
                           std::string("missing ") + name, order ? *order : std::string());
    }
    const std::string &hash = *member(protocol::Hash);
    const std::string &type = *member(protocol::Type);

    EvidenceRecord record;
    std::string error;
    switch (store.find(*order, &record, &error)) {
    case EvidenceStore::Lookup::NotFound:
        return refusal(AnswerCode::UnknownOrder, u8("订单号不存在"), "unknown order", *order);
    case EvidenceStore::Lookup::Failed:
        return refusal(AnswerCode::StoreFailed, u8("服务内部错误"), "database error: " + error, *order);
    case EvidenceStore::Lookup::Found:
        break;
    }
    // The code travels as its decimal text; anything else ("03", " 3") is another type.
    if (type != std::to_string(record.type))
        return refusal(AnswerCode::TypeMismatch, u8("存证类型与订单不符"), "type mismatch", *order);

    // Who preserved the file, when and where is told only to someone who holds the file: a guessed
    // order number alone reveals nothing but that it exists.
    const bool same = sameDigest(hash, record.digest);
    QJsonObject data;
    data.insert(QLatin1String(protocol::Result), same);
    if (same) {
        data.insert(QLatin1String(protocol::UserName), u8(record.user));
        data.insert(QLatin1String(protocol::OptTime), u8(record.time));
        data.insert(QLatin1String(protocol::DeviceInfo), u8(record.location));
    }
    QJsonObject object;
    object.insert(QLatin1String(protocol::Code), static_cast<int>(AnswerCode::Ok));
    object.insert(QLatin1String(protocol::Data), data);
    return {toJson(object), *order, same ? "pass" : "fail"};
}
