#ifndef FILEHASH_REPORT_RECEIPTPDF_H
#define FILEHASH_REPORT_RECEIPTPDF_H

#include "core/receipt.h"

#include <QByteArray>
#include <QString>

// The receipt for people: an A4 PDF, black on white, Chinese text embedded. Needs a
// QGuiApplication (fonts), not widgets.
QByteArray receiptPdf(const Receipt &receipt);

// Writes basePath + ".pdf" and basePath + ".json". Each goes to a temporary file that is renamed
// only when complete, and a PDF that cannot be saved takes its JSON with it; error says why.
bool saveReceipt(const Receipt &receipt, const QString &basePath, QString *error);

#endif
