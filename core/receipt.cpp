#include "core/receipt.h"

#include "core/protocol.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace
{

const char kFormat[] = "filehash-receipt";
const int kFormatVersion = 1;
// The member that holds the stamp, and its line as QJsonDocument indents a member of the top
// object: nested members are indented deeper, and no string holds a raw line break, so the line
// is found by its start alone.
const char kStampKey[] = "timeStamp";
const char kStampLine[] = "\n    \"timeStamp\": ";

QJsonObject timeObject(const QDateTime &at)
{
    return QJsonObject{{QStringLiteral("local"), localTimeText(at)},
                       {QStringLiteral("utc"), utcTimeText(at)}};
}

QDateTime readTime(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
}

// A field of the answer: null when the service did not return it as text.
QJsonValue fieldValue(const std::optional<QString> &field)
{
    return field ? QJsonValue(*field) : QJsonValue(QJsonValue::Null);
}

std::optional<QString> readField(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

bool operator==(const Receipt &a, const Receipt &b)
{
    const hashquery::Connection &c = a.connection;
    const hashquery::Connection &d = b.connection;
    return a.pass == b.pass && a.type == b.type && a.typeName == b.typeName && a.order == b.order &&
           a.fileName == b.fileName && a.filePath == b.filePath && a.fileSize == b.fileSize &&
           a.fileModified == b.fileModified && a.digestedAt == b.digestedAt && a.sha256 == b.sha256 &&
           a.serviceUrl == b.serviceUrl && c.certSubject == d.certSubject && c.certIssuer == d.certIssuer &&
           c.certNotBefore == d.certNotBefore && c.certNotAfter == d.certNotAfter &&
           c.certSha256 == d.certSha256 && c.protocol == d.protocol && c.cipher == d.cipher &&
           a.applicant == b.applicant && a.time == b.time && a.location == b.location && a.body == b.body &&
           a.sentAt == b.sentAt && a.answeredAt == b.answeredAt && a.toolName == b.toolName &&
           a.toolVersion == b.toolVersion && a.stamp.has_value() == b.stamp.has_value() &&
           (!a.stamp || (a.stamp->token == b.stamp->token && a.stamp->info.time == b.stamp->info.time &&
                         a.stamp->info.serial == b.stamp->info.serial));
}

QString localTimeText(const QDateTime &at)
{
    // Qt writes no offset for local time; an offset-from-UTC time carries it.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString utcTimeText(const QDateTime &at)
{
    return at.toUTC().toString(Qt::ISODateWithMs);
}

std::optional<Receipt> makeReceipt(const hashquery::Outcome &outcome, const ReceiptFile &file,
                                   const QString &toolName)
{
    const HashAnswer &answer = outcome.answer;
    if (outcome.kind != hashquery::Outcome::Kind::Answered ||
        (answer.kind != HashAnswer::Kind::Pass && answer.kind != HashAnswer::Kind::Fail))
        return std::nullopt;
    Receipt r;
    r.pass = answer.kind == HashAnswer::Kind::Pass;
    r.type = outcome.sent.type;
    if (r.type >= 1 && r.type <= texts::kTypeCount)
        r.typeName = gbText(texts::kTypeNames[r.type - 1]);
    r.order = outcome.sent.order;
    r.fileName = QFileInfo(file.path).fileName();
    r.filePath = file.path;
    r.fileSize = file.size;
    r.fileModified = file.modified;
    r.digestedAt = file.digestedAt;
    r.sha256 = outcome.sent.hash;
    r.serviceUrl = outcome.url.toString();
    r.connection = outcome.connection;
    // Read as the window reads a pass's fields; the window shows none with a fail, but what the
    // service said about it belongs in the record. The body itself is kept whole in any case.
    const QJsonObject data = hashAnswerData(outcome.body);
    r.applicant = readField(data.value(QLatin1String(protocol::UserName)));
    r.time = readField(data.value(QLatin1String(protocol::OptTime)));
    r.location = readField(data.value(QLatin1String(protocol::DeviceInfo)));
    r.body = outcome.body;
    r.sentAt = outcome.sent.at;
    r.answeredAt = outcome.answeredAt;
    r.toolName = toolName;
    r.toolVersion = QStringLiteral(FILEHASH_VERSION);
    return r;
}

QByteArray receiptJson(const Receipt &r)
{
    const hashquery::Connection &c = r.connection;
    QJsonObject o;
    o.insert(QStringLiteral("format"), QLatin1String(kFormat));
    o.insert(QStringLiteral("formatVersion"), kFormatVersion);
    o.insert(QStringLiteral("verdict"), r.pass ? QStringLiteral("pass") : QStringLiteral("fail"));
    o.insert(QStringLiteral("evidenceType"),
             QJsonObject{{QStringLiteral("code"), r.type}, {QStringLiteral("name"), r.typeName}});
    o.insert(QStringLiteral("order"), r.order);
    o.insert(QStringLiteral("file"), QJsonObject{{QStringLiteral("name"), r.fileName},
                                                 {QStringLiteral("path"), r.filePath},
                                                 {QStringLiteral("size"), r.fileSize},
                                                 {QStringLiteral("modified"), timeObject(r.fileModified)},
                                                 {QStringLiteral("digestedAt"), timeObject(r.digestedAt)}});
    o.insert(QStringLiteral("sha256"), r.sha256);
    o.insert(
        QStringLiteral("service"),
        QJsonObject{{QStringLiteral("url"), r.serviceUrl},
                    {QStringLiteral("certificate"),
                     QJsonObject{{QStringLiteral("subject"), c.certSubject},
                                 {QStringLiteral("issuer"), c.certIssuer},
                                 {QStringLiteral("notBefore"), c.certNotBefore.toUTC().toString(Qt::ISODate)},
                                 {QStringLiteral("notAfter"), c.certNotAfter.toUTC().toString(Qt::ISODate)},
                                 {QStringLiteral("sha256Fingerprint"), c.certSha256}}},
                    {QStringLiteral("protocol"), c.protocol},
                    {QStringLiteral("cipher"), c.cipher}});
    o.insert(QStringLiteral("answer"),
             QJsonObject{{QStringLiteral("applicant"), fieldValue(r.applicant)},
                         {QStringLiteral("time"), fieldValue(r.time)},
                         {QStringLiteral("location"), fieldValue(r.location)},
                         {QStringLiteral("bodyBase64"), QString::fromLatin1(r.body.toBase64())}});
    o.insert(QStringLiteral("sentAt"), timeObject(r.sentAt));
    o.insert(QStringLiteral("answeredAt"), timeObject(r.answeredAt));
    o.insert(QStringLiteral("tool"),
             QJsonObject{{QStringLiteral("name"), r.toolName}, {QStringLiteral("version"), r.toolVersion}});
    o.insert(QStringLiteral("note"), gbText(texts::kReceiptNote));
    // Null until stamped; a stamp then takes this line (stampedReceiptJson()).
    o.insert(QLatin1String(kStampKey), QJsonValue(QJsonValue::Null));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray stampedReceiptJson(const QByteArray &unstamped, const ReceiptStamp &stamp)
{
    const QJsonObject value{{QStringLiteral("tokenBase64"), QString::fromLatin1(stamp.token.toBase64())},
                            {QStringLiteral("tsa"), stamp.info.tsaName},
                            {QStringLiteral("time"), timeObject(stamp.info.time)},
                            {QStringLiteral("serial"), stamp.info.serial},
                            {QStringLiteral("digest"), stamp.info.digest},
                            {QStringLiteral("policy"), stamp.info.policy}};
    QByteArray json = unstamped;
    const QByteArray line = kStampLine + QByteArray("null");
    const int at = json.indexOf(line);
    if (at < 0)
        return QByteArray();
    return json.replace(at, line.size(), kStampLine + QJsonDocument(value).toJson(QJsonDocument::Compact));
}

std::optional<QByteArray> unstampedReceiptJson(const QByteArray &json)
{
    const int at = json.indexOf(kStampLine);
    if (at < 0)
        return std::nullopt;
    const int value = at + int(qstrlen(kStampLine));
    if (json.mid(value, 4) == "null")
        return json;
    // A string in JSON holds no raw line break: the stamp's line ends at the first one, after the
    // comma that may follow it.
    int end = json.indexOf('\n', value);
    if (end < 0 || json.at(value) != '{')
        return std::nullopt;
    if (json.at(end - 1) == ',')
        --end;
    QByteArray unstamped = json;
    return unstamped.replace(value, end - value, "null");
}

std::optional<Receipt> readReceiptJson(const QByteArray &json, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<Receipt> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toString() != QLatin1String(kFormat))
        return fail(QStringLiteral("not a filehash receipt"));
    if (o.value(QStringLiteral("formatVersion")).toInt() != kFormatVersion)
        return fail(QStringLiteral("a receipt format this version does not read"));
    const QString verdict = o.value(QStringLiteral("verdict")).toString();
    const QString sha256 = o.value(QStringLiteral("sha256")).toString();
    if ((verdict != QLatin1String("pass") && verdict != QLatin1String("fail")) || sha256.size() != 64)
        return fail(QStringLiteral("a receipt without a verdict or a digest"));

    Receipt r;
    r.pass = verdict == QLatin1String("pass");
    const QJsonObject type = o.value(QStringLiteral("evidenceType")).toObject();
    r.type = type.value(QStringLiteral("code")).toInt();
    r.typeName = type.value(QStringLiteral("name")).toString();
    r.order = o.value(QStringLiteral("order")).toString();
    const QJsonObject file = o.value(QStringLiteral("file")).toObject();
    r.fileName = file.value(QStringLiteral("name")).toString();
    r.filePath = file.value(QStringLiteral("path")).toString();
    r.fileSize = static_cast<qint64>(file.value(QStringLiteral("size")).toDouble());
    r.fileModified = readTime(file.value(QStringLiteral("modified")).toObject().value(QStringLiteral("utc")));
    r.digestedAt = readTime(file.value(QStringLiteral("digestedAt")).toObject().value(QStringLiteral("utc")));
    r.sha256 = sha256;
    const QJsonObject service = o.value(QStringLiteral("service")).toObject();
    r.serviceUrl = service.value(QStringLiteral("url")).toString();
    const QJsonObject cert = service.value(QStringLiteral("certificate")).toObject();
    r.connection.certSubject = cert.value(QStringLiteral("subject")).toString();
    r.connection.certIssuer = cert.value(QStringLiteral("issuer")).toString();
    r.connection.certNotBefore = readTime(cert.value(QStringLiteral("notBefore")));
    r.connection.certNotAfter = readTime(cert.value(QStringLiteral("notAfter")));
    r.connection.certSha256 = cert.value(QStringLiteral("sha256Fingerprint")).toString();
    r.connection.protocol = service.value(QStringLiteral("protocol")).toString();
    r.connection.cipher = service.value(QStringLiteral("cipher")).toString();
    const QJsonObject answer = o.value(QStringLiteral("answer")).toObject();
    r.applicant = readField(answer.value(QStringLiteral("applicant")));
    r.time = readField(answer.value(QStringLiteral("time")));
    r.location = readField(answer.value(QStringLiteral("location")));
    r.body = QByteArray::fromBase64(answer.value(QStringLiteral("bodyBase64")).toString().toLatin1());
    r.sentAt = readTime(o.value(QStringLiteral("sentAt")).toObject().value(QStringLiteral("utc")));
    r.answeredAt = readTime(o.value(QStringLiteral("answeredAt")).toObject().value(QStringLiteral("utc")));
    const QJsonObject tool = o.value(QStringLiteral("tool")).toObject();
    r.toolName = tool.value(QStringLiteral("name")).toString();
    r.toolVersion = tool.value(QStringLiteral("version")).toString();
    const QJsonObject stamp = o.value(QLatin1String(kStampKey)).toObject();
    if (!stamp.isEmpty()) {
        ReceiptStamp read;
        read.token = QByteArray::fromBase64(stamp.value(QStringLiteral("tokenBase64")).toString().toLatin1());
        read.info.tsaName = stamp.value(QStringLiteral("tsa")).toString();
        read.info.time =
            readTime(stamp.value(QStringLiteral("time")).toObject().value(QStringLiteral("utc")));
        read.info.serial = stamp.value(QStringLiteral("serial")).toString();
        read.info.digest = stamp.value(QStringLiteral("digest")).toString();
        read.info.policy = stamp.value(QStringLiteral("policy")).toString();
        read.info.hashAlgorithm = QStringLiteral("SHA256");
        r.stamp = read;
    }
    return r;
}

QString receiptBaseName(const Receipt &receipt)
{
    QString order = receipt.order;
    // An order number is the service's text: keep it from naming another folder or a device.
    for (QChar &ch : order) {
        if (ch.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(ch))
            ch = QLatin1Char('_');
    }
    if (order.startsWith(QLatin1Char('.')))
        order[0] = QLatin1Char('_');
    return gbText(texts::kReceiptFileName) + QLatin1Char('-') + order + QLatin1Char('-') +
           receipt.answeredAt.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
}
