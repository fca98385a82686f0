#pragma once
// The Qt side of what the core asks of its host window: a message pump over the Qt event
// queue, a progress bar, and a link owner that turns the monitor thread's notifications
// into events posted to a QObject on the user-interface thread.

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>

#include "serial/link_messages.h"
#include "transfer/transfer_host.h"

class QProgressBar;

// Pumps the calling thread's Qt events. While nothing is waiting it sleeps in the event
// dispatcher until an event arrives or the time is up; it never spins.
class CQtMessagePump : public IMessagePump {
public:
    CQtMessagePump();
    ~CQtMessagePump() override;
    CQtMessagePump(const CQtMessagePump&) = delete;
    CQtMessagePump& operator=(const CQtMessagePump&) = delete;

    bool WaitAndDispatch(uint32_t nMaxWaitMs, int* pnQuitCode) override;

private:
    class CQuitWatcher;
    CQuitWatcher* m_pQuitWatcher;
};

// Drives a QProgressBar. The transfer gives byte offsets, which may exceed what the bar's
// int range holds; such ranges are scaled down so the bar still fills in proportion.
class CQtProgressBar : public IProgressBar {
public:
    explicit CQtProgressBar(QProgressBar* pBar) : m_pBar(pBar) {}
    void SetRange(uint64_t nMin, uint64_t nMax) override;
    void SetPos(uint64_t nPos) override;

private:
    int Scale(uint64_t nValue) const;
    QPointer<QProgressBar> m_pBar;
    unsigned m_nShift = 0;
};

// One link notification on its way to the user-interface thread. A synchronous one that is
// dropped unhandled (its receiver went away) releases its sender instead of leaving it waiting.
class CQtLinkEvent : public QEvent {
public:
    static QEvent::Type EventType();
    CQtLinkEvent(CLinkMessage msg, uint64_t nGeneration)
        : QEvent(EventType()), m_msg(std::move(msg)), m_nGeneration(nGeneration)
    {
    }
    ~CQtLinkEvent() override;
    const CLinkMessage& Message() const { return m_msg; }
    uint64_t Generation() const { return m_nGeneration; }
    // Hands a synchronous notification's result back to its sender.
    void Complete(intptr_t nResult);

private:
    CLinkMessage m_msg;
    uint64_t m_nGeneration;
    bool m_bCompleted = false;
};

// The owner a link is opened with. Every owner gets a new generation number, stamped on its
// events, so that bytes still queued from a link that was since replaced can be told apart.
class CQtLinkOwner : public ILinkOwner {
public:
    using ErrorHandler = std::function<void(const std::string& strText, const std::string& strCaption)>;
    // pTarget receives the CQtLinkEvents; fnShowError runs on pTarget's thread. The link must
    // be given another owner (or none) before pTarget is destroyed.
    CQtLinkOwner(QObject* pTarget, ErrorHandler fnShowError);

    void PostLinkMessage(CLinkMessage msg) override;
    void ShowPortError(const std::string& strText, const std::string& strCaption) override;

    uint64_t Generation() const { return m_nGeneration; }

private:
    QObject* m_pTarget;
    ErrorHandler m_fnShowError;
    uint64_t m_nGeneration;
};
