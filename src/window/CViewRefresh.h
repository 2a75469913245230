#pragma once
// When the data window and the status bar are refreshed: on the
// user-interface thread, at most once per display frame however many blocks
// arrive meanwhile. The first change after a quiet spell is shown at once,
// and what follows with the next frame; only when data began to come less
// than a frame after the last refresh that showed something (a stream, not a
// reply now and then), the next refresh keeps a pace a reader can follow
// (kStreamIntervalMs), not every frame. The next refresh waits on a timer,
// and requests made meanwhile do not wake the thread at all.
//
// It only schedules: what a refresh shows is the owner's business (the
// `refresh` it is given, which says whether it showed anything new). It
// knows nothing of the window and holds no state under anyone's lock.
//
// Changed() and Request() from any thread, never waiting; everything else on
// the user-interface thread, where `refresh` runs.

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
    // coming (never less than a frame). `refresh` returns true when it showed
    // something new.
    explicit CViewRefresh(std::function<bool()> refresh, int nIntervalMs = 0,
                          QObject* pParent = nullptr, int nStreamIntervalMs = kStreamIntervalMs);

    // Any thread: the view has something new to show (bytes were appended
    // while it is not paused); a refresh is wanted.
    void Changed();
    // Any thread: a refresh is wanted (the status bar's figures changed).
    void Request();
    // A refresh is on its way and has not run yet.
    bool IsPending() const { return m_bScheduled.load(); }
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

    std::function<bool()> m_refresh;
    int m_nIntervalMs;
    int m_nStreamIntervalMs;
    // Steady-clock times in ns: the first change no refresh has run for yet
    // (0: none), and the start of the last refresh that showed something
    // (-1: none).
    std::atomic<qint64> m_nFirstChangeNs{0};
    qint64 m_nShownNs = -1;
    bool m_bFollowUp = false; // the timer runs for the frame after a refresh
    std::atomic<bool> m_bStopped{false};
    // A refresh is queued or waits for the next frame: it takes whatever is
    // appended until it runs, so a request need not wake the thread.
    std::atomic<bool> m_bScheduled{false};
    QElapsedTimer m_last;
    QTimer m_timer;
    KrCoalescedCall m_call;
};
