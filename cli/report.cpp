#include "cli/report.h"

#include "cli/casecsv.h"
#include "cli/output.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>

QJsonObject rowJson(const RowResult &r)
{
    return QJsonObject{{QStringLiteral("line"), r.row.line},
                       {QStringLiteral("type"), r.row.type},
                       {QStringLiteral("order"), r.row.order},
                       {QStringLiteral("path"), r.row.path},
                       {QStringLiteral("size"), r.size},
                       {QStringLiteral("sha256"), r.sha256},
                       {QStringLiteral("verdict"), verdictName(r.verdict).toLower()},
                       {QStringLiteral("exitCode"), exitCode(r.verdict)},
                       {QStringLiteral("applicant"), r.applicant},
                       {QStringLiteral("time"), r.time},
                       {QStringLiteral("location"), r.location},
                       {QStringLiteral("message"), r.message}};
}

ReportWriter::ReportWriter(const QString &path)
    : m_file(path), m_json(path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
{
}

bool ReportWriter::open()
{
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_error = QDir::toNativeSeparators(m_file.fileName()) + QStringLiteral(": ") + m_file.errorString();
        return false;
    }
    if (m_json) {
        write("[");
    } else {
        // With a BOM, so that a spreadsheet reads the Chinese right.
        write("\xEF\xBB\xBF" +
              csvLine({QStringLiteral("line"), QStringLiteral("type"), QStringLiteral("order"),
                       QStringLiteral("path"), QStringLiteral("size"), QStringLiteral("sha256"),
                       QStringLiteral("verdict"), QStringLiteral("applicant"), QStringLiteral("time"),
                       QStringLiteral("location"), QStringLiteral("message")})
                  .toUtf8() +
              "\r\n");
    }
    return !m_failed;
}

void ReportWriter::add(const RowResult &r)
{
    if (m_json) {
        write((m_first ? "\n" : ",\n") + QJsonDocument(rowJson(r)).toJson(QJsonDocument::Compact));
    } else {
        QStringList cells{QString::number(r.row.line),
                          QString::number(r.row.type),
                          r.row.order,
                          r.row.path,
                          r.size >= 0 ? QString::number(r.size) : QString(),
                          r.sha256,
                          verdictName(r.verdict).toLower(),
                          r.applicant,
                          r.time,
                          r.location,
                          r.message};
        for (QString &cell : cells)
            cell = spreadsheetCell(cell);
        write(csvLine(cells).toUtf8() + "\r\n");
    }
    m_first = false;
}

void ReportWriter::write(const QByteArray &bytes)
{
    if (m_failed)
        return;
    errno = 0;
    if (m_file.write(bytes) != bytes.size()) {
        m_failed = true;
        m_error = errno ? qt_error_string(errno) : m_file.errorString();
    }
    m_written += bytes.size();
}

bool ReportWriter::finish()
{
    if (m_json)
        write("\n]\n");
    const QString name = QDir::toNativeSeparators(m_file.fileName());
    // On a full disk the buffered writes succeed and only flush() fails, while commit() may still
    // report success over a short file: each step is checked before the report takes its name.
    errno = 0;
    if (!m_failed &&
        (!m_file.flush() || m_file.error() != QFileDevice::NoError || m_file.size() != m_written)) {
        m_failed = true;
        m_error = errno ? qt_error_string(errno) : m_file.errorString();
    }
    if (m_failed) {
        m_file.cancelWriting();
        m_file.commit();
        m_error = name + QStringLiteral(": ") + m_error;
        return false;
    }
    if (!m_file.commit()) {
        m_error = name + QStringLiteral(": ") + m_file.errorString();
        return false;
    }
    if (QFileInfo(m_file.fileName()).size() != m_written) {
        QFile::remove(m_file.fileName());
        m_error = name + QStringLiteral(": the file on disk does not hold the bytes written");
        return false;
    }
    return true;
}
