#ifndef FILEHASH_APP_RESOURCES_H
#define FILEHASH_APP_RESOURCES_H

#include <QString>
#include <QStringList>

// The folders that may hold the window's images, in the order they are tried: "res" in the
// working directory (as the window has always looked), "res" beside the executable, then the
// installed data folder (beside the executable's prefix, then where this build installs).
QStringList resourceFolders();

// The first of the folders that holds the window's background, or an empty string.
QString findResourceFolder(const QStringList &folders);

#endif
