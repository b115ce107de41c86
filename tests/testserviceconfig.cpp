// The test builds' service configuration: the address of whichever test server runs, learnt at
// run time, and the CA the build made for the tests.
#include "core/serviceconfig.h"
#include "testsupport.h"

#include <QFile>

namespace
{
QString g_baseUrl;
}

void setTestServiceBaseUrl(const QString &baseUrl)
{
    g_baseUrl = baseUrl;
}

QString serviceBaseUrl()
{
    return g_baseUrl;
}

QByteArray serviceCaPem()
{
    QFile file(testCertPath(QStringLiteral("ca.pem")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
