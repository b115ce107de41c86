#ifndef FILEHASH_SERVICE_HTTPANSWER_H
#define FILEHASH_SERVICE_HTTPANSWER_H

#include <string>
#include <string_view>

class EvidenceStore;

// What the HTTP layer sends back for one whole request.
struct HttpAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::string order;   // for the log line
    std::string outcome; // for the log line
};

// A request target without its query, as requests are routed and logged.
std::string_view pathOf(std::string_view target);
// Whether a request is a verification: POST to the verification path, whatever the query.
bool isVerifyPost(std::string_view method, std::string_view target);

// Routes one request by method and target to the verification. Bodies over the limit never get
// here: the HTTP layer answers them with tooLarge().
HttpAnswer answerRequest(const std::string &method, const std::string &target, const std::string &body,
                         EvidenceStore &store);
HttpAnswer notFound();
HttpAnswer tooLarge();

#endif
