#ifndef FILEHASH_CLI_CASECSV_H
#define FILEHASH_CLI_CASECSV_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// A case file lists the evidence to verify, one file a row:
//   type,order,path
//   1,QV20261206123456,contracts/sale.pdf
// UTF-8 (with or without a BOM), LF or CRLF line ends, fields quoted as in RFC 4180, paths
// relative to the case file's folder.

// One record of CSV text with the line it starts on.
struct CsvRecord {
    int line = 0;
    QStringList fields;
};

// Splits CSV text into records; blank lines are skipped. error is set (and the records read so far
// returned) when a quoted field is never closed.
QList<CsvRecord> parseCsv(const QString &text, QString *error);
// One line of CSV (without its line end), quoting fields that need it.
QString csvLine(const QStringList &fields);

struct CaseRow {
    int line = 0;
    int type = 0;
    QString order;
    QString path;  // absolute and clean
    QString error; // why the row cannot be verified; empty when it can
};

struct CaseFile {
    QVector<CaseRow> rows;
    QString error; // the text is not a case file at all
};

// Reads a case file's content; baseDir is the folder relative paths start from.
CaseFile readCaseFile(const QByteArray &data, const QString &baseDir);

#endif
