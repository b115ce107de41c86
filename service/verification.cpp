#include "service/verification.h"

#include "service/requestbody.h"
#include "service/store.h"

#include "core/protocol.h"

#include <QString>

namespace
{

// Answers are written directly rather than through Qt's JSON classes, which cost about a tenth of
// a request's time. The bytes are those QJsonDocument::Compact wrote: members in key order, text as
// UTF-8 with only the quote, the backslash and controls escaped.

// `des` is always the service's own text, with at most a member name it knows: nothing to escape.
std::string refusalJson(AnswerCode code, const std::string &des)
{
    return std::string("{\"") + protocol::Code + "\":" + std::to_string(static_cast<int>(code)) + ",\"" +
           protocol::Des + "\":\"" + des + "\"}";
}

// `"name":` after an opening brace or a comma.
void appendName(std::string *out, const char *name)
{
    out->push_back('"');
    out->append(name);
    out->append("\":");
}

VerificationAnswer refusal(AnswerCode code, const std::string &des, std::string outcome,
                           std::string order = {})
{
    return {refusalJson(code, des), std::move(order), std::move(outcome)};
}

// Whether the text is UTF-8 that QString takes as it is: no invalid, overlong, surrogate or
// out-of-range sequence, and no byte-order mark in front, which QString::fromUtf8 drops.
bool plainUtf8(const std::string &text)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return false;
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const std::size_t length = utf8SequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

void appendJsonString(std::string *out, const std::string &stored)
{
    // Text that is not plain UTF-8 takes QString's repairs (U+FFFD for what cannot be read), as
    // the answer always did; the database holds what preserve was given, which should not happen.
    const bool plain = plainUtf8(stored);
    const std::string repaired = plain ? std::string() : QString::fromStdString(stored).toStdString();
    const std::string &text = plain ? stored : repaired;
    static const char Hex[] = "0123456789abcdef";
    out->push_back('"');
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\') {
            out->push_back(c);
            continue;
        }
        out->push_back('\\');
        switch (c) {
        case '"':
        case '\\':
            out->push_back(c);
            break;
        case '\b':
            out->push_back('b');
            break;
        case '\f':
            out->push_back('f');
            break;
        case '\n':
            out->push_back('n');
            break;
        case '\r':
            out->push_back('r');
            break;
        case '\t':
            out->push_back('t');
            break;
        default:
            out->append("u00");
            out->push_back(Hex[u >> 4]);
            out->push_back(Hex[u & 0xf]);
        }
    }
    out->push_back('"');
}

std::string foundJson(bool same, const EvidenceRecord &record)
{
    std::string json;
    json.reserve(128 + record.user.size() + record.location.size() + record.time.size());
    json += '{';
    appendName(&json, protocol::Code);
    json += "0,";
    appendName(&json, protocol::Data);
    json += '{';
    // Members in key order, as QJsonDocument writes them.
    if (same) {
        appendName(&json, protocol::DeviceInfo);
        appendJsonString(&json, record.location);
        json += ',';
        appendName(&json, protocol::OptTime);
        appendJsonString(&json, record.time);
        json += ',';
    }
    appendName(&json, protocol::Result);
    json += same ? "true" : "false";
    if (same) {
        json += ',';
        appendName(&json, protocol::UserName);
        appendJsonString(&json, record.user);
    }
    json += "}}";
    return json;
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
        return refusal(AnswerCode::NotAnObject, "请求格式错误", "not a flat JSON object");
    case FlatObject::Problem::RepeatedKey:
        return refusal(AnswerCode::NotAnObject, "请求格式错误", "repeated key: " + request.key);
    case FlatObject::Problem::NotAString:
        // Only the members the service knows are named back to the client.
        if (isRequired(request.key))
            return refusal(AnswerCode::NotAString, "参数类型错误：" + request.key,
                           "not a string: " + request.key);
        return refusal(AnswerCode::NotAnObject, "请求格式错误", "not a string: " + request.key);
    }
    const auto member = [&](const char *name) -> const std::string * {
        const auto it = request.members.find(name);
        return it == request.members.end() ? nullptr : &it->second;
    };
    const std::string *order = member(protocol::Order);
    // Checked in this order so that the answer names the first problem.
    for (const char *name : RequiredMembers) {
        if (!member(name))
            return refusal(AnswerCode::MissingMember, std::string("缺少参数：") + name,
                           std::string("missing ") + name, order ? *order : std::string());
    }
    const std::string &hash = *member(protocol::Hash);
    const std::string &type = *member(protocol::Type);

    // One per thread, so that copying a kept record into it reuses the strings' memory.
    thread_local EvidenceRecord record;
    std::string error;
    switch (store.find(*order, &record, &error)) {
    case EvidenceStore::Lookup::NotFound:
        return refusal(AnswerCode::UnknownOrder, "订单号不存在", "unknown order", *order);
    case EvidenceStore::Lookup::Failed:
        return refusal(AnswerCode::StoreFailed, "服务内部错误", "database error: " + error, *order);
    case EvidenceStore::Lookup::Found:
        break;
    }
    // The code travels as its decimal text; anything else ("03", " 3") is another type.
    if (type != std::to_string(record.type))
        return refusal(AnswerCode::TypeMismatch, "存证类型与订单不符", "type mismatch", *order);

    // Who preserved the file, when and where is told only to someone who holds the file: a guessed
    // order number alone reveals nothing but that it exists.
    const bool same = sameDigest(hash, record.digest);
    return {foundJson(same, record), *order, same ? "pass" : "fail"};
}
