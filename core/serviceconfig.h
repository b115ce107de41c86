#ifndef FILEHASH_CORE_SERVICECONFIG_H
#define FILEHASH_CORE_SERVICECONFIG_H

#include <QByteArray>
#include <QString>

// Where verification requests go and which CAs, beside the system's, may sign the service's
// certificate, and who stamps receipts. The shipped window gets the values its build compiled in
// (core/buildconfig.h.in); filehash-verify takes them as options; tests set them to their own
// servers.
struct ServiceConfig {
    QString baseUrl;  // an HTTPS origin without a trailing slash
    QByteArray caPem; // may be empty
    // The time-stamping authority that stamps receipts (RFC 3161 over HTTP or HTTPS; empty: none),
    // and the CAs its signing certificate must chain to (empty: the system's).
    QString tsaUrl;
    QByteArray tsaCaPem;
};

// Adds the CA certificates in pem to the process's default TLS configuration, beside the system's
// CAs. Returns false when a non-empty pem holds no usable certificate (nothing is changed then).
bool installServiceCa(const QByteArray &pem);

#endif
