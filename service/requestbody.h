#ifndef FILEHASH_SERVICE_REQUESTBODY_H
#define FILEHASH_SERVICE_REQUESTBODY_H

#include <map>
#include <string>

// A request body read as one flat JSON object whose values are all strings, each key once: the
// only shape a verification request has. Bodies are read here and never handed to a general JSON
// parser, so nothing a client nests or repeats can cost memory beyond the body itself.
struct FlatObject {
    enum class Problem {
        None,
        Malformed,   // not JSON, or not one object
        NotAString,  // a member's value is not a string: `key` names it
        RepeatedKey, // a key occurs twice (escapes decoded): `key` names it
    };
    Problem problem = Problem::None;
    std::string key;
    std::map<std::string, std::string> members; // UTF-8, escapes decoded; only when problem is None
};

FlatObject parseFlatObject(const std::string &body);

// The length of the well-formed UTF-8 sequence of two to four bytes at text[pos] (no overlong
// form, no surrogate, nothing past U+10FFFF), or 0 when there is none; pos < text.size().
std::size_t utf8SequenceLength(const std::string &text, std::size_t pos);

#endif
