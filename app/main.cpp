#include "app/filehash.h"
#include "app/startup.h"
#include "core/serviceconfig.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    setApplicationAttributes();
    QApplication app(argc, argv);
    setApplicationIdentity();
    installQtTranslations(&app);
    if (!installServiceCa(serviceCaPem()))
        std::fprintf(stderr, "filehash: the built-in service CA holds no usable certificate\n");
    filehash window;
    window.show();
    return app.exec();
}
