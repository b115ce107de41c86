#ifndef FILEHASH_SERVICE_COMMANDS_H
#define FILEHASH_SERVICE_COMMANDS_H

#include <string>

// filehash-service's command line: `preserve` records a file's digest under a new order number,
// `list` shows the records, `serve` answers the tool over HTTPS. Returns the exit code.
int runCommand(int argc, char *argv[]);

#endif
