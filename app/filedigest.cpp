#include "filedigest.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <openssl/evp.h>

#include <atomic>
#include <memory>
#include <optional>

// FILEHASH_DIGEST_PORTABLE builds the QFile code on Unix too, so that it can be compiled and
// tested where the developers work.
#if defined(Q_OS_UNIX) && !defined(FILEHASH_DIGEST_PORTABLE)
#define FILEHASH_DIGEST_POSIX 1
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#else
#include <QDateTime>
#include <QFileInfo>
#endif

namespace
{

// A regular file is read by a second thread into a ring of blocks while the calling thread hashes
// the one before, so that the hash, the slowest part, never waits for the kernel's copy.
// filehash-digest on a warm 1 GiB file, AMD EPYC (Zen 4, SHA extensions), OpenSSL 3.0, medians:
//   SHA-256 alone of a buffer in cache 0.593 s, of one out of cache 0.645 s
//   one thread, 64 KiB read() then hash 0.76 s; mmap() in 4 MiB windows 0.72 s (the hash reads the
//   page cache from memory, and mapping costs)
//   reader thread, 3 x 1 MiB blocks 0.61 s; 3 x 256 KiB 0.635 s; 2 x 1 MiB 0.62 s
// Freshly copied blocks reach the hash from the shared cache, which is what makes the difference.
constexpr qint64 kBlockSize = 1024 * 1024;
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
FileDigest finished(Sha256 &sha, qint64 bytes, bool changed)
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

FileDigest stopped(FileDigest::Status status, qint64 bytes)
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

#ifdef FILEHASH_DIGEST_POSIX

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

private:
    int m_fd;
};

bool sameContentStamp(const struct stat &a, const struct stat &b)
{
#ifdef Q_OS_DARWIN
    const struct timespec &ta = a.st_mtimespec, &tb = b.st_mtimespec;
#else
    const struct timespec &ta = a.st_mtim, &tb = b.st_mtim;
#endif
    return a.st_size == b.st_size && ta.tv_sec == tb.tv_sec && ta.tv_nsec == tb.tv_nsec;
}

// read() that retries when a signal interrupts it.
ssize_t readSome(int fd, char *buffer, qint64 size)
{
    ssize_t got;
    do {
        got = ::read(fd, buffer, size_t(size));
    } while (got < 0 && errno == EINTR);
    return got;
}

// Blocks in the ring: one being hashed, one ready, one being read.
constexpr int kBlocks = 3;

// Reads a regular file on its own thread into a ring of blocks, up to kBlocks - 1 ahead of the
// thread that hashes. Only the hashing thread calls next(); the destructor stops and joins the
// reader.
class BlockReader
{
public:
    struct Block {
        const char *data = nullptr;
        qint64 size = 0;
        bool end = false;    // no more blocks after this one
        bool failed = false; // a read failed; size is not to be trusted
    };

    explicit BlockReader(int fd) : m_fd(fd), m_buffer(new char[size_t(kBlocks * kBlockSize)]) {}
    ~BlockReader()
    {
        if (!m_thread.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_freed.notify_one();
        m_thread.join();
    }
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;

    // False when no thread can be had (a limit on threads, say): then read on this one.
    bool start()
    {
        // The reader inherits a mask that blocks every signal, so that the application's signals
        // still go to its own threads and never interrupt a read here.
        sigset_t all, previous;
        sigfillset(&all);
        if (::pthread_sigmask(SIG_SETMASK, &all, &previous) != 0)
            return false;
        bool started = true;
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error &) {
            started = false;
        }
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return started;
    }

    // Hands back the block given before and waits at most ms for the next one: false if none came,
    // so that the caller can report progress and see a cancel while a slow disk delivers.
    bool next(int ms, Block *block)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_handedOut) {
            m_handedOut = false;
            ++m_consumed;
            m_freed.notify_one();
        }
        if (!m_filled.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return m_published > m_consumed; }))
            return false;
        *block = m_blocks[m_consumed % kBlocks];
        m_handedOut = true;
        return true;
    }

private:
    void run()
    {
        for (qint64 index = 0;; ++index) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_freed.wait(lock, [&] { return m_stop || index - m_consumed < kBlocks; });
                if (m_stop)
                    return;
            }
            // Only this thread touches a block between its release and its publication.
            char *const data = m_buffer.get() + (index % kBlocks) * kBlockSize;
            Block block;
            block.data = data;
            while (block.size < kBlockSize && !m_stop.load(std::memory_order_relaxed)) {
                const ssize_t got =
                    readSome(m_fd, data + block.size, qMin(kReadSize, kBlockSize - block.size));
                if (got < 0)
                    block.failed = true;
                if (got <= 0) {
                    block.end = true;
                    break;
                }
                block.size += got;
            }
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_blocks[index % kBlocks] = block;
                m_published = index + 1;
            }
            m_filled.notify_one();
            if (block.end)
                return;
        }
    }

    const int m_fd;
    const std::unique_ptr<char[]> m_buffer;
    std::mutex m_mutex;
    std::condition_variable m_filled; // a block was published
    std::condition_variable m_freed;  // a block was handed back, or stop
    Block m_blocks[kBlocks];
    qint64 m_published = 0; // blocks the reader has filled
    qint64 m_consumed = 0;  // blocks the hasher has handed back
    bool m_handedOut = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A regular file through the block reader. nullopt once the end was hashed.
std::optional<FileDigest::Status> streamRegular(BlockReader &reader, Stream &stream)
{
    for (;;) {
        BlockReader::Block block;
        if (!reader.next(stream.reporter().msUntilDue(), &block)) {
            if (!stream.reporter().whileWaiting(stream.done()))
                return FileDigest::Status::Cancelled;
            continue;
        }
        if (block.failed)
            return FileDigest::Status::CannotRead;
        if (block.size > 0) {
            if (const auto stop = stream.take(block.data, block.size))
                return stop;
        }
        if (block.end)
            return std::nullopt;
    }
}

// Anything read on this thread: pipes, FIFOs and devices, which may never have data or never end
// and so are waited for with poll() in short steps, and a regular file when no reader thread could
// be started.
std::optional<FileDigest::Status> streamHere(int fd, bool regular, Stream &stream)
{
    const std::unique_ptr<char[]> buffer(new char[size_t(kReadSize)]);
    for (;;) {
        if (!regular) {
            struct pollfd waiting = {fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, stream.reporter().msUntilDue());
            if (ready < 0 && errno != EINTR && errno != EAGAIN)
                return FileDigest::Status::CannotRead;
            if (ready <= 0) {
                if (!stream.reporter().whileWaiting(stream.done()))
                    return FileDigest::Status::Cancelled;
                continue;
            }
            if (waiting.revents & POLLNVAL)
                return FileDigest::Status::CannotRead;
            // POLLIN, POLLHUP or POLLERR: the read below tells data, end or error apart.
        }
        const ssize_t got = readSome(fd, buffer.get(), kReadSize);
        if (got < 0) {
            if (!regular && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!stream.reporter().whileWaiting(stream.done()))
                    return FileDigest::Status::Cancelled;
                continue;
            }
            return FileDigest::Status::CannotRead;
        }
        if (got == 0)
            return std::nullopt;
        if (const auto stop = stream.take(buffer.get(), got))
            return stop;
    }
}

FileDigest digestPosix(const QString &path, const DigestProgress &progress)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return stopped(FileDigest::Status::CannotRead, 0);

    // O_NONBLOCK: a FIFO without a writer opens at once instead of hanging here, where no cancel
    // could reach us.
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    const Descriptor file(fd);
    struct stat before;
    if (fd < 0 || ::fstat(fd, &before) != 0 || S_ISDIR(before.st_mode))
        return stopped(FileDigest::Status::CannotRead, 0);

    // A regular file is read with plain blocking reads; anything else is polled.
    const bool regular = S_ISREG(before.st_mode);
    if (regular) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
            return stopped(FileDigest::Status::CannotRead, 0);
#ifdef POSIX_FADV_SEQUENTIAL
        // Larger read-ahead for a cold disk; a hint only, so its result does not matter.
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    }

    Stream stream(progress, regular ? qint64(before.st_size) : -1);
    if (!stream.ok())
        return stopped(FileDigest::Status::CannotRead, 0);
    std::optional<FileDigest::Status> stop;
    {
        // Scoped: the reader thread is joined before the verdict, so it reads nothing after the
        // final fstat() and never outlives the descriptor.
        std::optional<BlockReader> reader;
        if (regular)
            reader.emplace(fd);
        if (reader && reader->start())
            stop = streamRegular(*reader, stream);
        else
            stop = streamHere(fd, regular, stream);
    }
    if (stop)
        return stopped(*stop, stream.done());

    bool changed = false;
    if (regular) {
        // Same descriptor, so a file renamed or replaced meanwhile is still the one that was read.
        // A pipe's time stamps move with every write and a device has no size: neither says
        // anything there.
        struct stat after;
        if (::fstat(fd, &after) != 0)
            return stopped(FileDigest::Status::CannotRead, stream.done());
        changed = !sameContentStamp(before, after) || stream.done() != qint64(before.st_size);
    }
    return stream.finish(changed);
}

#else

FileDigest digestPortable(const QString &path, const DigestProgress &progress)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return stopped(FileDigest::Status::CannotRead, 0);
    // Without poll() a pipe that never delivers blocks in read(); this code is the fallback for
    // systems without it, where evidence files are regular files anyway.
    const bool regular = !file.isSequential();
    const qint64 sizeAtOpen = regular ? file.size() : -1;
    const QDateTime modifiedAtOpen = QFileInfo(path).lastModified();

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
        const QFileInfo after(path);
        changed = stream.done() != sizeAtOpen || after.size() != sizeAtOpen ||
                  after.lastModified() != modifiedAtOpen;
    }
    return stream.finish(changed);
}

#endif

} // namespace

FileDigest digestFile(const QString &path, const DigestProgress &progress)
{
#ifdef FILEHASH_DIGEST_POSIX
    return digestPosix(path, progress);
#else
    return digestPortable(path, progress);
#endif
}

qint64 digestBlockSize()
{
    return kBlockSize;
}
