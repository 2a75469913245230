#pragma once
// The receive buffer's way to the data window: what was appended since the
// window last showed the buffer, and the refresh that shows it (and the
// status bar's figures) on the user-interface thread, at most once per
// interval (about 60 times a second) however many blocks arrive meanwhile.
//
// Request() from any thread, never waiting. Appended, Cleared and TakeChanges
// under the owner's lock (the window's m_lock), which guards what they keep.
// Everything else on the user-interface thread, where `refresh` runs.

#include "KrCoalescedCall.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>

class CViewRefresh : public QObject
{
    Q_OBJECT
public:
    explicit CViewRefresh(std::function<void()> refresh, int nIntervalMs = 16,
                          QObject* pParent = nullptr);

    // Under the owner's lock. Bytes were appended to the buffer and nTrimmed
    // dropped from its front; bShow is false while the view is paused.
    void Appended(qint64 nTrimmed, bool bShow);
    // The buffer and the view were emptied.
    void Cleared();
    // Whether the view has something new to show (and forgets it), and the
    // stream position of the buffer's first byte.
    bool TakeChanges(qint64* pStreamStart);
    bool HasChanges() const { return m_bChanged; }
    // Under the owner's lock: the stream position of the buffer's first byte.
    qint64 StreamStart() const { return m_nStreamStart; }

    // Any thread: a refresh is wanted.
    void Request();
    // A refresh is wanted and has not run yet.
    bool IsPending() const { return m_call.IsPending() || m_timer.isActive(); }
    // Runs a pending refresh at once.
    void Flush();
    // As the owner is torn down: no refresh runs any more and later requests
    // are ignored.
    void Stop();

private:
    void OnRequested();
    void Fire();

    std::function<void()> m_refresh;
    int m_nIntervalMs;
    qint64 m_nStreamStart = 0; // under the owner's lock
    bool m_bChanged = false;   // under the owner's lock
    std::atomic<bool> m_bStopped{false};
    QElapsedTimer m_last;
    QTimer m_timer;
    KrCoalescedCall m_call;
};
