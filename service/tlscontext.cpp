#include "service/tlscontext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

// TLS 1.2 suites offered: ECDHE key exchange with AEAD ciphers only, in the server's order.
const char Tls12Ciphers[] = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                            "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                            "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

std::string opensslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        const char *reason = ERR_reason_error_string(code);
        if (!text.empty())
            text += "; ";
        text += reason ? reason : "unknown error";
    }
    return text.empty() ? "unknown error" : text;
}

// Empty when the file can be read, else why not.
std::string unreadable(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::strerror(errno);
    std::fclose(file);
    return {};
}

} // namespace

bool configureServerTls(SSL_CTX *ctx, const std::string &certPath, const std::string &keyPath,
                        std::string *error)
{
    for (const auto &file : {std::make_pair("certificate", certPath), std::make_pair("key", keyPath)}) {
        const std::string problem = unreadable(file.second);
        if (!problem.empty()) {
            *error = std::string("cannot read the ") + file.first + ' ' + file.second + ": " + problem;
            return false;
        }
    }
    ERR_clear_error();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE |
                                 SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    if (SSL_CTX_set_cipher_list(ctx, Tls12Ciphers) != 1) {
        *error = "cannot set the TLS 1.2 cipher suites: " + opensslErrors();
        return false;
    }
    // An encrypted key would make OpenSSL ask for a pass phrase on the terminal: refuse it.
    SSL_CTX_set_default_passwd_cb(ctx, [](char *, int, int, void *) { return 0; });
    if (SSL_CTX_use_certificate_chain_file(ctx, certPath.c_str()) != 1) {
        *error = "cannot load the certificate " + certPath + ": " + opensslErrors();
        return false;
    }
    // Loading a key checks it against the certificate already loaded.
    const bool keyLoaded = SSL_CTX_use_PrivateKey_file(ctx, keyPath.c_str(), SSL_FILETYPE_PEM) == 1;
    const bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
    if (!keyLoaded && !mismatch) {
        *error = "cannot load the key " + keyPath + ": " + opensslErrors();
        return false;
    }
    if (mismatch || SSL_CTX_check_private_key(ctx) != 1) {
        *error = "the key " + keyPath + " does not belong to the certificate " + certPath;
        ERR_clear_error();
        return false;
    }
    return true;
}
