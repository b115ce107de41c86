#ifndef FILEHASH_CLI_EXITCODES_H
#define FILEHASH_CLI_EXITCODES_H

// Exit codes of filehash-verify, in one table: the code uses the names, --help prints the table
// and the manual page lists the same (a test holds the two together). A case exits with the
// highest code that occurred; an interrupted run with 130 whatever else happened.
namespace exitcode
{
constexpr int kPassed = 0;
constexpr int kFailed = 1;      // a file's digest differs from what was preserved
constexpr int kRefused = 2;     // the service refused the request
constexpr int kNetwork = 3;     // connection, TLS or time-out
constexpr int kFile = 4;        // a file could not be read, is not a regular file, was empty or changed
constexpr int kReceiptFail = 5; // --check-receipt: the receipt records a fail
constexpr int kReceiptInconsistent = 6; // --check-receipt: the receipt contradicts itself
constexpr int kReceiptChanged = 7;      // --check-receipt: the receipt changed after it was stamped
constexpr int kStamp = 8;               // a stamp could not be had, or a receipt's cannot be trusted
constexpr int kUsage = 64;              // the command line, a case file or a receipt is wrong
constexpr int kNotWritten = 74;         // standard output, a report or a receipt not written whole
constexpr int kInterrupted = 130;

struct Meaning {
    int code;
    const char *text;
};
constexpr Meaning kTable[] = {
    {kPassed, "every file passed; --check-receipt: the file is the one a consistent pass receipt names"},
    {kFailed, "a file's digest differs from what was preserved; --check-receipt: from the receipt's"},
    {kRefused, "the service refused: unknown order, another type, its own message"},
    {kNetwork, "no answer: connection, TLS or time-out"},
    {kFile, "a file could not be read, is not a regular file, was empty or changed while read"},
    {kReceiptFail, "--check-receipt: the file is the one the receipt names, but the receipt records a fail"},
    {kReceiptInconsistent, "--check-receipt: the receipt contradicts the answer it holds"},
    {kReceiptChanged, "--check-receipt: the receipt was changed after it was stamped"},
    {kStamp, "no time-stamp could be had (the receipt is saved unstamped), or --check-receipt: the "
             "receipt's stamp cannot be trusted"},
    {kUsage, "usage: the command line, a case file, or a receipt that is not one"},
    {kNotWritten, "standard output, a report or a receipt could not be written whole"},
    {kInterrupted, "interrupted (Ctrl+C)"},
};
} // namespace exitcode

#endif
