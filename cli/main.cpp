#include <string>
#include <vector>

#include "app/version.h"
#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/console_cancel.h"
#include "platform/printable.h"
#include "platform/program_path.h"

namespace {

struct CCommand {
    const char* pszName;
    int (*pfnRun)(const std::vector<std::string>&);
    const char* pszSummary;
};

const CCommand g_aCommands[] = {
    {"ports", RunPortsCommand, "list the COM ports present, with their devices"},
    {"send", RunSendCommand, "send a pattern file to the device on a COM port"},
    {"pattern", RunPatternCommand, "convert pattern records between CSV and binary, check and draw them"},
    {"skin", RunSkinCommand, "list or extract the entries of the skin archive"},
    {"simulate", RunSimulateCommand, "run a simulated device on a pseudo-terminal"},
    {"demo", RunDemoCommand, "run a whole update of the sample file against a simulated device"},
};

std::string DescribeCommands()
{
    std::string strText = "commands:\n";
    for (const CCommand& cmd : g_aCommands)
        strText += FormatText("  %-10s%s\n", cmd.pszName, cmd.pszSummary);
    strText += "\n'matrixctl COMMAND --help' tells more about each.\n"
               "Exit status: 0 done, 1 usage, 2 cannot start, 3 records without reply, 4 cancelled,\n"
               "5 done but the output could not all be written.";
    return strText;
}

} // namespace

int main(int argc, char** argv)
{
    // Every command reads its arguments as UTF-8, whatever the system handed over.
    std::vector<std::string> args = TakeProgramArguments(argc, argv);
    if (!args.empty())
        g_pszArgv0 = args.front().c_str();
    CConsoleSession console;
    // A closed output pipe is an error of the write, not a reason to die: a transfer must
    // still end with its end-of-transfer byte.
    IgnoreClosedOutput();

    bool bVersion = false;
    CCommandLine line("", "COMMAND [ARGS...]",
                      "Loads pattern files into a serial-attached dot-matrix device, as the dialog\n"
                      "matrix-update does, and more.");
    line.AddFlag("-V,--version", &bVersion, "print the version and exit");
    line.SetNotes(DescribeCommands());
    line.StopAtFirstArgument();
    const std::vector<std::string> options(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (const int nStatus = line.Parse(options); nStatus >= 0)
        return nStatus;
    if (bVersion) {
        PrintOutput("matrixctl %s\n", GetProgramVersion());
        return EXIT_OK;
    }
    const std::vector<std::string> rest = line.TakeRest();
    if (rest.empty())
        return line.RefuseUsage("a COMMAND is missing");
    if (rest.front() == "help") {
        WriteOutput(line.GetHelp());
        return EXIT_OK;
    }
    for (const CCommand& cmd : g_aCommands) {
        if (rest.front() == cmd.pszName)
            return cmd.pfnRun(std::vector<std::string>(rest.begin() + 1, rest.end()));
    }
    return line.RefuseUsage("unknown command '" + EscapeForTerminal(rest.front()) + "'");
}
