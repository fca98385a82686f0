// matrixctl log: the update log of this user, as a table (newest last) or as its JSON lines.

#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/update_log.h"
#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "text/printable.h"

namespace {

std::string FormatHandled(const CUpdateLogEntry& entry)
{
    if (entry.strOutcome == "refused")
        return "-";
    return std::to_string(entry.nHandled) + "/" + std::to_string(entry.nRecords);
}

std::string FormatDuration(uint64_t nMs)
{
    return FormatText("%llu.%01llu", static_cast<unsigned long long>(nMs / 1000),
                      static_cast<unsigned long long>(nMs % 1000 / 100));
}

// One row per update. The user, the file and the reason come from outside (a file name may
// hold a tab or an escape sequence): escaped like every other outside name.
std::string FormatTable(const std::vector<const CUpdateLogEntry*>& entries)
{
    std::string strText = FormatText("%-29s  %-6s  %-10s  %-11s  %7s  %8s  %-12s  %s\n", "TIME", "PORT", "OUTCOME",
                                     "HANDLED", "RESENDS", "SECONDS", "USER", "FILE");
    for (const CUpdateLogEntry* pEntry : entries) {
        const CUpdateLogEntry& entry = *pEntry;
        const std::string strPort = entry.nPort > 0 ? "COM" + std::to_string(entry.nPort) : std::string("-");
        strText += FormatText("%-29s  %-6s  %-10s  %-11s  %7u  %8s  %-12s  %s\n",
                              EscapeForTerminal(entry.strTime).c_str(), strPort.c_str(),
                              EscapeForTerminal(entry.strOutcome).c_str(), FormatHandled(entry).c_str(),
                              entry.nResends, FormatDuration(entry.nDurationMs).c_str(),
                              EscapeForTerminal(entry.strUser).c_str(), EscapeForTerminal(entry.strFile).c_str());
        if (!entry.strReason.empty())
            strText += "    " + EscapeForTerminal(entry.strReason) + "\n";
    }
    return strText;
}

} // namespace

int RunLogCommand(const std::vector<std::string>& args)
{
    long nLast = 0;
    long nPort = 0;
    bool bJson = false;
    CMatrixApp app;
    app.InitCommandLineFromProcess(g_pszArgv0);
    const std::string strPath = GetUpdateLogPath(app);
    CCommandLine line("log", "[OPTIONS]",
                      "Shows the update log: one row per update started here (matrixctl send and the\n"
                      "dialog), also one refused before anything was sent, oldest first.\n"
                      "This user's log: " +
                          EscapeForTerminal(strPath) + " (and " + UPDATE_LOG_FILE_NAME +
                          ".1, the part before\nit reached 10 MiB).");
    line.AddNumber("-n,--last", "N", &nLast, 1, 100000000, "'%s' is not a number of updates from 1 to 100000000",
                   "only the last N updates");
    line.AddComPort("-p,--port", &nPort, "'%s' is not a COM port number (1 to 255)", "only the updates on COM N");
    line.AddFlag("--json", &bJson, "print the log's JSON lines (non-ASCII characters escaped) instead of a table");
    line.SetNotes("Columns: the time the update started, the port, how it ended (complete, cancelled,\n"
                  "unanswered, link lost, refused), records handled of the file's records, resends,\n"
                  "seconds, the user and the file; a refused update's reason below its row.\n"
                  "$MATRIX_UPDATE_LOG names another log file.");
    if (const int nStatus = line.Parse(args); nStatus >= 0)
        return nStatus;

    std::vector<CUpdateLogEntry> entries;
    size_t nDamaged = 0;
    std::string strError;
    if (!ReadUpdateLog(strPath, &entries, &nDamaged, &strError)) {
        PrintError("matrixctl log: %s\n", EscapeForTerminal(strError).c_str());
        return EXIT_CANNOT_START;
    }
    if (!strError.empty())
        PrintError("matrixctl log: %s\n", EscapeForTerminal(strError).c_str());
    if (nDamaged > 0)
        PrintError("matrixctl log: %zu damaged line(s) of %s skipped.\n", nDamaged, EscapeForTerminal(strPath).c_str());

    std::vector<const CUpdateLogEntry*> chosen;
    for (const CUpdateLogEntry& entry : entries) {
        if (nPort == 0 || entry.nPort == nPort)
            chosen.push_back(&entry);
    }
    if (nLast > 0 && chosen.size() > static_cast<size_t>(nLast))
        chosen.erase(chosen.begin(), chosen.end() - nLast);
    if (chosen.empty()) {
        PrintError("matrixctl log: no updates recorded in %s%s.\n", EscapeForTerminal(strPath).c_str(),
                   nPort > 0 ? FormatText(" for COM%ld", nPort).c_str() : "");
        return EXIT_OK;
    }
    std::string strText;
    if (bJson) {
        for (const CUpdateLogEntry* pEntry : chosen)
            strText += pEntry->strJson + "\n";
    } else {
        strText = FormatTable(chosen);
    }
    return WriteOutput(strText) ? EXIT_OK : EXIT_OUTPUT_LOST;
}
