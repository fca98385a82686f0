#include "platform/wait_lock.h"

#include <windows.h>

// Neither can fail to be made: both are plain words the system waits on in the process itself.
struct CWaitLock::CImpl {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE cond = CONDITION_VARIABLE_INIT;
};

CWaitLock::CWaitLock() : m_pImpl(std::make_unique<CImpl>()) {}

CWaitLock::~CWaitLock() = default;

void CWaitLock::lock()
{
    ::AcquireSRWLockExclusive(&m_pImpl->lock);
}

void CWaitLock::unlock()
{
    ::ReleaseSRWLockExclusive(&m_pImpl->lock);
}

void CWaitLock::WaitFor(uint32_t nTimeoutMs)
{
    // A time-out is the caller's to notice: its condition is checked again either way.
    (void)::SleepConditionVariableSRW(&m_pImpl->cond, &m_pImpl->lock, nTimeoutMs, 0);
}

void CWaitLock::Wait()
{
    (void)::SleepConditionVariableSRW(&m_pImpl->cond, &m_pImpl->lock, INFINITE, 0);
}

void CWaitLock::WakeAll()
{
    ::WakeAllConditionVariable(&m_pImpl->cond);
}
