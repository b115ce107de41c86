#include "app/filehash.h"
#include "core/digestjob.h"
#include "core/texts.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

namespace
{

// How long hashing may run before the progress dialog appears.
const int kProgressDelayMs = 500;

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
    // Hashing runs on the job's thread so that the window keeps painting and answering; the job
    // ends before this function returns, whatever happens meanwhile.
    DigestJob job;
    FileDigest result;
    bool done = false;
    QEventLoop loop;
    QElapsedTimer clock;
    QPointer<QProgressDialog> dialog;
    qint64 lastDone = 0;
    qint64 lastMs = 0;
    double speed = 0;
    connect(&job, &DigestJob::finished, &loop, [&](const FileDigest &digest) {
        result = digest;
        done = true;
        loop.quit();
    });
    qint64 doneBytes = 0;
    qint64 total = -1;
    auto showProgress = [&] {
        const qint64 ms = clock.elapsed();
        if (ms - lastMs >= 500) {
            speed = (doneBytes - lastDone) * 1000.0 / (ms - lastMs);
            lastDone = doneBytes;
            lastMs = ms;
        }
        QString label = gbText(texts::kHashing) + QLatin1Char('\n') + amount(doneBytes);
        if (total > 0)
            label += QStringLiteral(" / ") + amount(total);
        label += gbText(texts::kProgressSeparator) + amount(speed) + QStringLiteral("/s");
        dialog->setLabelText(label);
        if (total > 0) {
            dialog->setRange(0, 1000);
            dialog->setValue(static_cast<int>(qMin<qint64>(doneBytes, total) * 1000 / total));
        } else {
            dialog->setRange(0, 0); // size unknown: busy indicator
            dialog->setValue(0);
        }
    };
    connect(&job, &DigestJob::progress, &loop, [&](qint64 bytes, qint64 size) {
        doneBytes = bytes;
        total = size;
        if (dialog)
            showProgress();
    });
    QTimer::singleShot(kProgressDelayMs, &loop, [&] {
        if (done)
            return;
        dialog = new QProgressDialog(this);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setCancelButtonText(gbText(texts::kCancel));
        dialog->setMinimumDuration(0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumWidth(380);
        // The cancel button and Escape both end in canceled().
        connect(dialog, &QProgressDialog::canceled, &job, &DigestJob::cancel);
        showProgress();
        dialog->show();
        // Input was held back while the dialog was not up; now the dialog takes it.
        loop.exit(1);
    });
    clock.start();
    job.start(path);
    // A click during the first moments waits in the queue instead of starting a second choice.
    if (loop.exec(QEventLoop::ExcludeUserInputEvents) == 1 && !done)
        loop.exec();
    // The loop also ends when the application quits: stop the hashing rather than wait for it.
    if (!done) {
        job.cancel();
        result.status = FileDigest::Status::Cancelled;
    }
    delete dialog.data();

    switch (result.status) {
    case FileDigest::Status::Ok:
        // Even the same file again: the verdict on screen was for the inputs before this choice.
        hidePanel();
        chosen = {path, result.bytes, QFileInfo(path).lastModified(), QDateTime::currentDateTime()};
        leFile->setText(path);
        // The start of the path shows, and all of it in the tooltip, as text, never markup.
        leFile->setCursorPosition(0);
        leFile->setToolTip(QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(path.toHtmlEscaped()));
        leHash->setText(result.hex);
        break;
    case FileDigest::Status::Empty:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kFileEmpty));
        break;
    case FileDigest::Status::CannotRead:
    case FileDigest::Status::NotRegular: // the window takes pipes and devices too
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kCannotRead));
        break;
    case FileDigest::Status::Changed:
        QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kFileChanged));
        break;
    case FileDigest::Status::Cancelled:
        break;
    }
}
