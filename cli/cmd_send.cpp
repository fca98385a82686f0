#include <memory>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "cli/cli_host.h"
#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/printable.h"
#include "serial/com_names.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;

// Says on stderr what went wrong and gives the exit status for how the transfer ended.
int ReportSendOutcome(const CTransferOutcome& outcome, CMatrixApp& app, CCliHost& host)
{
    if (!outcome.bStarted) {
        if (outcome.nTrailingBytes > 0)
            PrintError("matrixctl send: %s has only %u bytes, less than one record; nothing was sent.\n",
                       EscapeForTerminal(app.GetTransferFile()).c_str(), outcome.nTrailingBytes);
        return EXIT_CANNOT_START;
    }
    if (outcome.bLinkLost) {
        PrintError("matrixctl send: the link to COM%d was lost after %u of %u records; the update is not complete.\n",
                   app.m_nComPort, outcome.nHandled, outcome.nRecords);
        return EXIT_CANNOT_START;
    }
    host.PrintLine(TEXT_CLOSING_INSTRUCTION);
    if (outcome.nTrailingBytes > 0)
        PrintError("matrixctl send: the last %u bytes of %s are less than one record and were not sent.\n",
                   outcome.nTrailingBytes, EscapeForTerminal(app.GetTransferFile()).c_str());
    if (outcome.bCancelled)
        return EXIT_CANCELLED;
    if (outcome.nUnanswered > 0) {
        PrintError("matrixctl send: %u record(s) got no reply after five sends.\n", outcome.nUnanswered);
        return EXIT_UNANSWERED;
    }
    return EXIT_OK;
}

// What the command line asks of send.
struct CSendOptions {
    long nPort = -1; // -1: the ComPort setting
    long nReplyTimeoutMs = REPLY_TIME_LIMIT_MS;
    bool bQuiet = false;
    bool bVerbose = false;
    std::string strFile;
};

// Reads the arguments into *pOptions. Returns -1 to go on, else the exit status to end with
// (after --help, or a usage error that was already said).
int ParseSendArguments(const std::vector<std::string>& args, CSendOptions* pOptions)
{
    CCommandLine line("send", "[OPTIONS] FILE",
                      "Sends the pattern file FILE to the device on COM N, record by record, at 9600 baud.\n"
                      "On a terminal a progress bar shows how far it is, with the lines that matter (a\n"
                      "resend, a record without reply, the end); into a file or a pipe every status\n"
                      "line is printed, one per line. Ctrl-C cancels: the end-of-transfer byte is still\n"
                      "sent.");
    line.AddComPort("-p,--port", &pOptions->nPort, "'%s' is not a COM port number (1 to 255)",
                    "the COM port (default: the ComPort the dialog keeps in setting.ini)");
    // A limit shorter than a record's own time on the wire would queue the next send before
    // the last one was written.
    line.AddNumber("--reply-timeout", "MS", &pOptions->nReplyTimeoutMs, MIN_REPLY_TIMEOUT_MS, 86400000,
                   "'%s' is not a reply timeout of 100 to 86400000 milliseconds",
                   "how long to wait for each reply (100 or more; default 16200)");
    line.AddFlag("-q,--quiet", &pOptions->bQuiet, "print only the final text and the closing instruction");
    line.AddFlag("-v,--verbose", &pOptions->bVerbose, "print every status line, also on a terminal");
    line.SetExclusive("--quiet", "--verbose");
    line.AddArgument("FILE", &pOptions->strFile, true, "the pattern file to send (12-byte records)");
    line.SetNotes("Exit status: 0 done, 1 usage, 2 cannot start or link lost, 3 some records got no reply,\n"
                  "4 cancelled, 5 done but the output could not all be written.");
    return line.Parse(args);
}

// The port to use and the file to send, as the dialog would have them.
void PrepareApp(const CSendOptions& options, CMatrixApp* pApp)
{
    // The settings are looked up beside the program, which makes that the current directory:
    // take the file's full path first.
    const std::string strFile = MakeAbsolutePath(options.strFile);
    pApp->InitCommandLineFromProcess(g_pszArgv0);
    if (options.nPort < 0)
        pApp->LoadSettings();
    else
        pApp->m_nComPort = static_cast<int32_t>(options.nPort);
    pApp->SetTransferFile(strFile);
}

// Opens the port and runs the transfer with the host as its window; the link is gone again
// when this returns. False, after saying why, when the port cannot be opened.
bool RunTransferOnPort(CMatrixApp& app, CCliHost& host, CTransferOutcome* pOutcome)
{
    auto pLink = std::make_unique<CSerialLink>();
    if (!OpenUpdateLink(*pLink, &host, app.m_nComPort)) {
        PrintError("matrixctl send: %s\n", pLink->GetOpenFailure().Describe(app.m_nComPort).c_str());
        return false;
    }
    g_pSerialLink = pLink.get();
    *pOutcome = RunUpdateTransfer(&host, app, &host, &host);
    host.Finish();
    pLink->SetOwner(nullptr);
    g_pSerialLink = nullptr;
    return true;
}

} // namespace

int RunSendCommand(const std::vector<std::string>& args)
{
    CSendOptions options;
    const int nUsageStatus = ParseSendArguments(args, &options);
    if (nUsageStatus >= 0)
        return nUsageStatus;

    // Signals are watched before anything can wait (the settings file, the port, the pattern
    // file), and become a cancel request that the transfer sees at its first wait.
    CCliHost host(ChooseOutputMode(options.bQuiet, options.bVerbose, IsConsoleTerminal(EConsoleStream::Output),
                                   IsConsoleTerminal(EConsoleStream::Error)));
    CSignalWatcher signals(host.GetQueue());

    CMatrixApp app;
    PrepareApp(options, &app);
    g_nReplyTimeLimitMs = static_cast<uint32_t>(options.nReplyTimeoutMs);

    CTransferOutcome outcome;
    if (!RunTransferOnPort(app, host, &outcome))
        return EXIT_CANNOT_START;

    const int nStatus = ReportSendOutcome(outcome, app, host);
    if (host.IsOutputLost()) {
        PrintError("matrixctl send: standard output was closed during the transfer; the status lines after that "
                   "were lost.\n");
        if (nStatus == EXIT_OK)
            return EXIT_OUTPUT_LOST;
    }
    return nStatus;
}
