#include <chrono>
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
#include "cli/gang_send.h"
#include "cli/send_status.h"
#include "platform/com_names.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "text/printable.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;

// What the command line asks of send.
struct CSendOptions {
    std::vector<long> anPorts; // none: the ComPort setting; several: one transfer on each at once
    long nReplyTimeoutMs = REPLY_TIME_LIMIT_MS;
    long nGiveUpAfter = 0;     // 0: never stop
    long nMaxWrongReplies = 0; // 0: no limit
    bool bQuiet = false;
    bool bVerbose = false;
    bool bAllOrNone = false;
    bool bJson = false;
    std::string strFile;
};

// Says on stderr what went wrong, then prints the ending's own line last on stdout: how to
// finish on the device after a complete update, the dialogs' warning after an incomplete one.
void ReportSendOutcome(const CTransferOutcome& outcome, const CSendOptions& options, CMatrixApp& app, CCliHost& host)
{
    const std::string strFile = EscapeForTerminal(app.GetTransferFile());
    for (const std::string& strSentence :
         DescribeSendOutcome(outcome, strFile, static_cast<uint32_t>(options.nMaxWrongReplies),
                             static_cast<uint32_t>(options.nGiveUpAfter)))
        PrintError("matrixctl send: %s\n", strSentence.c_str());
    if (!outcome.bStarted)
        return;
    bool bWarning = false;
    const std::string strEnding = UpdateEndingText(outcome, &bWarning);
    if (!strEnding.empty())
        host.PrintLine(strEnding);
}

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
    line.AddComPorts("-p,--port", &pOptions->anPorts, "'%s' is not a COM port number (1 to 255)",
                     "the COM port (default: the ComPort the dialog keeps in setting.ini); several\n"
                     "ports (-p 3 -p 4, or --port 3,4) are updated at once, each with the whole file");
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
    line.AddFlag("--all-or-none", &pOptions->bAllOrNone,
                 "with several ports: send nothing at all when any of them cannot be opened");
    line.AddFlag("--json", &pOptions->bJson,
                 "print the summary of the ports (one or several) as JSON on stdout instead of the\n"
                 "status lines and the table");
    line.AddArgument("FILE", &pOptions->strFile, true, "the pattern file to send (12-byte records)");
    line.SetNotes("The last line is the closing instruction after a complete update, or the warning that\n"
                  "it did not complete. Exit status: 0 done, 1 usage, 2 cannot start (file refused, port)\n"
                  "or link lost, 3 records without a good reply (or stopped by --give-up-after),\n"
                  "4 cancelled, 5 done but the output could not all be written.\n"
                  "With several ports every port is opened first (one that cannot be opened is said and\n"
                  "the others go on, unless --all-or-none), then all are sent to at once: on a terminal\n"
                  "one line per port, elsewhere each status line starts with its port (COM3: ...); a\n"
                  "table of the ports ends it. Ctrl-C cancels every port. The exit status is 0 when\n"
                  "every device completed, else the most serious among the ports: 2, then 3, then 4.");
    const int nStatus = line.Parse(args);
    if (nStatus >= 0)
        return nStatus;
    // Two transfers on one port would each take the other's replies for their own.
    for (size_t i = 0; i < pOptions->anPorts.size(); ++i) {
        for (size_t j = i + 1; j < pOptions->anPorts.size(); ++j) {
            if (pOptions->anPorts[i] == pOptions->anPorts[j])
                return line.RefuseUsage("COM" + std::to_string(pOptions->anPorts[i]) + " is given more than once");
        }
    }
    return -1;
}

// The port to use and the file to send, as the dialog would have them.
void PrepareApp(const CSendOptions& options, CMatrixApp* pApp)
{
    // The settings are looked up beside the program, which makes that the current directory:
    // take the file's full path first.
    const std::string strFile = MakeAbsolutePath(options.strFile);
    pApp->InitCommandLineFromProcess(g_pszArgv0);
    if (options.anPorts.empty())
        pApp->LoadSettings();
    else
        pApp->m_nComPort = static_cast<int32_t>(options.anPorts.front());
    pApp->SetTransferFile(strFile);
}

// Opens the port and sends data with the host as its window; the link is gone again when this
// returns. A port that cannot be opened is said on stderr (and in *pstrFailure), and *pOutcome
// stays a transfer that never started.
void RunTransferOnPort(CMatrixApp& app, const std::vector<uint8_t>& data, const CSendOptions& options, CCliHost& host,
                       CTransferOutcome* pOutcome, std::string* pstrFailure)
{
    auto pLink = std::make_unique<CSerialLink>();
    if (!OpenUpdateLink(*pLink, &host, app.m_nComPort)) {
        *pstrFailure = pLink->GetOpenFailure().Describe(app.m_nComPort);
        PrintError("matrixctl send: %s\n", pstrFailure->c_str());
        return;
    }
    CRecordTransfer transfer;
    transfer.SetLink(pLink.get());
    transfer.SetReplyTimeLimit(static_cast<uint32_t>(options.nReplyTimeoutMs));
    transfer.SetLimits(static_cast<uint32_t>(options.nGiveUpAfter), static_cast<uint32_t>(options.nMaxWrongReplies));
    host.SetTransfer(&transfer);
    *pOutcome = transfer.RunUpdateTransfer(&host, app.m_nComPort, data, &host, &host);
    host.Finish();
    pLink->SetOwner(nullptr);
    host.SetTransfer(nullptr);
}

// Several ports (or --json): one transfer per port, all at once.
int RunGangSendCommand(const CSendOptions& options)
{
    CMatrixApp app;
    PrepareApp(options, &app);
    CGangSendRequest request;
    request.anPorts.push_back(app.m_nComPort);
    for (size_t i = 1; i < options.anPorts.size(); ++i)
        request.anPorts.push_back(static_cast<int>(options.anPorts[i]));
    request.strFile = app.GetTransferFile();
    request.nReplyTimeLimitMs = static_cast<uint32_t>(options.nReplyTimeoutMs);
    request.nGiveUpAfterRecords = static_cast<uint32_t>(options.nGiveUpAfter);
    request.nMaxWrongReplies = static_cast<uint32_t>(options.nMaxWrongReplies);
    request.bAllOrNone = options.bAllOrNone;
    request.bJson = options.bJson;
    request.output = ChooseOutputMode(options.bQuiet, options.bVerbose, IsConsoleTerminal(EConsoleStream::Output),
                                      IsConsoleTerminal(EConsoleStream::Error));
    return RunGangSend(request, app);
}

} // namespace

int RunSendCommand(const std::vector<std::string>& args)
{
    CSendOptions options;
    const int nUsageStatus = ParseSendArguments(args, &options);
    if (nUsageStatus >= 0)
        return nUsageStatus;
    if (options.anPorts.size() > 1 || options.bJson)
        return RunGangSendCommand(options);

    // Signals are watched before anything can wait (the settings file, the port, the pattern
    // file), and become a cancel request that the transfer sees at its first wait.
    CCliHost host(ChooseOutputMode(options.bQuiet, options.bVerbose, IsConsoleTerminal(EConsoleStream::Output),
                                   IsConsoleTerminal(EConsoleStream::Error)));
    CSignalWatcher signals(host.GetQueue());

    CMatrixApp app;
    PrepareApp(options, &app);

    // The whole file is read and checked before the port is touched: a file that must not be
    // sent leaves the port and the device alone.
    CTransferOutcome outcome;
    std::vector<uint8_t> data;
    std::string strRefusal;
    CUpdateRecorder recorder("matrixctl");
    if (LoadPatternFile(&host, app.GetTransferFile(), &data, &outcome)) {
        recorder.NotePort(app.m_nComPort);
        RunTransferOnPort(app, data, options, host, &outcome, &strRefusal);
        if (!outcome.bStarted)
            outcome.nRecords = static_cast<uint32_t>(data.size() / RECORD_SIZE);
    } else
        strRefusal = outcome.strFailure;
    outcome.nPort = app.m_nComPort;
    RecordFinishedTransfer(app, recorder, outcome, data, strRefusal, -1.0);

    ReportSendOutcome(outcome, options, app, host);
    if (host.IsOutputLost())
        PrintError("matrixctl send: standard output was closed during the transfer; the status lines after that "
                   "were lost.\n");
    return SendExitStatus(outcome, host.IsOutputLost());
}
