#include "app/filehash.h"
#include "core/texts.h"
#include "report/receiptpdf.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
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
    QString error;
    if (!saveReceipt(r, base, &error)) {
        showPlainInfo(gbText(texts::kReceiptNotSaved) + error);
        return;
    }
    showPlainInfo(gbText(texts::kReceiptSaved) + QLatin1Char('\n') +
                  QDir::toNativeSeparators(base + QStringLiteral(".pdf")) + QLatin1Char('\n') +
                  QDir::toNativeSeparators(base + QStringLiteral(".json")));
}
