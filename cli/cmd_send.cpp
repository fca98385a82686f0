#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/matrix_app.h"
#include "app/operator_texts.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/send_status.h"
#include "serial/com_names.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;

void PrintSendUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl send [--port N] [--reply-timeout MS] [--give-up-after N]\n"
                 "                      [--max-wrong-replies N] [--quiet] FILE\n"
                 "\n"
                 "Sends the pattern file FILE to the device on COM N, record by record, at 9600 baud.\n"
                 "FILE is read and checked whole first: a file whose records do not start with 0xC1\n"
                 "and end with 0xC3 is refused before the port is opened.\n"
                 "  --port N               the COM port (default: the ComPort the dialog keeps in setting.ini)\n"
                 "  --reply-timeout MS     how long to wait for each reply: at least 100 (default 16200), and\n"
                 "                         longer than the device takes to answer a record; with less, a late\n"
                 "                         answer arrives during the next send and is taken for its answer\n"
                 "  --give-up-after N      stop once N records in a row got no reply at all (the end-of-\n"
                 "                         transfer byte is still sent); default: never stop\n"
                 "  --max-wrong-replies N  give a record up, as one without a reply, once the device has\n"
                 "                         answered it wrongly N times in a row; default: resend without limit\n"
                 "  --quiet                print only the final text and the last line\n"
                 "Each status text is printed as one line; the last line is the closing instruction after a\n"
                 "complete update, or the warning that it did not complete. Ctrl-C cancels (the end-of-\n"
                 "transfer byte is still sent). Exit status: 0 done, 1 usage, 2 cannot start (file refused,\n"
                 "port) or link lost, 3 records without a good reply (or stopped by --give-up-after),\n"
                 "4 cancelled, 5 done but the output could not be written.\n");
}

// Says on stderr what went wrong, then prints the ending's own line last on stdout: how to
// finish on the device after a complete update, the dialogs' warning after an incomplete one.
void ReportSendOutcome(const CTransferOutcome& outcome, CMatrixApp& app, CCliHost& host)
{
    if (!outcome.bStarted) {
        if (outcome.fileProblem.eKind == EPatternFileProblem::NoWholeRecord)
            std::fprintf(stderr, "matrixctl send: %s has only %u bytes, less than one record; nothing was sent.\n",
                         app.GetTransferFile().c_str(), outcome.nTrailingBytes);
        return;
    }
    if (outcome.bLinkLost)
        std::fprintf(stderr, "matrixctl send: the link to COM%d was lost after %u of %u records; the update is not complete.\n",
                     app.m_nComPort, outcome.nHandled, outcome.nRecords);
    if (outcome.nTrailingBytes > 0)
        std::fprintf(stderr, "matrixctl send: the last %u bytes of %s are less than one record and were not sent.\n",
                     outcome.nTrailingBytes, app.GetTransferFile().c_str());
    if (outcome.nUnanswered > outcome.nWrongGivenUp)
        std::fprintf(stderr, "matrixctl send: %u record(s) got no reply after five sends.\n",
                     outcome.nUnanswered - outcome.nWrongGivenUp);
    if (outcome.nWrongGivenUp > 0)
        std::fprintf(stderr, "matrixctl send: %u record(s) were answered wrongly %u times in a row and given up.\n",
                     outcome.nWrongGivenUp, g_nMaxWrongReplies);
    if (outcome.bGaveUp)
        std::fprintf(stderr, "matrixctl send: stopped after %u records in a row got no reply; %u of %u records were "
                             "not sent.\n",
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
    const char* pszFile = nullptr;
};

// Reads the arguments into *pOptions. Returns -1 to go on, else the exit status to end with
// (after --help, or a usage error that was already said).
int ParseSendArguments(int argc, char** argv, CSendOptions* pOptions)
{
    for (int i = 0; i < argc; ++i) {
        const char* pszArg = argv[i];
        if (std::strcmp(pszArg, "--help") == 0 || std::strcmp(pszArg, "-h") == 0) {
            PrintSendUsage(stdout);
            return EXIT_OK;
        }
        if (std::strcmp(pszArg, "--quiet") == 0) {
            pOptions->bQuiet = true;
        } else if (std::strcmp(pszArg, "--port") == 0 && i + 1 < argc) {
            const char* pszPort = argv[++i];
            if (strncasecmp(pszPort, "COM", 3) == 0)
                pszPort += 3;
            if (!ParseNumberArgument(pszPort, MIN_COM_PORT, MAX_COM_PORT, &pOptions->nPort)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a COM port number (%d to %d).\n", argv[i],
                             MIN_COM_PORT, MAX_COM_PORT);
                return EXIT_USAGE;
            }
        } else if (std::strcmp(pszArg, "--reply-timeout") == 0 && i + 1 < argc) {
            // A limit shorter than a record's own time on the wire would queue the next send
            // before the last one was written.
            if (!ParseNumberArgument(argv[++i], MIN_REPLY_TIMEOUT_MS, 86400000, &pOptions->nReplyTimeoutMs)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a reply timeout of %ld to 86400000 milliseconds.\n",
                             argv[i], MIN_REPLY_TIMEOUT_MS);
                return EXIT_USAGE;
            }
        } else if (std::strcmp(pszArg, "--give-up-after") == 0 && i + 1 < argc) {
            if (!ParseNumberArgument(argv[++i], 1, 1000000, &pOptions->nGiveUpAfter)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a number of records from 1 to 1000000.\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (std::strcmp(pszArg, "--max-wrong-replies") == 0 && i + 1 < argc) {
            if (!ParseNumberArgument(argv[++i], 1, 1000000, &pOptions->nMaxWrongReplies)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a number of replies from 1 to 1000000.\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (pszArg[0] == '-' && pszArg[1] != '\0') {
            std::fprintf(stderr, "matrixctl send: unknown option '%s'.\n", pszArg);
            PrintSendUsage(stderr);
            return EXIT_USAGE;
        } else if (pOptions->pszFile == nullptr) {
            pOptions->pszFile = pszArg;
        } else {
            std::fprintf(stderr, "matrixctl send: only one FILE can be sent at a time.\n");
            return EXIT_USAGE;
        }
    }
    if (pOptions->pszFile == nullptr) {
        PrintSendUsage(stderr);
        return EXIT_USAGE;
    }
    return -1;
}

// The port to use and the file to send, as the dialog would have them.
void PrepareApp(const CSendOptions& options, CMatrixApp* pApp)
{
    // The settings are looked up beside the program, which makes that the current directory:
    // take the file's full path first.
    const std::string strFile = MakeAbsolutePath(options.pszFile);
    pApp->InitCommandLineFromProcess(g_pszArgv0);
    if (options.nPort < 0)
        pApp->LoadSettings();
    else
        pApp->m_nComPort = static_cast<int32_t>(options.nPort);
    pApp->SetTransferFile(strFile);
}

// Opens the port and sends data with the host as its window; the link is gone again when this
// returns. A port that cannot be opened is said on stderr, and *pOutcome stays a transfer that
// never started.
void RunTransferOnPort(CMatrixApp& app, const std::vector<uint8_t>& data, CCliHost& host, CTransferOutcome* pOutcome)
{
    auto pLink = std::make_unique<CSerialLink>();
    if (!OpenUpdateLink(*pLink, &host, app.m_nComPort)) {
        std::fprintf(stderr, "matrixctl send: %s\n", pLink->GetOpenFailure().Describe(app.m_nComPort).c_str());
        return;
    }
    g_pSerialLink = pLink.get();
    *pOutcome = RunUpdateTransfer(&host, app, data, &host, &host);
    host.Finish();
    pLink->SetOwner(nullptr);
    g_pSerialLink = nullptr;
}

} // namespace

int RunSendCommand(int argc, char** argv)
{
    CSendOptions options;
    const int nUsageStatus = ParseSendArguments(argc, argv, &options);
    if (nUsageStatus >= 0)
        return nUsageStatus;

    // Signals are watched before anything can wait (the settings file, the port, the pattern
    // file), and become a cancel request that the transfer sees at its first wait.
    CCliHost host(options.bQuiet, IsErrorOutputTerminal());
    CSignalWatcher signals(host.GetQueue());

    CMatrixApp app;
    PrepareApp(options, &app);
    g_nReplyTimeLimitMs = static_cast<uint32_t>(options.nReplyTimeoutMs);
    g_nGiveUpAfterRecords = static_cast<uint32_t>(options.nGiveUpAfter);
    g_nMaxWrongReplies = static_cast<uint32_t>(options.nMaxWrongReplies);

    // The whole file is read and checked before the port is touched: a file that must not be
    // sent leaves the port and the device alone.
    CTransferOutcome outcome;
    std::vector<uint8_t> data;
    if (LoadPatternFile(&host, app.GetTransferFile(), &data, &outcome))
        RunTransferOnPort(app, data, host, &outcome);

    ReportSendOutcome(outcome, app, host);
    if (host.IsOutputLost())
        std::fprintf(stderr, "matrixctl send: standard output was closed during the transfer; the status lines "
                             "after that were lost.\n");
    return SendExitStatus(outcome, host.IsOutputLost());
}
