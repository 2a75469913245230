#include "CKrCommWriteQueue.h"

#include <algorithm>

void CKrCommWriteQueue::Push(const QByteArray& bytes, int nStream)
{
    if (bytes.isEmpty())
        return;
    m_queue.push_back(Chunk{bytes, Valid(nStream)});
    m_nQueued += bytes.size();
}

bool CKrCommWriteQueue::TakePiece(qint64 nMax, QByteArray* pChunk, qint64* pOffset, qint64* pLength)
{
    if (m_queue.empty() || nMax <= 0)
        return false;
    Chunk& front = m_queue.front();
    const qint64 nLength = std::min(nMax, qint64(front.bytes.size()) - m_nFrontOffset);
    *pChunk = front.bytes;
    *pOffset = m_nFrontOffset;
    *pLength = nLength;
    // Pieces of one stream handed on one after another share an entry.
    if (!m_flight.empty() && m_flight.back().nStream == front.nStream)
        m_flight.back().nLength += nLength;
    else
        m_flight.push_back(Flight{nLength, front.nStream});
    m_nInFlight += nLength;
    m_nQueued -= nLength;
    m_nFrontOffset += nLength;
    if (m_nFrontOffset >= front.bytes.size()) {
        m_queue.pop_front();
        m_nFrontOffset = 0;
    }
    return true;
}

void CKrCommWriteQueue::Written(qint64 nCount)
{
    while (nCount > 0 && !m_flight.empty()) {
        Flight& front = m_flight.front();
        const qint64 n = std::min(nCount, front.nLength);
        front.nLength -= n;
        m_nInFlight -= n;
        nCount -= n;
        if (front.nLength == 0)
            m_flight.pop_front();
    }
}

qint64 CKrCommWriteQueue::Discard(int nStream)
{
    nStream = Valid(nStream);
    qint64 nDropped = 0;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (it->nStream != nStream) {
            ++it;
            continue;
        }
        // The front chunk's part already in flight stays there.
        const qint64 nFrom = it == m_queue.begin() ? m_nFrontOffset : 0;
        nDropped += it->bytes.size() - nFrom;
        if (it == m_queue.begin())
            m_nFrontOffset = 0;
        it = m_queue.erase(it);
    }
    m_nQueued -= nDropped;
    return nDropped;
}

void CKrCommWriteQueue::DropQueued()
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        const qint64 nFrom = it == m_queue.begin() ? m_nFrontOffset : 0;
        m_dropped[size_t(it->nStream)] += it->bytes.size() - nFrom;
    }
    m_queue.clear();
    m_nFrontOffset = 0;
    m_nQueued = 0;
}

void CKrCommWriteQueue::DropInFlight()
{
    for (const Flight& f : m_flight)
        m_dropped[size_t(f.nStream)] += f.nLength;
    m_flight.clear();
    m_nInFlight = 0;
}

qint64 CKrCommWriteQueue::TakeDropped(int nStream)
{
    qint64& nDropped = m_dropped[size_t(Valid(nStream))];
    const qint64 n = nDropped;
    nDropped = 0;
    return n;
}
