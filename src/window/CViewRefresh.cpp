#include "CViewRefresh.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CViewRefresh::CViewRefresh(std::function<void()> refresh, int nIntervalMs, QObject* pParent,
                           int nStreamIntervalMs)
    : QObject(pParent), m_refresh(std::move(refresh)), m_nIntervalMs(nIntervalMs),
      m_nStreamIntervalMs(nStreamIntervalMs), m_call(this, [this] { OnRequested(); })
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CViewRefresh::Fire);
}

int CViewRefresh::IntervalMs() const
{
    if (m_nIntervalMs > 0)
        return m_nIntervalMs;
    const QScreen* pScreen = QGuiApplication::primaryScreen();
    const qreal rate = pScreen ? pScreen->refreshRate() : 0;
    // A rate the system does not know (or reports oddly) counts as 60 Hz.
    return rate >= 20 && rate <= 500 ? std::max(1, int(std::floor(1000 / rate))) : 16;
}

void CViewRefresh::Appended(qint64 nTrimmed, bool bShow)
{
    m_nStreamStart += nTrimmed;
    if (bShow && !m_bChanged) {
        m_bChanged = true;
        m_nFirstChangeNs = NowNs();
    }
}

void CViewRefresh::Cleared()
{
    m_nStreamStart = 0;
    m_bChanged = false;
}

bool CViewRefresh::TakeChanges(qint64* pStreamStart)
{
    *pStreamStart = m_nStreamStart;
    const bool bChanged = m_bChanged;
    m_bChanged = false;
    if (bChanged && !m_bTookChanges) {
        m_bTookChanges = true;
        m_nTookFirstChangeNs = m_nFirstChangeNs;
    }
    return bChanged;
}

void CViewRefresh::Request()
{
    if (m_bStopped.load() || m_bOnItsWay.exchange(true))
        return;
    m_call.Request();
}

void CViewRefresh::Flush()
{
    if (IsPending())
        Fire();
}

void CViewRefresh::Stop()
{
    m_bStopped.store(true);
    m_timer.stop();
}

void CViewRefresh::OnRequested()
{
    if (m_bStopped.load() || m_timer.isActive() || !m_bOnItsWay.load())
        return; // on its way already, or flushed meanwhile
    m_bFollowUp = false;
    const int nInterval = IntervalMs();
    const qint64 elapsed = m_last.isValid() ? m_last.elapsed() : nInterval;
    if (elapsed < nInterval)
        m_timer.start(int(nInterval - elapsed));
    else
        Fire();
}

void CViewRefresh::Fire()
{
    m_timer.stop();
    if (m_bStopped.load())
        return;
    // Cleared before the refresh takes the changes: whatever is appended
    // after that asks again.
    m_bOnItsWay.store(false);
    const bool bFollowUp = std::exchange(m_bFollowUp, false);
    const QElapsedTimer previous = m_last;
    m_last.restart();
    const qint64 nStartNs = NowNs();
    m_bTookChanges = false;
    m_refresh();
    if (!m_bTookChanges) {
        // The frame after a spell of data found nothing new: the spell is
        // over, and this look does not count as a frame, so that a byte
        // that comes next is shown as soon as a frame has passed since the
        // last refresh that showed something.
        if (bFollowUp)
            m_last = previous;
        return;
    }
    // What this refresh showed began to come less than a frame after the
    // previous refresh that showed something: a stream, which the next
    // refresh follows at the stream's pace. Anything else (the first change
    // after a quiet spell, a reply now and then) keeps the frame's.
    const bool bStream =
        m_nShownNs >= 0 && m_nTookFirstChangeNs - m_nShownNs < qint64(IntervalMs()) * 1000000;
    m_nShownNs = nStartNs;
    // Data keeps coming, most likely: the next refresh waits, and until then
    // no request wakes the thread (one made while the refresh ran finds the
    // timer running).
    if (!m_bStopped.load()) {
        m_bOnItsWay.store(true);
        m_bFollowUp = true;
        m_timer.start(bStream ? StreamIntervalMs() : IntervalMs());
    }
}
