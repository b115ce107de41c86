#ifndef FILEHASH_HASHANSWER_H
#define FILEHASH_HASHANSWER_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What the service's answer to a hash query asks the window to show. Pure: no widgets,
// no network, so it can be tested and fuzzed directly.
struct HashAnswer {
    enum class Kind {
        Unreadable, // not a JSON object (empty, not JSON, parse error, array, ...): show nothing
        Silent,     // a JSON object that asks for nothing: empty, no "code", failure without "des"
        Message,    // failure with "des": show des in a message box
        Abnormal,   // success without "data": show the abnormal-answer box
        Pass,       // success, "data"/"result" is JSON true
        Fail,       // success, anything else in "data"/"result"
    };
    Kind kind = Kind::Unreadable;
    QString des;        // Message: the service's text
    QString userName;   // Pass: applicant
    QString optTime;    // Pass: time information
    QString deviceInfo; // Pass: location information
};

HashAnswer readHashAnswer(const QByteArray &body);

// The answer's "data" object as readHashAnswer() reads the body; empty when there is none.
QJsonObject hashAnswerData(const QByteArray &body);

#endif
