#ifndef FILEHASH_REPORT_RECEIPTPDF_H
#define FILEHASH_REPORT_RECEIPTPDF_H

#include "core/receipt.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

// The receipt for people: an A4 PDF, black on white, Chinese text embedded. Needs a
// QGuiApplication (fonts), not widgets. markBox, when given, is set to where the verdict's mark
// (a tick or a cross in a circle) is drawn on the first page, in points from its top left corner.
QByteArray receiptPdf(const Receipt &receipt, QRectF *markBox = nullptr);

// Writes basePath + ".pdf" and basePath + ".json", both whole or neither (see writeWholeFiles());
// error names the file that could not be written and says why.
bool saveReceipt(const Receipt &receipt, const QString &basePath, QString *error);

#endif
