#include "CTextChangeThrottle.h"

#include <QElapsedTimer>
#include <algorithm>

namespace {

qint64 SteadyMs()
{
    static QElapsedTimer s_timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return s_timer.elapsed();
}

} // namespace

CTextChangeThrottle::CTextChangeThrottle() : CTextChangeThrottle(SLimits()) {}

CTextChangeThrottle::CTextChangeThrottle(SLimits limits, Clock clock) : m_limits(limits)
{
    m_limits.nIntervalMs = std::max(0, m_limits.nIntervalMs);
    m_limits.nMaxChars = std::max(0, m_limits.nMaxChars);
    SetClock(std::move(clock));
}

void CTextChangeThrottle::SetClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock(SteadyMs);
}

void CTextChangeThrottle::Changed(qint64 nRemoved, qint64 nAppended, int nCount)
{
    nRemoved = std::max<qint64>(0, nRemoved);
    nAppended = std::max<qint64>(0, nAppended);
    nCount = std::max(0, nCount);
    if (nRemoved == 0 && nAppended == 0 && nCount == m_nCount)
        return;
    m_nRemoved += nRemoved;
    // What was appended and not yet told sits at the end; a trim may have
    // taken part of it again.
    m_nAppended = std::min<qint64>(m_nAppended + nAppended, nCount);
    m_nCount = nCount;
    m_bPending = true;
}

void CTextChangeThrottle::Reset()
{
    m_bPending = false;
    m_bToldBefore = false;
    m_nRemoved = 0;
    m_nAppended = 0;
    m_nCount = 0;
}

qint64 CTextChangeThrottle::MsUntilDue() const
{
    if (!m_bPending)
        return -1;
    if (!m_bToldBefore)
        return 0;
    return std::max<qint64>(0, m_nToldAt + m_limits.nIntervalMs - m_clock());
}

bool CTextChangeThrottle::Take(SNotice& notice)
{
    if (MsUntilDue() != 0)
        return false;
    notice.nRemoved = m_nRemoved;
    notice.nCount = m_nCount;
    notice.nInsertFrom =
        m_nCount - static_cast<int>(std::min<qint64>(m_nAppended, m_limits.nMaxChars));
    m_nRemoved = 0;
    m_nAppended = 0;
    m_bPending = false;
    m_bToldBefore = true;
    m_nToldAt = m_clock();
    return true;
}
