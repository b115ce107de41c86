#ifndef FILEHASH_REPORT_RECEIPTPDF_H
#define FILEHASH_REPORT_RECEIPTPDF_H

#include "core/receipt.h"

#include <QByteArray>
#include <QString>

// The receipt for people: an A4 PDF, black on white, Chinese text embedded. Needs a
// QGuiApplication (fonts), not widgets.
QByteArray receiptPdf(const Receipt &receipt);

// Writes basePath + ".pdf" and basePath + ".json", both whole or neither (see writeWholeFiles());
// error names the file that could not be written and says why.
bool saveReceipt(const Receipt &receipt, const QString &basePath, QString *error);

#endif
