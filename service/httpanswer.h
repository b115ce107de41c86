#ifndef FILEHASH_SERVICE_HTTPANSWER_H
#define FILEHASH_SERVICE_HTTPANSWER_H

#include <string>

class EvidenceStore;

// What the HTTP layer sends back for one whole request.
struct HttpAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::string order;   // for the log line
    std::string outcome; // for the log line
};

// Routes one request by method and target to the verification. Bodies over the limit never get
// here: the HTTP layer answers them with tooLarge().
HttpAnswer answerRequest(const std::string &method, const std::string &target, const std::string &body,
                         EvidenceStore &store);
HttpAnswer notFound();
HttpAnswer tooLarge();

#endif
