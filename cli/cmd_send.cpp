#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/matrix_app.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "serial/com_names.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;

void PrintSendUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl send [--port N] [--reply-timeout MS] [--quiet] FILE\n"
                 "\n"
                 "Sends the pattern file FILE to the device on COM N, record by record, at 9600 baud.\n"
                 "  --port N            the COM port (default: the ComPort the dialog keeps in setting.ini)\n"
                 "  --reply-timeout MS  how long to wait for each reply (100 or more; default 16200)\n"
                 "  --quiet             print only the final text and the closing instruction\n"
                 "Each status text is printed as one line; Ctrl-C cancels (the end-of-transfer byte is\n"
                 "still sent). Exit status: 0 done, 1 usage, 2 cannot start or link lost, 3 some records\n"
                 "got no reply, 4 cancelled, 5 done but the output could not be written.\n");
}

// Says on stderr what went wrong and gives the exit status for how the transfer ended.
int ReportSendOutcome(const CTransferOutcome& outcome, CMatrixApp& app, CCliHost& host)
{
    if (!outcome.bStarted) {
        if (outcome.nTrailingBytes > 0)
            std::fprintf(stderr, "matrixctl send: %s has only %u bytes, less than one record; nothing was sent.\n",
                         app.GetTransferFile().c_str(), outcome.nTrailingBytes);
        return EXIT_CANNOT_START;
    }
    if (outcome.bLinkLost) {
        std::fprintf(stderr, "matrixctl send: the link to COM%d was lost after %u of %u records; the update is not complete.\n",
                     app.m_nComPort, outcome.nHandled, outcome.nRecords);
        return EXIT_CANNOT_START;
    }
    host.PrintLine(TEXT_CLOSING_INSTRUCTION);
    if (outcome.nTrailingBytes > 0)
        std::fprintf(stderr, "matrixctl send: the last %u bytes of %s are less than one record and were not sent.\n",
                     outcome.nTrailingBytes, app.GetTransferFile().c_str());
    if (outcome.bCancelled)
        return EXIT_CANCELLED;
    if (outcome.nUnanswered > 0) {
        std::fprintf(stderr, "matrixctl send: %u record(s) got no reply after five sends.\n", outcome.nUnanswered);
        return EXIT_UNANSWERED;
    }
    return EXIT_OK;
}

// What the command line asks of send.
struct CSendOptions {
    long nPort = -1; // -1: the ComPort setting
    long nReplyTimeoutMs = REPLY_TIME_LIMIT_MS;
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

// Opens the port and runs the transfer with the host as its window; the link is gone again
// when this returns. False, after saying why, when the port cannot be opened.
bool RunTransferOnPort(CMatrixApp& app, CCliHost& host, CTransferOutcome* pOutcome)
{
    auto pLink = std::make_unique<CSerialLink>();
    if (!OpenUpdateLink(*pLink, &host, app.m_nComPort)) {
        std::fprintf(stderr, "matrixctl send: %s\n", pLink->GetOpenFailure().Describe(app.m_nComPort).c_str());
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

    CTransferOutcome outcome;
    if (!RunTransferOnPort(app, host, &outcome))
        return EXIT_CANNOT_START;

    const int nStatus = ReportSendOutcome(outcome, app, host);
    if (host.IsOutputLost()) {
        std::fprintf(stderr, "matrixctl send: standard output was closed during the transfer; the status lines "
                             "after that were lost.\n");
        if (nStatus == EXIT_OK)
            return EXIT_OUTPUT_LOST;
    }
    return nStatus;
}
