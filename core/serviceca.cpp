#include "core/serviceconfig.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace
{

// The system's CAs. Qt reads every file of the certificates folder, and on Debian the folder
// holds each CA twice, once alone and once in the bundle made from the same set: a tenth of a
// second at every start. Where that bundle exists it alone is read, in a third of the time.
QList<QSslCertificate> systemCaCertificates()
{
    QFile bundle(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
    if (bundle.open(QIODevice::ReadOnly)) {
        const QList<QSslCertificate> cas =
            QSslCertificate::fromData(bundle.read(16 * 1024 * 1024), QSsl::Pem);
        if (!cas.isEmpty())
            return cas;
    }
    return QSslConfiguration::systemCaCertificates();
}

} // namespace

bool installServiceCa(const QByteArray &pem)
{
    if (pem.trimmed().isEmpty())
        return true;
    const QList<QSslCertificate> extra = QSslCertificate::fromData(pem, QSsl::Pem);
    if (extra.isEmpty())
        return false;
    // defaultConfiguration() is a copy; and once CA certificates are set, Qt no longer loads the
    // system's CAs on demand, so they are added explicitly.
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> cas = systemCaCertificates();
    cas += extra;
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);
    return true;
}
