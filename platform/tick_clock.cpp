#include "platform/tick_clock.h"

#include <atomic>
#include <chrono>

namespace {

class CSteadyTickSource final : public ITickSource {
public:
    uint32_t GetTickCount() override
    {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(ms.count());
    }
};

CSteadyTickSource g_steadySource;
std::atomic<ITickSource*> g_pTickSource{&g_steadySource};

} // namespace

uint32_t GetTickCount()
{
    return g_pTickSource.load(std::memory_order_acquire)->GetTickCount();
}

ITickSource* SetTickSource(ITickSource* pSource)
{
    ITickSource* pNew = pSource != nullptr ? pSource : &g_steadySource;
    ITickSource* pOld = g_pTickSource.exchange(pNew, std::memory_order_acq_rel);
    return pOld == &g_steadySource ? nullptr : pOld;
}
