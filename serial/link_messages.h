#pragma once
// Notifications from a serial link's monitor thread to the link's owner, and the owner
// interface through which they travel. The engine knows no toolkit: the GUI turns a
// message into a posted Qt event, matrixctl and the tests into an entry of their own queue.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/wait_lock.h"

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_LINK_BREAK = WM_USER + 1;  // sent, EV_BREAK
constexpr uint32_t WM_LINK_CTS = WM_USER + 2;    // sent, EV_CTS
constexpr uint32_t WM_LINK_ERR = WM_USER + 4;    // sent, EV_ERR
constexpr uint32_t WM_LINK_RING = WM_USER + 5;   // sent, EV_RING
constexpr uint32_t WM_LINK_RXBYTE = WM_USER + 7; // posted, one per received byte (wParam)
constexpr uint32_t WM_LINK_RXFLAG = WM_USER + 8; // sent, EV_RXFLAG
// Ours: the device went away (adapter pulled, hang-up, I/O error). Posted once; the
// monitor thread has ended. wParam 0, lParam the port number.
constexpr uint32_t WM_LINK_LOST = WM_USER + 9;

// Comm event mask bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;

// The hand-back of a synchronous ("sent") notification. The sender waits until the owner's
// thread has handled the message, or until the sender gives up because its link is closing:
// that way a link being destroyed on the owner's thread never waits on itself.
class CSendCompletion {
public:
    // Called by the owner's thread after handling the message.
    void Complete(intptr_t nResult)
    {
        std::lock_guard<CWaitLock> lock(m_lock);
        m_nResult = nResult;
        m_bDone = true;
        m_lock.WakeAll();
    }
    // Called by the sender when it stops waiting (the link is closing).
    void Abandon()
    {
        std::lock_guard<CWaitLock> lock(m_lock);
        m_bAbandoned = true;
        m_lock.WakeAll();
    }
    // Waits until completed or abandoned; returns true when the owner handled the message.
    bool Wait(intptr_t* pnResult = nullptr)
    {
        std::lock_guard<CWaitLock> lock(m_lock);
        while (!m_bDone && !m_bAbandoned)
            m_lock.Wait();
        if (m_bDone && pnResult != nullptr)
            *pnResult = m_nResult;
        return m_bDone;
    }

private:
    CWaitLock m_lock;
    bool m_bDone = false;
    bool m_bAbandoned = false;
    intptr_t m_nResult = 0;
};

struct CLinkMessage {
    uint32_t nMsg = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    // Set for sent notifications: whoever handles the message calls Complete on it.
    std::shared_ptr<CSendCompletion> pCompletion;
    // For WM_LINK_RXBYTE: how many blocks the link had written (its QueueWrite numbers) when it
    // read the byte. A byte may wait in the owner's queue while the next block goes out; this
    // says which send it can answer.
    uint64_t nWrittenBlocks = 0;
};

// What the link was doing when the port failed, and how.
enum class EPortStep {
    SetTimeouts,
    SetEventMask,
    GetState,
    BuildState,
    SetState,
    Wait,            // waiting for input, hang-up or a write request
    Read,
    Write,
    WriteCompletion, // waiting for a write to leave
};

struct CPortStepFailure {
    EPortStep eStep = EPortStep::Read;
    int nPort = 0;
    std::string strSystemText;
};

// The caption and text of the "Application Error" box the dialogs show for such a failure: the
// step is named by the call of the original desktop program on every system, as users know it.
extern const char* const PORT_ERROR_CAPTION;
std::string PortErrorBoxText(const CPortStepFailure& failure);

class ILinkOwner {
public:
    virtual ~ILinkOwner() = default;
    // Called on the monitor thread: queue the message for the owner's own thread and
    // return at once. Must be safe to call from any thread.
    virtual void PostLinkMessage(CLinkMessage msg) = 0;
    // A port failure a person must see (the "Application Error" box). May be called on the
    // monitor thread; the host shows it on its own terms (message box, stderr).
    // The link calls both functions while it holds its owner guard (so that SetOwner(nullptr)
    // returns only when no call into the old owner is running): neither may wait for the
    // owner's own thread. Queue the text and return.
    virtual void ShowPortError(const std::string& strText, const std::string& strCaption) = 0;
    // The same failure as facts, called in the same way. By default it becomes the box above
    // (PortErrorBoxText); a host that words it in its own language overrides it.
    virtual void ShowPortFailure(const CPortStepFailure& failure);
};
