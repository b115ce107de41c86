// filehash-service: the reference verification service.
#include "service/commands.h"

int main(int argc, char *argv[])
{
    return runCommand(argc, argv);
}
