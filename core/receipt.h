#ifndef FILEHASH_CORE_RECEIPT_H
#define FILEHASH_CORE_RECEIPT_H

#include "core/hashquery.h"
#include "core/timestamp.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// A time-stamp a receipt carries: an RFC 3161 token over the SHA-256 of the receipt's JSON as it
// was saved without its stamp (see unstampedReceiptJson()).
struct ReceiptStamp {
    QByteArray token;             // DER; verified, never trusted, when read back
    timestamping::TokenInfo info; // what the token says, as the receipt states it
};

// The tool's own record of one verdict: what was verified, where, over which connection, and what
// the service answered. Kept as JSON for machines and drawn as a PDF for people (report/).
struct Receipt {
    bool pass = false;
    int type = 0;
    QString typeName;
    QString order;
    QString fileName;
    QString filePath;
    qint64 fileSize = 0;
    QDateTime fileModified;
    QDateTime digestedAt; // when the digest was taken; invalid in receipts written before it was kept
    QString sha256;       // the digest that was sent
    QString serviceUrl;
    hashquery::Connection connection;
    // The answer's fields, none when the service did not return them as text.
    std::optional<QString> applicant;
    std::optional<QString> time; // as the service gives it, with no zone
    std::optional<QString> location;
    QByteArray body; // the answer exactly as received
    QDateTime sentAt;
    QDateTime answeredAt;
    QString toolName;
    QString toolVersion;
    std::optional<ReceiptStamp> stamp;
};

bool operator==(const Receipt &a, const Receipt &b);

// The file as it was when its digest was taken, and when that was.
struct ReceiptFile {
    QString path;
    qint64 size = 0;
    QDateTime modified;
    QDateTime digestedAt;
};

// The receipt of a pass or a fail; nothing for any other outcome. toolName is the product's name
// ("filehash", "filehash-verify"), which the receipt names with the version.
std::optional<Receipt> makeReceipt(const hashquery::Outcome &outcome, const ReceiptFile &file,
                                   const QString &toolName);

// The receipt's JSON as it is saved before it is stamped: its member "timeStamp" is null, on a line
// of its own, `    "timeStamp": null,`. A time-stamp is taken over the SHA-256 of these bytes.
QByteArray receiptJson(const Receipt &receipt);
// The saved JSON of a stamped receipt: unstamped, the JSON above, with its "timeStamp" line holding
// the stamp as one line of JSON instead of null; not a byte elsewhere changes.
QByteArray stampedReceiptJson(const QByteArray &unstamped, const ReceiptStamp &stamp);
// The bytes a receipt's stamp is over: json with its "timeStamp" line put back to null, the inverse
// of stampedReceiptJson(); json itself when it is not stamped. Nothing for a text without that
// line. Equal to what `sed 's/^    "timeStamp": {.*}\(,\{0,1\}\)$/    "timeStamp": null\1/'` makes of
// it, so that anyone can check the stamp with openssl alone.
std::optional<QByteArray> unstampedReceiptJson(const QByteArray &json);
// Reads a receipt's JSON, stamped or not; error says why a text is not a receipt.
std::optional<Receipt> readReceiptJson(const QByteArray &json, QString *error = nullptr);

// "验证报告-<order>-<yyyyMMdd-HHmmss>", the answer's local time, safe as a file name.
QString receiptBaseName(const Receipt &receipt);

// Local time with its offset from UTC, and the same instant in UTC, as ISO 8601 text.
QString localTimeText(const QDateTime &at);
QString utcTimeText(const QDateTime &at);

#endif
