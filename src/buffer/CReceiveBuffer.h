#pragma once
// The receive text buffer: the one holder of the received bytes (and the echo
// of what was sent), their arrival times, the port's events between them, and
// the stream position of the first byte held. Every reader reads it here: the
// data window (through the snapshot it shows), Find, Save Received Data,
// Copy, the Rx figure and the plot. Nothing keeps a copy of its own.
//
// Appending follows the buffer's rules (ReceiveBuffer.h): above kLimit
// characters the first kTrim are dropped, at most once per append. A stream
// position counts a byte's place in everything appended since the last
// Clear, which starts the count again (a new generation).
//
// What the data window is to show is marked here too: MarkShown records
// "everything held now, in this display mode" when the window would refresh,
// and the window's refresh takes exactly that (TakeShown), so the view never
// moves by itself between appends, and a pause keeps what was shown
// (Freeze) even when the buffer's front is trimmed meanwhile.
//
// Threads: every call from any thread, under the buffer's own lock, which is
// held only for bookkeeping and O(1) copies of shared bytes; nothing waits
// while holding it. A snapshot's bytes are shared with the buffer until the
// buffer next changes (then the buffer copies its own, once).

#include "CArrivalTimes.h"
#include "KrPortEvent.h"
#include "KrTimeStamp.h"

#include <QByteArray>
#include <mutex>
#include <vector>

// A stable view of the buffer: bytes [nStart, nEnd) in stream positions.
// `bytes` may hold more after nEnd (what came later shares the same array).
struct CReceiveSnapshot
{
    QByteArray bytes;        // bytes[0] is the byte at nStart
    qint64 nStart = 0;       // stream position of bytes[0]
    qint64 nEnd = 0;         // stream position after the last byte of the view
    quint64 nGeneration = 0; // counts the clears: positions restart with each
    bool bHex = false;       // the display mode the window is to show it in

    qint64 Size() const { return nEnd - nStart; }
    const char* Data() const { return bytes.constData(); }
    // The bytes [nStart, nEnd) as an array of their own (shared when whole).
    QByteArray Bytes() const;
};

class CReceiveBuffer
{
public:
    // Appends `text`, with the times of its bytes (none: the echo of what was
    // sent), and trims once if the buffer grew past its limit. Returns how
    // many characters left the front (0 or ReceiveBuffer::kTrim).
    int Append(const QByteArray& text, const KrBlockTimes* pTimes);
    // A port event between the bytes held and those that come next.
    void AddEvent(const KrPortEvent& event);
    // Bytes sent at that time, between the bytes held and those that come
    // next; sends with nothing received between make one note.
    void AddSent(const QByteArray& bytes, const KrTimeStamp& time);
    // Empties the buffer: a new generation, positions from 0. What the window
    // shows becomes empty too.
    void Clear();

    // Characters held now (the Rx figure).
    qsizetype Size() const;
    // Everything held now.
    CReceiveSnapshot Snapshot() const;
    QByteArray Bytes() const { return Snapshot().Bytes(); }

    // The window is to show everything held now, in this mode (an append
    // while not paused). Ends a freeze.
    void MarkShown(bool bHex);
    // The window is paused: what it was last to show stays as it is, bytes
    // and times, until the next MarkShown or Clear.
    void Freeze();
    // What the window is to show, when it changed since the serial it last
    // took (*pSerial, updated); false when nothing changed.
    bool TakeShown(quint64* pSerial, CReceiveSnapshot* pShown);

    // A reader that follows everything appended, from where it is (the
    // plot): its position in the stream of the generation it reads.
    struct Reader
    {
        qint64 nPos = 0;
        quint64 nGeneration = 0;
    };
    struct News
    {
        QByteArray bytes;                       // what came since the reader's position
        std::vector<CArrivalTimes::Mark> marks; // their times, positions from 0
        bool bCleared = false;                  // the buffer was emptied since: read from its start
        qint64 nSkipped = 0;                    // trimmed away before the reader took them
    };
    // A reader at the buffer's front: its first read takes everything held.
    Reader ReaderAtFront() const;
    // What came since the reader's position; false when nothing did.
    bool ReadNews(Reader& reader, News* pNews) const;
    // Told of every append (the plot's reader, through a coalesced call):
    // at most one, called under the buffer's lock, so it must not wait.
    // nullptr detaches it: once this returns, it is called no more.
    class Listener
    {
    public:
        virtual void BufferAppended() = 0;

    protected:
        ~Listener() = default;
    };
    void SetListener(Listener* pListener);

    // Arrival times, by stream position of the current generation.
    // The wall clock of the byte at nPos, CArrivalTimes::kNoTime when none.
    qint64 WallAt(qint64 nPos) const;
    // The events at positions in (nAfter, nUpTo], in order.
    std::vector<CArrivalTimes::Event> EventsIn(qint64 nAfter, qint64 nUpTo) const;

private:
    qint64 EndLocked() const { return m_nStart + m_bytes.size(); }
    // Drops the times no reader needs: those before both the buffer's front
    // and what the window shows.
    void TrimTimesLocked();

    mutable std::mutex m_mutex; // guards every member below
    QByteArray m_bytes;
    qint64 m_nStart = 0;
    quint64 m_nGeneration = 0;
    CArrivalTimes m_times;
    // What the window is to show: the serial counts the marks; the window
    // shows [m_nStart, m_nShownEnd) in m_bShownHex, or the frozen snapshot.
    quint64 m_nShownSerial = 0;
    qint64 m_nShownEnd = 0;
    bool m_bShownHex = false;
    bool m_bFrozen = false;
    CReceiveSnapshot m_frozen;
    // The front of what the window took last, whose times it may still ask.
    qint64 m_nViewStart = 0;
    Listener* m_pListener = nullptr;
};
