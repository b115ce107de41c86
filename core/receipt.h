#ifndef FILEHASH_CORE_RECEIPT_H
#define FILEHASH_CORE_RECEIPT_H

#include "core/hashquery.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

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

QByteArray receiptJson(const Receipt &receipt);
// Reads what receiptJson() wrote; error says why a text is not a receipt.
std::optional<Receipt> readReceiptJson(const QByteArray &json, QString *error = nullptr);

// "验证报告-<order>-<yyyyMMdd-HHmmss>", the answer's local time, safe as a file name.
QString receiptBaseName(const Receipt &receipt);

// Local time with its offset from UTC, and the same instant in UTC, as ISO 8601 text.
QString localTimeText(const QDateTime &at);
QString utcTimeText(const QDateTime &at);

#endif
