#include <cstdio>

#include "cli/commands.h"

int RunPatternCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl pattern: not built yet.\n");
    return EXIT_USAGE;
}
