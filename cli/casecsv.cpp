#include "cli/casecsv.h"

#include "core/texts.h"

#include <QDir>
#include <QHash>

QList<CsvRecord> parseCsv(const QString &text, QString *error)
{
    QList<CsvRecord> records;
    CsvRecord record;
    QString field;
    bool quoted = false;   // inside a quoted field
    bool anything = false; // the record has begun
    int line = 1;
    const auto endField = [&] {
        record.fields << field;
        field.clear();
    };
    const auto endRecord = [&] {
        endField();
        // A blank line is no record; a line of one empty field is only that.
        if (anything)
            records << record;
        record = CsvRecord();
        anything = false;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (!anything && record.fields.isEmpty() && field.isEmpty())
            record.line = line;
        if (quoted) {
            if (ch == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += ch;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (ch == QLatin1Char('\n'))
                    ++line;
                field += ch;
            }
            continue;
        }
        if (ch == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
            anything = true;
        } else if (ch == QLatin1Char(',')) {
            endField();
            anything = true;
        } else if (ch == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            continue; // the \n ends the record
        } else if (ch == QLatin1Char('\n')) {
            endRecord();
            ++line;
        } else {
            field += ch;
            anything = true;
        }
    }
    if (quoted) {
        if (error)
            *error = QStringLiteral("line %1: a quoted field is never closed").arg(record.line);
        return records;
    }
    endRecord();
    return records;
}

QString csvLine(const QStringList &fields)
{
    QStringList out;
    for (QString field : fields) {
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
            field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
            field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            field = QLatin1Char('"') + field + QLatin1Char('"');
        }
        out << field;
    }
    return out.join(QLatin1Char(','));
}

CaseFile readCaseFile(const QByteArray &data, const QString &baseDir)
{
    CaseFile file;
    const QByteArray bytes = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    const QString text = QString::fromUtf8(bytes);
    // Malformed UTF-8 comes back as U+FFFD, so does not encode to the same bytes.
    if (text.toUtf8() != bytes) {
        file.error = QStringLiteral("not UTF-8 text");
        return file;
    }
    QString error;
    const QList<CsvRecord> records = parseCsv(text, &error);
    if (!error.isEmpty()) {
        file.error = error;
        return file;
    }
    if (records.isEmpty()) {
        file.error = QStringLiteral("empty: it needs the header type,order,path and a row per file");
        return file;
    }
    QStringList header;
    for (const QString &name : records.first().fields)
        header << name.trimmed().toLower();
    if (header != QStringList{QStringLiteral("type"), QStringLiteral("order"), QStringLiteral("path")}) {
        file.error = QStringLiteral("line %1: the header must be type,order,path").arg(records.first().line);
        return file;
    }
    if (records.size() == 1) {
        file.error = QStringLiteral("no rows after the header");
        return file;
    }
    const QDir base(baseDir);
    QHash<QString, int> seen; // type, order and path -> line
    for (int i = 1; i < records.size(); ++i) {
        const CsvRecord &record = records.at(i);
        CaseRow row;
        row.line = record.line;
        if (record.fields.size() != 3) {
            row.error = QStringLiteral("%1 fields where type,order,path are 3").arg(record.fields.size());
            file.rows << row;
            continue;
        }
        bool number = false;
        const QString type = record.fields.at(0).trimmed();
        row.type = type.toInt(&number);
        row.order = record.fields.at(1).trimmed();
        const QString path = record.fields.at(2);
        if (!number || row.type < 1 || row.type > texts::kTypeCount)
            row.error = QStringLiteral("the type \"%1\" is not one of 1-%2").arg(type).arg(texts::kTypeCount);
        else if (row.order.isEmpty())
            row.error = QStringLiteral("no order number");
        else if (path.isEmpty())
            row.error = QStringLiteral("no path");
        if (!path.isEmpty())
            row.path = QDir::cleanPath(base.absoluteFilePath(path));
        if (row.error.isEmpty()) {
            const QString key = QStringLiteral("%1\n%2\n%3").arg(row.type).arg(row.order, row.path);
            if (seen.contains(key))
                row.error = QStringLiteral("the same type, order and file as line %1").arg(seen.value(key));
            else
                seen.insert(key, row.line);
        }
        file.rows << row;
    }
    return file;
}
