#pragma once
// matrixctl as the record transfer's host: captions become lines on stdout (all of them, or on
// a terminal with the progress bar only those that matter), boxes lines on stderr, the progress
// bar a live line on stderr when it is a terminal, and the link's messages travel through a
// queue of our own that the transfer pumps.

#include <chrono>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/progress_line.h"
#include "serial/link_messages.h"
#include "serial/message_queue.h"
#include "transfer/record_transfer.h"
#include "transfer/transfer_host.h"

// Ours: a cancel request from the signal watcher, carried through the queue so that the flag
// is only ever touched on the transfer's thread.
constexpr uint32_t WM_CLI_CANCEL = WM_USER + 100;

class CCliHost : public ILinkOwner, public IStatusWindow, public IProgressBar, public IMessagePump {
public:
    explicit CCliHost(const COutputChoice& output);

    // The transfer this host serves: a cancel request taken from the queue goes to it.
    void SetTransfer(CRecordTransfer* pTransfer) { m_pTransfer = pTransfer; }

    void PostLinkMessage(CLinkMessage msg) override;
    void ShowPortError(const std::string& strText, const std::string& strCaption) override;
    // In English, naming what failed in plain words rather than the dialogs' call names.
    void ShowPortFailure(const CPortStepFailure& failure) override;
    void SetWindowText(const std::string& strText) override;
    void MessageBox(const std::string& strText) override;
    void SetRange(uint64_t nMin, uint64_t nMax) override;
    void SetPos(uint64_t nPos) override;
    bool WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode) override;

    // Prints the last caption when it was held back (quiet mode), and ends the progress line.
    void Finish();
    // A line on stdout in every mode (the closing instruction, the final sentences).
    void PrintLine(const std::string& strText);
    // A sentence on stderr, clear of the progress line.
    void PrintDiagnostic(const std::string& strText);
    // True once a line could not be written to stdout (its reader went away).
    bool IsOutputLost() const { return m_bOutputLost; }
    CMessageQueue& GetQueue() { return m_queue; }

private:
    void Dispatch(CLinkMessage& msg);
    // Redraws the bar; bNow also when it was drawn a moment ago.
    void DrawBar(bool bNow);
    void EraseBar();

    CMessageQueue m_queue;
    CRecordTransfer* m_pTransfer = nullptr;
    const COutputChoice m_output;
    // Whether the terminal of the bar erases with a sequence (else with spaces); it does not
    // change while the program runs.
    const bool m_bBarSequences;
    bool m_bBarDrawn = false;
    // How wide the bar was drawn, for a terminal that is cleared with spaces.
    size_t m_nBarLength = 0;
    bool m_bOutputLost = false;
    uint64_t m_nRangeMax = 0;
    uint64_t m_nDone = 0;
    std::optional<std::chrono::steady_clock::time_point> m_tStart;
    // When the bar was last drawn: a fast transfer redraws it a few times a second, not once
    // per record, which would make a slow console the bottleneck.
    std::optional<std::chrono::steady_clock::time_point> m_tLastDrawn;
    std::string m_strLastCaption;
    bool m_bLastCaptionShown = true;
};

// Watches the console's cancel requests (SIGINT, SIGTERM, SIGHUP and SIGQUIT; Ctrl-C,
// Ctrl-Break and closing the console on Windows) for as long as it lives and turns each into a
// WM_CLI_CANCEL message. Construct it before any other thread starts, so that every thread inherits the
// blocked signals.
class CSignalWatcher {
public:
    explicit CSignalWatcher(CMessageQueue& queue);
    ~CSignalWatcher();
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};
