#include <cstdio>

#include "cli/commands.h"

int RunSkinCommand(int, char**)
{
    std::fprintf(stderr, "matrixctl skin: not built yet.\n");
    return EXIT_USAGE;
}
