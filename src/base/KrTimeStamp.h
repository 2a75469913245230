#pragma once
// When received bytes arrived: the wall clock (microseconds since 1970, UTC)
// and a monotonic clock (microseconds from an arbitrary start; it only moves
// forward, is not moved by setting the clock, and on Linux counts the time
// the system was suspended). Both are taken as the program read the bytes,
// on the port's I/O thread, before any queue.
// Plain values: copied with the bytes to whoever keeps them; any thread.

#include <QVarLengthArray>
#include <QtGlobal>

struct KrTimeStamp
{
    qint64 nWallUs = 0;
    qint64 nMonoUs = 0;

    // The clocks now: the system's (SystemNow), or the clock SetClock put
    // in their place.
    static KrTimeStamp Now();
    // The system's clocks (KrTimeStamp_<platform>.cpp).
    static KrTimeStamp SystemNow();
    // A clock for Now() to read instead of the system's, so that a test can
    // say when bytes arrived whatever the machine's load; nullptr gives the
    // system's back. Any thread; the clock is called on the threads that
    // stamp (the port's I/O thread among them).
    using Clock = KrTimeStamp (*)();
    static void SetClock(Clock clock);

    bool IsValid() const { return nWallUs != 0 || nMonoUs != 0; }
    bool operator==(const KrTimeStamp& o) const
    {
        return nWallUs == o.nWallUs && nMonoUs == o.nMonoUs;
    }
    bool operator!=(const KrTimeStamp& o) const { return !(*this == o); }
};

// The arrival times of one block of bytes. A block joined from several reads
// keeps the time of each part: (offset in the block, time) pairs in order of
// offset, the first at offset 0. A byte's time is that of the part holding it.
class KrBlockTimes
{
public:
    struct Piece
    {
        qint64 nOffset;
        KrTimeStamp time;
    };

    KrBlockTimes() = default;
    // A block read at once.
    explicit KrBlockTimes(const KrTimeStamp& time) { m_pieces.append(Piece{0, time}); }

    // Another block's times, its bytes appended at nOffset of this one.
    void Join(qint64 nOffset, const KrBlockTimes& other)
    {
        for (const Piece& p : other.m_pieces)
            m_pieces.append(Piece{nOffset + p.nOffset, p.time});
    }

    bool IsEmpty() const { return m_pieces.isEmpty(); }
    qsizetype Count() const { return m_pieces.size(); }
    const Piece& At(qsizetype i) const { return m_pieces[i]; }

    // The times of the bytes from nOffset on, counted from there.
    KrBlockTimes From(qint64 nOffset) const
    {
        KrBlockTimes tail;
        for (const Piece& p : m_pieces) {
            if (p.nOffset <= nOffset)
                tail.m_pieces.resize(0);
            tail.m_pieces.append(Piece{qMax<qint64>(0, p.nOffset - nOffset), p.time});
        }
        return tail;
    }

    // The time of the byte at nOffset; an invalid time when there is none.
    KrTimeStamp TimeAt(qint64 nOffset) const
    {
        KrTimeStamp time;
        for (const Piece& p : m_pieces) {
            if (p.nOffset > nOffset)
                break;
            time = p.time;
        }
        return time;
    }

private:
    QVarLengthArray<Piece, 1> m_pieces;
};
