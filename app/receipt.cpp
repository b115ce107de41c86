#include "app/filehash.h"
#include "core/texts.h"
#include "report/receiptpdf.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void filehash::saveReceiptAs()
{
    if (!receipt)
        return;
    // The verdict may leave the screen while the dialog is open; what is saved is what was shown.
    const Receipt r = *receipt;
    const QString proposed = QFileInfo(r.filePath).absolutePath() + QLatin1Char('/') + receiptBaseName(r);
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
    QString error;
    if (!saveReceipt(r, base, &error))
        showPlainInfo(gbText(texts::kReceiptNotSaved) + error);
}
