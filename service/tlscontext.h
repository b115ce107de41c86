#ifndef FILEHASH_SERVICE_TLSCONTEXT_H
#define FILEHASH_SERVICE_TLSCONTEXT_H

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

// Sets up a server context as current servers do (TLS 1.2 with ECDHE key exchange and AEAD
// ciphers only, in the server's order, TLS 1.3 with OpenSSL's suites, no compression, no renegotiation) and
// loads the certificate chain and its key. False with *error saying what is wrong with which file.
bool configureServerTls(SSL_CTX *ctx, const std::string &certPath, const std::string &keyPath,
                        std::string *error);

#endif
