#include "KrTimeStamp.h"

#include <atomic>

namespace {

std::atomic<KrTimeStamp::Clock> g_clock{nullptr};

} // namespace

KrTimeStamp KrTimeStamp::Now()
{
    const Clock clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : SystemNow();
}

void KrTimeStamp::SetClock(Clock clock)
{
    g_clock.store(clock, std::memory_order_release);
}
