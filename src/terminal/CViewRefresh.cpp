#include "CRefreshScheduler.h"

CRefreshScheduler::CRefreshScheduler(std::function<void()> refresh, int nIntervalMs,
                                     QObject* pParent)
    : QObject(pParent), m_refresh(std::move(refresh)), m_nIntervalMs(nIntervalMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CRefreshScheduler::Fire);
}

void CRefreshScheduler::Request()
{
    if (m_bStopped.load())
        return;
    if (!m_bPending.exchange(true))
        QMetaObject::invokeMethod(this, &CRefreshScheduler::OnRequested, Qt::QueuedConnection);
}

void CRefreshScheduler::Flush()
{
    if (m_bPending.load())
        Fire();
}

void CRefreshScheduler::Stop()
{
    m_bStopped.store(true);
    m_timer.stop();
}

void CRefreshScheduler::OnRequested()
{
    if (m_bStopped.load() || !m_bPending.load() || m_timer.isActive())
        return;
    const qint64 elapsed = m_last.isValid() ? m_last.elapsed() : m_nIntervalMs;
    if (elapsed < m_nIntervalMs)
        m_timer.start(int(m_nIntervalMs - elapsed));
    else
        Fire();
}

void CRefreshScheduler::Fire()
{
    m_timer.stop();
    if (m_bStopped.load())
        return;
    // Cleared first: a request made while the refresh runs schedules another.
    m_bPending.store(false);
    m_last.restart();
    m_refresh();
}
