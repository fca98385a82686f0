#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "app/version.h"
#include "cli/commands.h"
#include "platform/console_cancel.h"
#include "platform/program_path.h"

const char* g_pszArgv0 = "matrixctl";

bool ParseNumberArgument(const char* pszText, long nMin, long nMax, long* pnValue)
{
    if (pszText == nullptr || *pszText == '\0')
        return false;
    char* pszEnd = nullptr;
    errno = 0;
    const long nValue = std::strtol(pszText, &pszEnd, 10);
    if (errno != 0 || *pszEnd != '\0' || nValue < nMin || nValue > nMax)
        return false;
    *pnValue = nValue;
    return true;
}

namespace {

struct CCommand {
    const char* pszName;
    int (*pfnRun)(int, char**);
    const char* pszSummary;
};

const CCommand g_aCommands[] = {
    {"ports", RunPortsCommand, "list the COM ports present, with their devices"},
    {"send", RunSendCommand, "send a pattern file to the device on a COM port"},
    {"pattern", RunPatternCommand, "convert pattern records between CSV and binary"},
    {"skin", RunSkinCommand, "list or extract the entries of the skin archive"},
    {"simulate", RunSimulateCommand, "run a simulated device on a pseudo-terminal"},
    {"demo", RunDemoCommand, "run a whole update of the sample file against a simulated device"},
};

void PrintUsage(FILE* pOut)
{
    std::fprintf(pOut, "usage: matrixctl COMMAND [ARGS...]\n\ncommands:\n");
    for (const CCommand& cmd : g_aCommands)
        std::fprintf(pOut, "  %-9s %s\n", cmd.pszName, cmd.pszSummary);
    std::fprintf(pOut, "\n'matrixctl COMMAND --help' tells more about each; 'matrixctl --version' the version.\n");
}

} // namespace

int main(int argc, char** argv)
{
    // Every command reads its arguments as UTF-8, whatever the system handed over.
    std::vector<std::string> args = TakeProgramArguments(argc, argv);
    std::vector<char*> apszArgs;
    for (std::string& strArg : args)
        apszArgs.push_back(strArg.data());
    apszArgs.push_back(nullptr);
    argc = static_cast<int>(args.size());
    argv = apszArgs.data();
    if (argc > 0 && argv[0] != nullptr)
        g_pszArgv0 = argv[0];
    // A closed output pipe is an error of the write, not a reason to die: a transfer must
    // still end with its end-of-transfer byte.
    IgnoreClosedOutput();
    if (argc < 2) {
        PrintUsage(stderr);
        return EXIT_USAGE;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return EXIT_OK;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("matrixctl %s\n", GetProgramVersion());
        return EXIT_OK;
    }
    for (const CCommand& cmd : g_aCommands) {
        if (std::strcmp(argv[1], cmd.pszName) == 0)
            return cmd.pfnRun(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "matrixctl: unknown command '%s'.\n", argv[1]);
    PrintUsage(stderr);
    return EXIT_USAGE;
}
