#include "CLogPacing.h"

#include <algorithm>
#include <chrono>

CLogPacing::CLogPacing(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] {
            return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count());
        };
}

qint64 CLogPacing::MsUntilWrite() const
{
    if (!m_bWritten)
        return 0;
    return std::clamp<qint64>(m_nLastMs + kIntervalMs - m_clock(), 0, kIntervalMs);
}

void CLogPacing::Writing()
{
    m_bWritten = true;
    m_nLastMs = m_clock();
}
