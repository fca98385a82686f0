#include "platform/message_queue.h"

#include <chrono>

void CMessageQueue::Post(CLinkMessage msg)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(msg));
    }
    m_cond.notify_all();
}

std::optional<CLinkMessage> CMessageQueue::TryTake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty())
        return std::nullopt;
    CLinkMessage msg = std::move(m_queue.front());
    m_queue.pop_front();
    return msg;
}

bool CMessageQueue::WaitForMessage(uint32_t nTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                    [this] { return !m_queue.empty() || m_nQuitCode.has_value(); });
    return !m_queue.empty();
}

void CMessageQueue::PostQuit(int nExitCode)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nQuitCode = nExitCode;
    }
    m_cond.notify_all();
}

std::optional<int> CMessageQueue::TakeQuit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<int> nCode = m_nQuitCode;
    m_nQuitCode.reset();
    return nCode;
}

size_t CMessageQueue::Size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}
