#pragma once
// Brings a refresh to the user-interface thread from any thread, coalesced:
// at most one request is pending and the refresh runs at most once per
// interval (about 60 times a second by default). Request never waits.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>

class CRefreshScheduler : public QObject
{
    Q_OBJECT
public:
    // `refresh` runs on the thread that owns this object.
    explicit CRefreshScheduler(std::function<void()> refresh, int nIntervalMs = 16,
                               QObject* pParent = nullptr);

    // Any thread.
    void Request();
    bool IsPending() const { return m_bPending.load(); }

    // Owner's thread: runs a pending refresh at once.
    void Flush();

    // Owner's thread, as its owner is torn down: no refresh runs any more and
    // later requests are ignored.
    void Stop();

private:
    void OnRequested();
    void Fire();

    std::function<void()> m_refresh;
    int m_nIntervalMs;
    std::atomic<bool> m_bPending{false};
    std::atomic<bool> m_bStopped{false};
    QElapsedTimer m_last;
    QTimer m_timer;
};
