// matrixctl simulate and demo on Windows: both need a pseudo-terminal, which Windows lacks.

#include <cstdio>

#include "cli/commands.h"

namespace {

int RefusePtyCommand(const char* pszName)
{
    std::fprintf(stderr,
                 "matrixctl %s: needs a pseudo-terminal and runs on Linux only; run the Linux matrixctl for it "
                 "(under Wine its terminal can be mapped as a COM port).\n",
                 pszName);
    return EXIT_USAGE;
}

} // namespace

int RunSimulateCommand(int, char**)
{
    return RefusePtyCommand("simulate");
}

int RunDemoCommand(int, char**)
{
    return RefusePtyCommand("demo");
}
