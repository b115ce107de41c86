#include "core/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <memory>
#include <vector>

namespace
{

// Why a file could not be written. errno, taken right after the failing call, names a full disk
// or a file too large where Qt's own text says only "Unknown error".
QString reason(QSaveFile &file, qint64 expected, int code)
{
    if (code != 0)
        return qt_error_string(code);
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return QStringLiteral("only %1 of %2 bytes were written").arg(file.size()).arg(expected);
}

} // namespace

bool writeWholeFiles(const QVector<WholeFile> &files, QString *error)
{
    const auto fail = [error](const QString &path, const QString &why) {
        if (error)
            *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
        return false;
    };
    // Until commit() each file lives under a temporary name, removed when its QSaveFile goes.
    std::vector<std::unique_ptr<QSaveFile>> written;
    for (const WholeFile &file : files) {
        auto out = std::make_unique<QSaveFile>(file.path);
        const qint64 size = file.bytes.size();
        // On a full disk the buffered write() succeeds, flush() fails, and commit() may still
        // report success over an empty file: every step is checked before anything is committed.
        errno = 0;
        if (!out->open(QIODevice::WriteOnly) || out->write(file.bytes) != size || !out->flush() ||
            out->error() != QFileDevice::NoError || out->size() != size) {
            const int code = errno;
            return fail(file.path, reason(*out, size, code));
        }
        written.push_back(std::move(out));
    }
    for (std::size_t i = 0; i < written.size(); ++i) {
        const WholeFile &file = files.at(static_cast<int>(i));
        QString why;
        std::size_t placed = i; // files of the set now in place, which a failure takes back
        if (!written[i]->commit()) {
            why = written[i]->errorString();
        } else if (QFileInfo(file.path).size() != file.bytes.size()) {
            why =
                QStringLiteral("the file on disk does not hold the %1 bytes written").arg(file.bytes.size());
            placed = i + 1;
        }
        if (!why.isEmpty()) {
            for (std::size_t j = 0; j < placed; ++j)
                QFile::remove(files.at(static_cast<int>(j)).path);
            return fail(file.path, why);
        }
    }
    return true;
}
