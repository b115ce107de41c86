#ifndef FILEHASH_CLI_REPORT_H
#define FILEHASH_CLI_REPORT_H

#include "cli/verifier.h"

#include <QJsonObject>
#include <QSaveFile>
#include <QString>

// One row of a case as JSON: the report's rows and --json's object alike. Exact: nothing escaped.
QJsonObject rowJson(const RowResult &result);

// The report of a case, a row per file, in CSV (for spreadsheets: a BOM, formulas neutralised) or
// JSON (exact), after the name's extension. Rows are written as they come, so that memory stays
// flat, to a temporary file that takes the report's name only when every byte of it is written.
class ReportWriter
{
public:
    explicit ReportWriter(const QString &path);
    // False with error() when the report cannot be begun.
    bool open();
    void add(const RowResult &result);
    // Ends the report and puts it in place; false with error() when it was not written whole.
    bool finish();
    QString error() const { return m_error; }

private:
    void write(const QByteArray &bytes);

    QSaveFile m_file;
    bool m_json;
    bool m_first = true;
    qint64 m_written = 0;
    bool m_failed = false;
    QString m_error;
};

#endif
