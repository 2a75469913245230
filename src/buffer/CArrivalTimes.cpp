#include "CArrivalTimes.h"

#include "ByteText.h"

#include <algorithm>

void CArrivalTimes::Add(qint64 nPos, qint64 nWallUs)
{
    if (!m_marks.empty() && m_marks.back().nPos >= nPos) {
        // A mark at the same place (an empty part) gives way to the new one.
        m_marks.back().nWallUs = nWallUs;
        return;
    }
    if (!m_marks.empty() && m_marks.back().nWallUs == nWallUs)
        return;
    m_marks.push_back(Mark{nPos, nWallUs});
}

void CArrivalTimes::AddBlock(qint64 nPos, qint64 nLength, const KrBlockTimes* pTimes)
{
    if (nLength <= 0)
        return;
    if (!pTimes || pTimes->IsEmpty()) {
        Add(nPos, kNoTime);
        return;
    }
    for (qsizetype i = 0; i < pTimes->Count(); ++i) {
        if (pTimes->At(i).nOffset < nLength)
            Add(nPos + pTimes->At(i).nOffset, pTimes->At(i).time.nWallUs);
    }
}

void CArrivalTimes::AddEvent(qint64 nPos, const KrPortEvent& event)
{
    m_events.push_back(Event{nPos, event.time.nWallUs, event.Text(), 0, QByteArray()});
    if (m_events.size() > kMaxEvents)
        m_events.pop_front();
}

namespace {

// "sent 12 bytes: AT+CSQ\r": the bytes as a C string, cut after
// CArrivalTimes::kSentShown of them.
QString SentText(qint64 nSent, const QByteArray& head)
{
    return QStringLiteral("sent %1 %2: %3%4")
        .arg(nSent)
        .arg(nSent == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"), KrCString(head),
             nSent > head.size() ? QStringLiteral("...") : QString());
}

} // namespace

void CArrivalTimes::AddSent(qint64 nPos, qint64 nWallUs, const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_events.empty() || m_events.back().nSent == 0 || m_events.back().nPos != nPos) {
        m_events.push_back(Event{nPos, nWallUs, QString(), 0, QByteArray()});
        if (m_events.size() > kMaxEvents)
            m_events.pop_front();
    }
    Event& e = m_events.back();
    e.nSent += bytes.size();
    if (e.sentHead.size() < kSentShown)
        e.sentHead += bytes.left(kSentShown - e.sentHead.size());
    e.strText = SentText(e.nSent, e.sentHead);
}

void CArrivalTimes::TrimBefore(qint64 nPos)
{
    // The last mark before nPos still holds the byte at nPos.
    while (m_marks.size() > 1 && m_marks[1].nPos <= nPos)
        m_marks.pop_front();
    if (m_marks.size() == 1 && m_marks.front().nPos < nPos)
        m_marks.front().nPos = nPos;
    while (!m_events.empty() && m_events.front().nPos < nPos)
        m_events.pop_front();
}

void CArrivalTimes::Clear()
{
    m_marks.clear();
    m_events.clear();
}

qint64 CArrivalTimes::WallAt(qint64 nPos) const
{
    const auto it = std::upper_bound(m_marks.begin(), m_marks.end(), nPos,
                                     [](qint64 n, const Mark& m) { return n < m.nPos; });
    return it == m_marks.begin() ? kNoTime : std::prev(it)->nWallUs;
}

std::vector<CArrivalTimes::Mark> CArrivalTimes::MarksIn(qint64 nFrom, qint64 nTo) const
{
    std::vector<Mark> marks;
    if (nFrom >= nTo)
        return marks;
    marks.push_back(Mark{nFrom, WallAt(nFrom)});
    auto it = std::upper_bound(m_marks.begin(), m_marks.end(), nFrom,
                               [](qint64 n, const Mark& m) { return n < m.nPos; });
    for (; it != m_marks.end() && it->nPos < nTo; ++it)
        marks.push_back(*it);
    return marks;
}
