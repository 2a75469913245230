#pragma once
// Figures the benchmarks share: megabytes (10^6 bytes) and the processor
// time of this process or of the calling thread.

#include <QtGlobal>

#include <sys/resource.h>
#include <sys/time.h>

inline double MB(qint64 nBytes)
{
    return nBytes / 1e6;
}

inline double Seconds(const timeval& tv)
{
    return tv.tv_sec + tv.tv_usec / 1e6;
}

// User plus system time of this process (RUSAGE_SELF) or of the calling
// thread (RUSAGE_THREAD).
inline double CpuSeconds(int nWho)
{
    rusage ru{};
    getrusage(nWho, &ru);
    return Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
}
