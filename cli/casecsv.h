#ifndef FILEHASH_CLI_CASECSV_H
#define FILEHASH_CLI_CASECSV_H

#include <QFile>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <unordered_map>

class QTextDecoder;

// A case file lists the evidence to verify, one file a row:
//   type,order,path
//   1,QV20261206K3F9ZQ2M7TB0X,contracts/sale.pdf
// The header may also name the columns in Chinese (类型, 订单号, 文件) and in any order; the type
// is a code (1-18) or its name (e.g. 在线签约). UTF-8 with or without a BOM, or, as spreadsheets
// save it on Chinese systems, GB18030; LF or CRLF line ends; fields quoted as in RFC 4180; paths
// relative to the case file's folder.

// One line of CSV (without its line end), quoting fields that need it.
QString csvLine(const QStringList &fields);

struct CaseRow {
    int line = 0;
    int type = 0;
    QString order;
    QString path;  // absolute and clean
    QString error; // why the row cannot be verified; empty when it can
};

// The evidence type a text names: its code or its name; 0 for neither.
int evidenceType(const QString &text);

// A row as the user gave it; baseDir is the folder a relative path starts from.
CaseRow caseRow(int line, const QString &type, const QString &order, const QString &path,
                const QString &baseDir);

// Reads a case file a row at a time, so that memory stays flat whatever the number of rows.
// Nothing is verified until the whole file has been looked at once: a file that is not a case
// file at all (not text, a line over the bound, no header) is refused before its first row.
class CaseReader
{
public:
    // Longer lines are not a case file's: refused with their number rather than read into memory.
    static constexpr qint64 kMaxLineBytes = 64 * 1024;

    CaseReader();
    ~CaseReader();
    CaseReader(const CaseReader &) = delete;
    CaseReader &operator=(const CaseReader &) = delete;

    // Opens the case file and checks its encoding, its line lengths and its header; false with
    // error() saying why it is not a case file.
    bool open(const QString &path);
    // The next row, in the file's order; nothing at the end, or when the file turns out not to be
    // a case file after all (an unclosed quote: error() says so).
    std::optional<CaseRow> next();
    QString error() const { return m_error; }
    // "UTF-8" or "GB18030".
    QString encoding() const { return m_encoding; }
    // Rows after the header, as counted when the file was opened.
    int rowCount() const { return m_rowCount; }

private:
    // The next record's fields and the line it starts on; false at the end or on an error.
    bool nextRecord(QStringList *fields, int *line);

    QFile m_file;
    QString m_baseDir;
    QString m_error;
    QString m_encoding;
    std::unique_ptr<QTextDecoder> m_decoder;
    int m_lineNumber = 0;           // lines read so far
    int m_rowCount = 0;             // rows after the header, counted at open()
    std::array<int, 3> m_columns{}; // where type, order and path are
    // Type, order and path of the rows so far, by a 128-bit digest of the three, with their line:
    // a row given twice is told, in bounded memory per row.
    struct KeyHash {
        size_t operator()(const std::array<quint64, 2> &key) const { return size_t(key[0] ^ key[1]); }
    };
    std::unordered_map<std::array<quint64, 2>, int, KeyHash> m_seen;
};

#endif
