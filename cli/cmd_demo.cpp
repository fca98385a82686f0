#include <cstdio>

#include "cli/commands.h"

int RunDemoCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl demo: not built yet.\n");
    return EXIT_USAGE;
}
