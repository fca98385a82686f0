#pragma once
// The dialog's command line, the same on both systems: matrix-update [FILE] puts FILE in the
// file field; -h, --help or /? and -V or --version are answered without opening the dialog
// (on Linux before the toolkit starts, so that they need no display).

#include <string>
#include <vector>

struct CDialogCommandLine {
    enum class EAction {
        Run,         // open the dialog, with strFile in the file field when it is not empty
        ShowHelp,    // print (or show) GetDialogHelpText() and end
        ShowVersion, // print (or show) the version and end
        Refuse,      // strProblem says what is wrong with the command line
    };
    EAction eAction = EAction::Run;
    std::string strFile;
    std::string strProblem; // one sentence, without the program's name
};

// Reads the arguments after the program's own name. A request for help or the version wins
// over anything else on the line; "--" ends the options.
CDialogCommandLine ReadDialogCommandLine(const std::vector<std::string>& args);

// The usage and what the dialog does, for --help.
std::string GetDialogHelpText();
