// digestFile() and the digest job: the digest must be the file's true SHA-256 or no digest at all.

#include "core/digestjob.h"
#include "core/filedigest.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(FileDigest::Status)

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

// Threads of this process: the digest's reading thread must be gone when it returns. A joined
// thread can linger in /proc for a moment, so compare with QTRY_*.
int threadCount()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    return tasks.exists() ? tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() : -1;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestFileDigest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void digest_data();
    void digest();
    void slowSparseOver2GiB();
    void cannotRead_data();
    void cannotRead();
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

void TestFileDigest::digest_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    // Regular files go through a ring of a few blocks: sizes around one block and past several
    // turns of the ring.
    const qint64 block = digestBlockSize();
    unsigned seed = 1;
    for (qint64 size : {qint64(1), block - 1, block, block + 1, 7 * block + 5}) {
        const QByteArray content = pseudoRandom(size, seed++);
        QTest::newRow(qPrintable(QString::number(size))) << content << sha256Hex(content);
    }
    // Known answer, so the reference above is not the only judge.
    QTest::newRow("abc") << QByteArrayLiteral("abc") << kAbcDigest;
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestFileDigest::digest()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = filePath(QStringLiteral("digest.bin"));
    QVERIFY(writeFile(path, content));
    const int threadsBefore = threadCount();
    qint64 previous = 0;
    bool monotonic = true;
    const FileDigest result = digestFile(path, [&](qint64 done, qint64 total) {
        monotonic = monotonic && done >= previous && total == content.size();
        previous = done;
        return true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
    QCOMPARE(result.status, content.isEmpty() ? FileDigest::Status::Empty : FileDigest::Status::Ok);
    QCOMPARE(result.hex, expected);
    QCOMPARE(result.bytes, qint64(content.size()));
    QVERIFY(monotonic);
    QCOMPARE(previous, qint64(content.size())); // the last call reaches the end
}

// Past 2 GiB is where reading the whole file at once breaks in Qt 5 and 32-bit sizes overflow.
void TestFileDigest::slowSparseOver2GiB()
{
    const qint64 size = (qint64(2) << 30) + 1;
    const QString path = filePath(QStringLiteral("sparse.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY2(file.resize(size), qPrintable(file.errorString()));
    }
    int calls = 0;
    const FileDigest result = digestFile(path, [&calls](qint64, qint64) { return ++calls > 0; });
    QFile::remove(path);
    QCOMPARE(result.status, FileDigest::Status::Ok);
    QCOMPARE(result.hex, QStringLiteral("b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e"));
    QCOMPARE(result.bytes, size);
    QVERIFY(calls >= 2); // progress along the way, not only at the end
}

void TestFileDigest::cannotRead_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << QStringLiteral("no such file");
    QTest::newRow("directory") << QStringLiteral("a directory");
    // Opens fine, but reading address 0 of this process's memory fails: a read error after a good
    // open, even for root.
    QTest::newRow("read fails") << QStringLiteral("/proc/self/mem");
}

void TestFileDigest::cannotRead()
{
    QFETCH(QString, path);
    if (!path.startsWith(QLatin1Char('/')))
        path = filePath(path);
    if (path.endsWith(QLatin1String("directory")))
        QVERIFY(QDir().mkpath(path));
    const FileDigest result = digestFile(path);
    QCOMPARE(result.status, FileDigest::Status::CannotRead);
    QVERIFY(result.hex.isEmpty());
}

void TestFileDigest::cancelled()
{
    const QString path = filePath(QStringLiteral("cancelled.bin"));
    const QByteArray content = pseudoRandom(8 * digestBlockSize(), 7);
    QVERIFY(writeFile(path, content));
    int calls = 0;
    const FileDigest result = digestFile(path, [&calls](qint64, qint64) {
        // Longer than the progress interval, so that every block brings a call and the file is far
        // from read when the stop comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        return ++calls < 3;
    });
    QCOMPARE(result.status, FileDigest::Status::Cancelled);
    QVERIFY(result.hex.isEmpty());
    QCOMPARE(calls, 3);
    QVERIFY(result.bytes < content.size());
}

void TestFileDigest::changedWhileRead_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("appended") << QStringLiteral("appended");
    QTest::newRow("truncated") << QStringLiteral("truncated");
    // Same size: only the time stamps tell.
    QTest::newRow("rewritten in place") << QStringLiteral("rewritten");
    // A tool that puts the modification time back cannot put the change time back.
    QTest::newRow("rewritten, time put back") << QStringLiteral("time put back");
    // The name now stands for other bytes than were read.
    QTest::newRow("replaced under its name") << QStringLiteral("replaced");
}

void TestFileDigest::changedWhileRead()
{
    QFETCH(QString, change);
    const QString path = filePath(QStringLiteral("changing.bin"));
    const QByteArray content = pseudoRandom(8 * digestBlockSize(), 11);
    QVERIFY(writeFile(path, content));
    const QDateTime modified = QFileInfo(path).lastModified();
    bool changed = false;
    // The first call comes after the first block, with the rest of the file still unread.
    const FileDigest result = digestFile(path, [&](qint64, qint64) {
        if (changed)
            return true;
        changed = true;
        QFile file(path);
        if (change == QLatin1String("appended"))
            return file.open(QIODevice::Append) && file.write("more") == 4;
        if (change == QLatin1String("truncated"))
            return file.resize(content.size() / 2);
        if (change == QLatin1String("replaced"))
            return writeFile(path + QStringLiteral(".new"), content) &&
                   std::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                               QFile::encodeName(path).constData()) == 0;
        // Stamps may be coarser than the moments since the file was written: set one that differs.
        const QDateTime stamp = change == QLatin1String("rewritten") ? modified.addSecs(10) : modified;
        return file.open(QIODevice::ReadWrite) && file.seek(content.size() - 1) && file.write("x") == 1 &&
               file.flush() && file.setFileTime(stamp, QFileDevice::FileModificationTime);
    });
    QVERIFY(changed);
    QCOMPARE(result.status, FileDigest::Status::Changed);
    QVERIFY(result.hex.isEmpty());
}

// Sources that have no size and may never end: a cancel must always get through.
void TestFileDigest::pipesAndDevices_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<FileDigest::Status>("expected");
    QTest::newRow("/dev/zero") << "/dev/zero" << FileDigest::Status::Cancelled;
    QTest::newRow("FIFO without a writer") << "none" << FileDigest::Status::Cancelled;
    QTest::newRow("FIFO with a silent writer") << "silent" << FileDigest::Status::Cancelled;
    QTest::newRow("FIFO with abc") << "abc" << FileDigest::Status::Ok;
}

void TestFileDigest::pipesAndDevices()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs and /dev/zero are Unix only");
#else
    QFETCH(QString, source);
    QFETCH(FileDigest::Status, expected);
#ifdef FILEHASH_DIGEST_PORTABLE
    // Without poll() a FIFO that never delivers blocks the read; the portable digest is for systems
    // whose evidence files are regular files.
    if (source == QLatin1String("none") || source == QLatin1String("silent"))
        QSKIP("the portable digest cannot wait for a FIFO that sends nothing");
#endif
    QString path = source;
    if (source.startsWith(QLatin1Char('/')) && !QFile::exists(source))
        QSKIP("no such device here");
    std::thread writer;
    std::atomic<bool> stop{false};
    if (!source.startsWith(QLatin1Char('/'))) {
        path = filePath(QStringLiteral("fifo-") + source);
        QVERIFY2(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0, std::strerror(errno));
        if (source != QLatin1String("none")) {
            // The write end opens only once the digest has opened the read end: retry, bounded.
            writer = std::thread([name = QFile::encodeName(path), source, &stop] {
                int fd = -1;
                for (int i = 0; i < 5000 && fd < 0 && !stop; ++i) {
                    fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd < 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                if (source == QLatin1String("abc") && fd >= 0 && ::write(fd, "abc", 3) != 3)
                    qWarning("writing to the FIFO failed");
                while (source != QLatin1String("abc") && !stop)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (fd >= 0)
                    ::close(fd);
            });
        }
    }
    int calls = 0;
    const FileDigest result = digestFile(path, [&](qint64, qint64 total) {
        return total == -1 && (expected == FileDigest::Status::Ok || ++calls < 5);
    });
    stop = true;
    if (writer.joinable())
        writer.join();
    QCOMPARE(int(result.status), int(expected));
    QCOMPARE(result.hex, expected == FileDigest::Status::Ok ? kAbcDigest : QString());
#endif
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
    QCOMPARE(progress.last().at(0).toLongLong(), qint64(content.size()));
#ifndef FILEHASH_DIGEST_PORTABLE
    const QString fifo = filePath(QStringLiteral("job.fifo"));
    QVERIFY2(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0, std::strerror(errno));
    const int threadsBefore = threadCount();
    {
        DigestJob endless;
        endless.start(fifo);
    }
    // A joined thread can linger in /proc for a moment; one that was not joined stays.
    QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= threadsBefore, 5000);
#endif
}

QTEST_MAIN(TestFileDigest)
#include "tst_filedigest.moc"
