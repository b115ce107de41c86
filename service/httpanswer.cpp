#include "service/httpanswer.h"

#include "service/verification.h"

#include "core/protocol.h"

HttpAnswer notFound()
{
    return {404, "text/plain; charset=utf-8", "not found\n", {}, "not found"};
}

HttpAnswer tooLarge()
{
    return {413, "text/plain; charset=utf-8", "request body over 64 KiB\n", {}, "body too large"};
}

std::string_view pathOf(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

bool isVerifyPost(std::string_view method, std::string_view target)
{
    return method == "POST" && pathOf(target) == protocol::VerifyPath;
}

HttpAnswer answerRequest(const std::string &method, const std::string &target, const std::string &body,
                         EvidenceStore &store)
{
    if (!isVerifyPost(method, target))
        return notFound();
    VerificationAnswer answer = answerVerification(body, store);
    return {200, "application/json; charset=utf-8", std::move(answer.json), std::move(answer.order),
            std::move(answer.outcome)};
}
