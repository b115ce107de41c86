#include "filedigest.h"
#include "filehash.h"
#include "texts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <thread>

namespace
{

// How long hashing may run before the progress dialog appears.
const int kProgressDelayMs = 500;
const int kPollMs = 50;

QString amount(double bytes)
{
    const char *units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 4) {
        bytes /= 1000.0;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 B").arg(static_cast<qint64>(bytes))
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

// State shared between the hashing thread and the GUI thread.
struct DigestJob {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{-1};
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    FileDigest result;
};

} // namespace

void filehash::ClickBtnChoose()
{
    const QString path = QFileDialog::getOpenFileName(this, gbText(texts::kOpenFile), QString(), QString());
    if (path.isEmpty())
        return;
    digestChosenFile(path);
}

void filehash::digestChosenFile(const QString &path)
{
    DigestJob job;
    // Hashing runs on its own thread so that the window keeps painting and answering; only this
    // function, on the GUI thread, touches the window.
    std::thread worker([&job, path] {
        job.result = digestFile(path, [&job](qint64 done, qint64 total) {
            job.done.store(done, std::memory_order_relaxed);
            job.total.store(total, std::memory_order_relaxed);
            return !job.cancel.load(std::memory_order_relaxed);
        });
        job.finished.store(true, std::memory_order_release);
    });

    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QPointer<QProgressDialog> dialog;
    qint64 lastDone = 0;
    qint64 lastMs = 0;
    double speed = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (job.finished.load(std::memory_order_acquire)) {
            loop.quit();
            return;
        }
        const qint64 ms = clock.elapsed();
        // The cancel button and Escape both leave the dialog canceled.
        if (dialog && dialog->wasCanceled())
            job.cancel = true;
        if (!dialog && ms < kProgressDelayMs)
            return;
        if (!dialog) {
            dialog = new QProgressDialog(this);
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setCancelButtonText(gbText(texts::kCancel));
            dialog->setMinimumDuration(0);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->setMinimumWidth(380);
            dialog->show();
            // Input was held back while the dialog was not up; now the dialog takes it.
            loop.exit(1);
        }
        const qint64 done = job.done.load(std::memory_order_relaxed);
        const qint64 total = job.total.load(std::memory_order_relaxed);
        if (ms - lastMs >= 500) {
            speed = (done - lastDone) * 1000.0 / (ms - lastMs);
            lastDone = done;
            lastMs = ms;
        }
        QString label = gbText(texts::kHashing) + QLatin1Char('\n') + amount(done);
        if (total > 0)
            label += QStringLiteral(" / ") + amount(total);
        label += gbText(texts::kProgressSeparator) + amount(speed) + QStringLiteral("/s");
        dialog->setLabelText(label);
        if (total > 0) {
            dialog->setRange(0, 1000);
            dialog->setValue(static_cast<int>(qMin<qint64>(done, total) * 1000 / total));
        } else {
            dialog->setRange(0, 0); // size unknown: busy indicator
            dialog->setValue(0);
        }
    });
    poll.start(kPollMs);
    // A click during the first moments waits in the queue instead of starting a second choice.
    if (loop.exec(QEventLoop::ExcludeUserInputEvents) == 1 && !job.finished.load(std::memory_order_acquire))
        loop.exec();
    poll.stop();
    // The loop also ends when the application quits: stop the hashing rather than wait for it.
    if (!job.finished.load(std::memory_order_acquire))
        job.cancel = true;
    worker.join();
    delete dialog.data();

    switch (job.result.status) {
    case FileDigest::Status::Ok:
        leFile->setText(path);
        leHash->setText(job.result.hex);
        break;
    case FileDigest::Status::Empty:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kFileEmpty));
        break;
    case FileDigest::Status::CannotRead:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kCannotRead));
        break;
    case FileDigest::Status::Changed:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kFileChanged));
        break;
    case FileDigest::Status::Cancelled:
        break;
    }
}
