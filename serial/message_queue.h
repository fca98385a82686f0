#pragma once
// A thread-safe message queue for hosts without a toolkit (matrixctl, tests): the monitor
// thread posts into it, the owner's thread waits on it without spinning.

#include <cstdint>
#include <deque>
#include <optional>

#include "platform/wait_lock.h"
#include "serial/link_messages.h"

class CMessageQueue {
public:
    void Post(CLinkMessage msg);
    // Takes the oldest message, if any, without waiting.
    std::optional<CLinkMessage> TryTake();
    // Waits until a message is queued or nTimeoutMs of real time has passed; true when a
    // message is waiting. Does not take it.
    bool WaitForMessage(uint32_t nTimeoutMs);
    // Asks the pumping thread to stop (like a quit message): WaitForMessage returns at once
    // while the request stands.
    void PostQuit(int nExitCode);
    std::optional<int> TakeQuit();
    size_t Size() const;

private:
    mutable CWaitLock m_lock;
    std::deque<CLinkMessage> m_queue;
    std::optional<int> m_nQuitCode;
};
