#pragma once
// `matrixctl send` to several ports at once: the file read and checked once, every port opened
// first, then one transfer per port, each on a thread of its own with its own link, queue and
// CRecordTransfer, so that a device that is silent, answers wrongly or goes away slows or ends
// only its own transfer.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/gang_report.h"
#include "cli/progress_line.h"
#include "serial/link_messages.h"
#include "serial/message_queue.h"
#include "serial/serial_link.h"
#include "transfer/record_transfer.h"
#include "transfer/transfer_host.h"

// What the command line asks of a send to several ports.
class CMatrixApp;

struct CGangSendRequest {
    std::vector<int> anPorts;
    std::string strFile; // the pattern file, as a full path
    uint32_t nReplyTimeLimitMs = REPLY_TIME_LIMIT_MS;
    uint32_t nGiveUpAfterRecords = 0;
    uint32_t nMaxWrongReplies = 0;
    bool bAllOrNone = false; // send nothing unless every port opens
    bool bJson = false;      // the summary as JSON on stdout, and no status lines there
    COutputChoice output;
};

// Runs the whole send; returns the exit status (CombineSendExitStatuses of the ports'). app is
// the program's application object, with the file of the request: each port's update log line
// is written where its folders say.
int RunGangSend(const CGangSendRequest& request, CMatrixApp& app);

class CGangBoard;

// One port of the send: its link's owner, its transfer's status window, progress bar and
// message pump. Its transfer runs on a thread of its own (Start) and everything it is told
// arrives on that thread, except PostLinkMessage (the link's monitor) and Cancel (any thread).
class CGangPort : public ILinkOwner, public IStatusWindow, public IProgressBar, public IMessagePump {
public:
    CGangPort(int nPort, size_t nIndex, CGangBoard& board);
    ~CGangPort() override;
    CGangPort(const CGangPort&) = delete;
    CGangPort& operator=(const CGangPort&) = delete;

    // Opens the port (false: GetOpenFailure says why) or takes a device already open (a test's).
    bool Open();
    bool OpenDevice(std::unique_ptr<ISerialDevice> pDevice);
    const CPortOpenFailure& GetOpenFailure() const { return m_link.GetOpenFailure(); }
    CRecordTransfer& GetTransfer() { return m_transfer; }

    // Sends data on a thread of its own; fnDone is called on that thread once it has ended.
    // False when no thread could be made (nothing was sent).
    bool Start(const std::vector<uint8_t>& data, std::function<void()> fnDone);
    // Asks the running transfer to stop, from any thread; the end-of-transfer byte still goes.
    void Cancel();
    // Waits for the transfer's thread and lets the link go; then the result is final.
    void Finish();
    CGangPortResult GetResult() const;

    void PostLinkMessage(CLinkMessage msg) override;
    void ShowPortError(const std::string& strText, const std::string& strCaption) override;
    void SetWindowText(const std::string& strText) override;
    void MessageBox(const std::string& strText) override;
    void SetRange(uint64_t nMin, uint64_t nMax) override;
    void SetPos(uint64_t nPos) override;
    bool WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode) override;

private:
    const int m_nPort;
    const size_t m_nIndex;
    CGangBoard& m_board;
    CMessageQueue m_queue;
    CRecordTransfer m_transfer;
    CSerialLink m_link;
    std::string m_strDevice;
    std::thread m_thread;
    CTransferOutcome m_outcome;
    double m_dSeconds = 0.0;
};

// What the ports show while they run, written by one thread at a time: on a terminal that
// follows cursor sequences one line per port on stderr, redrawn in place; otherwise (and on
// stdout in any case) the status lines, each starting with its port.
class CGangBoard {
public:
    CGangBoard(const COutputChoice& output, bool bJson, const std::vector<int>& anPorts);

    // A status text of port nIndex, with its resends so far.
    void ShowStatus(size_t nIndex, const std::string& strText, uint32_t nResends);
    void SetTotal(size_t nIndex, uint64_t nRecords);
    void SetDone(size_t nIndex, uint64_t nRecords);
    void SetState(size_t nIndex, const std::string& strState);
    // A sentence on stderr, clear of the lines.
    void PrintDiagnostic(const std::string& strText);
    // A line on stdout, clear of the lines; false once stdout could not be written.
    void PrintLine(const std::string& strText);
    // Redraws the lines, at most a few times a second unless bNow.
    void Redraw(bool bNow);
    // Whether the lines are drawn at all (a terminal): then Redraw wants calling now and then.
    bool IsLive() const { return m_bLive; }
    // Draws the lines a last time and leaves them; prints each port's held-back final text in
    // quiet mode.
    void Finish();
    bool IsOutputLost() const;

private:
    struct CRow {
        CGangLineFacts facts;
        std::string strLastText;
    };
    void EraseLocked();
    void DrawLocked();
    void PrintLineLocked(const std::string& strText);

    mutable std::mutex m_mutex;
    const COutputChoice m_output;
    const bool m_bJson;
    const bool m_bLive;
    std::vector<CRow> m_aRows;
    bool m_bDrawn = false;
    // Once the lines were left for the last time, nothing draws them again.
    bool m_bFinished = false;
    bool m_bOutputLost = false;
    std::chrono::steady_clock::time_point m_tLastDrawn;
};
