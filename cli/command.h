#ifndef FILEHASH_CLI_COMMAND_H
#define FILEHASH_CLI_COMMAND_H

#include "cli/exitcodes.h"
#include "core/serviceconfig.h"

#include <QStringList>

// True when the arguments ask for receipts, which need a QGuiApplication to draw them.
bool wantsReceipts(int argc, char **argv);

// Runs filehash-verify with the application's arguments, inside its event loop. builtIn is the
// service the build compiled in, which --service and --ca replace.
int runVerifyCommand(const ServiceConfig &builtIn);

#endif
