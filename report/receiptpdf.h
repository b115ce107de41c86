#ifndef FILEHASH_REPORT_RECEIPTPDF_H
#define FILEHASH_REPORT_RECEIPTPDF_H

#include "core/receipt.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

// The receipt for people: an A4 PDF, black on white, Chinese text embedded. Needs a
// QGuiApplication (fonts), not widgets. A receipt without a stamp says so, and why when
// unstampedBecause tells. markBox, when given, is set to where the verdict's mark (a tick or a
// cross in a circle) is drawn on the first page, in points from its top left corner.
QByteArray receiptPdf(const Receipt &receipt, const QString &unstampedBecause = QString(),
                      QRectF *markBox = nullptr);

// Writes basePath + ".pdf", ".json" and, for a stamped receipt, ".tsr" (tsaResponse, the TSA's
// answer as received, which `openssl ts -verify -in` reads), all whole or none (see
// writeWholeFiles()). unstampedJson is the receipt's JSON without a stamp, exactly the bytes the
// stamp is over (receiptJson() of it, or a saved receipt's file); the JSON saved is it with the
// stamp. An unstamped receipt's PDF says why it has no stamp, and a ".tsr" of an earlier receipt
// of that name is removed. error names the file that could not be written and says why.
bool saveReceipt(const Receipt &receipt, const QByteArray &unstampedJson, const QByteArray &tsaResponse,
                 const QString &unstampedBecause, const QString &basePath, QString *error);

#endif
