#include "app/filehash.h"
#include "app/resources.h"
#include "app/startup.h"
#include "core/buildconfig.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    setApplicationAttributes();
    QApplication app(argc, argv);
    setApplicationIdentity();
    installQtTranslations(&app);
    // Where the window verifies and whom it trusts are fixed by the build, never by the
    // environment, a file or an argument.
    const ServiceConfig service = builtInServiceConfig();
    if (!installServiceCa(service.caPem))
        std::fprintf(stderr, "filehash: the built-in service CA holds no usable certificate\n");
    if (!ensurePictures(resourceFolders()))
        return 1;
    filehash window;
    window.setServiceBaseUrl(service.baseUrl);
    window.setTimeStampAuthority(service.tsaUrl, service.tsaCaPem);
    window.show();
    return app.exec();
}
