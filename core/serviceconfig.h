#ifndef FILEHASH_SERVICECONFIG_H
#define FILEHASH_SERVICECONFIG_H

#include <QByteArray>
#include <QString>

// The service the window verifies with. Declared here, defined by a configuration library that the
// executable links (fixed at build time for the shipped window).

// Base URL of the verification service (an HTTPS origin, no trailing slash).
QString serviceBaseUrl();

// PEM text of extra CA certificates trusted for the service, fixed at build time; may be empty.
QByteArray serviceCaPem();

// Adds the CA certificates in pem (serviceCaPem() for the window) to the process's default TLS
// configuration, beside the system's CAs. Returns false when a non-empty pem holds no usable
// certificate (nothing is changed then).
bool installServiceCa(const QByteArray &pem);

#endif
