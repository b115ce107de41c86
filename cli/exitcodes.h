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
    {kUsage, "usage: the command line, a case file, or a receipt that is not one"},
    {kNotWritten, "standard output, a report or a receipt could not be written whole"},
    {kInterrupted, "interrupted (Ctrl+C)"},
};
} // namespace exitcode

#endif
