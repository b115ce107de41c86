#include "core/serviceconfig.h"

#include <QSslCertificate>
#include <QSslConfiguration>

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
    QList<QSslCertificate> cas = QSslConfiguration::systemCaCertificates();
    cas += extra;
    config.setCaCertificates(cas);
    QSslConfiguration::setDefaultConfiguration(config);
    return true;
}
