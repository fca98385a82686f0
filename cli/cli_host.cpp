#include "cli/cli_host.h"

#include "cli/cli_output.h"
#include "platform/console_cancel.h"
#include "platform/console_output.h"
#include "text/printable.h"
#include "transfer/record_transfer.h"

namespace {

using CSteadyClock = std::chrono::steady_clock;

// A fast transfer redraws the bar at most this often: four times a second reads as live, and
// a console that is slow to draw (Wine's takes milliseconds a write) does not hold it up.
constexpr auto BAR_REDRAW_INTERVAL = std::chrono::milliseconds(250);

// What the link was doing, with the port's name put in.
std::string DescribePortStep(EPortStep eStep, const std::string& strPort)
{
    switch (eStep) {
    case EPortStep::SetTimeouts: return "setting the time limits of " + strPort;
    case EPortStep::SetEventMask: return "choosing the events " + strPort + " reports";
    case EPortStep::GetState: return "reading the line settings of " + strPort;
    case EPortStep::BuildState: return "building the line settings for " + strPort;
    case EPortStep::SetState: return "applying the line settings to " + strPort;
    case EPortStep::Wait: return "waiting on " + strPort;
    case EPortStep::Read: return "reading from " + strPort;
    case EPortStep::Write: return "writing to " + strPort;
    case EPortStep::WriteCompletion: return "waiting for a write to " + strPort + " to finish";
    }
    return "using " + strPort;
}

} // namespace

CCliHost::CCliHost(const COutputChoice& output)
    : m_output(output), m_bBarSequences(output.bShowBar && DoesConsoleFollowSequences(EConsoleStream::Error))
{
}

void CCliHost::PostLinkMessage(CLinkMessage msg)
{
    m_queue.Post(std::move(msg));
}

void CCliHost::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    PrintDiagnostic(strCaption + ": " + strText);
}

void CCliHost::ShowPortFailure(const CPortStepFailure& failure)
{
    PrintDiagnostic("matrixctl send: " + DescribePortStep(failure.eStep, "COM" + std::to_string(failure.nPort))
                    + " failed: " + EscapeForTerminal(failure.strSystemText) + ".");
}

void CCliHost::SetWindowText(const std::string& strText)
{
    m_strLastCaption = strText;
    m_bLastCaptionShown = ShouldPrintStatus(m_output.eMode, ClassifyStatusText(strText));
    if (m_bLastCaptionShown)
        PrintLine(strText);
}

void CCliHost::PrintLine(const std::string& strText)
{
    EraseBar();
    // A reader that went away (a pipe into head) must not end the transfer: SIGPIPE is
    // ignored, and once a write fails the rest of the lines are dropped.
    if (!m_bOutputLost && !WriteOutput(strText + "\n"))
        m_bOutputLost = true;
    DrawBar(true);
}

void CCliHost::PrintDiagnostic(const std::string& strText)
{
    EraseBar();
    WriteError(strText + "\n");
    DrawBar(true);
}

void CCliHost::MessageBox(const std::string& strText)
{
    PrintDiagnostic("matrixctl send: " + strText);
}

void CCliHost::SetRange(uint64_t, uint64_t nMax)
{
    m_nRangeMax = nMax;
    m_nDone = 0;
    m_tStart = CSteadyClock::now();
    DrawBar(true);
}

void CCliHost::SetPos(uint64_t nPos)
{
    // The position is that of the record just handled; the range's end means all of them.
    const uint64_t nTotal = m_nRangeMax / RECORD_SIZE;
    m_nDone = nPos >= m_nRangeMax ? nTotal : nPos / RECORD_SIZE + 1;
    DrawBar(m_nDone >= nTotal);
}

void CCliHost::DrawBar(bool bNow)
{
    if (!m_output.bShowBar || m_nRangeMax < RECORD_SIZE || !m_tStart)
        return;
    const auto now = CSteadyClock::now();
    if (!bNow && m_tLastDrawn && now - *m_tLastDrawn < BAR_REDRAW_INTERVAL)
        return;
    m_tLastDrawn = now;
    CProgressFacts facts;
    facts.nTotal = m_nRangeMax / RECORD_SIZE;
    facts.nDone = m_nDone < facts.nTotal ? m_nDone : facts.nTotal;
    const double dSeconds = std::chrono::duration<double>(now - *m_tStart).count();
    if (dSeconds > 0.0 && facts.nDone > 0) {
        facts.dRecordsPerSecond = static_cast<double>(facts.nDone) / dSeconds;
        facts.nSecondsLeft =
            static_cast<long>(static_cast<double>(facts.nTotal - facts.nDone) / facts.dRecordsPerSecond + 0.5);
    }
    const std::string strLine = FormatProgressLine(facts, GetConsoleColumns(EConsoleStream::Error));
    std::string strDraw = "\r" + strLine;
    // Where the terminal follows sequences the rest of the old line is erased with one;
    // elsewhere (a Windows console without them) spaces cover what the new line does not.
    if (m_bBarSequences)
        strDraw += "\x1b[K";
    else if (strLine.size() < m_nBarLength)
        strDraw.append(m_nBarLength - strLine.size(), ' ');
    WriteError(strDraw);
    m_nBarLength = strLine.size();
    m_bBarDrawn = true;
}

void CCliHost::EraseBar()
{
    if (!m_bBarDrawn)
        return;
    if (m_bBarSequences)
        WriteError("\r\x1b[K");
    else {
        std::string strBlank = "\r";
        strBlank.append(m_nBarLength, ' ');
        WriteError(strBlank.append("\r"));
    }
    m_bBarDrawn = false;
}

void CCliHost::Finish()
{
    EraseBar();
    m_nRangeMax = 0;
    if (!m_bLastCaptionShown && m_output.eMode == EOutputMode::Quiet && !m_strLastCaption.empty())
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
        if (m_pTransfer == nullptr)
            return;
        if (m_pTransfer->IsTransferring() && !m_pTransfer->IsCancelRequested())
            PrintDiagnostic("matrixctl send: cancelling; the end-of-transfer byte is still sent.");
        m_pTransfer->RequestCancel();
        return;
    }
    if (m_pTransfer != nullptr)
        m_pTransfer->DispatchLinkMessage(msg);
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
