#ifndef FILEHASH_CORE_TIMESTAMP_H
#define FILEHASH_CORE_TIMESTAMP_H

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// RFC 3161 time-stamps: asking a time-stamping authority (TSA) to sign that a digest existed at a
// time, reading its answer, and checking a token later without a network. Built on OpenSSL's TS
// API, so that what is written and accepted here is what `openssl ts` writes and accepts. Only
// SHA-256 is asked for and accepted.
//
// A granted stamp comes in two forms, kept side by side:
// - the token: the signed ContentInfo (RFC 3161 2.4.2, TimeStampToken), DER. verifyToken() checks
//   it; it is what a document carries;
// - the response: the TimeStampResp as the TSA sent it (its status and the token), DER. It is what
//   a `.tsr` file holds, because `openssl ts -verify -data FILE -in FILE.tsr -CAfile CA.pem` reads
//   a response with -in (a bare token would need -token_in).
namespace timestamping
{

// The user waits while a stamp is asked for; TSAs answer in well under a second.
constexpr int kTimeoutMs = 10000;
// A response is a signature and the TSA's certificates: 1.0 KB from our P-256 test TSA, 5.4 KB
// from an RSA-4096 TSA that sends its chain of three. 128 KiB leaves room for any real chain while
// keeping what a hostile server can make us hold, parse and store small.
constexpr qint64 kMaxReplyBytes = 128 * 1024;
// Content-Type of a request (RFC 3161 3.4).
extern const char kRequestType[];

// Why no stamp was obtained, or why a token does not prove what it should.
enum class Failure {
    None,
    Network,    // no answer: no connection, TLS refused, connection broken, not an HTTP(S) URL
    TimedOut,   // no whole answer within kTimeoutMs
    HttpStatus, // an HTTP status other than 200 (a redirect is not followed)
    TooLarge,   // the answer announced or brought more than kMaxReplyBytes
    Malformed,  // not DER, not a time-stamp response or token, a part missing; a digest not SHA-256
    Refused,    // the TSA's status is neither granted nor grantedWithMods
    WrongNonce, // the token answers another request
    Untrusted,  // the signer's certificate does not chain to the trusted CAs now (expired, unknown CA)
    NotForTimeStamping, // the signer's certificate is not for time-stamping (extended key usage)
    BadSignature,       // the signature does not verify: the token itself was altered
    OtherDigest,        // the token stamps another digest or uses another hash: the data changed
};

// What a token says.
struct TokenInfo {
    QString tsaName;       // the signer certificate's subject, "O=..., CN=..." in its order
    QDateTime time;        // genTime, in UTC, to the second
    QString serial;        // the token's serial number, upper-case hexadecimal
    QString digest;        // the digest stamped, lower-case hexadecimal
    QString hashAlgorithm; // of the digest stamped: "SHA256"
    QString policy;        // the TSA's policy, a dotted OID
};

// A request as sent, kept to check its answer with.
struct Request {
    QByteArray der;    // TimeStampReq: version 1, SHA-256 imprint, nonce, certReq true
    QByteArray digest; // the SHA-256 to stamp, 32 bytes
    QByteArray nonce;  // a positive integer, big-endian
};

// The outcome of asking for a stamp.
struct Stamp {
    Failure failure = Failure::None;
    QString reason;      // for a failure: why, in English, with the TSA's own words when it gave some
    QByteArray response; // the TimeStampResp as received; empty unless ok()
    QByteArray token;    // the token; empty unless ok()
    TokenInfo info;      // as far as the token could be read
    bool ok() const { return failure == Failure::None; }
};

// The outcome of checking a token: failure is None, Malformed, Untrusted, NotForTimeStamping,
// BadSignature or OtherDigest.
struct Verification {
    Failure failure = Failure::None;
    QString reason;
    TokenInfo info; // as far as the token could be read
    bool ok() const { return failure == Failure::None; }
};

// A request over a SHA-256 digest (32 bytes) with a fresh random 64-bit nonce, as `openssl ts
// -query` makes one. The der is empty for a digest of another length.
Request request(const QByteArray &sha256);

// Reads a TSA's answer to `sent`: a DER TimeStampResp whose status is granted, whose token
// verifyToken() accepts for sent.digest with caPem, and whose nonce is the one sent. A stamp is
// taken only if it will pass the check later.
Stamp readReply(const QByteArray &der, const Request &sent, const QByteArray &caPem);

// Checks a token offline against the SHA-256 of the data it should stamp, in this order: who
// signed it (its certificate chain to the CAs in caPem, PEM, or to the system's default trust
// store when caPem is empty, at the current time, as `openssl ts -verify` does), that the
// certificate is for time-stamping (extended key usage timeStamping alone, critical, RFC 3161
// 2.3), the signature, and only then the message imprint, so that an altered token or an unknown
// signer is never told as changed data.
Verification verifyToken(const QByteArray &token, const QByteArray &sha256, const QByteArray &caPem);

} // namespace timestamping

Q_DECLARE_METATYPE(timestamping::Stamp)

// Asks a TSA for a stamp over HTTP or HTTPS: a deadline, a bound on the answer's size, no
// redirect followed. HTTPS trusts the process's default TLS configuration; the token's signer must
// chain to caPem (see verifyToken). The manager must outlive the stamper.
class TimeStamper : public QObject
{
    Q_OBJECT
public:
    explicit TimeStamper(QNetworkAccessManager *manager, QObject *parent = nullptr);
    ~TimeStamper() override;

    // Asks for a stamp over sha256; finished() follows once, never from inside this call. A stamp
    // still running is given up without a signal.
    void stamp(const QUrl &url, const QByteArray &sha256, const QByteArray &caPem);

signals:
    void finished(const timestamping::Stamp &stamp);

private:
    void drop();
    void guardSize();
    void onTimeout();
    void onFinished();

    QNetworkAccessManager *m_manager;
    QTimer *m_timer;
    QPointer<QNetworkReply> m_reply;
    timestamping::Request m_sent;
    QByteArray m_caPem;
    timestamping::Failure m_abortedFor = timestamping::Failure::None; // TimedOut or TooLarge
    quint64 m_generation = 0; // counts stamp() calls, so a refusal queued for an earlier one is dropped
};

#endif
