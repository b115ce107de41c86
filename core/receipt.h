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
    QString sha256; // the digest that was sent
    QString serviceUrl;
    hashquery::Connection connection;
    QString applicant;
    QString time;
    QString location;
    QByteArray body; // the answer exactly as received
    QDateTime sentAt;
    QDateTime answeredAt;
    QString toolName;
    QString toolVersion;
};

bool operator==(const Receipt &a, const Receipt &b);

// The file as it was when its digest was taken.
struct ReceiptFile {
    QString path;
    qint64 size = 0;
    QDateTime modified;
};

// The receipt of a pass or a fail; nothing for any other outcome.
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
