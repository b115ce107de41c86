#include "cli/casecsv.h"

#include "core/texts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTextCodec>
#include <QTextDecoder>

#include <algorithm>
#include <cstring>

namespace
{

// The names a header may give each column, in the order of CaseReader's columns.
const std::array<QStringList, 3> kColumnNames = {
    QStringList{QStringLiteral("type"), QString::fromUtf8(u8"类型"), QString::fromUtf8(u8"存证类型")},
    QStringList{QStringLiteral("order"), QString::fromUtf8(u8"订单号"), QString::fromUtf8(u8"Quorvel订单号")},
    QStringList{QStringLiteral("path"), QString::fromUtf8(u8"文件"), QString::fromUtf8(u8"路径"),
                QString::fromUtf8(u8"取证文件")},
};

// A physical line as read: up to the bound and a line end, so that a longer line shows as one
// that has no line end before the bound.
QByteArray readLine(QFile &file)
{
    return file.readLine(CaseReader::kMaxLineBytes + 3);
}

bool overlong(const QByteArray &raw, bool atEnd)
{
    qint64 content = raw.size();
    if (raw.endsWith("\r\n"))
        content -= 2;
    else if (raw.endsWith('\n'))
        content -= 1;
    else if (!atEnd)
        return true; // the bound came before the line end
    return content > CaseReader::kMaxLineBytes;
}

} // namespace

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

int evidenceType(const QString &text)
{
    const QString given = text.trimmed();
    bool number = false;
    const int code = given.toInt(&number);
    if (number)
        return code >= 1 && code <= texts::kTypeCount ? code : 0;
    for (int i = 0; i < texts::kTypeCount; ++i) {
        if (given == gbText(texts::kTypeNames[i]))
            return i + 1;
    }
    return 0;
}

CaseRow caseRow(int line, const QString &type, const QString &order, const QString &path,
                const QString &baseDir)
{
    CaseRow row;
    row.line = line;
    row.type = evidenceType(type);
    row.order = order.trimmed();
    if (!path.isEmpty())
        row.path = QDir::cleanPath(QDir(baseDir).absoluteFilePath(path));
    if (row.type == 0)
        row.error = QStringLiteral("the type \"%1\" is neither a code 1-%2 nor the name of one")
                        .arg(type.trimmed())
                        .arg(texts::kTypeCount);
    else if (row.order.isEmpty())
        row.error = QStringLiteral("no order number");
    else if (path.isEmpty())
        row.error = QStringLiteral("no path");
    return row;
}

CaseReader::CaseReader() = default;
CaseReader::~CaseReader() = default;

bool CaseReader::open(const QString &path)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    m_baseDir = QFileInfo(path).absolutePath();

    // Once through the whole file before any row: its encoding and its lines' lengths. UTF-8 is
    // taken when the whole file is UTF-8; else GB18030, what spreadsheets on Chinese systems save.
    std::unique_ptr<QTextDecoder> utf8(QTextCodec::codecForName("UTF-8")->makeDecoder());
    std::unique_ptr<QTextDecoder> gb18030(QTextCodec::codecForName("GB18030")->makeDecoder());
    int lines = 0;
    int nonBlank = 0;
    // Qt's GB18030 decoder replaces a byte it cannot read without always counting a failure.
    bool notGb18030 = false;
    // Records are counted on the bytes: a quote, a comma and a line feed are never part of another
    // character in UTF-8 or GB18030. A quote toggles; a doubled one toggles twice.
    int records = 0;
    bool quoted = false;
    bool content = false;
    for (QByteArray raw = readLine(m_file); !raw.isEmpty(); raw = readLine(m_file)) {
        ++lines;
        if (overlong(raw, m_file.atEnd())) {
            m_error = QStringLiteral("line %1 is longer than %2 KiB: not a case file")
                          .arg(lines)
                          .arg(kMaxLineBytes / 1024);
            return false;
        }
        if (!raw.trimmed().isEmpty() && raw.trimmed() != "\xEF\xBB\xBF")
            ++nonBlank;
        for (int i = lines == 1 && raw.startsWith("\xEF\xBB\xBF") ? 3 : 0; i < raw.size(); ++i) {
            const char byte = raw.at(i);
            if (byte == '"')
                quoted = !quoted;
            if (byte == '\n' && !quoted) {
                records += content ? 1 : 0;
                content = false;
            } else if (byte != '\r' && byte != '\n') {
                content = true;
            }
        }
        utf8->toUnicode(raw);
        notGb18030 = gb18030->toUnicode(raw).contains(QChar::ReplacementCharacter) || notGb18030;
    }
    if (m_file.error() != QFileDevice::NoError) {
        m_error = m_file.errorString();
        return false;
    }
    m_rowCount = qMax(0, records + (content ? 1 : 0) - 1);
    if (!utf8->hasFailure())
        m_encoding = QStringLiteral("UTF-8");
    else if (!gb18030->hasFailure() && !notGb18030)
        m_encoding = QStringLiteral("GB18030");
    else {
        m_error = QStringLiteral("neither UTF-8 nor GB18030 text; save it as CSV UTF-8");
        return false;
    }
    if (nonBlank == 0) {
        m_error = QStringLiteral("empty: it needs the header type,order,path and a row per file");
        return false;
    }

    m_file.seek(0);
    m_decoder.reset(QTextCodec::codecForName(m_encoding.toLatin1())->makeDecoder());
    QStringList header;
    int line = 0;
    if (!nextRecord(&header, &line))
        return false;
    m_columns.fill(-1);
    for (int i = 0; i < header.size(); ++i) {
        const QString name = header.at(i).trimmed();
        for (size_t c = 0; c < kColumnNames.size(); ++c) {
            if (m_columns[c] < 0 && kColumnNames[c].contains(name, Qt::CaseInsensitive))
                m_columns[c] = i;
        }
    }
    if (header.size() != 3 || std::count(m_columns.begin(), m_columns.end(), -1) > 0) {
        m_error =
            QStringLiteral("line %1: the header must name the columns type,order,path (or 类型,订单号,文件)")
                .arg(line);
        return false;
    }
    if (nonBlank == 1) {
        m_error = QStringLiteral("no rows after the header");
        return false;
    }
    return true;
}

bool CaseReader::nextRecord(QStringList *fields, int *line)
{
    fields->clear();
    QString field;
    bool quoted = false;   // inside a quoted field
    bool anything = false; // the record has begun
    for (;;) {
        const QByteArray raw = readLine(m_file);
        if (raw.isEmpty()) {
            if (quoted) {
                m_error = QStringLiteral("line %1: a quoted field is never closed").arg(*line);
                return false;
            }
            return false;
        }
        ++m_lineNumber;
        QString text = m_decoder->toUnicode(raw);
        if (text.endsWith(QLatin1Char('\n')))
            text.chop(text.endsWith(QStringLiteral("\r\n")) ? 2 : 1);
        if (!anything && !quoted)
            *line = m_lineNumber;
        for (int i = 0; i < text.size(); ++i) {
            const QChar ch = text.at(i);
            if (quoted) {
                if (ch != QLatin1Char('"'))
                    field += ch;
                else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                    field += ch, ++i;
                else
                    quoted = false;
            } else if (ch == QLatin1Char('"') && field.isEmpty()) {
                quoted = anything = true;
            } else if (ch == QLatin1Char(',')) {
                *fields << field;
                field.clear();
                anything = true;
            } else {
                field += ch;
                anything = true;
            }
        }
        if (quoted) {
            field += QLatin1Char('\n'); // the line end belongs to the quoted field
            continue;
        }
        if (anything) {
            *fields << field;
            return true;
        }
        // A blank line is no record.
    }
}

std::optional<CaseRow> CaseReader::next()
{
    QStringList fields;
    int line = 0;
    if (!m_error.isEmpty() || !nextRecord(&fields, &line))
        return std::nullopt;
    if (fields.size() != 3) {
        CaseRow row;
        row.line = line;
        row.error = QStringLiteral("%1 fields where type,order,path are 3").arg(fields.size());
        return row;
    }
    CaseRow row =
        caseRow(line, fields.at(m_columns[0]), fields.at(m_columns[1]), fields.at(m_columns[2]), m_baseDir);
    if (row.error.isEmpty()) {
        const QByteArray key = QCryptographicHash::hash(
            QStringLiteral("%1\n%2\n%3").arg(row.type).arg(row.order, row.path).toUtf8(),
            QCryptographicHash::Md5);
        std::array<quint64, 2> digest;
        std::memcpy(digest.data(), key.constData(), sizeof digest);
        const auto [seen, added] = m_seen.emplace(digest, row.line);
        if (!added)
            row.error = QStringLiteral("the same type, order and file as line %1").arg(seen->second);
    }
    return row;
}
