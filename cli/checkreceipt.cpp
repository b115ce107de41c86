#include "cli/checkreceipt.h"

#include "cli/exitcodes.h"
#include "cli/output.h"
#include "core/filedigest.h"
#include "core/hashanswer.h"
#include "core/texts.h"
#include "core/timestamp.h"
#include "report/receiptpdf.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QUrl>

namespace
{

// A receipt is a few kilobytes; a file far larger than any is not read into memory.
constexpr qint64 kMaxReceiptBytes = 16 * 1024 * 1024;

std::optional<QString> answerField(const QJsonObject &data, const char *name)
{
    const QJsonValue value = data.value(QLatin1String(name));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

QString shown(const std::optional<QString> &field)
{
    return field ? QLatin1Char('"') + *field + QLatin1Char('"') : QStringLiteral("none");
}

} // namespace

QStringList receiptContradictions(const Receipt &r)
{
    QStringList found;
    const HashAnswer answer = readHashAnswer(r.body);
    if (answer.kind != HashAnswer::Kind::Pass && answer.kind != HashAnswer::Kind::Fail)
        found << QStringLiteral("the answer it holds is no verdict");
    else if (r.pass != (answer.kind == HashAnswer::Kind::Pass))
        found << QStringLiteral("it states a %1 where the answer it holds is a %2")
                     .arg(r.pass ? QStringLiteral("pass") : QStringLiteral("fail"),
                          r.pass ? QStringLiteral("fail") : QStringLiteral("pass"));
    const QJsonObject data = hashAnswerData(r.body);
    const std::pair<const char *, std::pair<const char *, const std::optional<QString> *>> fields[] = {
        {"applicant", {"userName", &r.applicant}},
        {"time", {"optTime", &r.time}},
        {"location", {"deviceInfo", &r.location}}};
    for (const auto &[name, field] : fields) {
        const std::optional<QString> held = answerField(data, field.first);
        if (held != *field.second)
            found << QStringLiteral("its %1 is %2 where the answer it holds has %3")
                         .arg(QLatin1String(name), shown(*field.second), shown(held));
    }
    if (r.type < 1 || r.type > texts::kTypeCount)
        found << QStringLiteral("its evidence type %1 is not one of 1-%2").arg(r.type).arg(texts::kTypeCount);
    else if (r.typeName != gbText(texts::kTypeNames[r.type - 1]))
        found << QStringLiteral("its evidence type %1 is named \"%2\", not \"%3\"")
                     .arg(r.type)
                     .arg(r.typeName, gbText(texts::kTypeNames[r.type - 1]));
    if (!QRegularExpression(QStringLiteral("\\A[0-9a-f]{64}\\z")).match(r.sha256).hasMatch())
        found << QStringLiteral("its digest is not 64 lower-case hexadecimal digits");
    if (r.order.isEmpty())
        found << QStringLiteral("it names no order");
    if (r.fileName != QFileInfo(r.filePath).fileName())
        found << QStringLiteral("its file name \"%1\" is not the last part of its path").arg(r.fileName);
    if (!r.sentAt.isValid() || !r.answeredAt.isValid() || r.answeredAt < r.sentAt)
        found << QStringLiteral("its answer did not come after its request");
    else if (r.digestedAt.isValid() && r.digestedAt > r.sentAt)
        found << QStringLiteral("its digest was taken after the request that sent it");
    return found;
}

namespace
{

// A receipt's saved bytes and what they say; an exit code when it cannot be read as one.
struct ReadReceipt {
    QByteArray bytes;
    std::optional<Receipt> receipt;
    int code = exitcode::kPassed;
};

ReadReceipt readReceiptFile(const QString &path)
{
    ReadReceipt read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        output::err(terminalText(path) + QStringLiteral(": ") + file.errorString());
        read.code = exitcode::kUsage;
        return read;
    }
    read.bytes = file.read(kMaxReceiptBytes);
    QString why;
    read.receipt = readReceiptJson(read.bytes, &why);
    if (!read.receipt) {
        output::err(terminalText(path) + QStringLiteral(" is not a receipt: ") + why);
        read.code = exitcode::kUsage;
    }
    return read;
}

} // namespace

int checkReceipt(const QString &receiptPath, const QString &filePath, bool json, const QByteArray &tsaCaPem)
{
    const ReadReceipt read = readReceiptFile(receiptPath);
    if (!read.receipt)
        return read.code;
    const std::optional<Receipt> &receipt = read.receipt;
    // Regular files only: a FIFO or a device named here would never end.
    const FileDigest digest = digestFile(filePath, DigestProgress(), true);
    if (digest.status != FileDigest::Status::Ok) {
        output::err(terminalText(filePath) +
                    (digest.status == FileDigest::Status::NotRegular
                         ? QStringLiteral(": not a regular file")
                         : QStringLiteral(": cannot be read, is empty or changed while read")));
        return exitcode::kFile;
    }
    const QStringList contradictions = receiptContradictions(*receipt);
    const bool same = digest.hex.compare(receipt->sha256, Qt::CaseInsensitive) == 0;
    int code = exitcode::kPassed;
    QString text;
    const QString order = terminalText(receipt->order);
    // First whether the receipt is still what was stamped: if not, nothing it says counts.
    std::optional<timestamping::Verification> stamp;
    QString stampText = QStringLiteral("not stamped: the tool's own record\n");
    if (receipt->stamp) {
        const std::optional<QByteArray> unstamped = unstampedReceiptJson(read.bytes);
        stamp = timestamping::verifyToken(
            receipt->stamp->token,
            QCryptographicHash::hash(unstamped.value_or(read.bytes), QCryptographicHash::Sha256), tsaCaPem);
        if (stamp->ok())
            stampText = QStringLiteral("stamped by %1 at %2 (serial %3)\n")
                            .arg(terminalText(stamp->info.tsaName), localTimeText(stamp->info.time),
                                 stamp->info.serial);
    }
    if (stamp && stamp->failure == timestamping::Failure::OtherDigest) {
        code = exitcode::kReceiptChanged;
        text = QStringLiteral("CHANGED: %1 was changed after it was stamped (%2)\n")
                   .arg(terminalText(receiptPath), terminalText(stamp->reason));
        stampText.clear();
    } else if (stamp && !stamp->ok()) {
        code = exitcode::kStamp;
        text = QStringLiteral("UNTRUSTED STAMP: the time-stamp of %1 cannot be trusted: %2\n")
                   .arg(terminalText(receiptPath), terminalText(stamp->reason));
        stampText.clear();
    } else if (!contradictions.isEmpty()) {
        code = exitcode::kReceiptInconsistent;
        text = QStringLiteral("INCONSISTENT: %1 contradicts itself, so it cannot say what was verified:\n")
                   .arg(terminalText(receiptPath));
        for (const QString &c : contradictions)
            text += QStringLiteral("  - ") + terminalText(c) + QLatin1Char('\n');
    } else if (!same) {
        code = exitcode::kFailed;
        text =
            QStringLiteral("DIFFERENT: %1 is not the file the receipt names\n  receipt: %2\n  file:    %3\n")
                .arg(terminalText(filePath), receipt->sha256, digest.hex);
    } else if (!receipt->pass) {
        code = exitcode::kReceiptFail;
        text = QStringLiteral(
                   "FAIL: %1 is the file the receipt names, and the receipt records a FAIL: the service "
                   "held another digest for order %2 (answered %3)\n")
                   .arg(terminalText(filePath), order, localTimeText(receipt->answeredAt));
    } else {
        text =
            QStringLiteral("pass: %1 is the file the receipt names, and the receipt records a pass for order "
                           "%2, type %3 (answered %4)\n")
                .arg(terminalText(filePath), order)
                .arg(receipt->type)
                .arg(localTimeText(receipt->answeredAt));
    }
    text += stampText;
    if (json) {
        QJsonObject stamped{{QStringLiteral("present"), bool(receipt->stamp)}};
        if (stamp) {
            stamped.insert(QStringLiteral("valid"), stamp->ok());
            stamped.insert(QStringLiteral("reason"), stamp->reason);
            stamped.insert(QStringLiteral("tsa"), stamp->info.tsaName);
            stamped.insert(QStringLiteral("time"), utcTimeText(stamp->info.time));
            stamped.insert(QStringLiteral("serial"), stamp->info.serial);
        }
        const QJsonObject o{{QStringLiteral("receipt"), receiptPath},
                            {QStringLiteral("timeStamp"), stamped},
                            {QStringLiteral("file"), filePath},
                            {QStringLiteral("receiptSha256"), receipt->sha256},
                            {QStringLiteral("fileSha256"), digest.hex},
                            {QStringLiteral("sameFile"), same},
                            {QStringLiteral("receiptVerdict"),
                             receipt->pass ? QStringLiteral("pass") : QStringLiteral("fail")},
                            {QStringLiteral("order"), receipt->order},
                            {QStringLiteral("type"), receipt->type},
                            {QStringLiteral("consistent"), contradictions.isEmpty()},
                            {QStringLiteral("contradictions"), QJsonArray::fromStringList(contradictions)},
                            {QStringLiteral("exitCode"), code}};
        output::out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else {
        output::out(text);
    }
    return code;
}

int stampReceipt(const QString &receiptPath, const QString &tsaUrl, const QByteArray &tsaCaPem)
{
    ReadReceipt read = readReceiptFile(receiptPath);
    if (!read.receipt)
        return read.code;
    if (read.receipt->stamp)
        return output::err(terminalText(receiptPath) + QStringLiteral(" is stamped already")),
               exitcode::kUsage;
    if (!unstampedReceiptJson(read.bytes))
        return output::err(terminalText(receiptPath) +
                           QStringLiteral(
                               " was saved before receipts had a place for a stamp: it cannot be stamped")),
               exitcode::kUsage;
    QNetworkAccessManager network;
    TimeStamper stamper(&network);
    timestamping::Stamp stamp;
    QEventLoop loop;
    QObject::connect(&stamper, &TimeStamper::finished, &loop, [&](const timestamping::Stamp &answer) {
        stamp = answer;
        loop.quit();
    });
    stamper.stamp(QUrl(tsaUrl), QCryptographicHash::hash(read.bytes, QCryptographicHash::Sha256), tsaCaPem);
    loop.exec();
    if (!stamp.ok()) {
        output::err(QStringLiteral("no time-stamp: ") + terminalText(stamp.reason) +
                    QStringLiteral("; the receipt is left as it was"));
        return exitcode::kStamp;
    }
    Receipt stamped = *read.receipt;
    stamped.stamp = ReceiptStamp{stamp.token, stamp.info};
    QString base = receiptPath;
    if (base.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
        base.chop(5);
    QString error;
    if (!saveReceipt(stamped, read.bytes, stamp.response, QString(), base, &error)) {
        output::err(QStringLiteral("receipt not saved: ") + error + QStringLiteral("; it is left as it was"));
        return exitcode::kNotWritten;
    }
    output::out(QStringLiteral("stamped: %1 by %2 at %3 (serial %4)\n")
                    .arg(terminalText(receiptPath), terminalText(stamp.info.tsaName),
                         localTimeText(stamp.info.time), stamp.info.serial));
    return exitcode::kPassed;
}
