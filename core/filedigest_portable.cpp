// The digest where there is no poll(): Windows, or any build with FILEHASH_DIGEST_PORTABLE. Plain
// QFile reads on the calling thread.
#include "core/digeststream.h"
#include "core/filedigest.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <memory>

using namespace digest_detail;

namespace
{

FileDigest digestPortable(const QString &path, const DigestProgress &progress, bool regularOnly)
{
    QFile file(path);
    // Asked of the name before opening: opening a FIFO without a writer would not return.
    const QFileInfo info(path);
    if (regularOnly && info.exists() && !info.isDir() && !info.isFile())
        return stopped(FileDigest::Status::NotRegular, 0);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return stopped(FileDigest::Status::CannotRead, 0);
    // Without poll() a pipe that never delivers blocks in read(); this code is the fallback for
    // systems without it, where evidence files are regular files anyway.
    const bool regular = !file.isSequential();
    const qint64 sizeAtOpen = regular ? file.size() : -1;
    const QFileInfo atOpen(path);
    const QDateTime modifiedAtOpen = atOpen.lastModified();
    // Where the system keeps one, the change time tells a modification time that was put back.
    const QDateTime metadataAtOpen = atOpen.metadataChangeTime();

    Stream stream(progress, sizeAtOpen);
    if (!stream.ok())
        return stopped(FileDigest::Status::CannotRead, 0);
    const std::unique_ptr<char[]> buffer(new char[size_t(kReadSize)]);
    for (;;) {
        const qint64 got = file.read(buffer.get(), kReadSize);
        if (got < 0)
            return stopped(FileDigest::Status::CannotRead, stream.done());
        if (got == 0)
            break;
        if (const auto stop = stream.take(buffer.get(), got))
            return stopped(*stop, stream.done());
    }

    bool changed = false;
    if (regular) {
        // Asked of the name: a file put in its place meanwhile is not the file that was read.
        const QFileInfo after(path);
        changed = stream.done() != sizeAtOpen || after.size() != sizeAtOpen ||
                  after.lastModified() != modifiedAtOpen || after.metadataChangeTime() != metadataAtOpen;
    }
    return stream.finish(changed);
}

} // namespace

FileDigest digestFile(const QString &path, const DigestProgress &progress, bool regularOnly)
{
    return digestPortable(path, progress, regularOnly);
}
