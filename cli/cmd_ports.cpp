#include <cstdio>

#include "cli/commands.h"

int RunPortsCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl ports: not built yet.\n");
    return EXIT_USAGE;
}
