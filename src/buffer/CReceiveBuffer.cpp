#include "CReceiveBuffer.h"

#include "ReceiveBuffer.h"

#include <algorithm>
#include <limits>

QByteArray CReceiveSnapshot::Bytes() const
{
    if (nStart == nEnd)
        return QByteArray();
    return bytes.size() == Size() ? bytes : bytes.left(qsizetype(Size()));
}

int CReceiveBuffer::Append(const QByteArray& text, const KrBlockTimes* pTimes)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    const qint64 nPos = EndLocked();
    const int nTrimmed = ReceiveBuffer::AppendAndTrim(m_bytes, text);
    // The times of what is appended; those of what was trimmed go, unless
    // the window still shows it.
    m_times.AddBlock(nPos, text.size(), pTimes);
    if (nTrimmed > 0) {
        m_nStart += nTrimmed;
        TrimTimesLocked();
    }
    if (m_pListener)
        m_pListener->BufferAppended();
    return nTrimmed;
}

void CReceiveBuffer::AddEvent(const KrPortEvent& event)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_times.AddEvent(EndLocked(), event);
}

void CReceiveBuffer::AddSent(const QByteArray& bytes, const KrTimeStamp& time)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_times.AddSent(EndLocked(), time.nWallUs, bytes);
}

void CReceiveBuffer::Clear()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_bytes.clear();
    m_nStart = 0;
    ++m_nGeneration;
    m_times.Clear();
    ++m_nShownSerial;
    m_nShownEnd = 0;
    m_bFrozen = false;
    m_frozen = CReceiveSnapshot();
    m_nViewStart = 0;
    if (m_pListener)
        m_pListener->BufferAppended();
}

qsizetype CReceiveBuffer::Size() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_bytes.size();
}

CReceiveSnapshot CReceiveBuffer::Snapshot() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    CReceiveSnapshot snap;
    snap.bytes = m_bytes;
    snap.nStart = m_nStart;
    snap.nEnd = EndLocked();
    snap.nGeneration = m_nGeneration;
    snap.bHex = m_bShownHex;
    return snap;
}

void CReceiveBuffer::MarkShown(bool bHex)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_nShownSerial;
    m_nShownEnd = EndLocked();
    m_bShownHex = bHex;
    if (m_bFrozen) {
        m_bFrozen = false;
        m_frozen = CReceiveSnapshot();
        TrimTimesLocked();
    }
}

void CReceiveBuffer::Freeze()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_bFrozen)
        return;
    m_frozen.bytes = m_bytes;
    m_frozen.nStart = m_nStart;
    m_frozen.nEnd = std::max(m_nStart, m_nShownEnd);
    m_frozen.nGeneration = m_nGeneration;
    m_frozen.bHex = m_bShownHex;
    m_bFrozen = true;
}

bool CReceiveBuffer::TakeShown(quint64* pSerial, CReceiveSnapshot* pShown)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (*pSerial == m_nShownSerial)
        return false;
    *pSerial = m_nShownSerial;
    if (m_bFrozen) {
        *pShown = m_frozen;
    } else {
        pShown->bytes = m_bytes;
        pShown->nStart = m_nStart;
        pShown->nEnd = std::max(m_nStart, m_nShownEnd);
        pShown->nGeneration = m_nGeneration;
        pShown->bHex = m_bShownHex;
    }
    m_nViewStart = pShown->nStart;
    TrimTimesLocked();
    return true;
}

void CReceiveBuffer::TrimTimesLocked()
{
    qint64 nKeep = std::min(m_nStart, m_nViewStart);
    if (m_bFrozen)
        nKeep = std::min(nKeep, m_frozen.nStart);
    m_times.TrimBefore(nKeep);
}

qint64 CReceiveBuffer::WallAt(qint64 nPos) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_times.WallAt(nPos);
}

std::vector<CArrivalTimes::Event> CReceiveBuffer::EventsIn(qint64 nAfter, qint64 nUpTo) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<CArrivalTimes::Event> events;
    for (const CArrivalTimes::Event& e : m_times.Events()) {
        if (e.nPos > nAfter && e.nPos <= nUpTo)
            events.push_back(e);
    }
    return events;
}

CReceiveBuffer::Reader CReceiveBuffer::ReaderAtFront() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return Reader{m_nStart, m_nGeneration};
}

bool CReceiveBuffer::ReadNews(Reader& reader, News* pNews) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    *pNews = News();
    if (reader.nGeneration != m_nGeneration) {
        pNews->bCleared = true;
        reader = Reader{0, m_nGeneration};
    }
    const qint64 nEnd = EndLocked();
    const qint64 nFrom = std::max(reader.nPos, m_nStart);
    pNews->nSkipped = nFrom - reader.nPos;
    reader.nPos = nEnd;
    if (nFrom >= nEnd)
        return pNews->bCleared || pNews->nSkipped > 0;
    pNews->bytes = m_bytes.mid(qsizetype(nFrom - m_nStart), qsizetype(nEnd - nFrom));
    pNews->marks = m_times.MarksIn(nFrom, nEnd);
    for (CArrivalTimes::Mark& m : pNews->marks)
        m.nPos -= nFrom;
    return true;
}

void CReceiveBuffer::SetListener(Listener* pListener)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_pListener = pListener;
}
