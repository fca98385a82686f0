#include <cstdio>

#include "cli/commands.h"

int RunSimulateCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl simulate: not built yet.\n");
    return EXIT_USAGE;
}
