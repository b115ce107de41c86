#ifndef FILEHASH_CLI_COMMAND_H
#define FILEHASH_CLI_COMMAND_H

#include "core/serviceconfig.h"

#include <QStringList>

// Exit codes of filehash-verify. A batch exits with the highest that occurred.
namespace exitcode
{
constexpr int kPassed = 0;
constexpr int kFailed = 1;      // a file's digest differs from what was preserved
constexpr int kRefused = 2;     // the service refused the request
constexpr int kNetwork = 3;     // connection, TLS or time-out
constexpr int kFile = 4;        // a file could not be read, was empty or changed while read
constexpr int kUsage = 64;      // the command line, a case file or a receipt is wrong
constexpr int kNotWritten = 74; // a report or a receipt could not be written whole (EX_IOERR)
constexpr int kInterrupted = 130;
} // namespace exitcode

// True when the arguments ask for receipts, which need a QGuiApplication to draw them.
bool wantsReceipts(int argc, char **argv);

// Runs filehash-verify with the application's arguments, inside its event loop. builtIn is the
// service the build compiled in, which --service and --ca replace.
int runVerifyCommand(const ServiceConfig &builtIn);

#endif
