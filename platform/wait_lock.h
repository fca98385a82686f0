#pragma once
// A lock with a condition to wait on, as each system does it best: std::mutex and
// std::condition_variable on Linux; on Windows the system's own slim lock and condition
// variable. The C++ library of the Windows cross compiler builds its condition variable on
// semaphores, and under Wine every hand-over through one is a trip through Wine's server: about
// five times as long as the system's own, and its timed waits oversleep by a millisecond or two.
// The engine hands every received byte and every sent notification across threads this way.

#include <cstdint>
#include <memory>

class CWaitLock {
public:
    CWaitLock();
    ~CWaitLock();
    CWaitLock(const CWaitLock&) = delete;
    CWaitLock& operator=(const CWaitLock&) = delete;

    // Named as the standard's locks are, so that std::lock_guard and std::unique_lock take it.
    void lock();
    void unlock();

    // Called with the lock held: releases it until WakeAll is called or nTimeoutMs have passed,
    // and holds it again on return. It may also return without either, so callers check their
    // condition in a loop.
    void WaitFor(uint32_t nTimeoutMs);
    void Wait();
    void WakeAll();

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_pImpl;
};
