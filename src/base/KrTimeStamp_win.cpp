#include "KrTimeStamp.h"

#include <chrono>

KrTimeStamp KrTimeStamp::SystemNow()
{
    using namespace std::chrono;
    // The steady clock is the performance counter, which goes on while the
    // system sleeps.
    const qint64 nWall =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const qint64 nMono =
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    return KrTimeStamp{nWall, nMono};
}
