// RFC 3161 time-stamps: reading answers and checking tokens, the service's responder, tokens from
// `openssl ts -reply` (openssl checking ours is in tst_endtoend), and the stamper against real HTTPS servers.
#include "core/opensslptr.h"
#include "core/serviceconfig.h"
#include "core/timestamp.h"
#include "service/tsaresponder.h"
#include "testsupport.h"

#include <QtTest>

#include <openssl/ess.h>
#include <openssl/pem.h>

#include <future>
#include <set>

using timestamping::Failure;
Q_DECLARE_METATYPE(timestamping::Failure)

namespace
{
QByteArray sha(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray certFile(const char *name)
{
    return readFile(testCertPath(QString::fromLatin1(name)));
}

template <typename T> QByteArray der(int (*i2d)(const T *, unsigned char **), const T *object)
{
    unsigned char *out = nullptr;
    const int n = i2d(object, &out);
    const QByteArray bytes(reinterpret_cast<const char *>(out), qMax(n, 0));
    OPENSSL_free(out);
    return bytes;
}

template <typename T> T *parse(T *(*d2i)(T **, const unsigned char **, long), const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    return d2i(nullptr, &p, bytes.size());
}

QByteArray editedRequest(const QByteArray &request, const std::function<void(TS_REQ *)> &edit)
{
    const OpensslPtr<TS_REQ, TS_REQ_free> req(parse(d2i_TS_REQ, request));
    edit(req.get());
    return der(i2d_TS_REQ, req.get());
}

// OpenSSL cannot take a nonce out of a request: a new one without it.
QByteArray withoutNonce(const QByteArray &request)
{
    const OpensslPtr<TS_REQ, TS_REQ_free> full(parse(d2i_TS_REQ, request)), bare(TS_REQ_new());
    TS_REQ_set_version(bare.get(), 1);
    TS_REQ_set_msg_imprint(bare.get(), TS_REQ_get_msg_imprint(full.get()));
    TS_REQ_set_cert_req(bare.get(), 1);
    return der(i2d_TS_REQ, bare.get());
}

// A TimeStampResp with this status around a token (none if empty).
QByteArray response(int status, const QByteArray &token)
{
    const OpensslPtr<TS_RESP, TS_RESP_free> resp(TS_RESP_new());
    const OpensslPtr<TS_STATUS_INFO, TS_STATUS_INFO_free> info(TS_STATUS_INFO_new());
    TS_STATUS_INFO_set_status(info.get(), status);
    TS_RESP_set_status_info(resp.get(), info.get());
    if (PKCS7 *p7 = token.isEmpty() ? nullptr : parse(d2i_PKCS7, token))
        TS_RESP_set_tst_info(resp.get(), p7, PKCS7_to_TS_TST_INFO(p7));
    return der(i2d_TS_RESP, resp.get());
}

// The token's time-stamp, edited, signed again as OpenSSL's responder signs (content type and
// signing-certificate-v2 attributes, the certificate in the token) with the TSA's key under another
// certificate: what a TSA holding that certificate would send.
QByteArray resigned(const QByteArray &token, const char *certName, void (*edit)(TS_TST_INFO *) = nullptr)
{
    const OpensslPtr<PKCS7, PKCS7_free> old(parse(d2i_PKCS7, token));
    const OpensslPtr<TS_TST_INFO, TS_TST_INFO_free> tst(PKCS7_to_TS_TST_INFO(old.get()));
    if (edit)
        edit(tst.get());
    const QByteArray certPem = certFile(certName), keyPem = certFile("tsa.key");
    const OpensslPtr<BIO, BIO_free_all> certBio(BIO_new_mem_buf(certPem.data(), certPem.size())),
        keyBio(BIO_new_mem_buf(keyPem.data(), keyPem.size()));
    const OpensslPtr<X509, X509_free> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    const OpensslPtr<EVP_PKEY, EVP_PKEY_free> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    const OpensslPtr<PKCS7, PKCS7_free> p7(PKCS7_new());
    PKCS7_set_type(p7.get(), NID_pkcs7_signed);
    ASN1_INTEGER_set(p7->d.sign->version, 3);
    PKCS7_add_certificate(p7.get(), cert.get());
    PKCS7_SIGNER_INFO *si = PKCS7_add_signature(p7.get(), cert.get(), key.get(), EVP_sha256());
    PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT,
                               OBJ_nid2obj(NID_id_smime_ct_TSTInfo));
    const OpensslPtr<ESS_SIGNING_CERT_V2, ESS_SIGNING_CERT_V2_free> ess(
        OSSL_ESS_signing_cert_v2_new_init(EVP_sha256(), cert.get(), nullptr, 0));
    const QByteArray essDer = der(i2d_ESS_SIGNING_CERT_V2, ess.get());
    ASN1_STRING *seq = ASN1_STRING_new();
    ASN1_STRING_set(seq, essDer.constData(), essDer.size());
    PKCS7_add_signed_attribute(si, NID_id_smime_aa_signingCertificateV2, V_ASN1_SEQUENCE, seq);
    PKCS7 *content = PKCS7_new();
    content->type = OBJ_nid2obj(NID_id_smime_ct_TSTInfo);
    content->d.other = ASN1_TYPE_new();
    ASN1_TYPE_set(content->d.other, V_ASN1_OCTET_STRING, ASN1_OCTET_STRING_new());
    PKCS7_set_content(p7.get(), content);
    BIO *out = PKCS7_dataInit(p7.get(), nullptr);
    const QByteArray tstDer = der(i2d_TS_TST_INFO, tst.get());
    BIO_write(out, tstDer.constData(), tstDer.size());
    PKCS7_dataFinal(p7.get(), out);
    BIO_free_all(out);
    return der(i2d_PKCS7, p7.get());
}

// Runs openssl with arguments split at spaces (no path here has one) and a bound: its exit code.
int openssl(const QString &args, QByteArray *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args.split(QLatin1Char(' ')));
    const bool done = p.waitForFinished(30000);
    *output = p.readAll();
    return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
} // namespace

class TestTimestamp : public QObject
{
    Q_OBJECT
    std::unique_ptr<TsaResponder> m_tsa;
    QByteArray m_tsaCa;
    timestamping::Request m_sent; // over "evidence"
    QByteArray m_token;           // the responder's, for m_sent

    QByteArray answer(const QByteArray &request) const
    {
        return QByteArray::fromStdString(m_tsa->answer(request.toStdString()));
    }
    static std::unique_ptr<TsaResponder> load(const QString &cert, const QString &key, std::string *error)
    {
        return TsaResponder::load(testCertPath(cert).toStdString(), testCertPath(key).toStdString(), error);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Failure>();
        QVERIFY(installServiceCa(testCaPem()));
        std::string error;
        // Its tokens carry the TSA's CA too, which must not make them trusted.
        m_tsa = load(QStringLiteral("tsa-chain.pem"), QStringLiteral("tsa.key"), &error);
        QVERIFY2(m_tsa, error.c_str());
        m_tsaCa = certFile("tsa-ca.pem");
        m_sent = timestamping::request(sha("evidence"));
        const OpensslPtr<TS_RESP, TS_RESP_free> resp(parse(d2i_TS_RESP, answer(m_sent.der)));
        m_token = der(i2d_PKCS7, TS_RESP_get_token(resp.get()));
    }

    void request()
    {
        for (const QByteArray &wrong :
             {QByteArray(), QByteArray(31, 'a'), QByteArray(33, 'a'), sha("").toHex()})
            QVERIFY(timestamping::request(wrong).der.isEmpty());
        // What a request holds is seen where the responder and `openssl ts -reply` answer it.
        QVERIFY(timestamping::request(sha("evidence")).nonce != m_sent.nonce);
    }

    void readReply_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char *name, const QByteArray &answer, Failure failure, const char *reason) {
            QTest::newRow(name) << answer << failure << QString::fromLatin1(reason);
        };
        const auto sha1 = [](TS_REQ *r) {
            X509_ALGOR_set0(TS_MSG_IMPRINT_get_algo(TS_REQ_get_msg_imprint(r)), OBJ_nid2obj(NID_sha1),
                            V_ASN1_NULL, nullptr);
            unsigned char digest[20] = {};
            TS_MSG_IMPRINT_set_msg(TS_REQ_get_msg_imprint(r), digest, sizeof digest);
        };
        const QByteArray granted = answer(m_sent.der);
        row("granted", granted, Failure::None, "");
        row("grantedWithMods", response(1, m_token), Failure::None, "");
        row("not DER", "<html>busy</html>", Failure::Malformed, "not a DER time-stamp response");
        row("a byte after the response", granted + '\0', Failure::Malformed, "not a DER time-stamp response");
        row("larger than the bound", QByteArray(timestamping::kMaxReplyBytes + 1, '0'), Failure::TooLarge,
            "128 KiB");
        row("waiting", response(3, {}), Failure::Refused, "the TSA refused: waiting");
        // The responder's refusals, as they read.
        row("a request not DER", answer("\x30\x03\x02\x01"), Failure::Refused, "rejection, badDataFormat");
        row("a byte after the request", answer(m_sent.der + '\0'), Failure::Refused,
            "rejection, badDataFormat");
        row("a SHA-1 request", answer(editedRequest(m_sent.der, sha1)), Failure::Refused,
            "rejection, badAlg: Message digest algorithm is not supported.");
        row("another digest", answer(timestamping::request(sha("other")).der), Failure::OtherDigest,
            "another digest than the one sent");
        row("another nonce", answer(timestamping::request(m_sent.digest).der), Failure::WrongNonce,
            "another nonce");
        row("no nonce", answer(withoutNonce(m_sent.der)), Failure::WrongNonce, "has no nonce");
        // Every refusal of verifyToken() is one of readReply(): this row shows that it is asked.
        row("expired TSA certificate", response(0, resigned(m_token, "tsa-expired.pem")), Failure::Untrusted,
            "certificate has expired");
    }
    void readReply()
    {
        QFETCH(QByteArray, answer);
        QFETCH(Failure, failure);
        QFETCH(QString, reason);
        const timestamping::Stamp stamp = timestamping::readReply(answer, m_sent, m_tsaCa);
        QCOMPARE(stamp.failure, failure);
        QVERIFY2(stamp.reason.contains(reason) && stamp.reason.isEmpty() == stamp.ok(),
                 qPrintable(stamp.reason));
        QCOMPARE(stamp.response, stamp.ok() ? answer : QByteArray());
        QCOMPARE(timestamping::verifyToken(stamp.token, m_sent.digest, m_tsaCa).ok(), stamp.ok());
        if (!stamp.ok())
            return;
        const timestamping::TokenInfo &info = stamp.info;
        QCOMPARE(info.tsaName, QString::fromUtf8(u8"O=filehash, CN=测试 TSA"));
        QCOMPARE(info.time.timeSpec(), Qt::UTC);
        QVERIFY2(qAbs(info.time.secsTo(QDateTime::currentDateTimeUtc())) < 60,
                 qPrintable(info.time.toString()));
        QCOMPARE(info.digest + info.hashAlgorithm + info.policy,
                 QString::fromLatin1(m_sent.digest.toHex() + "SHA256" + TsaPolicy));
        QCOMPARE(info.serial.size(), 32);
    }

    void verifyToken_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("ca");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("reason");
        const auto row = [this](const char *name, const QByteArray &token, const char *data, Failure failure,
                                const char *reason, const QByteArray &ca = {}) {
            QTest::newRow(name) << token << QByteArray(data) << (ca.isNull() ? m_tsaCa : ca) << failure
                                << QString::fromLatin1(reason);
        };
        QByteArray imprintAltered = m_token;
        imprintAltered[imprintAltered.indexOf(m_sent.digest)] = 'x';
        const auto sha1 = [](TS_TST_INFO *tst) {
            X509_ALGOR_set0(TS_MSG_IMPRINT_get_algo(TS_TST_INFO_get_msg_imprint(tst)), OBJ_nid2obj(NID_sha1),
                            V_ASN1_NULL, nullptr);
        };
        row("valid", m_token, "evidence", Failure::None, "");
        row("other data", m_token, "evidencE", Failure::OtherDigest, "the data changed after it was stamped");
        row("SHA-1 imprint", resigned(m_token, "tsa.pem", sha1), "evidence", Failure::OtherDigest,
            "SHA1 digest");
        row("imprint altered", imprintAltered, "evidence", Failure::BadSignature, "does not verify");
        row("no extended key usage", resigned(m_token, "tsa-noeku.pem"), "evidence",
            Failure::NotForTimeStamping, "no extended key usage");
        row("timeStamping not critical", resigned(m_token, "tsa-noncritical.pem"), "evidence",
            Failure::NotForTimeStamping, "not marked critical");
        row("expired certificate", resigned(m_token, "tsa-expired.pem"), "evidence", Failure::Untrusted,
            "certificate has expired");
        row("the system's CAs", m_token, "evidence", Failure::Untrusted,
            "self-signed certificate in certificate chain", "");
        row("a CA file without a certificate", m_token, "evidence", Failure::Untrusted, "no certificate",
            "-----");
        row("not DER", "token", "evidence", Failure::Malformed, "not DER signed data");
    }
    void verifyToken()
    {
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, ca);
        QFETCH(Failure, failure);
        QFETCH(QString, reason);
        const timestamping::Verification v = timestamping::verifyToken(token, sha(data), ca);
        QCOMPARE(v.failure, failure);
        QVERIFY2(v.reason.contains(reason), qPrintable(v.reason));
    }

    void responderLoad_data()
    {
        QTest::addColumn<QString>("cert");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *cert, const char *key, const char *error) {
            QTest::newRow(name) << QString::fromLatin1(cert) << QString::fromLatin1(key)
                                << QString::fromLatin1(error);
        };
        row("without timeStamping", "tsa-noeku.pem", "tsa.key", "not a time-stamping certificate");
        row("timeStamping not critical", "tsa-noncritical.pem", "tsa.key", "marked critical");
        row("expired", "tsa-expired.pem", "tsa.key", "has expired");
        row("another key", "tsa.pem", "server.key", "is not the key of");
        row("no certificate", "tsa.key", "tsa.key", "no certificate in");
    }
    void responderLoad()
    {
        QFETCH(QString, cert);
        QFETCH(QString, key);
        QFETCH(QString, error);
        std::string why;
        QVERIFY(!load(cert, key, &why));
        QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
    }

    // Three threads at once, and a restart: no serial number twice.
    void responderSerials()
    {
        std::string error;
        const auto restarted = load(QStringLiteral("tsa.pem"), QStringLiteral("tsa.key"), &error);
        std::vector<std::future<QStringList>> runs;
        for (const TsaResponder *tsa : {m_tsa.get(), m_tsa.get(), restarted.get()}) {
            runs.push_back(std::async(std::launch::async, [this, tsa] {
                QStringList serials;
                for (int i = 0; i < 30; ++i) {
                    const auto resp = QByteArray::fromStdString(tsa->answer(m_sent.der.toStdString()));
                    serials << timestamping::readReply(resp, m_sent, m_tsaCa).info.serial;
                }
                return serials;
            }));
        }
        std::set<QString> serials, runIds;
        for (auto &run : runs) {
            for (const QString &serial : run.get())
                serials.insert(serial), runIds.insert(serial.left(16));
        }
        QCOMPARE(serials.size(), size_t(90));
        QCOMPARE(runIds.size(), size_t(2));
    }

    // `openssl ts -reply`, with a configuration of its own, answers our request; its token is taken.
    void fromOpensslReply()
    {
        QTemporaryDir dir;
        const QString d = dir.path() + QLatin1Char('/');
        const QString config =
            QStringLiteral("[tsa]\ndefault_tsa = own\n[own]\nserial = %1serial\n"
                           "crypto_device = builtin\nsigner_cert = %2tsa.pem\n"
                           "signer_key = %2tsa.key\nsigner_digest = sha256\n"
                           "default_policy = 1.2.3.4.1\ndigests = sha256\naccuracy = secs:1\n");
        QVERIFY(
            !writeTestFile(d, QStringLiteral("tsa.cnf"), config.arg(d, testCertPath({})).toUtf8()).isEmpty());
        QVERIFY(!writeTestFile(d, QStringLiteral("serial"), "01\n").isEmpty());
        QVERIFY(!writeTestFile(d, QStringLiteral("our.tsq"), m_sent.der).isEmpty());
        QByteArray out;
        QVERIFY2(
            !openssl(QStringLiteral("ts -reply -config %1tsa.cnf -queryfile %1our.tsq -out %1our.tsr").arg(d),
                     &out),
            out.constData());
        const timestamping::Stamp stamp =
            timestamping::readReply(readFile(d + QStringLiteral("our.tsr")), m_sent, m_tsaCa);
        QVERIFY2(stamp.ok(), qPrintable(stamp.reason));
        QCOMPARE(stamp.info.policy, QStringLiteral("1.2.3.4.1"));
        QCOMPARE(timestamping::verifyToken(stamp.token, sha("evidencE"), m_tsaCa).failure,
                 Failure::OtherDigest);
    }

    void stamper_data()
    {
        QTest::addColumn<QString>("server"); // what it answers
        QTest::addColumn<QString>("cert");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char *name, const char *server, const char *cert, Failure f,
                            const char *reason) {
            QTest::newRow(name) << QString::fromLatin1(server) << QString::fromLatin1(cert) << f
                                << QString::fromLatin1(reason);
        };
        row("granted", "tsa", "server", Failure::None, "");
        row("HTTP 500", "500", "server", Failure::HttpStatus, "HTTP 500");
        row("a redirect", "302", "server", Failure::HttpStatus, "redirects are not followed");
        row("5 MB", "5", "server", Failure::TooLarge, "128 KiB");
        row("stalls", "stall", "server", Failure::TimedOut, "10 seconds");
        row("self-signed", "tsa", "selfsigned", Failure::Network, "cannot be reached");
        row("not HTTP", "ftp", "server", Failure::Network, "not an http or https URL");
    }
    void stamper()
    {
        QFETCH(QString, server);
        QFETCH(QString, cert);
        QFETCH(Failure, failure);
        QFETCH(QString, reason);
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        TestServer https(
            [&](const std::string &, const std::string &, const std::string &body) {
                if (server == QLatin1String("stall"))
                    released.wait_for(std::chrono::seconds(30));
                // "500", "302": that status; "5": that many MB; else the responder's answer.
                const int n = server.toInt();
                return HttpAnswer{n > 200 ? n : 200,
                                  "application/timestamp-reply",
                                  n > 0 && n < 200 ? std::string(size_t(n) << 20, '0') : m_tsa->answer(body),
                                  {},
                                  {}};
            },
            cert);
        QUrl url(https.url() + QStringLiteral("/tsa"));
        if (server == QLatin1String("ftp"))
            url.setScheme(server);

        QNetworkAccessManager manager;
        TimeStamper stamper(&manager);
        QSignalSpy finished(&stamper, &TimeStamper::finished);
        stamper.stamp(url, m_sent.digest, m_tsaCa);
        QCOMPARE(finished.count(), 0);
        qint64 received = 0; // an answer given up is not read on
        if (auto *reply = manager.findChild<QNetworkReply *>()) {
            QCOMPARE(reply->request().header(QNetworkRequest::ContentTypeHeader).toString(),
                     QStringLiteral("application/timestamp-query"));
            // A 3xx without Location is all the test server can send: the policy is read instead.
            QCOMPARE(reply->request().attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                     int(QNetworkRequest::ManualRedirectPolicy));
            connect(reply, &QNetworkReply::downloadProgress, [&received](qint64 n) { received = n; });
        }
        if (server == QLatin1String("stall")) {
            auto *timer = stamper.findChild<QTimer *>();
            QVERIFY(timer && timer->isActive());
            QCOMPARE(timer->interval(), timestamping::kTimeoutMs);
            timer->start(0); // what the deadline does, without waiting for it
        }
        QVERIFY(finished.wait(20000));
        release.set_value();
        const auto stamp = finished.at(0).at(0).value<timestamping::Stamp>();
        QCOMPARE(stamp.failure, failure);
        QVERIFY2(stamp.reason.contains(reason), qPrintable(stamp.reason));
        QVERIFY2(received < 1 << 20, qPrintable(QString::number(received)));
        QCOMPARE(timestamping::verifyToken(stamp.token, m_sent.digest, m_tsaCa).ok(), stamp.ok());
    }
};

QTEST_GUILESS_MAIN(TestTimestamp)
#include "tst_timestamp.moc"
