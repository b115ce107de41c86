// The digest on POSIX systems: a regular file is read ahead by a second thread; pipes, FIFOs and
// devices are polled, so that one that never delivers can still be cancelled.
#include "core/digeststream.h"
#include "core/filedigest.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace digest_detail;

namespace
{

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

// The change time too: a tool that writes and then restores the modification time cannot restore
// it. Inode and device tell a file put in place of the one that was opened.
bool sameContentStamp(const struct stat &a, const struct stat &b)
{
#ifdef Q_OS_DARWIN
    const struct timespec &ma = a.st_mtimespec, &mb = b.st_mtimespec;
    const struct timespec &ca = a.st_ctimespec, &cb = b.st_ctimespec;
#else
    const struct timespec &ma = a.st_mtim, &mb = b.st_mtim;
    const struct timespec &ca = a.st_ctim, &cb = b.st_ctim;
#endif
    return a.st_size == b.st_size && a.st_ino == b.st_ino && a.st_dev == b.st_dev && ma.tv_sec == mb.tv_sec &&
           ma.tv_nsec == mb.tv_nsec && ca.tv_sec == cb.tv_sec && ca.tv_nsec == cb.tv_nsec;
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

FileDigest digestPosix(const QString &path, const DigestProgress &progress, bool regularOnly)
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
    if (regularOnly && !regular)
        return stopped(FileDigest::Status::NotRegular, 0);
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
        // A file of one block gains nothing from reading ahead, and a thread costs more than its read.
        if (regular && qint64(before.st_size) > kBlockSize)
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

} // namespace

FileDigest digestFile(const QString &path, const DigestProgress &progress, bool regularOnly)
{
    return digestPosix(path, progress, regularOnly);
}
