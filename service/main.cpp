// filehash-service: the reference verification service.
#include "service/commands.h"
#include "service/log.h"

#include <csignal>

int main(int argc, char *argv[])
{
    // Standard error may be a pipe whose reader went away: the log is lost, not the service.
    std::signal(SIGPIPE, SIG_IGN);
    const int code = runCommand(argc, argv);
    // The last lines ("stopped") reach a reader that keeps up; a stopped one does not hold up the exit.
    flushLog(std::chrono::milliseconds(500));
    return code;
}
