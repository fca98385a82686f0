#pragma once
// The record transfer: sends the application's transfer file to the device over
// g_pSerialLink one 12-byte record at a time, judging the device's framed reply after each.
// Runs on the owner's thread; while it waits it pumps that thread's messages (g_pMessagePump),
// so the reply assembler and a cancel request run inside the wait.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/link_messages.h"
#include "transfer/transfer_host.h"

class CMatrixApp;
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

// Transfer state, used only on the owner's thread.
extern int32_t g_bTransferring;
extern int32_t g_bCancelTransfer;
extern uint8_t g_nReplyStatus;
extern uint8_t g_abReplyBuffer[REPLY_BUFFER_SIZE];
extern IProgressBar* g_pTransferProgress;
extern IMessagePump* g_pMessagePump;
// Ours: set by the owner's WM_LINK_LOST handler; ends a running transfer at once.
extern int32_t g_bLinkLost;
// The reply time limit per send; matrixctl's --reply-timeout replaces it.
extern uint32_t g_nReplyTimeLimitMs;
// Limits for a device that answers badly, set by matrixctl (--give-up-after and
// --max-wrong-replies); 0, the dialogs' setting, is no limit. The transfer stops once
// g_nGiveUpAfterRecords records in a row were given up without any reply; a record answered
// wrongly g_nMaxWrongReplies times in a row is given up as an unanswered one is.
extern uint32_t g_nGiveUpAfterRecords;
extern uint32_t g_nMaxWrongReplies;

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
    uint32_t nWrongGivenUp = 0;    // of those, the ones given up after g_nMaxWrongReplies wrong replies
    uint32_t nTrailingBytes = 0;   // bytes after the last whole record, not sent
    uint32_t nResends = 0;         // sends of a record after its first (a wrong reply, or none in time)
    bool bCancelled = false;       // a cancel cut the transfer short
    bool bLinkLost = false;
    bool bGaveUp = false;          // stopped after g_nGiveUpAfterRecords records in a row got no reply
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

// Sends data, the transfer file as LoadPatternFile read it, and reports progress through
// pStatus and g_pTransferProgress.
CTransferOutcome SendPatternFile(IStatusWindow* pStatus, CMatrixApp& app, const std::vector<uint8_t>& data);

// A device update on g_pSerialLink, opened already (OpenUpdateLink): the host's progress bar
// and message pump serve the transfer for as long as it runs, the cancel flag starts clear and
// the link's monitor starts; then SendPatternFile. The globals are the host's again afterwards.
CTransferOutcome RunUpdateTransfer(IStatusWindow* pStatus, CMatrixApp& app, const std::vector<uint8_t>& data,
                                   IProgressBar* pProgress, IMessagePump* pPump);

// Queues the bytes on g_pSerialLink and waits up to nLimitMs for a judged reply; returns
// g_nReplyStatus as the wait ended.
uint8_t SendAndWait(const uint8_t* pData, uint32_t nLength, uint32_t nLimitMs);

// Dispatches the thread's messages for at most nDurationMs; returns 0, or the exit code of a
// quit message that ended it early.
int PumpMessages(uint32_t nDurationMs);

// Judges one reply: the nLength bytes of the current reply in arrival order (from its start
// marker, without its end marker). Sets *pnStatus to REPLY_OK when they hold "ok" (as text,
// up to a zero byte), else REPLY_ABNORMAL. Always returns 1. The link is not used.
int JudgeReply(const uint8_t* pReply, size_t nLength, const void* pLink, uint8_t* pnStatus);

// The reply assembler: the owner's WM_LINK_RXBYTE handler calls this with each byte. Bytes are
// stored in g_abReplyBuffer (the start marker at position 0); the end marker has the reply
// judged before it is stored.
void AssembleReplyByte(uint8_t nByte);
// Forgets the reply assembler's state (a new program run, or a test).
void ResetReplyAssembler();
// A block was queued on the link as number nBlock (QueueWrite's). What the assembler holds of
// an unfinished reply is dropped, so only a reply that starts after this send counts, and a byte
// the link read before it wrote nBlock (still queued for us) is not taken as its answer.
void ExpectReplyTo(uint64_t nBlock);

// The owner's WM_LINK_LOST handler calls this.
void NoteLinkLost(int nPort);

// The message handling a transfer's owner needs: WM_LINK_RXBYTE to the reply assembler (unless
// the byte was read before the send now answered), WM_LINK_LOST noted, WM_LINK_CTS and the
// others ignored. The host hands a sent notification's result back (CSendCompletion) after this.
void DispatchLinkMessage(const CLinkMessage& msg);

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
