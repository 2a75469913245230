#pragma once
// The bytes a port has accepted and not yet seen reach the device, in order.
// Each chunk belongs to a stream, a number the writer chooses (0 to
// kStreams - 1), so that one writer can take back what it queued (a file send
// that stops) while the bytes of others behind it still go out, and so that
// bytes dropped unsent at a close or a loss can be told apart by who wrote
// them.
//
// Bytes move from queued (accepted, not yet handed to the back end) to in
// flight (handed on, not yet reported written) to written. Not thread-safe by
// itself: the port's thread object guards it with its lock.

#include <QByteArray>
#include <array>
#include <deque>

class CKrCommWriteQueue
{
public:
    static constexpr int kStreams = 4;

    // Takes the bytes (shared, not copied). nStream outside 0..kStreams-1
    // counts as 0.
    void Push(const QByteArray& bytes, int nStream);

    // The next piece to hand to the back end, at most nMax bytes: a view
    // into `*pChunk` from nOffset, nLength long. False when nothing is
    // queued. The piece counts as in flight from here on.
    bool TakePiece(qint64 nMax, QByteArray* pChunk, qint64* pOffset, qint64* pLength);
    // The back end reports nCount bytes in flight as written.
    void Written(qint64 nCount);

    // Drops the queued bytes of one stream (what is in flight goes on);
    // returns how many.
    qint64 Discard(int nStream);
    // Drops the queued bytes (a close, a new open, a loss), counting them per
    // stream in Dropped().
    void DropQueued();
    // Drops the bytes in flight, which the back end will not write any more
    // (it was closed or lost), counting them per stream in Dropped().
    void DropInFlight();

    // Accepted and not yet written: queued plus in flight.
    qint64 Pending() const { return m_nQueued + m_nInFlight; }
    // Bytes of a stream dropped since the last call for it.
    qint64 TakeDropped(int nStream);

private:
    struct Chunk
    {
        QByteArray bytes;
        int nStream = 0;
    };
    struct Flight
    {
        qint64 nLength = 0;
        int nStream = 0;
    };
    static int Valid(int nStream) { return nStream >= 0 && nStream < kStreams ? nStream : 0; }

    std::deque<Chunk> m_queue;
    qint64 m_nFrontOffset = 0; // bytes of the front chunk already in flight
    qint64 m_nQueued = 0;
    std::deque<Flight> m_flight; // in the order they were handed on
    qint64 m_nInFlight = 0;
    std::array<qint64, kStreams> m_dropped{};
};
