#include "core/timestamp.h"

#include "core/opensslptr.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QTimer>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

namespace timestamping
{

const char kRequestType[] = "application/timestamp-query";

namespace
{

using Integer = OpensslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Bignum = OpensslPtr<BIGNUM, BN_free>;
using Pkcs7 = OpensslPtr<PKCS7, PKCS7_free>;
using TstInfo = OpensslPtr<TS_TST_INFO, TS_TST_INFO_free>;
using Store = OpensslPtr<X509_STORE, X509_STORE_free>;

// For a stack whose certificates belong to another object.
void freeStack(STACK_OF(X509) * certs)
{
    sk_X509_free(certs);
}

// Leaves OpenSSL's error queue of this thread empty on every way out, so that no error from here
// is taken for one of the next caller's (Qt's TLS reads the same queue).
struct ErrorQueueGuard {
    ErrorQueueGuard() { ERR_clear_error(); }
    ~ErrorQueueGuard() { ERR_clear_error(); }
};

// The first error OpenSSL queued, in its words.
QString opensslReason()
{
    const char *reason = ERR_reason_error_string(ERR_peek_error());
    return reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error");
}

QString utf8(const ASN1_STRING *string)
{
    unsigned char *out = nullptr;
    const int n = ASN1_STRING_to_UTF8(&out, string);
    if (n < 0)
        return QString();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(out), n);
    OPENSSL_free(out);
    return text;
}

QString objectText(const ASN1_OBJECT *object)
{
    char text[256];
    const int n = OBJ_obj2txt(text, sizeof text, object, 1);
    return n > 0 && n < int(sizeof text) ? QString::fromLatin1(text, n) : QString();
}

// "O=..., CN=..." in the order the name holds them, values in UTF-8.
QString nameText(const X509_NAME *name)
{
    QStringList parts;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        const ASN1_OBJECT *type = X509_NAME_ENTRY_get_object(entry);
        const int nid = OBJ_obj2nid(type);
        const QString key = nid == NID_undef ? objectText(type) : QString::fromLatin1(OBJ_nid2sn(nid));
        parts << key + QLatin1Char('=') + utf8(X509_NAME_ENTRY_get_data(entry));
    }
    return parts.join(QStringLiteral(", "));
}

QString integerHex(const ASN1_INTEGER *integer)
{
    Bignum bn(ASN1_INTEGER_to_BN(integer, nullptr));
    char *hex = bn ? BN_bn2hex(bn.get()) : nullptr;
    if (!hex)
        return QString();
    const QString text = QString::fromLatin1(hex);
    OPENSSL_free(hex);
    return text;
}

// genTime, to the second: what a receipt shows.
QDateTime timeOf(const ASN1_GENERALIZEDTIME *time)
{
    struct tm tm = {};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return QDateTime();
    return QDateTime(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                     QTime(tm.tm_hour, tm.tm_min, tm.tm_sec), Qt::UTC);
}

TokenInfo infoOf(TS_TST_INFO *tst, const X509 *signer)
{
    TokenInfo info;
    if (signer)
        info.tsaName = nameText(X509_get_subject_name(signer));
    info.time = timeOf(TS_TST_INFO_get_time(tst));
    info.serial = integerHex(TS_TST_INFO_get_serial(tst));
    TS_MSG_IMPRINT *imprint = TS_TST_INFO_get_msg_imprint(tst);
    const ASN1_OCTET_STRING *digest = TS_MSG_IMPRINT_get_msg(imprint);
    info.digest = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(ASN1_STRING_get0_data(digest)), ASN1_STRING_length(digest))
            .toHex());
    const ASN1_OBJECT *algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const int nid = OBJ_obj2nid(algorithm);
    info.hashAlgorithm = nid == NID_undef ? objectText(algorithm) : QString::fromLatin1(OBJ_nid2sn(nid));
    info.policy = objectText(TS_TST_INFO_get_policy_id(tst));
    return info;
}

// The positive integer of big-endian bytes.
Integer integerOf(const QByteArray &bytes)
{
    Bignum bn(
        BN_bin2bn(reinterpret_cast<const unsigned char *>(bytes.constData()), int(bytes.size()), nullptr));
    return Integer(bn ? BN_to_ASN1_INTEGER(bn.get(), nullptr) : nullptr);
}

// The CAs in pem; none is an error for a non-empty pem.
Store trustStore(const QByteArray &caPem, QString *error)
{
    Store store(X509_STORE_new());
    if (!store) {
        *error = opensslReason();
        return nullptr;
    }
    if (caPem.isEmpty()) {
        if (X509_STORE_set_default_paths(store.get()) != 1) {
            *error = QStringLiteral("cannot read the system's trusted CAs: ") + opensslReason();
            return nullptr;
        }
        return store;
    }
    OpensslPtr<BIO, BIO_free_all> bio(BIO_new_mem_buf(caPem.constData(), int(caPem.size())));
    int added = 0;
    while (bio) {
        OpensslPtr<X509, X509_free> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert || X509_STORE_add_cert(store.get(), cert.get()) != 1)
            break;
        ++added;
    }
    ERR_clear_error(); // the end of the PEM text reads as an error
    if (added == 0) {
        *error = QStringLiteral("the trusted CA file holds no certificate");
        return nullptr;
    }
    return store;
}

// Empty when the certificate may sign time-stamps as OpenSSL's time-stamp purpose requires, else
// what is wrong with it.
QString notForTimeStamping(X509 *cert)
{
    if (X509_check_purpose(cert, X509_PURPOSE_TIMESTAMP_SIGN, 0) == 1)
        return QString();
    const uint32_t flags = X509_get_extension_flags(cert);
    if (!(flags & EXFLAG_XKUSAGE))
        return QStringLiteral("it has no extended key usage, and timeStamping is required");
    if (X509_get_extended_key_usage(cert) != XKU_TIMESTAMP)
        return QStringLiteral("its extended key usage is not timeStamping alone");
    const X509_EXTENSION *eku = X509_get_ext(cert, X509_get_ext_by_NID(cert, NID_ext_key_usage, -1));
    if (!eku || !X509_EXTENSION_get_critical(eku))
        return QStringLiteral("its extended key usage timeStamping is not marked critical");
    return QStringLiteral("its key usage allows more than signatures");
}

Verification verified(Failure failure, const QString &reason, const TokenInfo &info)
{
    Verification v;
    v.failure = failure;
    v.reason = reason;
    v.info = info;
    return v;
}

QString statusName(long status)
{
    static const char *const names[] = {"granted", "grantedWithMods",   "rejection",
                                        "waiting", "revocationWarning", "revocationNotification"};
    return status >= 0 && status < 6 ? QString::fromLatin1(names[status])
                                     : QStringLiteral("status %1").arg(status);
}

// "rejection, badAlg: the TSA's text".
QString statusText(const TS_STATUS_INFO *info)
{
    QString text = statusName(ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(info)));
    static const struct {
        int bit;
        const char *name;
    } failures[] = {{TS_INFO_BAD_ALG, "badAlg"},
                    {TS_INFO_BAD_REQUEST, "badRequest"},
                    {TS_INFO_BAD_DATA_FORMAT, "badDataFormat"},
                    {TS_INFO_TIME_NOT_AVAILABLE, "timeNotAvailable"},
                    {TS_INFO_UNACCEPTED_POLICY, "unacceptedPolicy"},
                    {TS_INFO_UNACCEPTED_EXTENSION, "unacceptedExtension"},
                    {TS_INFO_ADD_INFO_NOT_AVAILABLE, "addInfoNotAvailable"},
                    {TS_INFO_SYSTEM_FAILURE, "systemFailure"}};
    if (const ASN1_BIT_STRING *bits = TS_STATUS_INFO_get0_failure_info(info)) {
        for (const auto &failure : failures)
            if (ASN1_BIT_STRING_get_bit(bits, failure.bit))
                text += QStringLiteral(", ") + QString::fromLatin1(failure.name);
    }
    QStringList words;
    if (const STACK_OF(ASN1_UTF8STRING) *texts = TS_STATUS_INFO_get0_text(info)) {
        for (int i = 0; i < sk_ASN1_UTF8STRING_num(texts); ++i)
            words << utf8(sk_ASN1_UTF8STRING_value(texts, i));
    }
    if (!words.isEmpty())
        text += QStringLiteral(": ") + words.join(QLatin1Char(' '));
    return text;
}

QString kib(qint64 bytes)
{
    return QStringLiteral("%1 KiB").arg(bytes / 1024);
}

Stamp refused(Failure failure, const QString &reason, const TokenInfo &info = TokenInfo())
{
    Stamp stamp;
    stamp.failure = failure;
    stamp.reason = reason;
    stamp.info = info;
    return stamp;
}

} // namespace

Request request(const QByteArray &sha256)
{
    const ErrorQueueGuard guard;
    Request sent;
    if (sha256.size() != 32)
        return sent;
    unsigned char nonce[8];
    if (RAND_bytes(nonce, sizeof nonce) != 1)
        return sent;
    OpensslPtr<TS_REQ, TS_REQ_free> req(TS_REQ_new());
    OpensslPtr<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free> imprint(TS_MSG_IMPRINT_new());
    OpensslPtr<X509_ALGOR, X509_ALGOR_free> algorithm(X509_ALGOR_new());
    // Leading zero bytes do not count in an INTEGER: keep the nonce as it will read back.
    sent.nonce = QByteArray(reinterpret_cast<const char *>(nonce), sizeof nonce);
    while (sent.nonce.startsWith('\0'))
        sent.nonce.remove(0, 1);
    const Integer nonceInteger = integerOf(sent.nonce);
    if (!req || !imprint || !algorithm || !nonceInteger ||
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
        TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
        TS_MSG_IMPRINT_set_msg(imprint.get(),
                               reinterpret_cast<unsigned char *>(const_cast<char *>(sha256.data())),
                               int(sha256.size())) != 1 ||
        TS_REQ_set_version(req.get(), 1) != 1 || TS_REQ_set_msg_imprint(req.get(), imprint.get()) != 1 ||
        TS_REQ_set_nonce(req.get(), nonceInteger.get()) != 1 || TS_REQ_set_cert_req(req.get(), 1) != 1) {
        return Request();
    }
    unsigned char *der = nullptr;
    const int n = i2d_TS_REQ(req.get(), &der);
    if (n <= 0)
        return Request();
    sent.der = QByteArray(reinterpret_cast<const char *>(der), n);
    OPENSSL_free(der);
    sent.digest = sha256;
    return sent;
}

Verification verifyToken(const QByteArray &token, const QByteArray &sha256, const QByteArray &caPem)
{
    const ErrorQueueGuard guard;
    if (token.size() > kMaxReplyBytes)
        return verified(Failure::Malformed, QStringLiteral("the token is larger than ") + kib(kMaxReplyBytes),
                        {});
    const auto *p = reinterpret_cast<const unsigned char *>(token.constData());
    const Pkcs7 p7(d2i_PKCS7(nullptr, &p, long(token.size())));
    if (!p7 || p != reinterpret_cast<const unsigned char *>(token.constData()) + token.size())
        return verified(Failure::Malformed, QStringLiteral("the token is not DER signed data"), {});
    const TstInfo tst(PKCS7_to_TS_TST_INFO(p7.get()));
    if (!tst)
        return verified(Failure::Malformed,
                        QStringLiteral("the token holds no time-stamp: ") + opensslReason(), {});
    if (sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7.get())) != 1)
        return verified(Failure::Malformed, QStringLiteral("the token does not have exactly one signature"),
                        infoOf(tst.get(), nullptr));
    // The signer's certificate comes with the token (the request asks for it).
    const OpensslPtr<STACK_OF(X509), freeStack> signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
    X509 *signer = signers && sk_X509_num(signers.get()) == 1 ? sk_X509_value(signers.get(), 0) : nullptr;
    const TokenInfo info = infoOf(tst.get(), signer);
    if (!signer)
        return verified(Failure::Untrusted,
                        QStringLiteral("the token does not carry its signer's certificate"), info);

    QString error;
    const Store store = trustStore(caPem, &error);
    if (!store)
        return verified(Failure::Untrusted, error, info);
    OpensslPtr<X509_STORE_CTX, X509_STORE_CTX_free> chain(X509_STORE_CTX_new());
    if (!chain || X509_STORE_CTX_init(chain.get(), store.get(), signer, p7->d.sign->cert) != 1)
        return verified(Failure::Untrusted, opensslReason(), info);
    if (X509_verify_cert(chain.get()) != 1) {
        const int code = X509_STORE_CTX_get_error(chain.get());
        const X509 *at = X509_STORE_CTX_get_current_cert(chain.get());
        return verified(
            Failure::Untrusted,
            QStringLiteral("the TSA's certificate is not trusted: ") +
                QString::fromUtf8(X509_verify_cert_error_string(code)) +
                (at ? QStringLiteral(" (") + nameText(X509_get_subject_name(at)) + QLatin1Char(')')
                    : QString()),
            info);
    }
    const QString purpose = notForTimeStamping(signer);
    if (!purpose.isEmpty())
        return verified(Failure::NotForTimeStamping,
                        QStringLiteral("the TSA's certificate is not for time-stamping: ") + purpose, info);

    // OpenSSL's own check: the signature over the token, the signing-certificate attribute that
    // binds it to this certificate, the chain again with the time-stamping purpose, the version.
    OpensslPtr<TS_VERIFY_CTX, TS_VERIFY_CTX_free> check(TS_VERIFY_CTX_new());
    if (!check || X509_STORE_up_ref(store.get()) != 1)
        return verified(Failure::BadSignature, opensslReason(), info);
    TS_VERIFY_CTX_set_store(check.get(), store.get()); // takes the reference
    TS_VERIFY_CTX_set_flags(check.get(), TS_VFY_SIGNATURE | TS_VFY_VERSION);
    if (TS_RESP_verify_token(check.get(), p7.get()) != 1)
        return verified(Failure::BadSignature,
                        QStringLiteral("the token's signature does not verify: ") + opensslReason(), info);

    if (info.hashAlgorithm != QLatin1String("SHA256"))
        return verified(Failure::OtherDigest,
                        QStringLiteral("the token stamps a %1 digest, not SHA-256").arg(info.hashAlgorithm),
                        info);
    if (info.digest != QString::fromLatin1(sha256.toHex()))
        return verified(
            Failure::OtherDigest,
            QStringLiteral("the data changed after it was stamped: the token stamps another digest"), info);
    return verified(Failure::None, QString(), info);
}

Stamp readReply(const QByteArray &der, const Request &sent, const QByteArray &caPem)
{
    const ErrorQueueGuard guard;
    if (der.size() > kMaxReplyBytes)
        return refused(Failure::TooLarge, QStringLiteral("the answer is larger than ") + kib(kMaxReplyBytes));
    const auto *p = reinterpret_cast<const unsigned char *>(der.constData());
    const OpensslPtr<TS_RESP, TS_RESP_free> resp(d2i_TS_RESP(nullptr, &p, long(der.size())));
    if (!resp || p != reinterpret_cast<const unsigned char *>(der.constData()) + der.size())
        return refused(Failure::Malformed, QStringLiteral("the answer is not a DER time-stamp response"));
    const TS_STATUS_INFO *status = TS_RESP_get_status_info(resp.get());
    const long code = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(status));
    if (code != TS_STATUS_GRANTED && code != TS_STATUS_GRANTED_WITH_MODS)
        return refused(Failure::Refused, QStringLiteral("the TSA refused: ") + statusText(status));
    PKCS7 *p7 = TS_RESP_get_token(resp.get());
    TS_TST_INFO *tst = TS_RESP_get_tst_info(resp.get());
    unsigned char *tokenDer = nullptr;
    const int n = p7 && tst ? i2d_PKCS7(p7, &tokenDer) : 0;
    if (n <= 0)
        return refused(Failure::Malformed,
                       QStringLiteral("the answer grants a time-stamp but holds no token"));
    const QByteArray token(reinterpret_cast<const char *>(tokenDer), n);
    OPENSSL_free(tokenDer);

    const Verification v = verifyToken(token, sent.digest, caPem);
    if (v.failure == Failure::OtherDigest)
        return refused(v.failure, QStringLiteral("the token is for another digest than the one sent"),
                       v.info);
    if (!v.ok())
        return refused(v.failure, v.reason, v.info);
    const Integer nonce = integerOf(sent.nonce);
    const ASN1_INTEGER *answered = TS_TST_INFO_get_nonce(tst);
    if (!nonce || !answered || ASN1_INTEGER_cmp(answered, nonce.get()) != 0)
        return refused(Failure::WrongNonce,
                       answered ? QStringLiteral("the token answers another request (another nonce)")
                                : QStringLiteral("the token has no nonce, so it may answer another request"),
                       v.info);
    Stamp stamp;
    stamp.response = der;
    stamp.token = token;
    stamp.info = v.info;
    return stamp;
}

} // namespace timestamping

using timestamping::Failure;
using timestamping::Stamp;

TimeStamper::TimeStamper(QNetworkAccessManager *manager, QObject *parent)
    : QObject(parent), m_manager(manager), m_timer(new QTimer(this))
{
    qRegisterMetaType<timestamping::Stamp>();
    m_timer->setSingleShot(true);
    m_timer->setInterval(timestamping::kTimeoutMs);
    connect(m_timer, &QTimer::timeout, this, &TimeStamper::onTimeout);
}

TimeStamper::~TimeStamper()
{
    drop();
}

void TimeStamper::drop()
{
    m_timer->stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void TimeStamper::stamp(const QUrl &url, const QByteArray &sha256, const QByteArray &caPem)
{
    drop();
    const quint64 generation = ++m_generation;
    m_sent = timestamping::request(sha256);
    m_caPem = caPem;
    m_abortedFor = Failure::None;
    const QString scheme = url.scheme();
    Stamp refusal;
    if (m_sent.der.isEmpty())
        refusal = timestamping::refused(Failure::Malformed, QStringLiteral("the digest is not a SHA-256"));
    else if (!url.isValid() || url.host().isEmpty() ||
             (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        refusal = timestamping::refused(
            Failure::Network,
            QStringLiteral("\"%1\" is not an http or https URL").arg(url.toDisplayString()));
    if (!refusal.ok()) {
        QTimer::singleShot(0, this, [this, generation, refusal] {
            if (generation == m_generation)
                emit finished(refusal);
        });
        return;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(timestamping::kRequestType));
    // A stamp comes from the TSA asked or not at all.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_reply = m_manager->post(request, m_sent.der);
    // At most one byte more than an answer may hold is buffered; guardSize() stops the rest.
    m_reply->setReadBufferSize(timestamping::kMaxReplyBytes + 1);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &TimeStamper::guardSize);
    connect(m_reply, &QIODevice::readyRead, this, &TimeStamper::guardSize);
    connect(m_reply, &QNetworkReply::finished, this, &TimeStamper::onFinished);
    m_timer->start();
}

namespace
{
bool tooLarge(const QNetworkReply *reply)
{
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    return announced > timestamping::kMaxReplyBytes || reply->bytesAvailable() > timestamping::kMaxReplyBytes;
}
} // namespace

void TimeStamper::guardSize()
{
    if (m_reply && m_reply->isRunning() && tooLarge(m_reply)) {
        m_abortedFor = Failure::TooLarge;
        m_reply->abort(); // finishes the reply at once: nothing after this touches the stamper
    }
}

void TimeStamper::onTimeout()
{
    if (m_reply) {
        m_abortedFor = Failure::TimedOut;
        m_reply->abort();
    }
}

void TimeStamper::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    m_timer->stop();
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    Stamp stamp;
    if (m_abortedFor == Failure::TimedOut) {
        stamp = timestamping::refused(
            Failure::TimedOut,
            QStringLiteral("the TSA did not answer within %1 seconds").arg(timestamping::kTimeoutMs / 1000));
    } else if (m_abortedFor == Failure::TooLarge || tooLarge(reply)) {
        stamp = timestamping::refused(Failure::TooLarge, QStringLiteral("the TSA's answer is larger than ") +
                                                             timestamping::kib(timestamping::kMaxReplyBytes));
    } else if (status != 0 && status != 200) {
        stamp = timestamping::refused(
            Failure::HttpStatus,
            QStringLiteral("the TSA answered HTTP %1%2")
                .arg(status)
                .arg(status / 100 == 3 ? QStringLiteral(" (redirects are not followed)") : QString()));
    } else if (reply->error() != QNetworkReply::NoError) {
        stamp = timestamping::refused(Failure::Network,
                                      QStringLiteral("the TSA cannot be reached: ") + reply->errorString());
    } else {
        stamp = timestamping::readReply(reply->readAll(), m_sent, m_caPem);
    }
    emit finished(stamp);
}
