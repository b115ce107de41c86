#include "core/hashquery.h"

#include "core/texts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QVariant>

namespace hashquery
{

namespace
{

const char kSentOrder[] = "filehash_sentOrder";
const char kSentHash[] = "filehash_sentHash";
const char kSentType[] = "filehash_sentType";
const char kSentAt[] = "filehash_sentAt";
const char kTooLarge[] = "filehash_answerTooLarge";

QString protocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLSv1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLSv1.3");
    default:
        // Older protocols are refused by Qt's defaults; name whatever it was rather than guess.
        return QStringLiteral("protocol %1").arg(static_cast<int>(protocol));
    }
}

// "CN=..., O=..." in the order the certificate names them.
QString distinguishedName(const QSslCertificate &cert, bool issuer)
{
    QStringList parts;
    const QList<QByteArray> attributes = issuer ? cert.issuerInfoAttributes() : cert.subjectInfoAttributes();
    for (const QByteArray &attribute : attributes) {
        const QStringList values = issuer ? cert.issuerInfo(attribute) : cert.subjectInfo(attribute);
        for (const QString &value : values)
            parts << QString::fromLatin1(attribute) + QLatin1Char('=') + value;
    }
    return parts.join(QStringLiteral(", "));
}

Connection connectionOf(const QNetworkReply *reply)
{
    Connection c;
    const QSslConfiguration tls = reply->sslConfiguration();
    const QSslCertificate cert = tls.peerCertificate();
    if (!cert.isNull()) {
        c.certSubject = distinguishedName(cert, false);
        c.certIssuer = distinguishedName(cert, true);
        c.certNotBefore = cert.effectiveDate();
        c.certNotAfter = cert.expiryDate();
        c.certSha256 = QString::fromLatin1(cert.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
    }
    if (!tls.sessionCipher().isNull()) {
        c.protocol = protocolName(tls.sessionProtocol());
        c.cipher = tls.sessionCipher().name();
    }
    return c;
}

} // namespace

QUrl url(const QString &baseUrl)
{
    return QUrl(baseUrl + QLatin1String(kPath));
}

QByteArray body(const QString &order, const QString &hash, int type)
{
    QJsonObject query;
    query.insert(QLatin1String(protocol::Order), QJsonValue(order));
    query.insert(QLatin1String(protocol::Hash), QJsonValue(hash));
    query.insert(QLatin1String(protocol::Type), QJsonValue(QString::number(type)));
    return QJsonDocument(query).toJson(QJsonDocument::Compact);
}

QNetworkReply *post(QNetworkAccessManager *manager, const QString &baseUrl, const QString &order,
                    const QString &hash, int type)
{
    QNetworkRequest request(url(baseUrl));
    // An answer comes from the service itself or not at all.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const Sent sent{order, hash, type, QDateTime::currentDateTime()};
    QNetworkReply *reply = manager->post(request, body(order, hash, type));
    // The verdict names what was sent, even if other inputs are chosen meanwhile.
    tag(reply, sent);
    // The reply buffers at most one byte more than an answer may hold, and is given up as soon as
    // it announces or brings more.
    reply->setReadBufferSize(kMaxAnswerBytes + 1);
    auto guard = [reply] {
        if (reply->isRunning() && answerTooLarge(reply)) {
            reply->setProperty(kTooLarge, true);
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, guard);
    QObject::connect(reply, &QIODevice::readyRead, reply, guard);
    return reply;
}

void tag(QNetworkReply *reply, const Sent &sent)
{
    reply->setProperty(kSentOrder, sent.order);
    reply->setProperty(kSentHash, sent.hash);
    reply->setProperty(kSentType, sent.type);
    reply->setProperty(kSentAt, sent.at);
}

bool isHashQuery(const QNetworkReply *reply)
{
    return reply && reply->url().path().compare(QLatin1String(kPath), Qt::CaseSensitive) == 0;
}

bool answerTooLarge(const QNetworkReply *reply)
{
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    return reply->property(kTooLarge).toBool() || announced > kMaxAnswerBytes ||
           reply->bytesAvailable() > kMaxAnswerBytes;
}

Outcome finish(QNetworkReply *reply)
{
    Outcome outcome;
    outcome.answeredAt = QDateTime::currentDateTime();
    outcome.sent.order = reply->property(kSentOrder).toString();
    outcome.sent.hash = reply->property(kSentHash).toString();
    outcome.sent.type = reply->property(kSentType).toInt();
    outcome.sent.at = reply->property(kSentAt).toDateTime();
    outcome.url = reply->url();
    outcome.connection = connectionOf(reply);
    // Asked again: the guard set up with the request may not have seen an answer that arrived
    // all at once.
    const bool tooLarge = answerTooLarge(reply);
    if (!tooLarge)
        outcome.body = reply->readAll();
    const bool failed = tooLarge || reply->error() != QNetworkReply::NoError;
    const QString failure = tooLarge ? gbText(texts::kAnswerTooLarge) : reply->errorString();
    reply->deleteLater();

    outcome.answer = readHashAnswer(outcome.body);
    if (outcome.answer.kind == HashAnswer::Kind::Unreadable && failed) {
        outcome.kind = Outcome::Kind::Failed;
        outcome.failure = failure;
    } else {
        outcome.kind = Outcome::Kind::Answered;
    }
    return outcome;
}

} // namespace hashquery
