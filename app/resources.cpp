#include "app/resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QStringList resourceFolders()
{
    QStringList folders{QStringLiteral("res")};
    if (QCoreApplication::instance()) {
        const QString bin = QCoreApplication::applicationDirPath();
        folders << bin + QStringLiteral("/res")
                << QDir::cleanPath(bin + QStringLiteral("/../share/filehash/res"));
    }
#ifdef FILEHASH_INSTALL_DATADIR
    folders << QStringLiteral(FILEHASH_INSTALL_DATADIR "/res");
#endif
    folders.removeDuplicates();
    return folders;
}

QString findResourceFolder(const QStringList &folders)
{
    for (const QString &folder : folders) {
        if (QFileInfo(folder + QStringLiteral("/bg.png")).isFile())
            return folder;
    }
    return QString();
}
