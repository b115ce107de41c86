#ifndef FILEHASH_FILEDIGEST_H
#define FILEHASH_FILEDIGEST_H

#include <QString>
#include <QtGlobal>

#include <functional>

// The SHA-256 digest of a whole file, read in fixed-size blocks so that memory stays
// bounded whatever the file's size. No widgets here: the window, the benchmark and the
// reference service all use this one code path. A regular file is read ahead on a second
// thread while the calling thread hashes; that thread has ended when digestFile() returns.
struct FileDigest {
    enum class Status {
        Ok,         // hex holds the digest
        Empty,      // the file has no content
        CannotRead, // opening or a read failed, or it is a directory
        Changed,    // size or modification time changed while it was read, or it grew past its size
        Cancelled,  // the progress callback asked to stop
        NotRegular, // only regular files were asked for, and this is a FIFO, a device or a socket
    };
    Status status = Status::CannotRead;
    QString hex;      // 64 lower-case hexadecimal characters when status is Ok, else empty
    qint64 bytes = 0; // bytes read
};

// Called with the bytes read so far and the size the file had when it was opened (-1 when the
// size is unknown, as for a pipe or a character device): after the first block, then at most
// about every 50 ms while data flows and about every 50 ms while waiting for data that does not
// come, and once more after the last block. done never decreases. Returning false stops the read
// (status Cancelled). It runs on the thread that called digestFile(), typically a worker thread.
using DigestProgress = std::function<bool(qint64 done, qint64 total)>;

// With regularOnly, anything but a regular file (after links) is refused before a byte is read:
// a FIFO or a device may never end, or never be the same twice.
FileDigest digestFile(const QString &path, const DigestProgress &progress = DigestProgress(),
                      bool regularOnly = false);

// Bytes per block of a regular file: the unit in which it is handed from the reading thread to the
// hash. digestFile() holds a few such blocks, however large the file. bench/README.md has the
// figures behind the size.
constexpr qint64 digestBlockSize()
{
    return 1024 * 1024;
}

#endif
