#include "cli/gang_send.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "app/operator_texts.h"
#include "cli/cli_host.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/send_status.h"
#include "platform/console_output.h"
#include "platform/port_names.h"
#include "text/printable.h"

namespace {

using CSteadyClock = std::chrono::steady_clock;

// A transfer thread tells the main thread it has ended; wParam is the port's index.
constexpr uint32_t WM_GANG_DONE = WM_USER + 101;

// The lines are redrawn at most this often, as the single bar is.
constexpr auto BOARD_REDRAW_INTERVAL = std::chrono::milliseconds(250);
constexpr uint32_t BOARD_REDRAW_MS = 250;
// Without live lines the main thread only waits for the ports to end and for a cancel.
constexpr uint32_t IDLE_WAIT_MS = 60000;

std::string PortPrefix(int nPort)
{
    return "COM" + std::to_string(nPort) + ": ";
}

// A word for what a port does now, from the text its transfer just showed.
std::string StateOfText(EStatusTextKind eKind, const std::string& strPrevious)
{
    switch (eKind) {
    case EStatusTextKind::Starting:
    case EStatusTextKind::Sending:
    case EStatusTextKind::Answered: return "sending";
    case EStatusTextKind::AnsweredWrongly: return "wrong reply";
    case EStatusTextKind::NoReply: return "no reply";
    case EStatusTextKind::Other: break;
    }
    return strPrevious;
}

} // namespace

CGangBoard::CGangBoard(const COutputChoice& output, bool bJson, const std::vector<int>& anPorts)
    : m_output(output), m_bJson(bJson),
      // Lines redrawn in place need a terminal that moves the cursor up on request.
      m_bLive(output.bShowBar && DoesConsoleFollowSequences(EConsoleStream::Error))
{
    size_t nWidth = 0;
    for (int nPort : anPorts)
        nWidth = std::max(nWidth, ("COM" + std::to_string(nPort)).size());
    for (int nPort : anPorts) {
        CRow row;
        row.facts.nPort = nPort;
        row.facts.nPortWidth = static_cast<int>(nWidth);
        row.facts.strState = "opening";
        m_aRows.push_back(row);
    }
}

void CGangBoard::ShowStatus(size_t nIndex, const std::string& strText, uint32_t nResends)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CRow& row = m_aRows.at(nIndex);
    const EStatusTextKind eKind = ClassifyStatusText(strText);
    row.facts.strState = StateOfText(eKind, row.facts.strState);
    row.facts.nResends = nResends;
    row.strLastText = strText;
    if (m_bJson)
        return;
    // Without live lines the person (or the log) reads every line, as from a single send.
    const EOutputMode eMode = m_output.eMode == EOutputMode::Important && !m_bLive ? EOutputMode::Every : m_output.eMode;
    if (ShouldPrintStatus(eMode, eKind))
        PrintLineLocked(PortPrefix(row.facts.nPort) + strText);
}

void CGangBoard::SetTotal(size_t nIndex, uint64_t nRecords)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aRows.at(nIndex).facts.nTotal = nRecords;
    m_aRows.at(nIndex).facts.nDone = 0;
}

void CGangBoard::SetDone(size_t nIndex, uint64_t nRecords)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aRows.at(nIndex).facts.nDone = nRecords;
}

void CGangBoard::SetState(size_t nIndex, const std::string& strState)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aRows.at(nIndex).facts.strState = strState;
}

void CGangBoard::PrintDiagnostic(const std::string& strText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseLocked();
    WriteError(strText + "\n");
    DrawLocked();
}

void CGangBoard::PrintLine(const std::string& strText)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PrintLineLocked(strText);
}

void CGangBoard::PrintLineLocked(const std::string& strText)
{
    EraseLocked();
    // A reader that went away must not end the transfers: once a write fails the rest of the
    // lines are dropped.
    if (!m_bOutputLost && !WriteOutput(strText + "\n"))
        m_bOutputLost = true;
    DrawLocked();
}

bool CGangBoard::IsOutputLost() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bOutputLost;
}

void CGangBoard::Redraw(bool bNow)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bLive || (!bNow && m_bDrawn && CSteadyClock::now() - m_tLastDrawn < BOARD_REDRAW_INTERVAL))
        return;
    EraseLocked();
    DrawLocked();
}

void CGangBoard::EraseLocked()
{
    if (!m_bDrawn)
        return;
    // The cursor stands at the end of the last line: back to the first one, and everything
    // from there down is cleared.
    std::string strErase = "\r";
    if (m_aRows.size() > 1)
        strErase += "\x1b[" + std::to_string(m_aRows.size() - 1) + "A";
    WriteError(strErase + "\x1b[J");
    m_bDrawn = false;
}

void CGangBoard::DrawLocked()
{
    if (!m_bLive || m_bFinished || m_aRows.empty())
        return;
    const int nColumns = GetConsoleColumns(EConsoleStream::Error);
    std::string strDraw;
    for (size_t i = 0; i < m_aRows.size(); ++i) {
        if (i > 0)
            strDraw += "\n";
        strDraw += FormatGangLine(m_aRows[i].facts, nColumns);
    }
    WriteError(strDraw);
    m_bDrawn = true;
    m_tLastDrawn = CSteadyClock::now();
}

void CGangBoard::Finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseLocked();
    DrawLocked();
    if (m_bDrawn) {
        // The last state of every port stays on the screen, above the table.
        WriteError("\n");
        m_bDrawn = false;
    }
    m_bFinished = true;
    if (m_output.eMode != EOutputMode::Quiet || m_bJson)
        return;
    for (const CRow& row : m_aRows) {
        if (!row.strLastText.empty())
            PrintLineLocked(PortPrefix(row.facts.nPort) + row.strLastText);
    }
}

CGangPort::CGangPort(int nPort, size_t nIndex, CGangBoard& board) : m_nPort(nPort), m_nIndex(nIndex), m_board(board)
{
    m_transfer.SetLink(&m_link);
}

CGangPort::~CGangPort()
{
    Finish();
}

bool CGangPort::Open()
{
    const bool bOpened = OpenUpdateLink(m_link, this, m_nPort);
    // What the port stands for, as `matrixctl ports` shows it: a link's target, the system's
    // device name.
    m_strDevice = DescribeComPort(m_nPort).strDevice;
    if (m_strDevice.empty())
        m_strDevice = bOpened ? m_link.GetDevicePath() : m_link.GetOpenFailure().strDevice;
    return bOpened;
}

bool CGangPort::OpenDevice(std::unique_ptr<ISerialDevice> pDevice)
{
    if (!m_link.OpenDevice(this, m_nPort, std::move(pDevice), UPDATE_LINK_BAUD, UPDATE_LINK_PARITY,
                           UPDATE_LINK_DATA_BITS, UPDATE_LINK_STOP_BITS, UPDATE_LINK_EVENT_MASK,
                           UPDATE_LINK_WRITE_BUFFER))
        return false;
    m_strDevice = m_link.GetDevicePath();
    return true;
}

bool CGangPort::Start(const std::vector<uint8_t>& data, std::function<void()> fnDone)
{
    try {
        m_thread = std::thread([this, &data, fnDone] {
            const auto tStart = CSteadyClock::now();
            m_outcome = m_transfer.RunUpdateTransfer(this, m_nPort, data, this, this);
            m_dSeconds = std::chrono::duration<double>(CSteadyClock::now() - tStart).count();
            m_board.SetState(m_nIndex, DescribeGangOutcome(m_outcome));
            if (fnDone)
                fnDone();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CGangPort::Cancel()
{
    // Through the queue, like every other message, so that it wakes the transfer's wait.
    m_queue.Post(CLinkMessage{WM_CLI_CANCEL, 0, m_nPort, nullptr});
}

void CGangPort::Finish()
{
    if (m_thread.joinable())
        m_thread.join();
    // The link may post to us until it has no owner; it closes when we go.
    m_link.SetOwner(nullptr);
}

CGangPortResult CGangPort::GetResult() const
{
    CGangPortResult result;
    result.nPort = m_nPort;
    result.strDevice = EscapeForTerminal(m_strDevice);
    result.outcome = m_outcome;
    result.outcome.nPort = m_nPort;
    result.dSeconds = m_dSeconds;
    result.nExitStatus = SendExitStatus(m_outcome, false);
    return result;
}

void CGangPort::PostLinkMessage(CLinkMessage msg)
{
    m_queue.Post(std::move(msg));
}

void CGangPort::ShowPortError(const std::string& strText, const std::string& strCaption)
{
    m_board.PrintDiagnostic(PortPrefix(m_nPort) + strCaption + ": " + strText);
}

void CGangPort::SetWindowText(const std::string& strText)
{
    m_board.ShowStatus(m_nIndex, strText, m_transfer.GetOutcomeSoFar().nResends);
}

void CGangPort::MessageBox(const std::string& strText)
{
    m_board.PrintDiagnostic("matrixctl send: " + PortPrefix(m_nPort) + strText);
}

void CGangPort::SetRange(uint64_t, uint64_t nMax)
{
    m_board.SetTotal(m_nIndex, nMax / RECORD_SIZE);
}

void CGangPort::SetPos(uint64_t nPos)
{
    // The position is that of the record just handled; the whole length means all of them.
    const uint64_t nTotal = m_transfer.GetOutcomeSoFar().nRecords;
    m_board.SetDone(m_nIndex, nPos >= static_cast<uint64_t>(nTotal) * RECORD_SIZE ? nTotal : nPos / RECORD_SIZE + 1);
}

bool CGangPort::WaitAndDispatch(uint32_t nMaxWaitMs, int*)
{
    if (m_queue.Size() == 0)
        m_queue.WaitForMessage(nMaxWaitMs);
    while (auto msg = m_queue.TryTake()) {
        if (msg->nMsg == WM_CLI_CANCEL) {
            m_transfer.RequestCancel();
            m_board.SetState(m_nIndex, "cancelling");
            continue;
        }
        m_transfer.DispatchLinkMessage(*msg);
        if (msg->pCompletion)
            msg->pCompletion->Complete(0);
    }
    return true;
}

namespace {

// The end on stdout and stderr: the table (or the JSON), then for each port that did not
// complete what a send to it alone says, then how to finish on the devices that did.
void ReportGangEnd(const CGangSendRequest& request, const std::vector<CGangPortResult>& aResults, uint32_t nRecords,
                   int nExitStatus, CGangBoard& board)
{
    const std::string strFile = EscapeForTerminal(request.strFile);
    for (const CGangPortResult& result : aResults) {
        if (!result.outcome.bStarted)
            continue;
        for (const std::string& strSentence : DescribeSendOutcome(result.outcome, strFile, request.nMaxWrongReplies,
                                                                  request.nGiveUpAfterRecords))
            PrintError("matrixctl send: %s%s\n", PortPrefix(result.nPort).c_str(), strSentence.c_str());
    }
    if (request.bJson) {
        board.PrintLine(FormatGangJson(aResults, request.strFile, nRecords, nExitStatus));
        return;
    }
    std::string strTable = FormatGangSummary(aResults);
    strTable.pop_back();
    board.PrintLine(strTable);
    std::string strComplete;
    for (const CGangPortResult& result : aResults) {
        bool bWarning = false;
        const std::string strEnding = UpdateEndingText(result.outcome, &bWarning);
        if (bWarning)
            board.PrintLine(PortPrefix(result.nPort) + strEnding);
        else if (!strEnding.empty())
            strComplete += (strComplete.empty() ? "COM" : ", COM") + std::to_string(result.nPort);
    }
    // The closing instruction is the same for every device; the devices it is for are named.
    if (!strComplete.empty())
        board.PrintLine(strComplete + ": " + TEXT_CLOSING_INSTRUCTION);
}

} // namespace

int RunGangSend(const CGangSendRequest& request, CMatrixApp& app)
{
    // Signals are watched before any other thread starts, so that every thread inherits the
    // blocked signals; a request becomes a cancel of every port.
    CMessageQueue mainQueue;
    CSignalWatcher signals(mainQueue);
    CGangBoard board(request.output, request.bJson, request.anPorts);
    // One update log line per port, each from its start: also for a file or a port refused.
    std::vector<CUpdateRecorder> aRecorders(request.anPorts.size(), CUpdateRecorder("matrixctl"));
    const auto RecordRefusal = [&](size_t i, CTransferOutcome outcome, const std::string& strReason) {
        outcome.nPort = request.anPorts[i];
        RecordFinishedTransfer(app, aRecorders[i], outcome, {}, strReason, -1.0);
    };

    // The file is read and checked once, before any port is touched.
    CCliHost fileHost(request.output);
    CTransferOutcome refused;
    std::vector<uint8_t> data;
    if (!LoadPatternFile(&fileHost, request.strFile, &data, &refused)) {
        for (const std::string& strSentence :
             DescribeSendOutcome(refused, EscapeForTerminal(request.strFile), 0, 0))
            PrintError("matrixctl send: %s\n", strSentence.c_str());
        for (size_t i = 0; i < request.anPorts.size(); ++i)
            RecordRefusal(i, refused, refused.strFailure);
        return EXIT_CANNOT_START;
    }
    const uint32_t nRecords = static_cast<uint32_t>(data.size() / RECORD_SIZE);

    std::vector<std::unique_ptr<CGangPort>> apPorts;
    size_t nNotOpened = 0;
    for (size_t i = 0; i < request.anPorts.size(); ++i) {
        apPorts.push_back(std::make_unique<CGangPort>(request.anPorts[i], i, board));
        CGangPort& port = *apPorts.back();
        port.GetTransfer().SetReplyTimeLimit(request.nReplyTimeLimitMs);
        port.GetTransfer().SetLimits(request.nGiveUpAfterRecords, request.nMaxWrongReplies);
        aRecorders[i].NotePort(request.anPorts[i]);
        if (!port.Open()) {
            ++nNotOpened;
            board.SetState(i, "not opened");
            PrintError("matrixctl send: %s\n", port.GetOpenFailure().Describe(request.anPorts[i]).c_str());
        }
    }
    if (nNotOpened > 0 && request.bAllOrNone) {
        PrintError("matrixctl send: nothing was sent: %zu of %zu ports could not be opened, and --all-or-none "
                   "sends to all or none.\n",
                   nNotOpened, apPorts.size());
        CTransferOutcome notSent;
        notSent.nRecords = nRecords;
        for (size_t i = 0; i < apPorts.size(); ++i) {
            const CPortOpenFailure& failure = apPorts[i]->GetOpenFailure();
            RecordRefusal(i, notSent, failure.eKind != EPortOpenError::None
                                          ? failure.Describe(request.anPorts[i])
                                          : "Nothing was sent: another port could not be opened, and --all-or-none "
                                            "sends to all or none.");
        }
        return EXIT_CANNOT_START;
    }

    size_t nRunning = 0;
    for (size_t i = 0; i < apPorts.size(); ++i) {
        if (apPorts[i]->GetOpenFailure().eKind != EPortOpenError::None)
            continue;
        CMessageQueue* pMain = &mainQueue;
        if (apPorts[i]->Start(data, [pMain, i] { pMain->Post(CLinkMessage{WM_GANG_DONE, i, 0, nullptr}); }))
            ++nRunning;
        else
            PrintError("matrixctl send: COM%d: no thread could be started for its transfer; nothing was sent.\n",
                       request.anPorts[i]);
    }

    bool bCancelling = false;
    board.Redraw(true);
    while (nRunning > 0) {
        mainQueue.WaitForMessage(board.IsLive() ? BOARD_REDRAW_MS : IDLE_WAIT_MS);
        while (auto msg = mainQueue.TryTake()) {
            if (msg->nMsg == WM_GANG_DONE) {
                --nRunning;
            } else if (msg->nMsg == WM_CLI_CANCEL) {
                if (!bCancelling)
                    board.PrintDiagnostic("matrixctl send: cancelling every port; the end-of-transfer byte is still "
                                          "sent to each.");
                bCancelling = true;
                for (auto& pPort : apPorts)
                    pPort->Cancel();
            }
        }
        board.Redraw(false);
    }

    std::vector<CGangPortResult> aResults;
    std::vector<int> anStatuses;
    for (size_t i = 0; i < apPorts.size(); ++i) {
        CGangPort* pPort = apPorts[i].get();
        pPort->Finish();
        CGangPortResult result = pPort->GetResult();
        result.outcome.nRecords = result.outcome.bStarted ? result.outcome.nRecords : nRecords;
        const CPortOpenFailure& failure = pPort->GetOpenFailure();
        if (!result.outcome.bStarted)
            RecordRefusal(i, result.outcome,
                          failure.eKind != EPortOpenError::None ? failure.Describe(request.anPorts[i]) : std::string());
        else
            RecordFinishedTransfer(app, aRecorders[i], result.outcome, data, std::string(), result.dSeconds);
        anStatuses.push_back(result.nExitStatus);
        aResults.push_back(std::move(result));
    }
    board.Finish();
    int nExitStatus = CombineSendExitStatuses(anStatuses);
    ReportGangEnd(request, aResults, nRecords, nExitStatus, board);
    if (board.IsOutputLost()) {
        PrintError("matrixctl send: standard output was closed during the transfer; the status lines after that "
                   "were lost.\n");
        if (nExitStatus == EXIT_OK)
            nExitStatus = EXIT_OUTPUT_LOST;
    }
    return nExitStatus;
}
