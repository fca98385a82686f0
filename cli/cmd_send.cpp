#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/matrix_app.h"
#include "cli/cli_host.h"
#include "cli/commands.h"
#include "platform/program_path.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"

namespace {

constexpr long MIN_REPLY_TIMEOUT_MS = 100;
const char* const TEXT_CLOSING_INSTRUCTION = "請按住機器del鍵3秒後放開,待機器畫面閃爍3次後完成更新";

void PrintSendUsage(FILE* pOut)
{
    std::fprintf(pOut,
                 "usage: matrixctl send [--port N] [--reply-timeout MS] [--quiet] FILE\n"
                 "\n"
                 "Sends the pattern file FILE to the device on COM N, record by record, at 9600 baud.\n"
                 "  --port N            the COM port (default: ComPort of setting.ini beside the program)\n"
                 "  --reply-timeout MS  how long to wait for each reply (100 or more; default 16200)\n"
                 "  --quiet             print only the final text and the closing instruction\n"
                 "Each status text is printed as one line; Ctrl-C cancels (the end-of-transfer byte is\n"
                 "still sent). Exit status: 0 done, 1 usage, 2 cannot start or link lost, 3 some records\n"
                 "got no reply, 4 cancelled.\n");
}

} // namespace

int RunSendCommand(int argc, char** argv)
{
    long nPort = -1;
    long nReplyTimeout = REPLY_TIME_LIMIT_MS;
    bool bQuiet = false;
    const char* pszFile = nullptr;
    for (int i = 0; i < argc; ++i) {
        const char* pszArg = argv[i];
        if (std::strcmp(pszArg, "--help") == 0 || std::strcmp(pszArg, "-h") == 0) {
            PrintSendUsage(stdout);
            return EXIT_OK;
        }
        if (std::strcmp(pszArg, "--quiet") == 0) {
            bQuiet = true;
        } else if (std::strcmp(pszArg, "--port") == 0 && i + 1 < argc) {
            const char* pszPort = argv[++i];
            if (strncasecmp(pszPort, "COM", 3) == 0)
                pszPort += 3;
            if (!ParseNumberArgument(pszPort, 1, 255, &nPort)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a COM port number (1 to 255).\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (std::strcmp(pszArg, "--reply-timeout") == 0 && i + 1 < argc) {
            // A limit shorter than a record's own time on the wire would queue the next send
            // before the last one was written.
            if (!ParseNumberArgument(argv[++i], MIN_REPLY_TIMEOUT_MS, 86400000, &nReplyTimeout)) {
                std::fprintf(stderr, "matrixctl send: '%s' is not a reply timeout of %ld to 86400000 milliseconds.\n",
                             argv[i], MIN_REPLY_TIMEOUT_MS);
                return EXIT_USAGE;
            }
        } else if (pszArg[0] == '-' && pszArg[1] != '\0') {
            std::fprintf(stderr, "matrixctl send: unknown option '%s'.\n", pszArg);
            PrintSendUsage(stderr);
            return EXIT_USAGE;
        } else if (pszFile == nullptr) {
            pszFile = pszArg;
        } else {
            std::fprintf(stderr, "matrixctl send: only one FILE can be sent at a time.\n");
            return EXIT_USAGE;
        }
    }
    if (pszFile == nullptr) {
        PrintSendUsage(stderr);
        return EXIT_USAGE;
    }

    // The settings are looked up beside the program, which makes that the current directory:
    // take the file's full path first.
    const std::string strFile = MakeAbsolutePath(pszFile);
    CMatrixApp app;
    app.InitCommandLineFromProcess(g_pszArgv0);
    if (nPort < 0) {
        app.LoadSettings();
    } else {
        app.m_nComPort = static_cast<int32_t>(nPort);
    }
    app.SetTransferFile(strFile);
    g_nReplyTimeLimitMs = static_cast<uint32_t>(nReplyTimeout);

    CCliHost host(bQuiet, IsErrorOutputTerminal());
    CSignalWatcher signals(host.GetQueue());

    auto pLink = std::make_unique<CSerialLink>();
    if (!pLink->OpenPort(&host, app.m_nComPort, 9600, 'N', 8, 1, EV_RXCHAR | EV_CTS, 1024)) {
        std::fprintf(stderr, "matrixctl send: %s\n", pLink->GetOpenFailure().Describe(app.m_nComPort).c_str());
        return EXIT_CANNOT_START;
    }
    g_pSerialLink = pLink.get();
    g_pMessagePump = &host;
    g_pTransferProgress = &host;
    g_bCancelTransfer = 0;
    pLink->StartMonitor();

    const CTransferOutcome outcome = SendPatternFile(&host, app);

    g_pTransferProgress = nullptr;
    host.Finish();
    pLink->SetOwner(nullptr);
    g_pSerialLink = nullptr;
    pLink.reset();
    g_pMessagePump = nullptr;

    if (!outcome.bStarted)
        return EXIT_CANNOT_START;
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
