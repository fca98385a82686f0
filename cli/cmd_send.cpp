#include <memory>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "app/update_log.h"
#include "cli/cli_host.h"
#include "cli/cli_output.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/send_status.h"
#include "platform/com_names.h"
#include "platform/printable.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;

// Says on stderr what went wrong, then prints the ending's own line last on stdout: how to
// finish on the device after a complete update, the dialogs' warning after an incomplete one.
void ReportSendOutcome(const CTransferOutcome& outcome, CMatrixApp& app, CCliHost& host)
{
    const std::string strFile = EscapeForTerminal(app.GetTransferFile());
    if (!outcome.bStarted) {
        if (outcome.fileProblem.eKind == EPatternFileProblem::NoWholeRecord)
            PrintError("matrixctl send: %s has only %u bytes, less than one record; nothing was sent.\n",
                       strFile.c_str(), outcome.nTrailingBytes);
        return;
    }
    if (outcome.bLinkLost)
        PrintError("matrixctl send: the link to COM%d was lost after %u of %u records; the update is not complete.\n",
                   app.m_nComPort, outcome.nHandled, outcome.nRecords);
    if (outcome.nTrailingBytes > 0)
        PrintError("matrixctl send: the last %u bytes of %s are less than one record and were not sent.\n",
                   outcome.nTrailingBytes, strFile.c_str());
    if (outcome.nUnanswered > outcome.nWrongGivenUp)
        PrintError("matrixctl send: %u record(s) got no reply after five sends.\n",
                   outcome.nUnanswered - outcome.nWrongGivenUp);
    if (outcome.nWrongGivenUp > 0)
        PrintError("matrixctl send: %u record(s) were answered wrongly %u times in a row and given up.\n",
                   outcome.nWrongGivenUp, g_nMaxWrongReplies);
    if (outcome.bGaveUp)
        PrintError("matrixctl send: stopped after %u records in a row got no reply; %u of %u records were not "
                   "sent.\n",
                   g_nGiveUpAfterRecords, outcome.nRecords - outcome.nHandled, outcome.nRecords);
    bool bWarning = false;
    const std::string strEnding = UpdateEndingText(outcome, &bWarning);
    if (!strEnding.empty())
        host.PrintLine(strEnding);
}

// What the command line asks of send.
struct CSendOptions {
    long nPort = -1; // -1: the ComPort setting
    long nReplyTimeoutMs = REPLY_TIME_LIMIT_MS;
    long nGiveUpAfter = 0;     // 0: never stop
    long nMaxWrongReplies = 0; // 0: no limit
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
                      "FILE is read and checked whole first: a file whose records do not start with 0xC1\n"
                      "and end with 0xC3 is refused before the port is opened.\n"
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
                   "how long to wait for each reply: at least 100 (default 16200), and longer than the\n"
                   "device takes to answer a record; with less, a late answer arrives during the next\n"
                   "send and is taken for its answer");
    line.AddNumber("--give-up-after", "N", &pOptions->nGiveUpAfter, 1, 1000000,
                   "'%s' is not a number of records from 1 to 1000000",
                   "stop once N records in a row got no reply at all (the end-of-transfer byte is\n"
                   "still sent); default: never stop");
    line.AddNumber("--max-wrong-replies", "N", &pOptions->nMaxWrongReplies, 1, 1000000,
                   "'%s' is not a number of replies from 1 to 1000000",
                   "give a record up, as one without a reply, once the device has answered it\n"
                   "wrongly N times in a row; default: resend without limit");
    line.AddFlag("-q,--quiet", &pOptions->bQuiet, "print only the final text and the last line");
    line.AddFlag("-v,--verbose", &pOptions->bVerbose, "print every status line, also on a terminal");
    line.SetExclusive("--quiet", "--verbose");
    line.AddArgument("FILE", &pOptions->strFile, true, "the pattern file to send (12-byte records)");
    line.SetNotes("The last line is the closing instruction after a complete update, or the warning that\n"
                  "it did not complete. Exit status: 0 done, 1 usage, 2 cannot start (file refused, port)\n"
                  "or link lost, 3 records without a good reply (or stopped by --give-up-after),\n"
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

// Opens the port and sends data with the host as its window; the link is gone again when this
// returns. A port that cannot be opened is said on stderr (and in *pstrFailure), and *pOutcome
// stays a transfer that never started.
void RunTransferOnPort(CMatrixApp& app, const std::vector<uint8_t>& data, CCliHost& host, CTransferOutcome* pOutcome,
                       std::string* pstrFailure)
{
    auto pLink = std::make_unique<CSerialLink>();
    if (!OpenUpdateLink(*pLink, &host, app.m_nComPort)) {
        *pstrFailure = pLink->GetOpenFailure().Describe(app.m_nComPort);
        PrintError("matrixctl send: %s\n", pstrFailure->c_str());
        return;
    }
    g_pSerialLink = pLink.get();
    *pOutcome = RunUpdateTransfer(&host, app, data, &host, &host);
    host.Finish();
    pLink->SetOwner(nullptr);
    g_pSerialLink = nullptr;
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
    CUpdateRecorder recorder("matrixctl");
    PrepareApp(options, &app);
    g_nReplyTimeLimitMs = static_cast<uint32_t>(options.nReplyTimeoutMs);
    g_nGiveUpAfterRecords = static_cast<uint32_t>(options.nGiveUpAfter);
    g_nMaxWrongReplies = static_cast<uint32_t>(options.nMaxWrongReplies);

    // The whole file is read and checked before the port is touched: a file that must not be
    // sent leaves the port and the device alone.
    CTransferOutcome outcome;
    std::vector<uint8_t> data;
    std::string strRefusal;
    if (LoadPatternFile(&host, app.GetTransferFile(), &data, &outcome)) {
        recorder.NotePort(app.m_nComPort);
        RunTransferOnPort(app, data, host, &outcome, &strRefusal);
    } else
        strRefusal = outcome.strFailure;

    // The log is the bench's record, not part of the update: a log that cannot be written is
    // said once and changes neither the output nor the exit status.
    if (std::string strLogError; !recorder.Finish(app, outcome, data, strRefusal, &strLogError) && TakeUpdateLogWarning())
        PrintError("matrixctl send: warning: the update log was not written: %s\n", EscapeForTerminal(strLogError).c_str());
    ReportSendOutcome(outcome, app, host);
    if (host.IsOutputLost())
        PrintError("matrixctl send: standard output was closed during the transfer; the status lines after that "
                   "were lost.\n");
    return SendExitStatus(outcome, host.IsOutputLost());
}
