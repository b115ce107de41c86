#include "service/tsaresponder.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstring>

const char TsaPolicy[] = "2.25.107220077093148319232767491075207675245";

namespace
{

std::string opensslReason()
{
    const char *reason = ERR_reason_error_string(ERR_peek_error());
    return reason ? reason : "unknown error";
}

using File = OpensslPtr<BIO, BIO_free_all>;

} // namespace

std::unique_ptr<TsaResponder> TsaResponder::load(const std::string &certPath, const std::string &keyPath,
                                                 std::string *error)
{
    ERR_clear_error();
    std::unique_ptr<TsaResponder> tsa(new TsaResponder);
    const File certFile(BIO_new_file(certPath.c_str(), "r"));
    if (!certFile) {
        *error = "cannot read the time-stamping certificate " + certPath + ": " + opensslReason();
        return nullptr;
    }
    tsa->m_cert.reset(PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr));
    tsa->m_chain.reset(sk_X509_new_null());
    while (tsa->m_cert && tsa->m_chain) {
        OpensslPtr<X509, X509_free> next(PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr));
        if (!next || !sk_X509_push(tsa->m_chain.get(), next.get()))
            break;
        next.release();
    }
    ERR_clear_error(); // the end of the file reads as an error
    if (!tsa->m_cert || !tsa->m_chain) {
        *error = "no certificate in " + certPath;
        return nullptr;
    }
    const File keyFile(BIO_new_file(keyPath.c_str(), "r"));
    // An encrypted key would make OpenSSL ask for a pass phrase on the terminal: refuse it.
    const auto noPassPhrase = [](char *, int, int, void *) { return 0; };
    if (keyFile)
        tsa->m_key.reset(PEM_read_bio_PrivateKey(keyFile.get(), nullptr, noPassPhrase, nullptr));
    if (!tsa->m_key) {
        *error = "cannot load the time-stamping key " + keyPath + ": " + opensslReason();
        return nullptr;
    }
    if (X509_check_private_key(tsa->m_cert.get(), tsa->m_key.get()) != 1) {
        *error = "the key " + keyPath + " is not the key of " + certPath;
        return nullptr;
    }
    if (X509_check_purpose(tsa->m_cert.get(), X509_PURPOSE_TIMESTAMP_SIGN, 0) != 1) {
        *error = certPath + " is not a time-stamping certificate: its extended key usage must be "
                            "timeStamping alone, marked critical";
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(tsa->m_cert.get())) <= 0) {
        *error = "the time-stamping certificate " + certPath + " has expired";
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(tsa->m_cert.get())) >= 0) {
        *error = "the time-stamping certificate " + certPath + " is not valid yet";
        return nullptr;
    }
    tsa->m_policy.reset(OBJ_txt2obj(TsaPolicy, 1));
    if (!tsa->m_policy || RAND_bytes(tsa->m_run, sizeof tsa->m_run) != 1) {
        *error = "cannot set up the time-stamping authority: " + opensslReason();
        return nullptr;
    }
    ERR_clear_error();
    return tsa;
}

ASN1_INTEGER *TsaResponder::nextSerial(TS_RESP_CTX *ctx, void *self)
{
    const auto *tsa = static_cast<const TsaResponder *>(self);
    unsigned char bytes[sizeof tsa->m_run + 8];
    std::memcpy(bytes, tsa->m_run, sizeof tsa->m_run);
    const std::uint64_t count = ++tsa->m_counter;
    for (int i = 0; i < 8; ++i)
        bytes[sizeof tsa->m_run + i] = static_cast<unsigned char>(count >> (56 - 8 * i));
    OpensslPtr<BIGNUM, BN_free> bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
    ASN1_INTEGER *serial = bn ? BN_to_ASN1_INTEGER(bn.get(), nullptr) : nullptr;
    if (!serial) {
        TS_RESP_CTX_set_status_info(ctx, TS_STATUS_REJECTION, "Error during serial number generation.");
        TS_RESP_CTX_add_failure_info(ctx, TS_INFO_ADD_INFO_NOT_AVAILABLE);
    }
    return serial;
}

std::string TsaResponder::answer(const std::string &request) const
{
    ERR_clear_error();
    OpensslPtr<TS_RESP_CTX, TS_RESP_CTX_free> ctx(TS_RESP_CTX_new());
    // Only one whole DER request is read: anything after it (which OpenSSL would skip) makes the
    // request unreadable, and OpenSSL answers an empty one with badDataFormat.
    const auto *p = reinterpret_cast<const unsigned char *>(request.data());
    const bool whole = OpensslPtr<TS_REQ, TS_REQ_free>(d2i_TS_REQ(nullptr, &p, long(request.size()))) &&
                       p == reinterpret_cast<const unsigned char *>(request.data()) + request.size();
    const File in(BIO_new_mem_buf(request.data(), whole ? int(request.size()) : 0));
    if (!ctx || !in || TS_RESP_CTX_set_signer_cert(ctx.get(), m_cert.get()) != 1 ||
        TS_RESP_CTX_set_signer_key(ctx.get(), m_key.get()) != 1 ||
        TS_RESP_CTX_set_certs(ctx.get(), m_chain.get()) != 1 ||
        TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256()) != 1 ||
        TS_RESP_CTX_set_ess_cert_id_digest(ctx.get(), EVP_sha256()) != 1 ||
        TS_RESP_CTX_set_def_policy(ctx.get(), m_policy.get()) != 1 ||
        TS_RESP_CTX_add_md(ctx.get(), EVP_sha256()) != 1 ||
        TS_RESP_CTX_set_accuracy(ctx.get(), 1, 0, 0) != 1) {
        ERR_clear_error();
        return {};
    }
    TS_RESP_CTX_add_flags(ctx.get(), TS_TSA_NAME);
    TS_RESP_CTX_set_serial_cb(ctx.get(), &TsaResponder::nextSerial, const_cast<TsaResponder *>(this));
    const OpensslPtr<TS_RESP, TS_RESP_free> response(TS_RESP_create_response(ctx.get(), in.get()));
    unsigned char *der = nullptr;
    const int n = response ? i2d_TS_RESP(response.get(), &der) : 0;
    std::string answer;
    if (n > 0)
        answer.assign(reinterpret_cast<const char *>(der), size_t(n));
    OPENSSL_free(der);
    ERR_clear_error();
    return answer;
}
