// What both digest back ends share: the SHA-256 context, progress pacing and the stream that every
// block goes through. Internal to the digest; not for other code.
#ifndef FILEHASH_CORE_DIGESTSTREAM_H
#define FILEHASH_CORE_DIGESTSTREAM_H

#include "core/filedigest.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <openssl/evp.h>

#include <optional>

namespace digest_detail
{

// A regular file is read by a second thread into a ring of blocks while the calling thread hashes
// the one before, so that the hash, the slowest part, never waits for the kernel's copy.
// bench/README.md has the figures behind the block size and the number of blocks.
constexpr qint64 kBlockSize = digestBlockSize();
// The reader fills a block kReadSize at a time, as fast as in one piece, so that a stop is seen
// after one small read. Pipes, devices and the portable code read kReadSize at a time into one
// buffer, which stays in the core's cache between the copy and the hash.
constexpr qint64 kReadSize = 64 * 1024;

// Progress comes at most this often while data flows, and at about this pace while waiting for
// it, so that a cancel is seen quickly without the callback costing time.
constexpr qint64 kProgressIntervalMs = 50;

class Sha256
{
public:
    Sha256() : m_ctx(EVP_MD_CTX_new())
    {
        m_ok = m_ctx && EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr) == 1;
    }
    ~Sha256() { EVP_MD_CTX_free(m_ctx); }
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    bool ok() const { return m_ok; }
    void update(const char *data, size_t size) { m_ok = m_ok && EVP_DigestUpdate(m_ctx, data, size) == 1; }
    // Lower-case hex, or empty if OpenSSL failed at any step.
    QString finish()
    {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (!m_ok || EVP_DigestFinal_ex(m_ctx, md, &size) != 1)
            return QString();
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(md), int(size)).toHex());
    }

private:
    EVP_MD_CTX *m_ctx;
    bool m_ok = false;
};

// Calls the progress callback: at once after the first block, so the caller learns the total,
// then at most once per interval, and once at the end so that a bar can reach its end.
class Reporter
{
public:
    Reporter(const DigestProgress &progress, qint64 total) : m_progress(progress), m_total(total)
    {
        if (m_progress)
            m_timer.start();
    }

    // False when the caller asked to stop.
    bool afterBlock(qint64 done)
    {
        if (!m_progress || (m_called && !m_timer.hasExpired(kProgressIntervalMs)))
            return true;
        return call(done);
    }
    bool whileWaiting(qint64 done)
    {
        // A poll() timeout can end a hair before the interval does on the coarser timer.
        if (!m_progress || !m_timer.hasExpired(kProgressIntervalMs - 1))
            return true;
        return call(done);
    }
    bool atEnd(qint64 done)
    {
        if (!m_progress || done == 0 || (m_called && done == m_lastDone))
            return true;
        return call(done);
    }
    // How long a wait for data may last before the next call is due.
    int msUntilDue() const
    {
        if (!m_progress)
            return int(kProgressIntervalMs);
        const qint64 left = kProgressIntervalMs - m_timer.elapsed();
        return int(qBound<qint64>(1, left, kProgressIntervalMs));
    }

private:
    bool call(qint64 done)
    {
        m_called = true;
        m_lastDone = done;
        m_timer.restart();
        return m_progress(done, m_total);
    }

    const DigestProgress &m_progress;
    const qint64 m_total;
    QElapsedTimer m_timer;
    bool m_called = false;
    qint64 m_lastDone = 0;
};

// The verdict once every byte has gone through the hash.
inline FileDigest finished(Sha256 &sha, qint64 bytes, bool changed)
{
    FileDigest result;
    result.bytes = bytes;
    if (changed)
        result.status = FileDigest::Status::Changed;
    else if (bytes == 0)
        result.status = FileDigest::Status::Empty;
    else {
        result.hex = sha.finish();
        result.status = result.hex.isEmpty() ? FileDigest::Status::CannotRead : FileDigest::Status::Ok;
    }
    return result;
}

inline FileDigest stopped(FileDigest::Status status, qint64 bytes)
{
    FileDigest result;
    result.status = status;
    result.bytes = bytes;
    return result;
}

// What every block goes through, whoever read it: the hash, the growth check and progress.
class Stream
{
public:
    Stream(const DigestProgress &progress, qint64 sizeAtOpen)
        : m_reporter(progress, sizeAtOpen), m_size(sizeAtOpen)
    {
    }

    bool ok() const { return m_sha.ok(); }
    qint64 done() const { return m_done; }
    Reporter &reporter() { return m_reporter; }

    // A status when the read must stop here.
    std::optional<FileDigest::Status> take(const char *data, qint64 size)
    {
        // A short read is fine: the hash takes whatever came.
        m_sha.update(data, size_t(size));
        m_done += size;
        // More than the file held at open: it is growing (a recording still running, say), and
        // chasing its end would only delay the same verdict.
        if (m_size >= 0 && m_done > m_size)
            return FileDigest::Status::Changed;
        if (!m_reporter.afterBlock(m_done))
            return FileDigest::Status::Cancelled;
        return std::nullopt;
    }

    FileDigest finish(bool changed)
    {
        if (!m_reporter.atEnd(m_done))
            return stopped(FileDigest::Status::Cancelled, m_done);
        return finished(m_sha, m_done, changed);
    }

private:
    Sha256 m_sha;
    Reporter m_reporter;
    const qint64 m_size; // -1 when unknown
    qint64 m_done = 0;
};

} // namespace digest_detail

#endif
