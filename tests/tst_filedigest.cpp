// digestFile(): the digest must be the file's true SHA-256 or no digest at all.

#include "core/digestjob.h"
#include "core/filedigest.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QVector>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(FileDigest::Status)

static const char *statusName(FileDigest::Status status)
{
    switch (status) {
    case FileDigest::Status::Ok:
        return "Ok";
    case FileDigest::Status::Empty:
        return "Empty";
    case FileDigest::Status::CannotRead:
        return "CannotRead";
    case FileDigest::Status::Changed:
        return "Changed";
    case FileDigest::Status::Cancelled:
        return "Cancelled";
    }
    return "?";
}

// Readable QCOMPARE failures; found by argument-dependent lookup.
char *toString(FileDigest::Status status)
{
    return qstrdup(statusName(status));
}

namespace
{

const QString kAbcDigest = QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

QByteArray pseudoRandom(qint64 size, unsigned seed)
{
    std::mt19937 generator(seed);
    QByteArray bytes(int(size), Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator() & 0xff);
    return bytes;
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Threads of this process, or -1 where /proc does not tell. digestFile() reads regular files on a
// thread of its own, which must be gone when it returns, whatever the outcome. A joined thread can
// linger in /proc for a moment: compare with QTRY_*.
int threadCount()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    return tasks.exists() ? tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() : -1;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
           file.flush();
}

// Every progress call, recorded from whichever thread digestFile() runs on.
struct ProgressLog {
    struct Call {
        qint64 done;
        qint64 total;
    };
    std::mutex mutex;
    QVector<Call> calls;
    std::atomic<bool> armed{true};
    int armedCalls = 0; // calls made while armed

    // Returns the number of calls made while armed.
    int record(qint64 done, qint64 total)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        calls.append({done, total});
        if (armed)
            ++armedCalls;
        return armedCalls;
    }
    QVector<Call> snapshot()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

#ifdef Q_OS_UNIX
void ignoreSignal(int) {}
#endif

// Runs digestFile() on a worker thread, as the window does, and waits at most timeoutMs for it.
// With `interrupt` the worker gets a signal every 2 ms, so that its waits return EINTR. On a
// timeout `unblock` is called to let a stuck read end so the thread can be joined; the test has
// failed by then anyway.
bool digestWithin(const QString &path, const DigestProgress &progress, int timeoutMs, bool interrupt,
                  const std::function<void()> &unblock, FileDigest *result)
{
#ifdef Q_OS_UNIX
    // No SA_RESTART: interrupted calls fail with EINTR instead of resuming.
    struct sigaction previous = {};
    if (interrupt) {
        struct sigaction action = {};
        action.sa_handler = ignoreSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &previous);
    }
#else
    Q_UNUSED(interrupt)
#endif
    std::packaged_task<FileDigest()> task([path, progress] { return digestFile(path, progress); });
    std::future<FileDigest> future = task.get_future();
    std::thread worker(std::move(task));

    QElapsedTimer timer;
    timer.start();
    bool inTime = false;
    while (!inTime && !timer.hasExpired(timeoutMs)) {
#ifdef Q_OS_UNIX
        if (interrupt)
            ::pthread_kill(worker.native_handle(), SIGUSR1);
#endif
        const qint64 wait = interrupt ? 2 : timeoutMs - timer.elapsed();
        inTime =
            future.wait_for(std::chrono::milliseconds(qMax<qint64>(wait, 0))) == std::future_status::ready;
    }
    if (!inTime) {
        if (unblock)
            unblock();
        if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            qFatal("digestFile(%s) hangs and cannot be cancelled", qPrintable(path));
    }
    worker.join();
#ifdef Q_OS_UNIX
    // Only now: a signal still pending at the worker must not meet the default action, which
    // ends the process.
    if (interrupt)
        ::sigaction(SIGUSR1, &previous, nullptr);
#endif
    *result = future.get();
    return inTime;
}

} // namespace

class TestFileDigest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void digest_data();
    void digest();
    void slowSparseOver2GiB();
    void cannotRead_data();
    void cannotRead();
    void cancelled_data();
    void cancelled();
    void changedWhileRead_data();
    void changedWhileRead();
    void pipesAndDevices_data();
    void pipesAndDevices();
    void job();

private:
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestFileDigest::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    QVERIFY(digestBlockSize() > 1);
}

void TestFileDigest::digest_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("interrupt");

    // Regular files go through a ring of a few blocks: sizes around one block, and past several
    // turns of the ring, exact and not.
    const qint64 block = digestBlockSize();
    const struct {
        const char *tag;
        qint64 size;
        bool interrupt;
    } sizes[] = {
        {"1 byte", 1, false},
        {"block - 1", block - 1, false},
        {"one block", block, false},
        {"block + 1", block + 1, false},
        {"2 blocks", 2 * block, false},
        {"6 blocks", 6 * block, false},
        {"7 blocks + 5", 7 * block + 5, false},
        {"7 blocks + 5, signals", 7 * block + 5, true},
    };
    unsigned seed = 1;
    for (const auto &row : sizes) {
        const QByteArray content = pseudoRandom(row.size, seed++);
        QTest::newRow(row.tag) << content << sha256Hex(content) << row.interrupt;
    }
    // Known answer, so the reference above is not the only judge.
    QTest::newRow("abc") << QByteArrayLiteral("abc") << kAbcDigest << false;
    QTest::newRow("empty") << QByteArray() << QString() << false;
}

void TestFileDigest::digest()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(bool, interrupt);
    const QString path = filePath(QStringLiteral("digest.bin"));
    QVERIFY(writeFile(path, content));

    auto log = std::make_shared<ProgressLog>();
    const int threadsBefore = threadCount();
    FileDigest result;
    const bool inTime = digestWithin(
        path,
        [log](qint64 done, qint64 total) {
            log->record(done, total);
            return true;
        },
        10000, interrupt, std::function<void()>(), &result);
    QVERIFY2(inTime, "digestFile() did not finish within 10 s");
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);

    QCOMPARE(result.status, content.isEmpty() ? FileDigest::Status::Empty : FileDigest::Status::Ok);
    QCOMPARE(result.hex, expected);
    QCOMPARE(result.bytes, qint64(content.size()));
    const QVector<ProgressLog::Call> calls = log->snapshot();
    if (!content.isEmpty()) {
        QVERIFY(!calls.isEmpty());
        QCOMPARE(calls.last().done, qint64(content.size()));
    }
    qint64 previous = 0;
    for (const ProgressLog::Call &call : calls) {
        QCOMPARE(call.total, qint64(content.size()));
        QVERIFY(call.done >= previous);
        previous = call.done;
    }
}

// Slow: a couple of seconds of hashing. Past 2 GiB is where reading the whole file at once breaks
// in Qt 5, and where 32-bit sizes overflow.
void TestFileDigest::slowSparseOver2GiB()
{
    const qint64 size = (qint64(2) << 30) + 1;
    const QString path = filePath(QStringLiteral("sparse.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY2(file.resize(size), qPrintable(file.errorString()));
    }

    ProgressLog log;
    const FileDigest result = digestFile(path, [&log](qint64 done, qint64 total) {
        log.record(done, total);
        return true;
    });
    QFile::remove(path);

    QCOMPARE(result.status, FileDigest::Status::Ok);
    QCOMPARE(result.hex, QStringLiteral("b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e"));
    QCOMPARE(result.bytes, size);
    QVERIFY(log.calls.size() >= 2);
    // Progress rose along the way, not only at the end. A call while the reading thread is behind
    // may repeat the figure before it.
    QVERIFY(log.calls.first().done < size);
    qint64 previous = 0;
    for (const ProgressLog::Call &call : log.calls) {
        QCOMPARE(call.total, size);
        QVERIFY2(call.done >= previous,
                 qPrintable(QStringLiteral("%1 after %2").arg(call.done).arg(previous)));
        previous = call.done;
    }
    QCOMPARE(log.calls.last().done, size);
}

void TestFileDigest::cannotRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << QStringLiteral("missing");
    QTest::newRow("empty path") << QStringLiteral("empty path");
    QTest::newRow("directory") << QStringLiteral("directory");
    QTest::newRow("no permission") << QStringLiteral("no permission");
    QTest::newRow("read fails") << QStringLiteral("read fails");
}

void TestFileDigest::cannotRead()
{
    QFETCH(QString, kind);
    QString path;
    if (kind == QLatin1String("missing")) {
        path = filePath(QStringLiteral("no such file"));
    } else if (kind == QLatin1String("directory")) {
        path = filePath(QStringLiteral("a directory"));
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("no permission")) {
#ifdef Q_OS_UNIX
        if (::geteuid() == 0)
            QSKIP("root reads a file whatever its permissions");
#endif
        path = filePath(QStringLiteral("unreadable"));
        QVERIFY(writeFile(path, QByteArrayLiteral("secret")));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("this file system ignores permissions");
    } else if (kind == QLatin1String("read fails")) {
        // Opens fine, but reading address 0 of this process's memory fails with EIO: a read
        // error after a good open, even for root.
        path = QStringLiteral("/proc/self/mem");
        if (!QFile::exists(path))
            QSKIP("needs Linux's /proc");
    }

    const int threadsBefore = threadCount();
    const FileDigest result = digestFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
    QCOMPARE(result.status, FileDigest::Status::CannotRead);
    QVERIFY(result.hex.isEmpty());
}

void TestFileDigest::cancelled_data()
{
    QTest::addColumn<int>("cancelAt"); // the progress call that says stop
    QTest::newRow("first call") << 1;
    QTest::newRow("third call") << 3;
}

void TestFileDigest::cancelled()
{
    QFETCH(int, cancelAt);
    const QString path = filePath(QStringLiteral("cancelled.bin"));
    const QByteArray content = pseudoRandom(8 * digestBlockSize(), 7);
    QVERIFY(writeFile(path, content));

    auto calls = std::make_shared<std::atomic<int>>(0);
    const DigestProgress progress = [calls, cancelAt](qint64, qint64) {
        // Longer than the progress interval, so that every block brings a call and the file is
        // far from read when the stop comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        return ++*calls < cancelAt;
    };
    const int threadsBefore = threadCount();
    FileDigest result;
    QVERIFY2(digestWithin(path, progress, 10000, false, std::function<void()>(), &result),
             "digestFile() did not stop within 10 s");
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
    QCOMPARE(result.status, FileDigest::Status::Cancelled);
    QVERIFY(result.hex.isEmpty());
    QCOMPARE(calls->load(), cancelAt);
    QVERIFY(result.bytes < content.size());
}

void TestFileDigest::changedWhileRead_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("byAnotherThread");
    QTest::addColumn<FileDigest::Status>("expected");

    using S = FileDigest::Status;
    QTest::newRow("appended") << QStringLiteral("appended") << false << S::Changed;
    QTest::newRow("grown by blocks") << QStringLiteral("grown by blocks") << false << S::Changed;
    QTest::newRow("truncated") << QStringLiteral("truncated") << false << S::Changed;
    QTest::newRow("truncated to nothing") << QStringLiteral("truncated to nothing") << false << S::Changed;
    QTest::newRow("truncated by another thread") << QStringLiteral("truncated") << true << S::Changed;
    QTest::newRow("appended by another thread") << QStringLiteral("grown by blocks") << true << S::Changed;
    // Same size: only the modification time tells.
    QTest::newRow("rewritten in place") << QStringLiteral("rewritten in place") << false << S::Changed;
    // The name now stands for other bytes than were read: the digest would not be the file's.
    QTest::newRow("replaced under its name") << QStringLiteral("replaced") << false << S::Changed;
    // A tool that restores the modification time cannot restore the change time.
    QTest::newRow("rewritten, time put back") << QStringLiteral("time put back") << false << S::Changed;
}

void TestFileDigest::changedWhileRead()
{
    QFETCH(QString, change);
    QFETCH(bool, byAnotherThread);
    QFETCH(FileDigest::Status, expected);
    const QString path = filePath(QStringLiteral("changing.bin"));
    const qint64 block = digestBlockSize();
    const QByteArray content = pseudoRandom(8 * block, 11);
    QVERIFY(writeFile(path, content));

    QString failure;
    const auto makeChange = [&] {
        QFile file(path);
        if (change == QLatin1String("appended")) {
            if (!file.open(QIODevice::Append) || file.write("more") != 4)
                failure = file.errorString();
        } else if (change == QLatin1String("grown by blocks")) {
            const QByteArray more = pseudoRandom(3 * block, 12);
            if (!file.open(QIODevice::Append) || file.write(more) != more.size())
                failure = file.errorString();
        } else if (change == QLatin1String("truncated")) {
            if (!file.resize(content.size() / 2))
                failure = file.errorString();
        } else if (change == QLatin1String("truncated to nothing")) {
            if (!file.resize(0))
                failure = file.errorString();
        } else if (change == QLatin1String("replaced")) {
            const QString other = path + QStringLiteral(".new");
            if (!writeFile(other, pseudoRandom(content.size(), 13)) ||
                std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) != 0)
                failure = QStringLiteral("cannot replace the file");
        } else {
            // Time stamps may be coarser than the few milliseconds since the file was written:
            // set one that differs for sure.
            const QDateTime stamp = change == QLatin1String("time put back")
                                        ? QFileInfo(path).lastModified()
                                        : QDateTime::currentDateTimeUtc().addSecs(10);
            if (!file.open(QIODevice::ReadWrite) || !file.seek(content.size() - 1) || file.write("x") != 1 ||
                !file.flush() || !file.setFileTime(stamp, QFileDevice::FileModificationTime))
                failure = file.errorString();
        }
    };

    // With byAnotherThread the change is made off the reading and hashing threads, as by another
    // program, while the callback holds the digest back until it is done.
    const int threadsBefore = threadCount();
    std::promise<void> go;
    std::promise<void> madeIt;
    std::future<void> made = madeIt.get_future();
    std::thread changer;
    if (byAnotherThread) {
        changer = std::thread([&makeChange, &madeIt, ready = go.get_future()] {
            ready.wait();
            makeChange();
            madeIt.set_value();
        });
    }
    int calls = 0;
    bool changeWaitTimedOut = false;
    // The first call comes after the first block, with the rest of the file still unread.
    const FileDigest result = digestFile(path, [&](qint64, qint64) {
        if (++calls > 1)
            return true;
        if (!byAnotherThread) {
            makeChange();
        } else {
            go.set_value();
            changeWaitTimedOut = made.wait_for(std::chrono::seconds(10)) != std::future_status::ready;
        }
        return true;
    });
    if (changer.joinable()) {
        if (calls == 0)
            go.set_value();
        changer.join();
    }
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
    QVERIFY(!changeWaitTimedOut);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(calls >= 1);
    QCOMPARE(result.status, expected);
    if (expected == FileDigest::Status::Ok) {
        QCOMPARE(result.hex, sha256Hex(content));
        QCOMPARE(result.bytes, qint64(content.size()));
    } else {
        QVERIFY(result.hex.isEmpty());
    }
}

// The job reports on the thread that owns it, and ends with itself even on a source that never ends.
void TestFileDigest::job()
{
    const QByteArray content = pseudoRandom(3 * digestBlockSize(), 5);
    const QString path = filePath(QStringLiteral("job.bin"));
    QVERIFY(writeFile(path, content));
    DigestJob job;
    QThread *reportedOn = nullptr;
    // Before the spy, which ends the wait: queued calls are delivered in the order connected.
    connect(&job, &DigestJob::finished, this, [&] { reportedOn = QThread::currentThread(); });
    QSignalSpy progress(&job, &DigestJob::progress);
    QSignalSpy finished(&job, &DigestJob::finished);
    job.start(path);
    QVERIFY(finished.wait(10000));
    QCOMPARE(reportedOn, QThread::currentThread());
    QCOMPARE(finished.at(0).at(0).value<FileDigest>().hex, sha256Hex(content));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toLongLong(), qint64(content.size()));
#ifndef FILEHASH_DIGEST_PORTABLE
    const QString fifo = filePath(QStringLiteral("job.fifo"));
    QVERIFY2(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0, std::strerror(errno));
    const int threadsBefore = threadCount();
    {
        DigestJob endless;
        endless.start(fifo);
    }
    QCOMPARE(threadCount(), threadsBefore);
#endif
}

// Sources that have no size and may never end: a cancel must always get through.
void TestFileDigest::pipesAndDevices_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("cancelAfter"); // progress calls, 0 for never
    QTest::addColumn<QVector<FileDigest::Status>>("allowed");
    QTest::addColumn<QString>("expectedHex");
    QTest::addColumn<bool>("interrupt");

    using S = FileDigest::Status;
    QTest::newRow("/dev/zero") << QStringLiteral("/dev/zero") << 3 << QVector<S>{S::Cancelled} << QString()
                               << false;
    // Linux waits for a writer to come; elsewhere the FIFO may read as ended at once.
    QTest::newRow("FIFO without a writer")
        << QStringLiteral("fifo none") << 3 << QVector<S>{S::Cancelled, S::Empty} << QString() << false;
    QTest::newRow("FIFO with abc") << QStringLiteral("fifo abc") << 0 << QVector<S>{S::Ok} << kAbcDigest
                                   << false;
    QTest::newRow("FIFO with abc, signals")
        << QStringLiteral("fifo abc") << 0 << QVector<S>{S::Ok} << kAbcDigest << true;
    QTest::newRow("FIFO with a silent writer")
        << QStringLiteral("fifo silent") << 3 << QVector<S>{S::Cancelled} << QString() << false;
}

void TestFileDigest::pipesAndDevices()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs and /dev/zero are Unix only");
#else
    QFETCH(QString, source);
    QFETCH(int, cancelAfter);
    QFETCH(QVector<FileDigest::Status>, allowed);
    QFETCH(QString, expectedHex);
    QFETCH(bool, interrupt);

#ifdef FILEHASH_DIGEST_PORTABLE
    // Without poll() a FIFO that never delivers blocks the read; the portable digest is for systems
    // whose evidence files are regular files.
    if (source == QLatin1String("fifo none") || source == QLatin1String("fifo silent"))
        QSKIP("the portable digest cannot wait for a FIFO that sends nothing");
#endif
    QString path = source;
    const bool fifo = source.startsWith(QLatin1String("fifo"));
    if (fifo) {
        path = filePath(source);
        QFile::remove(path);
        QVERIFY2(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0, std::strerror(errno));
    } else if (!QFile::exists(path)) {
        QSKIP("no /dev/zero here");
    }

    // The writer end. Opening it without blocking fails until digestFile() has opened the read
    // end, so retry for a bounded time.
    // The cancel countdown starts once the writer is there, so that a slow start of the writer
    // thread does not turn a row into "FIFO without a writer".
    auto log = std::make_shared<ProgressLog>();
    std::atomic<bool> stopWriter(false);
    std::thread writer;
    if (source != QLatin1String("fifo none") && fifo) {
        log->armed = false;
        const QByteArray name = QFile::encodeName(path);
        const bool writes = source == QLatin1String("fifo abc");
        writer = std::thread([name, writes, log, &stopWriter] {
            QElapsedTimer timer;
            timer.start();
            int fd = -1;
            while (fd < 0 && !stopWriter && !timer.hasExpired(20000)) {
                fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (fd < 0)
                return;
            log->armed = true;
            if (writes) {
                // Let the reader wait a little first, as it would for a slow producer.
                std::this_thread::sleep_for(std::chrono::milliseconds(120));
                if (::write(fd, "abc", 3) != 3)
                    qWarning("writing to the FIFO failed");
            } else {
                while (!stopWriter && !timer.hasExpired(20000))
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ::close(fd);
        });
    }
    auto unblock = [&] {
        stopWriter = true;
        // A writer that opens and closes again ends a read that waits on the FIFO.
        if (fifo) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }
    };

    const DigestProgress progress = [log, cancelAfter](qint64 done, qint64 total) {
        const int armedCalls = log->record(done, total);
        return cancelAfter == 0 || armedCalls < cancelAfter;
    };
    FileDigest result;
    const bool inTime = digestWithin(path, progress, 10000, interrupt, unblock, &result);
    stopWriter = true;
    if (writer.joinable())
        writer.join();

    QVERIFY2(inTime, "digestFile() neither finished nor saw the cancel within 10 s");
    QVERIFY2(allowed.contains(result.status), statusName(result.status));
    QCOMPARE(result.hex, expectedHex);
    const QVector<ProgressLog::Call> calls = log->snapshot();
    // No call after the one that said stop.
    if (result.status == FileDigest::Status::Cancelled)
        QCOMPARE(log->armedCalls, cancelAfter);
    qint64 previous = 0;
    for (const ProgressLog::Call &call : calls) {
        QCOMPARE(call.total, qint64(-1));
        QVERIFY(call.done >= previous);
        previous = call.done;
    }
    if (source == QLatin1String("/dev/zero"))
        QVERIFY(calls.last().done > 0);
    if (source == QLatin1String("fifo silent")) {
        // Progress kept coming while no byte did.
        QVERIFY(log->armed);
        QCOMPARE(calls.last().done, qint64(0));
    }
#endif
}

QTEST_GUILESS_MAIN(TestFileDigest)
#include "tst_filedigest.moc"
