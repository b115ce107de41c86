#ifndef FILEHASH_SERVICE_TSARESPONDER_H
#define FILEHASH_SERVICE_TSARESPONDER_H

#include "core/opensslptr.h"

#include <openssl/ts.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// The policy the reference service stamps under. The project has no enterprise number, so the OID
// is one that needs no registration: "2.25." and a random UUID read as one integer (ITU-T X.667).
// Tokens of the demo TSA name it; a real TSA names its own.
extern const char TsaPolicy[];

// The reference service's time-stamping authority (RFC 3161), on OpenSSL's TS responder: answers a
// DER TimeStampReq with a DER TimeStampResp. Granted: a token over the request's SHA-256 imprint,
// signed with SHA-256, genTime to the second with an accuracy of one second, the request's nonce,
// the TSA's name, and its certificate (with the rest of the certificate file, its chain) when the
// request asks for it. Refused with status rejection and a failure info: a request that is not one
// whole DER TimeStampReq (badDataFormat), another hash than SHA-256 (badAlg), a digest of the wrong
// length (badDataFormat), another policy (unacceptedPolicy), an extension (unacceptedExtension).
//
// Serial numbers are 128 bits: 64 random bits drawn at load, then a 64-bit counter, so that they
// never repeat within a run and differ between runs.
class TsaResponder
{
public:
    // Reads the signing certificate (the first in certPath; any that follow are sent as its chain)
    // and its unencrypted key. Refuses a certificate that is not for time-stamping (extended key
    // usage timeStamping alone, critical), has expired or is not valid yet, or a key that is not
    // the certificate's: nullptr with *error saying what is wrong with which file.
    static std::unique_ptr<TsaResponder> load(const std::string &certPath, const std::string &keyPath,
                                              std::string *error);
    TsaResponder(const TsaResponder &) = delete;
    TsaResponder &operator=(const TsaResponder &) = delete;

    // The answer to one request. Safe to call from several threads at once: each call has a
    // responder context of its own over the shared, unchanging certificate and key. Empty only
    // when OpenSSL could not build any answer (out of memory).
    std::string answer(const std::string &request) const;

private:
    TsaResponder() = default;
    static ASN1_INTEGER *nextSerial(TS_RESP_CTX *ctx, void *self);

    OpensslPtr<X509, X509_free> m_cert;
    Certificates m_chain;
    OpensslPtr<EVP_PKEY, EVP_PKEY_free> m_key;
    OpensslPtr<ASN1_OBJECT, ASN1_OBJECT_free> m_policy;
    unsigned char m_run[8] = {};
    mutable std::atomic<std::uint64_t> m_counter{0};
};

#endif
