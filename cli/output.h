#ifndef FILEHASH_CLI_OUTPUT_H
#define FILEHASH_CLI_OUTPUT_H

#include "cli/verifier.h"

#include <QString>
#include <QStringList>

// Text from outside (the service, file names, case files) as a terminal shows it: control
// characters, escape sequences and bidi or format characters become visible escapes such as
// <U+001B>, so that no text can move the cursor, recolour or retitle the terminal, or pass for
// other text; a text longer than a screenful is cut, with an ellipsis.
QString terminalText(const QString &text);

// A cell of a CSV report: a text that a spreadsheet would take for a formula (beginning with =, +,
// -, @, a tab or a carriage return) is prefixed with an apostrophe, as spreadsheet guidance
// recommends; everything else stays as it is.
QString spreadsheetCell(const QString &text);

// The table a case prints, a row at a time: no column is padded wider than a fixed bound, so that
// one long name never widens every line.
QString tableHeader();
QString tableLine(const RowResult &result);

// Where filehash-verify writes. Results go to standard output, diagnostics to standard error; a
// write to standard output that fails (a full disk, a closed pipe) is remembered, so that the run
// ends with its own exit code rather than as a success.
namespace output
{
void out(const QString &text);
void err(const QString &text); // "filehash-verify: " + text + a line end
// Flushes standard output; false when anything written there was lost.
bool outWhole();

// A progress line on standard error while a case runs, for a terminal only: cleared before a
// result is printed, redrawn at most ten times a second.
class Progress
{
public:
    explicit Progress(bool shown) : m_shown(shown) {}
    void show(int done, int total, double rowsPerSecond, const QString &hashing);
    void clear();

private:
    bool m_shown;
    bool m_drawn = false;
};
} // namespace output

#endif
