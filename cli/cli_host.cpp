#include "cli/cli_host.h"

#include <cstdio>

#include "platform/console_cancel.h"
#include "transfer/record_transfer.h"

CCliHost::CCliHost(bool bQuiet, bool bShowBar) : m_bQuiet(bQuiet), m_bShowBar(bShowBar && !bQuiet)
{
}

void CCliHost::PostLinkMessage(CLinkMessage msg)
{
    m_queue.Post(std::move(msg));
}

void CCliHost::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    EraseBar();
    std::fprintf(stderr, "%s: %s\n", strCaption.c_str(), strText.c_str());
    std::fflush(stderr);
}

void CCliHost::SetWindowText(const std::string& strText)
{
    if (m_bQuiet) {
        m_strLastCaption = strText;
        return;
    }
    PrintLine(strText);
}

void CCliHost::PrintLine(const std::string& strText)
{
    EraseBar();
    // A reader that went away (a pipe into head) must not end the transfer: SIGPIPE is
    // ignored, and once a write fails the rest of the lines are dropped.
    if (!m_bOutputLost) {
        std::fprintf(stdout, "%s\n", strText.c_str());
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
            m_bOutputLost = true;
    }
    if (m_nRangeMax > 0)
        DrawBar();
}

void CCliHost::MessageBox(const std::string& strText)
{
    EraseBar();
    std::fprintf(stderr, "matrixctl send: %s\n", strText.c_str());
    std::fflush(stderr);
}

void CCliHost::SetRange(uint64_t, uint64_t nMax)
{
    m_nRangeMax = nMax;
    m_nDone = 0;
    m_tStart = std::chrono::steady_clock::now();
    DrawBar();
}

void CCliHost::SetPos(uint64_t nPos)
{
    m_nDone = nPos / RECORD_SIZE + 1;
    DrawBar();
}

void CCliHost::DrawBar()
{
    if (!m_bShowBar || m_nRangeMax < RECORD_SIZE || !m_tStart)
        return;
    const uint64_t nTotal = m_nRangeMax / RECORD_SIZE;
    const uint64_t nDone = m_nDone < nTotal ? m_nDone : nTotal;
    const int nPercent = static_cast<int>(nDone * 100 / nTotal);
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - *m_tStart).count();
    const double dRate = dSeconds > 0.0 ? static_cast<double>(nDone) / dSeconds : 0.0;
    char szLeft[32] = "--:--";
    if (dRate > 0.0) {
        const long nLeft = static_cast<long>(static_cast<double>(nTotal - nDone) / dRate + 0.5);
        std::snprintf(szLeft, sizeof(szLeft), "%ld:%02ld", nLeft / 60, nLeft % 60);
    }
    constexpr int BAR_WIDTH = 30;
    char szBar[BAR_WIDTH + 1];
    const int nFilled = static_cast<int>(nDone * BAR_WIDTH / nTotal);
    for (int i = 0; i < BAR_WIDTH; ++i)
        szBar[i] = i < nFilled ? '#' : '.';
    szBar[BAR_WIDTH] = '\0';
    std::fprintf(stderr, "\r\033[K[%s] %llu/%llu records %3d%%  %.1f rec/s  %s left", szBar,
                 static_cast<unsigned long long>(nDone), static_cast<unsigned long long>(nTotal), nPercent, dRate, szLeft);
    std::fflush(stderr);
    m_bBarDrawn = true;
}

void CCliHost::EraseBar()
{
    if (!m_bBarDrawn)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_bBarDrawn = false;
}

void CCliHost::Finish()
{
    EraseBar();
    m_nRangeMax = 0;
    if (m_bQuiet && !m_strLastCaption.empty())
        PrintLine(m_strLastCaption);
}

bool CCliHost::WaitAndDispatch(uint32_t nMaxWaitMs, int*)
{
    if (m_queue.Size() == 0)
        m_queue.WaitForMessage(nMaxWaitMs);
    while (auto msg = m_queue.TryTake())
        Dispatch(*msg);
    return true;
}

void CCliHost::Dispatch(CLinkMessage& msg)
{
    if (msg.nMsg == WM_CLI_CANCEL) {
        if (g_bTransferring != 0 && g_bCancelTransfer == 0) {
            EraseBar();
            std::fprintf(stderr, "matrixctl send: cancelling; the end-of-transfer byte is still sent.\n");
        }
        g_bCancelTransfer = 1;
        return;
    }
    DispatchLinkMessage(msg);
    if (msg.pCompletion)
        msg.pCompletion->Complete(0);
}

struct CSignalWatcher::CImpl {
    explicit CImpl(CMessageQueue& queue)
        : cancel([&queue](int nSignal) {
              queue.Post(CLinkMessage{WM_CLI_CANCEL, static_cast<uintptr_t>(nSignal), 0, nullptr});
          })
    {
    }
    CConsoleCancel cancel;
};

CSignalWatcher::CSignalWatcher(CMessageQueue& queue) : m_pImpl(std::make_unique<CImpl>(queue)) {}

CSignalWatcher::~CSignalWatcher() = default;
