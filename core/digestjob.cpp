#include "core/digestjob.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

DigestJob::DigestJob(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<FileDigest>();
}

DigestJob::~DigestJob()
{
    if (!m_thread)
        return;
    cancel();
    m_thread->wait();
    delete m_thread;
}

void DigestJob::start(const QString &path, bool regularOnly)
{
    if (m_thread)
        return;
    m_path = path;
    // Signals are emitted from the worker, so they reach receivers on this job's thread queued.
    // A job destroyed meanwhile has waited for the worker first, so `this` is alive while it runs.
    m_thread = QThread::create([this, path, regularOnly] {
        const FileDigest result = digestFile(
            path,
            [this](qint64 done, qint64 total) {
                emit progress(done, total);
                return !m_cancel.load(std::memory_order_relaxed);
            },
            regularOnly);
        emit finished(result);
    });
    m_thread->start();
}

void DigestJob::cancel()
{
    m_cancel.store(true, std::memory_order_relaxed);
}
