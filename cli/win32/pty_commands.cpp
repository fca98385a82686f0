// matrixctl simulate and demo on Windows: both need a pseudo-terminal, which Windows lacks.

#include "cli/cli_output.h"
#include "cli/commands.h"

namespace {

int RefusePtyCommand(const char* pszName)
{
    PrintError("matrixctl %s: needs a pseudo-terminal and runs on Linux only; run the Linux matrixctl for it "
               "(under Wine its terminal can be mapped as a COM port).\n",
               pszName);
    return EXIT_USAGE;
}

} // namespace

int RunSimulateCommand(const std::vector<std::string>&)
{
    return RefusePtyCommand("simulate");
}

int RunDemoCommand(const std::vector<std::string>&)
{
    return RefusePtyCommand("demo");
}
