#ifndef FILEHASH_SERVICE_TLSCONTEXT_H
#define FILEHASH_SERVICE_TLSCONTEXT_H

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

// TLS 1.2 suites offered: ECDHE key exchange with AEAD ciphers only, in the server's order.
extern const char Tls12Ciphers[];

// Sets up a server context as current servers do (TLS 1.2 with Tls12Ciphers in the server's
// order, TLS 1.3 with OpenSSL's suites, no compression, no renegotiation) and loads the
// certificate chain and its key. False with *error saying what is wrong with which file.
bool configureServerTls(SSL_CTX *ctx, const std::string &certPath, const std::string &keyPath,
                        std::string *error);

#endif
