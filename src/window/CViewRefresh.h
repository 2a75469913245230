#pragma once
// The receive buffer's way to the data window: what was appended since the
// window last showed the buffer, and the refresh that shows it (and the
// status bar's figures) on the user-interface thread, at most once per
// display frame however many blocks arrive meanwhile. The first change after
// a quiet spell is shown at once, and what follows with the next frame; only
// when data began to come less than a frame after the last refresh that
// showed something (a stream, not a reply now and then), the next refresh
// keeps a pace a reader can follow (kStreamIntervalMs), not every frame.
// The next refresh waits on a timer, and requests made meanwhile do not wake
// the thread at all.
//
// Request() from any thread, never waiting. Appended, Cleared and TakeChanges
// under the owner's lock (the window's m_lock), which guards what they keep.
// Everything else on the user-interface thread, where `refresh` runs.

#include "KrCoalescedCall.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <functional>

class CViewRefresh : public QObject
{
    Q_OBJECT
public:
    // While a stream lasts, the least time between two refreshes: 20 a
    // second, as readable as 60 (the text scrolls faster than anyone reads)
    // and a third of their cost to the window and the X server.
    static constexpr int kStreamIntervalMs = 50;

    // nIntervalMs 0: one frame of the primary screen's refresh rate;
    // nStreamIntervalMs the least time between refreshes while data keeps
    // coming (never less than a frame).
    explicit CViewRefresh(std::function<void()> refresh, int nIntervalMs = 0,
                          QObject* pParent = nullptr, int nStreamIntervalMs = kStreamIntervalMs);

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
    // A refresh is on its way and has not run yet.
    bool IsPending() const { return m_bOnItsWay.load(); }
    // The least time between two refreshes, in milliseconds.
    int IntervalMs() const;
    // The least time between two refreshes while data keeps coming.
    int StreamIntervalMs() const { return std::max(m_nStreamIntervalMs, IntervalMs()); }
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
    int m_nStreamIntervalMs;
    qint64 m_nStreamStart = 0;   // under the owner's lock
    bool m_bChanged = false;     // under the owner's lock
    bool m_bTookChanges = false; // the running refresh had something to show
    // Steady-clock times in ns: the first change the view has not taken yet
    // (under the owner's lock), the first change the running refresh took,
    // and the start of the last refresh that showed something (-1: none).
    qint64 m_nFirstChangeNs = 0;
    qint64 m_nTookFirstChangeNs = 0;
    qint64 m_nShownNs = -1;
    bool m_bFollowUp = false; // the timer runs for the frame after a refresh
    std::atomic<bool> m_bStopped{false};
    // A refresh is queued or waits for the next frame: it takes whatever is
    // appended until it runs, so a request need not wake the thread.
    std::atomic<bool> m_bOnItsWay{false};
    QElapsedTimer m_last;
    QTimer m_timer;
    KrCoalescedCall m_call;
};
