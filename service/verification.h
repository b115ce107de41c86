#ifndef FILEHASH_SERVICE_VERIFICATION_H
#define FILEHASH_SERVICE_VERIFICATION_H

#include <string>

class EvidenceStore;

// The "code" of an answer: 0 for an order that was found, one non-zero value for each reason
// a request is refused, so that a client can tell them apart without reading "des".
enum class AnswerCode {
    Ok = 0,
    NotAnObject = 1001,   // the body is not one flat JSON object with each key once
    MissingMember = 1002, // "hash", "quorvelOrder" or "type" is absent
    NotAString = 1003,    // one of them is present but not a JSON string
    UnknownOrder = 2001,  // no evidence under that order number
    TypeMismatch = 2002,  // the order exists with another evidence type
    StoreFailed = 5001,   // the database could not be read
};

struct VerificationAnswer {
    std::string json;    // the UTF-8 JSON object to send back
    std::string order;   // the posted order number, as far as it could be read (for the log)
    std::string outcome; // a few words for the log: "pass", "fail", "unknown order", ...
};

// Answers one verification request: `body` is the request body as it came, whatever its
// Content-Type. The applicant, time and location are told only for a matching digest. Never
// throws; safe to call from several threads at once.
VerificationAnswer answerVerification(const std::string &body, EvidenceStore &store);

#endif
