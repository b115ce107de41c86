#include "app/resources.h"

#include "core/texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>

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

QStringList requiredPictures()
{
    QStringList names{QStringLiteral("bg.png"), QStringLiteral("logo.png"), QStringLiteral("dui.png"),
                      QStringLiteral("cuo.png")};
    for (const char *button : {"btn_close", "btn_min"}) {
        for (const char *state : {"", "_hover", "_press"})
            names << QLatin1String(button) + QLatin1String(state) + QStringLiteral(".png");
    }
    return names;
}

QStringList unreadablePictures(const QString &folder)
{
    QStringList unreadable;
    for (const QString &name : requiredPictures()) {
        // Decoded whole: a file that is there but cut short or not a picture draws nothing either.
        if (QImage(folder + QLatin1Char('/') + name).isNull())
            unreadable << name;
    }
    return unreadable;
}

QString findResourceFolder(const QStringList &folders)
{
    for (const QString &folder : folders) {
        if (unreadablePictures(folder).isEmpty())
            return folder;
    }
    return QString();
}

bool ensurePictures(const QStringList &folders)
{
    if (!findResourceFolder(folders).isEmpty())
        return true;
    // Name what is wrong in the folder that holds most of the pictures, if any does.
    QStringList unreadable = requiredPictures();
    for (const QString &folder : folders) {
        const QStringList missing = unreadablePictures(folder);
        if (missing.size() < unreadable.size())
            unreadable = missing;
    }
    QStringList shown;
    for (const QString &folder : folders)
        shown << QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath());
    QMessageBox box(QMessageBox::Critical, gbText(texts::kInfoTitle),
                    gbText(texts::kPicturesMissing) + unreadable.join(QStringLiteral(", ")) +
                        QStringLiteral("\n\n") + gbText(texts::kFoldersSearched) + QLatin1Char('\n') +
                        shown.join(QLatin1Char('\n')),
                    QMessageBox::Ok);
    // Folder names are the file system's text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
}
