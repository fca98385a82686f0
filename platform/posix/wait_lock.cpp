#include "platform/wait_lock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct CWaitLock::CImpl {
    std::mutex mutex;
    std::condition_variable cond;
};

CWaitLock::CWaitLock() : m_pImpl(std::make_unique<CImpl>()) {}

CWaitLock::~CWaitLock() = default;

void CWaitLock::lock()
{
    m_pImpl->mutex.lock();
}

void CWaitLock::unlock()
{
    m_pImpl->mutex.unlock();
}

void CWaitLock::WaitFor(uint32_t nTimeoutMs)
{
    // The caller holds the mutex: adopted for the wait and handed back afterwards.
    std::unique_lock<std::mutex> lock(m_pImpl->mutex, std::adopt_lock);
    m_pImpl->cond.wait_for(lock, std::chrono::milliseconds(nTimeoutMs));
    lock.release();
}

void CWaitLock::Wait()
{
    std::unique_lock<std::mutex> lock(m_pImpl->mutex, std::adopt_lock);
    m_pImpl->cond.wait(lock);
    lock.release();
}

void CWaitLock::WakeAll()
{
    m_pImpl->cond.notify_all();
}
