#pragma once
// The record transfer: sends a pattern file to the device over a serial link one 12-byte
// record at a time, judging the device's framed reply after each. Each transfer is one
// CRecordTransfer; several can run at once, one per port.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/link_messages.h"
#include "transfer/transfer_host.h"

class CSerialLink;

constexpr uint32_t RECORD_SIZE = 12;
constexpr uint32_t REPLY_TIME_LIMIT_MS = 16200;
constexpr uint32_t WAIT_SLICE_MS = 10;
constexpr int EXTRA_ATTEMPTS_AFTER_SILENCE = 4;
constexpr uint8_t END_OF_TRANSFER_BYTE = 0xC3;
constexpr uint8_t REPLY_START_MARKER = 0xFB;
constexpr uint8_t REPLY_END_MARKER = 0xFE;
constexpr size_t REPLY_BUFFER_SIZE = 256;

enum : uint8_t {
    REPLY_NONE = 0,
    REPLY_OK = 1,
    REPLY_ABNORMAL = 2,
};

// How an update ended, decided once from the facts below.
enum class ETransferEnding {
    Complete,    // every record answered OK, nothing cancelled, the link kept
    Incomplete,  // it ran, but the device did not confirm every record
    NothingSent, // the file or the port could not be used: not a byte reached the device
};

// How a transfer ended, as facts; each front end words them (the dialogs' boxes, matrixctl's
// lines and exit status).
struct CTransferOutcome {
    bool bStarted = false;         // false: the file or the port could not be used, nothing was sent
    int nPort = 0;                 // the COM port the transfer ran on
    uint32_t nRecords = 0;         // whole records in the file
    uint32_t nHandled = 0;         // records handled (answered, given up, or left by a cancel)
    uint32_t nAnswered = 0;        // records the device answered OK
    uint32_t nUnanswered = 0;      // records given up: five sends without a reply, or too many wrong replies
    uint32_t nWrongGivenUp = 0;    // of those, the ones given up after the transfer's wrong-reply limit
    uint32_t nTrailingBytes = 0;   // bytes after the last whole record, not sent
    uint32_t nResends = 0;         // sends of a record after its first (wrong replies, silence)
    bool bCancelled = false;       // a cancel cut the transfer short
    bool bLinkLost = false;
    bool bGaveUp = false;          // stopped once the transfer's limit of silent records in a row was reached
    std::string strFailure;        // for !bStarted: the core's sentence saying why
    CPatternFileProblem fileProblem; // for !bStarted: why, as facts

    ETransferEnding GetEnding() const;
};

// Reads the pattern file strPath whole and checks every record's markers, before any port is
// opened. False, after pStatus was told why (ReportFileProblem), when it must not be sent: no
// file, unreadable, not a regular file, too large, empty, no whole record, or not a pattern
// file; *pOutcome then holds the facts. The bytes in *pData are the ones to send.
bool LoadPatternFile(IStatusWindow* pStatus, const std::string& strPath, std::vector<uint8_t>* pData,
                     CTransferOutcome* pOutcome);

// Judges one reply: the nLength bytes of the current reply in arrival order (from its start
// marker, without its end marker). Sets *pnStatus to REPLY_OK when they hold "ok" (as text,
// up to a zero byte), else REPLY_ABNORMAL. Always returns 1. The link is not used.
int JudgeReply(const uint8_t* pReply, size_t nLength, const void* pLink, uint8_t* pnStatus);

// One transfer: its link, reply assembler, flags, limits, progress bar and message pump. It
// runs on its owner's thread; while it waits it pumps that thread's messages (its message
// pump), so its reply assembler and a cancel request run inside the wait. Several of them run
// side by side, each on a thread of its own, without sharing anything.
class CRecordTransfer {
public:
    CRecordTransfer() = default;
    CRecordTransfer(const CRecordTransfer&) = delete;
    CRecordTransfer& operator=(const CRecordTransfer&) = delete;

    // What the transfer runs on; the link is the owner's and must outlive the transfer's use.
    void SetLink(CSerialLink* pLink) { m_pSerialLink = pLink; }
    CSerialLink* GetLink() const { return m_pSerialLink; }
    void SetProgress(IProgressBar* pProgress) { m_pTransferProgress = pProgress; }
    void SetMessagePump(IMessagePump* pPump) { m_pMessagePump = pPump; }
    // The reply time limit per send; matrixctl's --reply-timeout replaces it.
    void SetReplyTimeLimit(uint32_t nLimitMs) { m_nReplyTimeLimitMs = nLimitMs; }
    uint32_t GetReplyTimeLimit() const { return m_nReplyTimeLimitMs; }
    // Limits for a device that answers badly (matrixctl's --give-up-after and
    // --max-wrong-replies); 0, the dialogs' setting, is no limit. The transfer stops once
    // nGiveUpAfterRecords records in a row were given up without any reply; a record answered
    // wrongly nMaxWrongReplies times in a row is given up as an unanswered one is.
    void SetLimits(uint32_t nGiveUpAfterRecords, uint32_t nMaxWrongReplies)
    {
        m_nGiveUpAfterRecords = nGiveUpAfterRecords;
        m_nMaxWrongReplies = nMaxWrongReplies;
    }
    uint32_t GetGiveUpAfterRecords() const { return m_nGiveUpAfterRecords; }
    uint32_t GetMaxWrongReplies() const { return m_nMaxWrongReplies; }

    // Asks the running transfer to stop; any thread may ask. Cleared when a run starts
    // (RunUpdateTransfer) or by ClearCancel, never by the transfer itself.
    void RequestCancel() { m_bCancelTransfer.store(1); }
    void ClearCancel() { m_bCancelTransfer.store(0); }
    bool IsCancelRequested() const { return m_bCancelTransfer.load() != 0; }
    // True while SendPatternFile is between its start and its end.
    bool IsTransferring() const { return m_bTransferring.load() != 0; }

    // Sends data, the transfer file as LoadPatternFile read it, over the link, and reports
    // progress through pStatus and the progress bar. nPort is the port the final text names.
    CTransferOutcome SendPatternFile(IStatusWindow* pStatus, int nPort, const std::vector<uint8_t>& data);

    // A device update on the link, opened already (OpenUpdateLink): the host's progress bar and
    // message pump serve the transfer for as long as it runs, the cancel flag starts clear and
    // the link's monitor starts; then SendPatternFile. The bar and pump are let go afterwards.
    CTransferOutcome RunUpdateTransfer(IStatusWindow* pStatus, int nPort, const std::vector<uint8_t>& data,
                                       IProgressBar* pProgress, IMessagePump* pPump);

    // Queues the bytes on the link and waits up to nLimitMs for a judged reply; returns the
    // reply status as the wait ended.
    uint8_t SendAndWait(const uint8_t* pData, uint32_t nLength, uint32_t nLimitMs);
    // Dispatches the thread's messages for at most nDurationMs; returns 0, or the exit code of a
    // quit message that ended it early.
    int PumpMessages(uint32_t nDurationMs);

    // The reply assembler: the owner's WM_LINK_RXBYTE handler calls this with each byte. Bytes
    // are stored in the reply buffer (the start marker at position 0); the end marker has the
    // reply judged before it is stored.
    void AssembleReplyByte(uint8_t nByte);
    // Forgets the reply assembler's state (a new transfer object starts so already).
    void ResetReplyAssembler();
    // A block was queued on the link as number nBlock (QueueWrite's). What the assembler holds
    // of an unfinished reply is dropped, and the status of an earlier reply with it, so only a
    // reply that starts after this send counts, and a byte the link read before it wrote nBlock
    // (still queued for us) is not taken as its answer.
    void ExpectReplyTo(uint64_t nBlock);
    // The facts of the running (or last) transfer so far; a status window may read them on the
    // transfer's thread whenever a text is shown.
    const CTransferOutcome& GetOutcomeSoFar() const { return m_outcome; }
    // REPLY_NONE, REPLY_OK or REPLY_ABNORMAL: the judgement of the last reply since a send.
    uint8_t GetReplyStatus() const { return m_nReplyStatus; }

    // The owner's WM_LINK_LOST handler calls this; a running transfer ends at once.
    void NoteLinkLost(int nPort);
    // The message handling a transfer's owner needs: WM_LINK_RXBYTE to the reply assembler
    // (unless the byte was read before the send now answered), WM_LINK_LOST noted, WM_LINK_CTS
    // and the others ignored. The host hands a sent notification's result back
    // (CSendCompletion) after this.
    void DispatchLinkMessage(const CLinkMessage& msg);

private:
    enum class ERecordResult;
    template <typename TStop>
    int PumpMessagesUntil(uint32_t nDurationMs, TStop bStop);
    bool DidWriteFail() const;
    bool IsWaitOver() const;
    ERecordResult SendRecord(IStatusWindow* pStatus, const uint8_t* pRecord, int nIndex);
    void SendEndOfTransfer();
    std::string FinalText(const CTransferOutcome& outcome) const;

    std::atomic<int32_t> m_bTransferring{0};
    std::atomic<int32_t> m_bCancelTransfer{0};
    uint8_t m_nReplyStatus = REPLY_NONE;
    // One per transfer, zero when it starts and never cleared afterwards: several transfers at
    // once must not hear each other's devices.
    uint8_t m_abReplyBuffer[REPLY_BUFFER_SIZE] = {};
    // Where the next received byte goes, and how many bytes the current reply has stored so far
    // (counted from its start marker, or from the end of the previous reply when no start
    // marker came). The count may exceed the buffer: the buffer then holds the reply's last
    // 256 bytes.
    size_t m_nReplyWritePos = 0;
    size_t m_nReplyLength = 0;
    // Set by a send until a start marker comes: what arrives before it is the end of a reply to
    // an earlier send (or noise), and an end marker then completes nothing.
    bool m_bReplyTorn = false;
    // The number of the block whose answer is awaited; bytes the link read before writing it
    // are older than the send.
    uint64_t m_nAwaitedBlock = 0;
    IProgressBar* m_pTransferProgress = nullptr;
    IMessagePump* m_pMessagePump = nullptr;
    CSerialLink* m_pSerialLink = nullptr;
    // Set by the owner's WM_LINK_LOST handler; ends a running transfer at once.
    int32_t m_bLinkLost = 0;
    int m_nLinkLostPort = 0;
    uint32_t m_nReplyTimeLimitMs = REPLY_TIME_LIMIT_MS;
    uint32_t m_nGiveUpAfterRecords = 0;
    uint32_t m_nMaxWrongReplies = 0;
    CTransferOutcome m_outcome;
};

// How a device update opens its port: 9600 baud, no parity, 8 data bits, 1 stop bit, the
// received-byte and clear-to-send events, a 1024-byte write buffer.
constexpr int UPDATE_LINK_BAUD = 9600;
constexpr char UPDATE_LINK_PARITY = 'N';
constexpr int UPDATE_LINK_DATA_BITS = 8;
constexpr int UPDATE_LINK_STOP_BITS = 1;
constexpr uint32_t UPDATE_LINK_EVENT_MASK = EV_RXCHAR | EV_CTS;
constexpr uint32_t UPDATE_LINK_WRITE_BUFFER = 1024;
// Opens COMn on the link with those settings; the link's GetOpenFailure says why it could not.
bool OpenUpdateLink(CSerialLink& link, ILinkOwner* pOwner, int nPort);

// What a status text of the transfer says, for a front end that shows only some of them (a
// terminal with a progress bar needs no line per record).
enum class EStatusTextKind {
    Starting,        // "Now program N data..."
    Sending,         // a record goes out: "傳送第i/N筆"
    Answered,        // a record answered well
    AnsweredWrongly, // a wrong reply: the record is sent again
    NoReply,         // no reply in time: sent again, or given up after five sends
    Other,           // the final text, a lost link, and anything else
};
EStatusTextKind ClassifyStatusText(const std::string& strText);
