// digestFile() and the digest job: the digest must be the file's true SHA-256 or no digest at all.

#include "core/digestjob.h"
#include "core/filedigest.h"
#include "testsupport.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using Status = FileDigest::Status;

static const QString kAbcDigest =
    QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

static QByteArray pseudoRandom(qint64 size, quint32 seed)
{
    QByteArray words(int(size + 3) & ~3, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(words.data()), words.size() / 4);
    return words.left(int(size));
}

// Threads of this process; one just joined can linger in /proc for a moment, so compare with QTRY_*.
static int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

class TestFileDigest : public QObject
{
    Q_OBJECT
    // On tmpfs a hole reads as the shared zero page, many times faster than from a disk.
    QTemporaryDir m_dir{
        (QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
        QStringLiteral("/tst_filedigest-XXXXXX")};
    // A file of `size` bytes, `content` then holes, or the one at `path`; `hex` defaults to Qt's SHA-256.
    static void row(const char *name, const QByteArray &content, qint64 size, const char *path, Status status,
                    QByteArray hex = {})
    {
        if (hex.isNull() && status == Status::Ok)
            hex = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
        QTest::newRow(name) << content << size << QString::fromUtf8(path) << int(status) << hex;
    }

private slots:
    void digest_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("hex");
        // Sizes around one block, and past several turns of the ring of blocks a regular file goes through.
        const qint64 block = digestBlockSize();
        for (qint64 size : {qint64(1), block - 1, block, block + 1, 7 * block + 5})
            row(QByteArray::number(size), pseudoRandom(size, quint32(size)), size, "", Status::Ok);
        // A known answer, so that not only the reference judges. Past 2 GiB reading the whole file at
        // once breaks in Qt 5, and 32-bit sizes overflow.
        row("2 GiB + 1 of holes", "", (qint64(2) << 30) + 1, "", Status::Ok,
            "b8030a8ab89280935633d8d991da3d9907c0f12e8b6fc3bfc515f4d440872b6e");
        row("empty", "", 0, "", Status::Empty);
        row("missing", "", 0, "no such file", Status::CannotRead);
        row("directory", "", 0, ".", Status::CannotRead);
        // Opens fine, but reading address 0 of this process's memory fails, even for root.
        row("read fails", "", 0, "/proc/self/mem", Status::CannotRead);
        // Empty at open, yet it has bytes: a file growing from nothing is not chased to its end.
        row("grows from empty", "", 0, "/proc/self/status", Status::Changed);
    }
    void digest()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, size);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, hex);
        if (path.isEmpty()) {
            path = writeTestFile(m_dir.path(), QStringLiteral("digest.bin"), content);
            QVERIFY(QFile::resize(path, size));
        }
        const int threadsBefore = threadCount();
        QList<qint64> done; // a wrong total cancels, which the status shows
        const FileDigest result =
            digestFile(path, [&](qint64 d, qint64 total) { return done << d, total == size; });
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
        QCOMPARE(int(result.status), status);
        QCOMPARE(result.hex.toLatin1(), hex);
        QVERIFY(std::is_sorted(done.begin(), done.end()));
        QCOMPARE(done.value(done.size() - 1), size);           // the last call reaches the end
        QVERIFY(done.size() > 1 || size <= digestBlockSize()); // and there are calls along the way
        if (status != int(Status::Changed))
            QCOMPARE(result.bytes, size);
    }

    // What happens during the read stops it without a digest; the first call comes after the first
    // block, with the rest of the file still unread.
    void stoppedWhileRead_data()
    {
        QTest::addColumn<QString>("change");
        for (const char *change : {"appended", "truncated", "rewritten", "time reset", "replaced", "cancel"})
            QTest::newRow(change) << QString::fromLatin1(change);
    }
    void stoppedWhileRead()
    {
        QFETCH(QString, change);
        const bool cancel = change == QLatin1String("cancel");
#ifdef FILEHASH_DIGEST_PORTABLE
        if (change == QLatin1String("time reset"))
            QSKIP("The portable digest compares change times to the millisecond only");
#endif
        const QByteArray content = pseudoRandom(8 * digestBlockSize(), 11);
        const QString path = writeTestFile(m_dir.path(), QStringLiteral("changing.bin"), content);
        const QDateTime modified = QFileInfo(path).lastModified();
        int calls = 0;
        const FileDigest result = digestFile(path, [&](qint64, qint64) {
            if (cancel) {
                // Longer than the progress interval, so that every block brings a call.
                QThread::msleep(60);
                return ++calls < 3;
            }
            if (calls++ > 0)
                return true;
            QFile file(path);
            if (change == QLatin1String("appended"))
                return file.open(QIODevice::Append) && file.write("more") == 4;
            if (change == QLatin1String("truncated"))
                return file.resize(content.size() / 2);
            if (change == QLatin1String("replaced")) // the name now stands for other bytes
                return QFile::remove(path) && file.open(QIODevice::WriteOnly) &&
                       file.write(content) == content.size();
            // Same size, so only the stamps tell; one that was put back leaves the change time moved.
            // Stamps may be coarser than the moments since the file was written: set one that differs.
            const QDateTime stamp = change == QLatin1String("rewritten") ? modified.addSecs(10) : modified;
            return file.open(QIODevice::ReadWrite) && file.seek(content.size() - 1) && file.write("x") == 1 &&
                   file.flush() && file.setFileTime(stamp, QFileDevice::FileModificationTime);
        });
        QCOMPARE(result.status, cancel ? Status::Cancelled : Status::Changed);
        QVERIFY(result.hex.isEmpty());
        if (cancel)
            QCOMPARE(calls, 3); // the first refusal stops it
    }

    // Sources that have no size and may never end: a cancel must always get through; and when only
    // regular files are asked for, they are refused before a byte is read, through a link too.
    void pipesAndDevices_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("/dev/zero") << "/dev/zero";
        QTest::newRow("FIFO without a writer") << "none";
        QTest::newRow("FIFO with a silent writer") << "silent";
        QTest::newRow("FIFO with abc") << "abc"; // and then its end
    }
    void pipesAndDevices()
    {
#ifndef Q_OS_UNIX
        QSKIP("FIFOs and /dev/zero are Unix only");
#else
        QFETCH(QString, source);
        const bool abc = source == QLatin1String("abc"), fifo = !source.startsWith(QLatin1Char('/'));
        QFile writer(fifo ? m_dir.filePath(source) : source);
        QVERIFY2(!fifo || ::mkfifo(qPrintable(writer.fileName()), 0600) == 0, qPrintable(qt_error_string()));
        const QString link = m_dir.filePath(QStringLiteral("link-") + QFileInfo(source).fileName());
        QVERIFY(QFile::link(writer.fileName(), link));
        for (const QString &path : {writer.fileName(), link}) {
            const FileDigest refused = digestFile(
                path, [](qint64, qint64) { return false; }, true);
            QCOMPARE(refused.status, Status::NotRegular);
            QCOMPARE(refused.bytes, qint64(0));
        }
#ifdef FILEHASH_DIGEST_PORTABLE
        if (fifo)
            QSKIP("Without poll() the portable digest cannot wait on a FIFO; it is for regular files");
#endif
        // Opened for reading and writing, so that it opens without a reader.
        QVERIFY(!fifo || source == QLatin1String("none") ||
                writer.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        QVERIFY(!abc || writer.write("abc") == 3);
        int calls = 0;
        const FileDigest result = digestFile(writer.fileName(), [&](qint64, qint64 total) {
            if (abc) // once its bytes are read: the end of the data
                writer.close();
            return total == -1 && (abc || ++calls < 5);
        });
        QCOMPARE(result.status, abc ? Status::Ok : Status::Cancelled);
        QCOMPARE(result.hex, abc ? kAbcDigest : QString());
#endif
    }

    // The job reports on the thread that owns it, and ends with itself even on an endless source.
    void job()
    {
        DigestJob job;
        QThread *reportedOn = nullptr;
        // Before the spy, which ends the wait: queued calls are delivered in the order connected.
        connect(&job, &DigestJob::finished, this, [&] { reportedOn = QThread::currentThread(); });
        QSignalSpy progress(&job, &DigestJob::progress);
        QSignalSpy finished(&job, &DigestJob::finished);
        job.start(writeTestFile(m_dir.path(), QStringLiteral("job.bin"), "abc"));
        QVERIFY(finished.wait(10000));
        QCOMPARE(reportedOn, QThread::currentThread());
        QCOMPARE(finished.at(0).at(0).value<FileDigest>().hex, kAbcDigest);
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(3));
#if defined(Q_OS_UNIX) && !defined(FILEHASH_DIGEST_PORTABLE)
        const int threadsBefore = threadCount();
        DigestJob().start(QStringLiteral("/dev/zero"));
        QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= threadsBefore, 5000);
#endif
    }
};

QTEST_MAIN(TestFileDigest)
#include "tst_filedigest.moc"
