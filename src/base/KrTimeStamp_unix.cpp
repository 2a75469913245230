#include "KrTimeStamp.h"

#include <time.h>

namespace {

qint64 Microseconds(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

KrTimeStamp KrTimeStamp::SystemNow()
{
    // The boot-time clock is monotonic and, unlike CLOCK_MONOTONIC, goes on
    // while the system is suspended, so a gap across a suspension is as long
    // as it was.
    return KrTimeStamp{Microseconds(CLOCK_REALTIME), Microseconds(CLOCK_BOOTTIME)};
}
