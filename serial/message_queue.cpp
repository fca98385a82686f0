#include "serial/message_queue.h"

#include <chrono>
#include <mutex>

void CMessageQueue::Post(CLinkMessage msg)
{
    std::lock_guard<CWaitLock> lock(m_lock);
    m_queue.push_back(std::move(msg));
    m_lock.WakeAll();
}

std::optional<CLinkMessage> CMessageQueue::TryTake()
{
    std::lock_guard<CWaitLock> lock(m_lock);
    if (m_queue.empty())
        return std::nullopt;
    CLinkMessage msg = std::move(m_queue.front());
    m_queue.pop_front();
    return msg;
}

bool CMessageQueue::WaitForMessage(uint32_t nTimeoutMs)
{
    const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    std::lock_guard<CWaitLock> lock(m_lock);
    while (m_queue.empty() && !m_nQuitCode.has_value()) {
        const auto tLeft = tDeadline - std::chrono::steady_clock::now();
        if (tLeft <= std::chrono::steady_clock::duration::zero())
            break;
        // Rounded up, so that a wait never ends a little before its time and goes round again.
        m_lock.WaitFor(static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(tLeft).count()));
    }
    return !m_queue.empty();
}

void CMessageQueue::PostQuit(int nExitCode)
{
    std::lock_guard<CWaitLock> lock(m_lock);
    m_nQuitCode = nExitCode;
    m_lock.WakeAll();
}

std::optional<int> CMessageQueue::TakeQuit()
{
    std::lock_guard<CWaitLock> lock(m_lock);
    std::optional<int> nCode = m_nQuitCode;
    m_nQuitCode.reset();
    return nCode;
}

size_t CMessageQueue::Size() const
{
    std::lock_guard<CWaitLock> lock(m_lock);
    return m_queue.size();
}
