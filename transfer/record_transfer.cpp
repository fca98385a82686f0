#include "transfer/record_transfer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_util.h"
#include "platform/tick_clock.h"
#include "serial/serial_link.h"

ETransferEnding CTransferOutcome::GetEnding() const
{
    if (!bStarted)
        return ETransferEnding::NothingSent;
    // A record the device did not confirm may be missing or half-stored on it: committing the
    // pattern there would keep the damage.
    if (bLinkLost || bCancelled || bGaveUp || nAnswered < nRecords)
        return ETransferEnding::Incomplete;
    return ETransferEnding::Complete;
}

namespace {

const char* const TEXT_EMPTY_FILE = "傳送檔案為0,請先轉檔";
const char* const TEXT_PROGRAMMING = "Now program %d data...";
const char* const TEXT_SENDING = "傳送第%d/%d筆";
const char* const TEXT_REPLY_OK = "傳送第%d筆資料回應OK";
const char* const TEXT_REPLY_ABNORMAL = "傳送第%d筆資料回應異常";
const char* const TEXT_NO_REPLY = "傳送第%d筆資料無回應";
// Ours: the wait for record %d was cut short by a cancel; it is not a missing reply.
const char* const TEXT_RECORD_CANCELLED = "傳送第%d筆資料時已取消更新";
const char* const TEXT_FINISHED = "點矩陣繪圖軟體 傳輸埠:COM%d 已傳送共 %d 行資料...";
const char* const TEXT_UNANSWERED = " 其中 %d 筆無回應";
const char* const TEXT_TRAILING = " 檔案尾端 %d 位元組不足一筆,未傳送";
const char* const TEXT_CANCELLED = " 已取消更新";
const char* const TEXT_GAVE_UP = " 連續 %d 筆無回應,已停止傳送";
const char* const TEXT_LINK_LOST = "傳輸埠:COM%d 連線中斷,已傳送 %d/%d 筆資料,更新未完成";

// The largest pattern file the transfer takes: over two weeks of records at 9600 baud. A file
// chosen by mistake (a disk image, a device) is refused instead of filling the memory.
constexpr size_t MAX_TRANSFER_FILE_BYTES = 256u * 1024u * 1024u;

// How long to let the end-of-transfer byte leave the port before giving the link back: a
// cancelled transfer ends its wait at once, and a program that closes right after must not
// destroy the link with the byte still queued.
constexpr uint32_t TERMINATOR_FLUSH_LIMIT_MS = 1000;

std::string FormatText(const char* pszFormat, ...)
{
    char szText[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    return szText;
}

EPatternFileProblem PatternFileProblemOf(EFileReadError eError)
{
    switch (eError) {
    case EFileReadError::None: return EPatternFileProblem::None;
    case EFileReadError::CannotOpen: return EPatternFileProblem::CannotOpen;
    case EFileReadError::NotRegularFile: return EPatternFileProblem::NotRegularFile;
    case EFileReadError::TooLong: return EPatternFileProblem::TooLong;
    case EFileReadError::CannotRead: return EPatternFileProblem::CannotRead;
    case EFileReadError::NoMemory: return EPatternFileProblem::NoMemory;
    }
    return EPatternFileProblem::CannotRead;
}

} // namespace

// Pumps messages for up to nDurationMs, returning early once bStop() is true. Blocks on the
// queue between messages instead of polling it.
template <typename TStop>
int CRecordTransfer::PumpMessagesUntil(uint32_t nDurationMs, TStop bStop)
{
    const uint32_t nStart = GetTickCount();
    for (;;) {
        const uint32_t nElapsed = TicksSince(nStart);
        if (nElapsed >= nDurationMs || bStop() || m_pMessagePump == nullptr)
            return 0;
        int nQuitCode = 0;
        if (!m_pMessagePump->WaitAndDispatch(nDurationMs - nElapsed, &nQuitCode))
            return nQuitCode;
    }
}

// The block just queued never left the port: no reply can come for it.
bool CRecordTransfer::DidWriteFail() const
{
    return m_pSerialLink != nullptr && m_pSerialLink->DidLastWriteFail();
}

bool CRecordTransfer::IsWaitOver() const
{
    return m_nReplyStatus != REPLY_NONE || IsCancelRequested() || m_bLinkLost != 0 || DidWriteFail();
}

int CRecordTransfer::PumpMessages(uint32_t nDurationMs)
{
    return PumpMessagesUntil(nDurationMs, [] { return false; });
}

uint8_t CRecordTransfer::SendAndWait(const uint8_t* pData, uint32_t nLength, uint32_t nLimitMs)
{
    m_nReplyStatus = REPLY_NONE;
    const uint32_t nStart = GetTickCount();
    if (m_pSerialLink != nullptr)
        ExpectReplyTo(m_pSerialLink->QueueWrite(pData, nLength));
    while (TicksSince(nStart) < nLimitMs) {
        if (IsWaitOver())
            break;
        // The same 10 ms slices as ever, but a judged reply, a cancel request or a lost link
        // ends the slice as soon as it has been dispatched.
        PumpMessagesUntil(WAIT_SLICE_MS, [this] { return IsWaitOver(); });
    }
    return m_nReplyStatus;
}

int JudgeReply(const uint8_t* pReply, size_t nLength, const void* /*pLink*/, uint8_t* pnStatus)
{
    // The reply is searched as text: it ends at its first zero byte.
    const uint8_t* pEnd = static_cast<const uint8_t*>(std::memchr(pReply, 0, nLength));
    const size_t nText = pEnd != nullptr ? static_cast<size_t>(pEnd - pReply) : nLength;
    bool bOk = false;
    for (size_t i = 0; i + 1 < nText && !bOk; ++i)
        bOk = pReply[i] == 'o' && pReply[i + 1] == 'k';
    *pnStatus = bOk ? REPLY_OK : REPLY_ABNORMAL;
    return 1;
}

void CRecordTransfer::AssembleReplyByte(uint8_t nByte)
{
    if (nByte == REPLY_START_MARKER) {
        m_nReplyWritePos = 0;
        m_nReplyLength = 0;
        m_bReplyTorn = false;
    } else if (nByte == REPLY_END_MARKER && !m_bReplyTorn) {
        // Judge exactly the bytes of this reply, oldest first. Whatever an earlier, longer
        // reply left behind them in the buffer is not part of it.
        const size_t nKept = m_nReplyLength < REPLY_BUFFER_SIZE ? m_nReplyLength : REPLY_BUFFER_SIZE;
        uint8_t abReply[REPLY_BUFFER_SIZE];
        for (size_t i = 0; i < nKept; ++i)
            abReply[i] = m_abReplyBuffer[(m_nReplyWritePos + REPLY_BUFFER_SIZE - nKept + i) % REPLY_BUFFER_SIZE];
        JudgeReply(abReply, nKept, m_pSerialLink, &m_nReplyStatus);
    }
    m_abReplyBuffer[m_nReplyWritePos] = nByte;
    m_nReplyWritePos = (m_nReplyWritePos + 1) % REPLY_BUFFER_SIZE;
    // The end marker closes the reply: bytes after it belong to the next one.
    m_nReplyLength = nByte == REPLY_END_MARKER ? 0 : m_nReplyLength + 1;
}

void CRecordTransfer::ResetReplyAssembler()
{
    std::memset(m_abReplyBuffer, 0, sizeof(m_abReplyBuffer));
    m_nReplyWritePos = 0;
    m_nReplyLength = 0;
    m_nReplyStatus = REPLY_NONE;
    m_bReplyTorn = false;
    m_nAwaitedBlock = 0;
}

void CRecordTransfer::ExpectReplyTo(uint64_t nBlock)
{
    // The head of a reply that began before this send never joins bytes that come after it.
    m_nReplyLength = 0;
    m_bReplyTorn = true;
    m_nAwaitedBlock = nBlock;
    m_nReplyStatus = REPLY_NONE;
}

void CRecordTransfer::NoteLinkLost(int nPort)
{
    m_bLinkLost = 1;
    m_nLinkLostPort = nPort;
}

void CRecordTransfer::DispatchLinkMessage(const CLinkMessage& msg)
{
    // WM_LINK_CTS and the other line notifications need nothing.
    if (msg.nMsg == WM_LINK_RXBYTE) {
        // Bytes travel through the owner's queue, so one the link read before it wrote the
        // block now awaited can still be waiting when that send starts: it answers an earlier send.
        if (msg.nWrittenBlocks >= m_nAwaitedBlock)
            AssembleReplyByte(static_cast<uint8_t>(msg.wParam & 0xFF));
    }
    else if (msg.nMsg == WM_LINK_LOST)
        NoteLinkLost(static_cast<int>(msg.lParam));
}

bool LoadPatternFile(IStatusWindow* pStatus, const std::string& strPath, std::vector<uint8_t>* pData,
                     CTransferOutcome* pOutcome)
{
    std::string strError;
    CFileReadFailure readFailure;
    CPatternFileProblem& problem = pOutcome->fileProblem;
    problem.strPath = strPath;
    if (strPath.empty()) {
        problem.eKind = EPatternFileProblem::NotChosen;
        pOutcome->strFailure = "No pattern file is chosen: choose the file to send first.";
    } else if (!ReadWholeFile(strPath, pData, &strError, MAX_TRANSFER_FILE_BYTES, &readFailure)) {
        problem.eKind = PatternFileProblemOf(readFailure.eKind);
        problem.nErrno = readFailure.nErrno;
        problem.eFileType = readFailure.eFileType;
        pOutcome->strFailure = strError;
    } else if (pData->empty()) {
        problem.eKind = EPatternFileProblem::Empty;
        pOutcome->strFailure = TEXT_EMPTY_FILE;
    } else if (pData->size() < RECORD_SIZE) {
        // Nothing whole to send: the same as an empty file, with the reason the bytes stay.
        problem.eKind = EPatternFileProblem::NoWholeRecord;
        pOutcome->nTrailingBytes = static_cast<uint32_t>(pData->size());
        pOutcome->strFailure =
            std::string(TEXT_EMPTY_FILE) + FormatText(TEXT_TRAILING, static_cast<int>(pData->size()));
    } else if (!CheckPatternRecords(pData->data(), pData->size(), &problem.markerFault)) {
        // A text file or an image renamed .bin: the device would ignore every record, each
        // after five full waits. Refused before a byte goes out.
        problem.eKind = EPatternFileProblem::NotPatternFile;
        pOutcome->strFailure = DescribePatternMarkerFault(strPath, problem.markerFault);
    }
    if (pOutcome->strFailure.empty())
        return true;
    pData->clear();
    pStatus->ReportFileProblem(problem, pOutcome->strFailure);
    return false;
}

enum class CRecordTransfer::ERecordResult {
    Answered,     // a good reply came
    Unanswered,   // given up after five sends without a reply
    WrongGivenUp, // given up after the wrong-reply limit was reached in a row
    Cancelled,    // the operator asked to stop while it waited
    LinkLost,
};

// Sends one record until the device answers it well, stops answering, the operator cancels or
// the link is lost. A wrong reply is resent (without limit unless the wrong-reply limit says
// otherwise); silence at most four more times.
CRecordTransfer::ERecordResult CRecordTransfer::SendRecord(IStatusWindow* pStatus, const uint8_t* pRecord, int nIndex)
{
    int nAttempts = 0;
    uint32_t nWrongInRow = 0;
    for (;;) {
        const uint8_t nStatus = SendAndWait(pRecord, RECORD_SIZE, m_nReplyTimeLimitMs);
        if (m_bLinkLost != 0)
            return ERecordResult::LinkLost;
        // A record that was not written was not sent: the link has shown its error, and
        // it counts as lost when writes keep failing, which ends this loop.
        if (nStatus == REPLY_NONE && DidWriteFail() && !IsCancelRequested())
            continue;
        if (nStatus == REPLY_OK) {
            pStatus->SetWindowText(FormatText(TEXT_REPLY_OK, nIndex));
            return ERecordResult::Answered;
        }
        if (nStatus == REPLY_ABNORMAL) {
            // The device asked for the record again. The count is settled before the text is
            // shown, so that a host reading it there sees this resend.
            const bool bGiveUp = m_nMaxWrongReplies != 0 && ++nWrongInRow >= m_nMaxWrongReplies;
            if (!bGiveUp)
                ++m_outcome.nResends;
            pStatus->SetWindowText(FormatText(TEXT_REPLY_ABNORMAL, nIndex));
            if (bGiveUp)
                return ERecordResult::WrongGivenUp;
            continue;
        }
        // The wait ended without a reply. Cut short by a cancel, it says nothing about the
        // device, which may well have answered a moment later.
        if (IsCancelRequested()) {
            pStatus->SetWindowText(FormatText(TEXT_RECORD_CANCELLED, nIndex));
            return ERecordResult::Cancelled;
        }
        nWrongInRow = 0;
        const bool bGiveUp = nAttempts > EXTRA_ATTEMPTS_AFTER_SILENCE - 1;
        if (!bGiveUp)
            ++m_outcome.nResends;
        pStatus->SetWindowText(FormatText(TEXT_NO_REPLY, nIndex));
        if (bGiveUp)
            return ERecordResult::Unanswered;
        ++nAttempts;
    }
}

// Sends the end-of-transfer byte (also after a cancel) and waits until it has left the port.
void CRecordTransfer::SendEndOfTransfer()
{
    const uint8_t abTerminator[1] = {END_OF_TRANSFER_BYTE};
    SendAndWait(abTerminator, 1, m_nReplyTimeLimitMs);
    // The write finishing posts no message, so look again after each slice.
    const uint32_t nFlushStart = GetTickCount();
    while (m_pSerialLink != nullptr && m_pSerialLink->IsWritePending() && m_bLinkLost == 0
           && TicksSince(nFlushStart) < TERMINATOR_FLUSH_LIMIT_MS)
        PumpMessages(WAIT_SLICE_MS);
    // A device that resets or goes away once it has the end-of-transfer byte has finished.
    m_bLinkLost = 0;
}

// The text that stays in the caption once the transfer has ended.
std::string CRecordTransfer::FinalText(const CTransferOutcome& outcome) const
{
    // Nothing more can reach the device after a lost link: the operator must not take the
    // update for finished.
    if (outcome.bLinkLost)
        return FormatText(TEXT_LINK_LOST, m_nLinkLostPort, static_cast<int>(outcome.nHandled),
                          static_cast<int>(outcome.nRecords));
    std::string strFinal = FormatText(TEXT_FINISHED, outcome.nPort, static_cast<int>(outcome.nHandled));
    if (outcome.nUnanswered > 0)
        strFinal += FormatText(TEXT_UNANSWERED, static_cast<int>(outcome.nUnanswered));
    if (outcome.nTrailingBytes > 0)
        strFinal += FormatText(TEXT_TRAILING, static_cast<int>(outcome.nTrailingBytes));
    if (outcome.bGaveUp)
        strFinal += FormatText(TEXT_GAVE_UP, static_cast<int>(m_nGiveUpAfterRecords));
    // A cancelled run must not read like a finished one.
    if (outcome.bCancelled)
        strFinal += TEXT_CANCELLED;
    return strFinal;
}

bool OpenUpdateLink(CSerialLink& link, ILinkOwner* pOwner, int nPort)
{
    return link.OpenPort(pOwner, nPort, UPDATE_LINK_BAUD, UPDATE_LINK_PARITY, UPDATE_LINK_DATA_BITS,
                         UPDATE_LINK_STOP_BITS, UPDATE_LINK_EVENT_MASK, UPDATE_LINK_WRITE_BUFFER);
}

CTransferOutcome CRecordTransfer::SendPatternFile(IStatusWindow* pStatus, int nPort, const std::vector<uint8_t>& data)
{
    // The outcome is built in the object as the transfer goes, so that the status window can
    // read the counts so far (GetOutcomeSoFar) whenever a text is shown.
    m_outcome = CTransferOutcome();
    CTransferOutcome& outcome = m_outcome;
    outcome.bStarted = true;
    outcome.nPort = nPort;
    m_bTransferring.store(1);
    m_bLinkLost = 0;
    const uint64_t nLength = data.size();
    // Only whole records are sent; a trailing piece shorter than a record is reported, never
    // read past or sent.
    outcome.nRecords = static_cast<uint32_t>(nLength / RECORD_SIZE);
    outcome.nTrailingBytes = static_cast<uint32_t>(nLength % RECORD_SIZE);
    const int nRecords = static_cast<int>(outcome.nRecords);
    pStatus->SetWindowText(FormatText(TEXT_PROGRAMMING, nRecords));
    if (m_pTransferProgress != nullptr)
        m_pTransferProgress->SetRange(0, nLength);

    uint32_t nSilentInRow = 0;
    for (uint64_t nOffset = 0; nOffset + RECORD_SIZE <= nLength; nOffset += RECORD_SIZE) {
        if (IsCancelRequested())
            break;
        const int nIndex = static_cast<int>(nOffset / RECORD_SIZE);
        pStatus->SetWindowText(FormatText(TEXT_SENDING, nIndex, nRecords));
        const ERecordResult eResult = SendRecord(pStatus, data.data() + nOffset, nIndex);
        if (eResult == ERecordResult::LinkLost) {
            outcome.bLinkLost = true;
            break;
        }
        if (eResult == ERecordResult::Answered)
            ++outcome.nAnswered;
        if (eResult == ERecordResult::Unanswered || eResult == ERecordResult::WrongGivenUp)
            ++outcome.nUnanswered;
        if (eResult == ERecordResult::WrongGivenUp)
            ++outcome.nWrongGivenUp;
        // Only records given up without any reply make a dead device; anything it says does not.
        nSilentInRow = eResult == ERecordResult::Unanswered ? nSilentInRow + 1 : 0;
        outcome.nHandled = static_cast<uint32_t>(nIndex) + 1;
        if (m_pTransferProgress != nullptr)
            m_pTransferProgress->SetPos(nOffset);
        PumpMessages(WAIT_SLICE_MS);
        if (m_nGiveUpAfterRecords != 0 && nSilentInRow >= m_nGiveUpAfterRecords
            && outcome.nHandled < outcome.nRecords) {
            outcome.bGaveUp = true;
            break;
        }
    }
    // A cancel that came once every record had its answer cut nothing short.
    outcome.bCancelled = IsCancelRequested() && !outcome.bLinkLost
                         && outcome.nAnswered + outcome.nUnanswered < outcome.nRecords;

    if (!outcome.bLinkLost)
        SendEndOfTransfer();
    // The bar's positions are the records' offsets, so the last one leaves it a record short.
    if (outcome.GetEnding() == ETransferEnding::Complete && m_pTransferProgress != nullptr)
        m_pTransferProgress->SetPos(nLength);
    pStatus->SetWindowText(FinalText(outcome));
    m_bTransferring.store(0);
    return outcome;
}

CTransferOutcome CRecordTransfer::RunUpdateTransfer(IStatusWindow* pStatus, int nPort, const std::vector<uint8_t>& data,
                                                    IProgressBar* pProgress, IMessagePump* pPump)
{
    m_pTransferProgress = pProgress;
    ClearCancel();
    if (m_pSerialLink != nullptr)
        m_pSerialLink->StartMonitor();
    // The transfer pumps the host's messages while it waits: received bytes reach the reply
    // assembler, and a second press of the host's button reaches its cancel.
    IMessagePump* pPreviousPump = m_pMessagePump;
    m_pMessagePump = pPump;
    const CTransferOutcome outcome = SendPatternFile(pStatus, nPort, data);
    m_pMessagePump = pPreviousPump;
    m_pTransferProgress = nullptr;
    return outcome;
}

namespace {

// Whether strText is exactly what pszFormat makes of nNumbers whole numbers.
bool IsTextOfFormat(const std::string& strText, const char* pszFormat, int nNumbers)
{
    const std::string strFormat = std::string(pszFormat) + "%n";
    int anNumbers[2] = {0, 0};
    int nEnd = -1;
    const int nMatched = nNumbers == 1 ? std::sscanf(strText.c_str(), strFormat.c_str(), &anNumbers[0], &nEnd)
                                       : std::sscanf(strText.c_str(), strFormat.c_str(), &anNumbers[0], &anNumbers[1], &nEnd);
    return nMatched == nNumbers && nEnd == static_cast<int>(strText.size());
}

} // namespace

EStatusTextKind ClassifyStatusText(const std::string& strText)
{
    if (IsTextOfFormat(strText, TEXT_PROGRAMMING, 1))
        return EStatusTextKind::Starting;
    if (IsTextOfFormat(strText, TEXT_SENDING, 2))
        return EStatusTextKind::Sending;
    if (IsTextOfFormat(strText, TEXT_REPLY_OK, 1))
        return EStatusTextKind::Answered;
    if (IsTextOfFormat(strText, TEXT_REPLY_ABNORMAL, 1))
        return EStatusTextKind::AnsweredWrongly;
    if (IsTextOfFormat(strText, TEXT_NO_REPLY, 1))
        return EStatusTextKind::NoReply;
    return EStatusTextKind::Other;
}
