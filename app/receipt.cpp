#include "app/filehash.h"
#include "core/texts.h"
#include "report/receiptpdf.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProgressDialog>
#include <QStandardPaths>

void filehash::saveReceiptAs()
{
    if (!receipt)
        return;
    // The verdict may leave the screen while the dialog is open; what is saved is what was shown.
    const Receipt r = *receipt;
    // Never the evidence's own folder unless the user goes there: it may be a read-only copy, or
    // sit behind a write blocker, and a record does not belong beside what it records.
    if (receiptFolder.isEmpty() || !QFileInfo(receiptFolder).isDir()) {
        receiptFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!QFileInfo(receiptFolder).isDir())
            receiptFolder = QDir::homePath();
    }
    const QString proposed = receiptFolder + QLatin1Char('/') + receiptBaseName(r);
    QString base = QFileDialog::getSaveFileName(this, gbText(texts::kSaveReceipt), proposed,
                                                QStringLiteral("PDF (*.pdf)"), nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (base.isEmpty())
        return;
    // One name for two files: either suffix the user typed names them both.
    for (const QString &suffix : {QStringLiteral(".pdf"), QStringLiteral(".json")}) {
        if (base.endsWith(suffix, Qt::CaseInsensitive))
            base.chop(suffix.size());
    }
    if (QFile::exists(base + QStringLiteral(".pdf")) || QFile::exists(base + QStringLiteral(".json"))) {
        const QMessageBox::StandardButton answer =
            QMessageBox::question(this, gbText(texts::kInfoTitle), gbText(texts::kReceiptExists),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    receiptFolder = QFileInfo(base).absolutePath();

    // Stamped before it is saved: the stamp is over the JSON as saved without it. A receipt that
    // cannot be stamped is saved all the same, and says why.
    Receipt stamped = r;
    const QByteArray json = receiptJson(r);
    QByteArray response;
    QString unstampedBecause = gbText(texts::kStampNotConfigured);
    if (!tsaUrl.isEmpty()) {
        const timestamping::Stamp stamp = askForStamp(json);
        if (stamp.ok()) {
            stamped.stamp = ReceiptStamp{stamp.token, stamp.info};
            response = stamp.response;
        }
        unstampedBecause = stamp.reason;
    }
    QString error;
    if (!saveReceipt(stamped, json, response, unstampedBecause, base, &error)) {
        showPlainInfo(gbText(texts::kReceiptNotSaved) + error);
        return;
    }
    QString told = gbText(texts::kReceiptSaved);
    for (const char *suffix : {".pdf", ".json", ".tsr"}) {
        if (stamped.stamp || qstrcmp(suffix, ".tsr") != 0)
            told += QLatin1Char('\n') + QDir::toNativeSeparators(base + QLatin1String(suffix));
    }
    told += QStringLiteral("\n\n");
    if (stamped.stamp)
        told += gbText(texts::kStampDone) + stamped.stamp->info.tsaName + QStringLiteral(", ") +
                localTimeText(stamped.stamp->info.time);
    else
        told += gbText(texts::kStampFailed) + unstampedBecause;
    showPlainInfo(told);
}

timestamping::Stamp filehash::askForStamp(const QByteArray &data)
{
    QNetworkAccessManager network;
    TimeStamper stamper(&network);
    timestamping::Stamp result;
    result.failure = timestamping::Failure::Network;
    result.reason = gbText(texts::kCancel);
    QEventLoop loop;
    connect(&stamper, &TimeStamper::finished, &loop, [&](const timestamping::Stamp &stamp) {
        result = stamp;
        loop.quit();
    });
    // Shown only when the authority is slow; cancelling saves the receipt unstamped.
    QProgressDialog progress(gbText(texts::kStamping), gbText(texts::kCancel), 0, 0, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    connect(&progress, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    stamper.stamp(QUrl(tsaUrl), QCryptographicHash::hash(data, QCryptographicHash::Sha256), tsaCaPem);
    loop.exec();
    return result;
}
