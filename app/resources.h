#ifndef FILEHASH_APP_RESOURCES_H
#define FILEHASH_APP_RESOURCES_H

#include <QString>
#include <QStringList>

// The folders that may hold the window's images, in the order they are tried: "res" in the
// working directory (as the window has always looked), "res" beside the executable, then the
// installed data folder (beside the executable's prefix, then where this build installs).
QStringList resourceFolders();

// The pictures the window is drawn from (their @2x versions are optional).
QStringList requiredPictures();

// The required pictures that cannot be loaded from folder: missing, unreadable or not a picture.
QStringList unreadablePictures(const QString &folder);

// The first of the folders from which every required picture loads, or an empty string.
QString findResourceFolder(const QStringList &folders);

// True when one of the folders holds every picture. Else tells the user which pictures could not
// be loaded and where they were looked for, in a message box, and returns false: a window without
// its pictures would be drawn as nothing at all.
bool ensurePictures(const QStringList &folders);

#endif
