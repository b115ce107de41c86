#ifndef FILEHASH_CORE_WHOLEFILE_H
#define FILEHASH_CORE_WHOLEFILE_H

#include <QByteArray>
#include <QString>
#include <QVector>

// A file to write: where it goes and every byte it is to hold.
struct WholeFile {
    QString path;
    QByteArray bytes;
};

// Writes files that belong together (a receipt's PDF and JSON, a report) all whole or none of
// them. Each is written to a temporary file beside its place; they are put in place only when
// every byte of every one has been written, and when putting one in place fails, those already in
// place are removed again (a file of the set that existed before is then gone too). Nothing
// temporary is left behind. On failure, error names the file and says why.
bool writeWholeFiles(const QVector<WholeFile> &files, QString *error);

#endif
