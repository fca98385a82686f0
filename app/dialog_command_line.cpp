#include "app/dialog_command_line.h"

#include "text/printable.h"

CDialogCommandLine ReadDialogCommandLine(const std::vector<std::string>& args)
{
    CDialogCommandLine line;
    bool bOptionsEnded = false;
    for (const std::string& strArg : args) {
        if (bOptionsEnded)
            continue;
        if (strArg == "--")
            bOptionsEnded = true;
        else if (strArg == "-h" || strArg == "--help" || strArg == "/?")
            return {CDialogCommandLine::EAction::ShowHelp, {}, {}};
        else if (strArg == "-V" || strArg == "--version")
            line.eAction = CDialogCommandLine::EAction::ShowVersion;
    }
    if (line.eAction == CDialogCommandLine::EAction::ShowVersion)
        return line;

    bOptionsEnded = false;
    for (const std::string& strArg : args) {
        const std::string strShown = EscapeForTerminal(strArg);
        if (!bOptionsEnded && strArg == "--") {
            bOptionsEnded = true;
        } else if (!bOptionsEnded && strArg.size() > 1 && strArg[0] == '-') {
            return {CDialogCommandLine::EAction::Refuse, {}, "unknown option '" + strShown + "'"};
        } else if (!line.strFile.empty()) {
            return {CDialogCommandLine::EAction::Refuse, {}, "only one FILE can be given, not also '" + strShown + "'"};
        } else if (strArg.empty()) {
            return {CDialogCommandLine::EAction::Refuse, {}, "FILE is empty"};
        } else {
            line.strFile = strArg;
        }
    }
    return line;
}

std::string GetDialogHelpText()
{
    return "usage: matrix-update [OPTIONS] [FILE]\n"
           "\n"
           "Opens the update dialog: choose the COM port and a pattern file, then press\n"
           "開始更新. FILE, when given, is put in the file field.\n"
           "\n"
           "options:\n"
           "  -h, --help     show this help and exit (also /?)\n"
           "  -V, --version  print the version and exit\n"
           "\n"
           "matrixctl does the same work from the command line.\n";
}
