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

CViewRefresh::CViewRefresh(std::function<bool()> refresh, int nIntervalMs, QObject* pParent,
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

void CViewRefresh::Changed()
{
    qint64 nNone = 0;
    m_nFirstChangeNs.compare_exchange_strong(nNone, NowNs());
    Request();
}

void CViewRefresh::Request()
{
    if (m_bStopped.load() || m_bScheduled.exchange(true))
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
    if (m_bStopped.load() || m_timer.isActive() || !m_bScheduled.load())
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
    m_bScheduled.store(false);
    const bool bFollowUp = std::exchange(m_bFollowUp, false);
    const QElapsedTimer previous = m_last;
    m_last.restart();
    const qint64 nStartNs = NowNs();
    // The changes this refresh shows; one made while it runs is the next's.
    const qint64 nFirstChangeNs = m_nFirstChangeNs.exchange(0);
    if (!m_refresh()) {
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
    const bool bStream = m_nShownNs >= 0 && nFirstChangeNs != 0 &&
                         nFirstChangeNs - m_nShownNs < qint64(IntervalMs()) * 1000000;
    m_nShownNs = nStartNs;
    // Data keeps coming, most likely: the next refresh waits, and until then
    // no request wakes the thread (one made while the refresh ran finds the
    // timer running).
    if (!m_bStopped.load()) {
        m_bScheduled.store(true);
        m_bFollowUp = true;
        m_timer.start(bStream ? StreamIntervalMs() : IntervalMs());
    }
}
