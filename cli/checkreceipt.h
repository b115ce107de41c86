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

// --check-receipt: was the receipt changed after it was stamped, is filePath the file it names, and
// does it say the file passed? A stamp is checked against tsaCaPem (empty: the system's CAs).
// Prints what it found (text, or one JSON object) and returns the exit code.
int checkReceipt(const QString &receiptPath, const QString &filePath, bool json, const QByteArray &tsaCaPem);

// --stamp: asks the time-stamping authority at tsaUrl for a stamp over a receipt saved without one,
// and saves it stamped: its JSON with the stamp, its sidecar .tsr and its PDF, all whole or none.
// Returns the exit code.
int stampReceipt(const QString &receiptPath, const QString &tsaUrl, const QByteArray &tsaCaPem);

#endif
