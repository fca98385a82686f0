#pragma once
// The subcommands of matrixctl. Each takes the arguments after its own name and returns
// the process exit status: 0 success, 1 usage, 2 cannot start, 3 finished with records
// given up unanswered, 4 cancelled, 5 finished but its output could not all be written.

#include <string>
#include <vector>

enum : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,
    EXIT_CANNOT_START = 2,
    EXIT_UNANSWERED = 3,
    EXIT_CANCELLED = 4,
    EXIT_OUTPUT_LOST = 5,
};

int RunPortsCommand(const std::vector<std::string>& args);
int RunSendCommand(const std::vector<std::string>& args);
int RunPatternCommand(const std::vector<std::string>& args);
int RunSkinCommand(const std::vector<std::string>& args);
int RunSimulateCommand(const std::vector<std::string>& args);
int RunDemoCommand(const std::vector<std::string>& args);
int RunLogCommand(const std::vector<std::string>& args);

// Reads a whole decimal number in [nMin, nMax] from a command-line argument; false for
// anything else (empty, trailing characters, out of range).
bool ParseNumberArgument(const char* pszText, long nMin, long nMax, long* pnValue);

// The program's own path as given to main (argv[0]), for the settings beside the program.
extern const char* g_pszArgv0;
