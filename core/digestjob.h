#ifndef FILEHASH_CORE_DIGESTJOB_H
#define FILEHASH_CORE_DIGESTJOB_H

#include "core/filedigest.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>

class QThread;

Q_DECLARE_METATYPE(FileDigest)

// Runs digestFile() on a worker thread and reports back on the thread that owns the job, through
// queued signals, so that the caller's event loop keeps running. One file per job; the job never
// outlives itself: destroying it stops the digest and waits for the thread.
class DigestJob : public QObject
{
    Q_OBJECT
public:
    explicit DigestJob(QObject *parent = nullptr);
    ~DigestJob() override;

    // Starts hashing path; a job starts once. regularOnly: see digestFile().
    void start(const QString &path, bool regularOnly = false);
    // Asks the digest to stop; finished() then reports Cancelled, unless it had ended already.
    void cancel();
    QString path() const { return m_path; }

signals:
    // Bytes read so far and the size at open (-1 when unknown); at most about every 50 ms.
    void progress(qint64 done, qint64 total);
    // Once, after the thread has ended.
    void finished(const FileDigest &result);

private:
    QString m_path;
    std::atomic<bool> m_cancel{false};
    QThread *m_thread = nullptr;
};

#endif
