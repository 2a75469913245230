#pragma once
// How often, and with how much text, the data window tells assistive
// technology that its text changed. At flood rate the text changes far faster
// than anyone can listen, and sending all of it costs as much as showing it,
// so changes are gathered and told at most once per interval: what left the
// front as a count only, what was appended by its newest characters only. The
// first change after a quiet interval is told at once, so that slow traffic
// and echoed typing are heard without delay and in full.
//
// A plain object of the user-interface thread (one thread only). The clock is
// a parameter so that tests can drive it.

#include <QtGlobal>
#include <functional>

class CTextChangeThrottle
{
public:
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    struct SLimits
    {
        int nIntervalMs = 250; // at most one notice per interval
        int nMaxChars = 480;   // the most appended text one notice carries
    };

    // One notice: nRemoved characters left the front of the text (at offset
    // 0), then the text [nInsertFrom, nCount) is the newest part of what was
    // appended; nCount is the text's length now.
    struct SNotice
    {
        qint64 nRemoved = 0;
        int nInsertFrom = 0;
        int nCount = 0;
        bool HasInsert() const { return nInsertFrom < nCount; }
    };

    // Without a clock, a monotonic one of the system.
    CTextChangeThrottle();
    explicit CTextChangeThrottle(SLimits limits, Clock clock = Clock());

    void SetClock(Clock clock);
    const SLimits& Limits() const { return m_limits; }

    // The text changed: nRemoved characters left its front, then nAppended
    // were added at its end; it now holds nCount characters. A text laid out
    // afresh is all of the old removed and all of the new appended.
    void Changed(qint64 nRemoved, qint64 nAppended, int nCount);
    // Forgets what waits, and the interval (assistive technology went away).
    void Reset();

    bool IsPending() const { return m_bPending; }
    // Milliseconds until what waits may be told (0: now); -1 when nothing
    // waits.
    qint64 MsUntilDue() const;
    // When something waits and its time has come: fills `notice` with all
    // that waited, starts a new interval and returns true.
    bool Take(SNotice& notice);

private:
    SLimits m_limits;
    Clock m_clock;
    bool m_bPending = false;
    bool m_bToldBefore = false;
    qint64 m_nToldAt = 0;
    qint64 m_nRemoved = 0;
    qint64 m_nAppended = 0; // at the end of the text, not yet told
    int m_nCount = 0;
};
