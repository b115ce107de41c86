#ifndef FILEHASH_CLI_CHECKRECEIPT_H
#define FILEHASH_CLI_CHECKRECEIPT_H

#include "core/receipt.h"

#include <QString>
#include <QStringList>

// Where a receipt contradicts itself: the verdict, applicant, time and location it states against
// the answer it holds, its type's name against its code, its file name against its path, its
// digest's form, its times' order. Empty for a receipt that agrees with itself; a receipt edited by
// hand is told unless it was edited throughout.
QStringList receiptContradictions(const Receipt &receipt);

// --check-receipt: is filePath the file the receipt names, and does the receipt say it passed?
// Prints what it found (text, or one JSON object) and returns the exit code.
int checkReceipt(const QString &receiptPath, const QString &filePath, bool json);

#endif
