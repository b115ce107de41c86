#ifndef FILEHASH_SERVICECONFIG_H
#define FILEHASH_SERVICECONFIG_H

#include <QByteArray>
#include <QString>

// Base URL of the verification service (an HTTPS origin, no trailing slash), fixed at build time.
QString serviceBaseUrl();

// PEM text of extra CA certificates trusted for the service, fixed at build time; may be empty.
QByteArray serviceCaPem();

// Adds serviceCaPem() to the process's default TLS configuration, beside the system's CAs.
// Returns false when the embedded text holds no usable certificate (nothing is changed then).
bool installServiceCa();

#endif
