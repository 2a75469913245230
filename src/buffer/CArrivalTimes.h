#pragma once
// The arrival times of the bytes a receive buffer holds, by stream position
// (the position of a byte since the buffer was last cleared), and the port's
// events between them. Bytes appended without a time (the echo of what was
// sent) have none. Bounded by the buffer: trimmed with it, and at most
// kMaxEvents events.
// Not synchronised: the receive buffer (CReceiveBuffer) keeps the one there
// is, under its lock.

#include "KrPortEvent.h"
#include "KrTimeStamp.h"

#include <QString>
#include <deque>
#include <limits>
#include <vector>

class CArrivalTimes
{
public:
    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
    static constexpr size_t kMaxEvents = 256;

    // A byte's time holds until the next mark.
    struct Mark
    {
        qint64 nPos;
        qint64 nWallUs;
    };
    struct Event
    {
        qint64 nPos; // before the byte at this position
        qint64 nWallUs;
        QString strText;     // "disconnected: the device was removed"
        qint64 nSent = 0;    // a send: how many bytes ("sent 12 bytes: AT+CSQ\r")
        QByteArray sentHead; // its first bytes, for the text
    };
    // How many of a send's bytes its text shows.
    static constexpr int kSentShown = 32;

    // nLength bytes appended at nPos, with their times (none: no time).
    void AddBlock(qint64 nPos, qint64 nLength, const KrBlockTimes* pTimes);
    void AddEvent(qint64 nPos, const KrPortEvent& event);
    // Bytes sent at nPos: one event for what is sent with nothing received
    // between (a line typed key by key is one), timed at its first byte.
    void AddSent(qint64 nPos, qint64 nWallUs, const QByteArray& bytes);
    // The buffer's front moved on to nPos.
    void TrimBefore(qint64 nPos);
    // The buffer was emptied: positions start again at 0.
    void Clear();

    bool IsEmpty() const { return m_marks.empty() && m_events.empty(); }
    // The wall clock time of the byte at nPos (microseconds since 1970 UTC),
    // kNoTime when it has none.
    qint64 WallAt(qint64 nPos) const;
    const std::deque<Event>& Events() const { return m_events; }
    // The marks of the bytes [nFrom, nTo): the first is at nFrom (the time
    // of the byte there, kNoTime when it has none), the others where a new
    // time begins.
    std::vector<Mark> MarksIn(qint64 nFrom, qint64 nTo) const;

private:
    void Add(qint64 nPos, qint64 nWallUs);

    std::deque<Mark> m_marks; // in order of position; each holds to the next
    std::deque<Event> m_events;
};
