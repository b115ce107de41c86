#ifndef FILEHASH_CORE_HASHQUERY_H
#define FILEHASH_CORE_HASHQUERY_H

#include "core/hashanswer.h"
#include "core/protocol.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The verification request: asks the service whether a digest is the one preserved under an
// order. Knows the path, the exact body, the bound on an answer's size and how a finished reply
// reads; leaves what to show to the caller.
namespace hashquery
{

// Path of the service's hash query, after the base URL.
constexpr const char *kPath = protocol::VerifyPath;
// How long an answer may take before the user is told.
constexpr int kTimeoutMs = 50000;
// Real answers are a few hundred bytes; anything past this is not read.
constexpr qint64 kMaxAnswerBytes = 1024 * 1024;

// What was asked: carried with the reply to its answer.
struct Sent {
    QString order;
    QString hash;
    int type = 0;
    QDateTime at; // when the request was sent
};

// The base URL (an HTTPS origin without a trailing slash) plus the path.
QUrl url(const QString &baseUrl);
// The compact JSON object sent: order, digest and type as text.
QByteArray body(const QString &order, const QString &hash, int type);

// Posts the query with the manager; the reply ends in the manager's finished() signal. The reply
// keeps what was sent, and is stopped as soon as its answer announces or brings too much.
QNetworkReply *post(QNetworkAccessManager *manager, const QString &baseUrl, const QString &order,
                    const QString &hash, int type);

// Attaches what was sent to its reply (post() does it for its own).
void tag(QNetworkReply *reply, const Sent &sent);

// True for a reply of a hash query made by post().
bool isHashQuery(const QNetworkReply *reply);

// True when an answer announces or has brought more than an answer may hold, or was stopped for
// that; such an answer is not read.
bool answerTooLarge(const QNetworkReply *reply);

// The service's side of the connection an answer came over, as far as it is known.
struct Connection {
    QString certSubject;
    QString certIssuer;
    QDateTime certNotBefore;
    QDateTime certNotAfter;
    QString certSha256; // upper-case hexadecimal pairs separated by colons
    QString protocol;   // e.g. "TLSv1.3"
    QString cipher;     // e.g. "TLS_AES_256_GCM_SHA384"
};

// A finished hash query, reduced to what the caller acts on.
struct Outcome {
    enum class Kind {
        Failed,   // no readable answer came: failure says why
        Answered, // answer holds what the service said (which may be nothing to show)
    };
    Kind kind = Kind::Failed;
    QString failure;
    HashAnswer answer;
    Sent sent;
    QByteArray body; // the answer's bytes as received (empty when too large)
    QDateTime answeredAt;
    QUrl url; // where the query went
    Connection connection;
};

// Reads a finished reply and schedules it for deletion. A body that is not readable counts as a
// failure only when the request failed; a readable answer counts whatever the HTTP status.
Outcome finish(QNetworkReply *reply);

} // namespace hashquery

#endif
