#include "CViewRefresh.h"

CViewRefresh::CViewRefresh(std::function<void()> refresh, int nIntervalMs, QObject* pParent)
    : QObject(pParent), m_refresh(std::move(refresh)), m_nIntervalMs(nIntervalMs),
      m_call(this, [this] { OnRequested(); })
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CViewRefresh::Fire);
}

void CViewRefresh::Appended(qint64 nTrimmed, bool bShow)
{
    m_nStreamStart += nTrimmed;
    if (bShow)
        m_bChanged = true;
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
    return bChanged;
}

void CViewRefresh::Request()
{
    if (!m_bStopped.load())
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
    if (m_bStopped.load() || m_timer.isActive())
        return;
    const qint64 elapsed = m_last.isValid() ? m_last.elapsed() : m_nIntervalMs;
    if (elapsed < m_nIntervalMs)
        m_timer.start(int(m_nIntervalMs - elapsed));
    else
        Fire();
}

void CViewRefresh::Fire()
{
    m_timer.stop();
    if (m_bStopped.load())
        return;
    m_last.restart();
    m_refresh();
}
