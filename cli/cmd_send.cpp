#include <cstdio>

#include "cli/commands.h"

int RunSendCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl send: not built yet.\n");
    return EXIT_USAGE;
}
