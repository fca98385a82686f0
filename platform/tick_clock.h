#pragma once
// The millisecond tick counter. Production code reads a steady clock; tests install a
// source of their own so that a 16.2 s reply limit takes no real time.

#include <cstdint>

class ITickSource {
public:
    virtual ~ITickSource() = default;
    // Milliseconds since an arbitrary start; wraps at 2^32 like the platform counter.
    virtual uint32_t GetTickCount() = 0;
};

// The current tick count from the installed source (the steady clock by default).
uint32_t GetTickCount();

// Installs a tick source (nullptr restores the steady clock) and returns the previous one.
// Not thread-safe against concurrent GetTickCount calls: install before starting work.
ITickSource* SetTickSource(ITickSource* pSource);

// Milliseconds from nStart to now, correct across the counter's wrap.
inline uint32_t TicksSince(uint32_t nStart)
{
    return GetTickCount() - nStart;
}
