// Owning pointers for OpenSSL objects, so that every path out of a function frees what it made.
#ifndef FILEHASH_CORE_OPENSSLPTR_H
#define FILEHASH_CORE_OPENSSLPTR_H

#include <openssl/x509.h>

#include <memory>

template <typename T, void (*Free)(T *)> struct OpensslFree {
    void operator()(T *p) const { Free(p); }
};
// e.g. OpensslPtr<X509, X509_free> cert(PEM_read_bio_X509(...));
template <typename T, void (*Free)(T *)> using OpensslPtr = std::unique_ptr<T, OpensslFree<T, Free>>;

// A stack of certificates and the certificates on it.
inline void freeCertificates(STACK_OF(X509) * certs)
{
    sk_X509_pop_free(certs, X509_free);
}
using Certificates = OpensslPtr<STACK_OF(X509), freeCertificates>;

#endif
