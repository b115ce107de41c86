#include "cli/output.h"

#include "core/visibletext.h"

#include <QFileInfo>

#include <cstdio>

namespace
{

// Terminal columns a text takes: CJK and full-width characters take two.
int columns(const QString &text)
{
    int n = 0;
    for (const QChar ch : text)
        n += ch.unicode() >= 0x1100 && (ch.unicode() <= 0x115F || ch.unicode() >= 0x2E80) ? 2 : 1;
    return n;
}

// text, padded to width columns; a wider text is left as it is and followed by two spaces.
QString column(const QString &text, int width)
{
    return text + QString(qMax(2, width - columns(text)), QLatin1Char(' '));
}

// Column widths of the table; an order number is 23 characters.
constexpr int kLineWidth = 6;
constexpr int kVerdictWidth = 13;
constexpr int kTypeWidth = 6;
constexpr int kOrderWidth = 25;
constexpr int kFileWidth = 32;

// Longer texts are cut on a terminal: a whole one is in the report and the receipt.
constexpr int kMaxTerminalCharacters = 4096;

bool g_outFailed = false;

} // namespace

QString terminalText(const QString &text)
{
    const VisibleText shown = visibleText(text, 1, kMaxTerminalCharacters);
    return shown.cut ? shown.text + QChar(0x2026) : shown.text;
}

QString spreadsheetCell(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && formulaStarts.contains(text.at(0)) ? QLatin1Char('\'') + text : text;
}

QString tableHeader()
{
    return column(QStringLiteral("line"), kLineWidth) + column(QStringLiteral("verdict"), kVerdictWidth) +
           column(QStringLiteral("type"), kTypeWidth) + column(QStringLiteral("order"), kOrderWidth) +
           column(QStringLiteral("file"), kFileWidth) + QStringLiteral("detail");
}

QString tableLine(const RowResult &r)
{
    const QString detail = r.verdict == RowResult::Verdict::Pass
                               ? QStringList{r.applicant, r.time, r.location}.join(QStringLiteral("  "))
                               : r.message;
    const QString line =
        column(QString::number(r.row.line), kLineWidth) + column(verdictName(r.verdict), kVerdictWidth) +
        column(r.row.type ? QString::number(r.row.type) : QString(), kTypeWidth) +
        column(terminalText(r.row.order), kOrderWidth) +
        column(terminalText(QFileInfo(r.row.path).fileName()), kFileWidth) + terminalText(detail);
    return line.trimmed();
}

namespace output
{

void out(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // Flushed at once: a result is seen when it is done, also through a pipe.
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        g_outFailed = true;
}

void err(const QString &text)
{
    std::fprintf(stderr, "filehash-verify: %s\n", text.toUtf8().constData());
}

bool outWhole()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        g_outFailed = true;
    return !g_outFailed;
}

void Progress::show(int done, int total, double rowsPerSecond, const QString &hashing)
{
    if (!m_shown)
        return;
    QString line = QStringLiteral("%1/%2 rows, %3 rows/s").arg(done).arg(total).arg(rowsPerSecond, 0, 'f', 0);
    if (!hashing.isEmpty())
        line += QStringLiteral(", hashing ") + visibleText(QFileInfo(hashing).fileName(), 1, 60).text;
    std::fprintf(stderr, "\r\033[K%s", line.toUtf8().constData());
    std::fflush(stderr);
    m_drawn = true;
}

void Progress::clear()
{
    if (!m_drawn)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_drawn = false;
}

} // namespace output
