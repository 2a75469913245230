#include "CLogIndex.h"

#include "LogIndexFormat.h"

#include <QFileInfo>

#include <algorithm>

using LogIndex::kHeaderSize;
using LogIndex::kRecordSize;

void CLogIndexMarks::AddTimes(qint64 nOffset, const KrBlockTimes& times)
{
    for (qsizetype i = 0; i < times.Count(); ++i) {
        if (m_times.size() >= kMaxTimes)
            return;
        const qint64 nAt = nOffset + times.At(i).nOffset;
        if (!m_times.empty() && m_times.back().nOffset == nAt)
            m_times.back().time = times.At(i).time; // an empty part before it
        else
            m_times.push_back(Time{nAt, times.At(i).time});
    }
}

void CLogIndexMarks::AddEvent(qint64 nOffset, const KrPortEvent& event)
{
    m_events.push_back(Event{nOffset, event});
}

KrTimeStamp CLogIndexMarks::TimeAt(qint64 nOffset) const
{
    const auto it = std::upper_bound(m_times.begin(), m_times.end(), nOffset,
                                     [](qint64 n, const Time& t) { return n < t.nOffset; });
    return it == m_times.begin() ? KrTimeStamp() : std::prev(it)->time;
}

std::vector<KrPortEvent> CLogIndexMarks::TakeEvents()
{
    std::vector<KrPortEvent> events;
    for (size_t i = m_nEvent; i < m_events.size(); ++i)
        events.push_back(std::move(m_events[i].event));
    m_nEvent = m_events.size();
    return events;
}

bool CLogIndexWriter::Fail(const QString& strWhy)
{
    m_strError = strWhy;
    m_file.Close();
    m_pending.clear();
    return false;
}

bool CLogIndexWriter::Open(const QString& strLogName, qint64 nLogSize)
{
    Close();
    m_strName = LogIndex::IndexNameFor(strLogName);
    const QString strCannot = QStringLiteral("Cannot write '%1': ").arg(m_strName);
    if (!m_file.Open(m_strName))
        return Fail(strCannot + m_file.ErrorText());
    const QString strLog = QFileInfo(strLogName).fileName();
    const QByteArray header = LogIndex::EncodeHeader(strLog);
    qint64 nSize = m_file.Size();
    if (nSize < 0)
        return Fail(strCannot + m_file.ErrorText());
    const QString strForeign =
        QStringLiteral("'%1' is not the timing index of '%2' (%3); remove it to have a new one")
            .arg(m_strName, strLog);
    if (nSize < kHeaderSize) {
        // Empty, or a header cut short by a crash: written afresh.
        QByteArray old(int(nSize), '\0');
        if (m_file.ReadAt(0, old.data(), nSize) != nSize)
            return Fail(strCannot + m_file.ErrorText());
        if (!header.startsWith(old))
            return Fail(strForeign.arg(QStringLiteral("not a timing index")));
        if ((nSize > 0 && !m_file.Truncate(0)) ||
            m_file.Append(header.constData(), kHeaderSize) != kHeaderSize)
            return Fail(strCannot + m_file.ErrorText());
        m_strError.clear();
        return true;
    }
    QByteArray old(kHeaderSize, '\0');
    if (m_file.ReadAt(0, old.data(), kHeaderSize) != kHeaderSize)
        return Fail(strCannot + m_file.ErrorText());
    QString strNamed, strWhy;
    if (!LogIndex::DecodeHeader(old, &strNamed, &strWhy))
        return Fail(strForeign.arg(strWhy));
    if (strNamed != strLog)
        return Fail(strForeign.arg(QStringLiteral("it names '%1'").arg(strNamed)));
    // A record cut short by a crash or a full disk goes; so do records of
    // bytes the log no longer holds.
    const qint64 nTorn = (nSize - kHeaderSize) % kRecordSize;
    if (nTorn > 0 && !m_file.Truncate(nSize - nTorn))
        return Fail(strCannot + m_file.ErrorText());
    if (!TrimBeyond((nSize - nTorn - kHeaderSize) / kRecordSize, nLogSize))
        return false;
    m_strError.clear();
    return true;
}

bool CLogIndexWriter::TrimBeyond(qint64 nRecords, qint64 nLogSize)
{
    // Records are in log order: the first that claims more than the log
    // holds, and all after it, go. Only the last is read when all is well.
    const auto fits = [&](qint64 i) {
        char bytes[kRecordSize];
        LogIndex::Record r;
        return m_file.ReadAt(kHeaderSize + i * kRecordSize, bytes, kRecordSize) == kRecordSize &&
               LogIndex::DecodeRecord(bytes, &r) && r.nOffset <= nLogSize && r.End() <= nLogSize;
    };
    if (nRecords == 0 || fits(nRecords - 1))
        return true;
    qint64 nLow = 0, nHigh = nRecords - 1; // the first misfit lies in [nLow, nHigh]
    while (nLow < nHigh) {
        const qint64 nMid = nLow + (nHigh - nLow) / 2;
        if (fits(nMid))
            nLow = nMid + 1;
        else
            nHigh = nMid;
    }
    if (!m_file.Truncate(kHeaderSize + nLow * kRecordSize))
        return Fail(QStringLiteral("Cannot write '%1': %2").arg(m_strName, m_file.ErrorText()));
    return true;
}

void CLogIndexWriter::RecordLoss(CLogIndexLoss& loss, qint64 nLogOffset)
{
    if (!m_file.IsOpen() || loss.IsEmpty())
        return;
    if (loss.nBytes > 0) {
        LogIndex::Record r;
        r.nOffset = nLogOffset;
        r.nLength = quint32(std::min<qint64>(loss.nBytes, 0xFFFFFFFF));
        r.kind = LogIndex::RecordKind::Lost;
        r.time = loss.first;
        LogIndex::AppendRecord(m_pending, r);
    }
    for (const KrPortEvent& e : loss.events)
        m_pending += LogIndex::EncodeEvent(nLogOffset, quint8(e.kind), e.time, e.strText);
    loss = CLogIndexLoss();
}

void CLogIndexWriter::Record(CLogIndexMarks& m, qint64 nFrom, qint64 nTo, qint64 nLogOffset)
{
    if (!m_file.IsOpen())
        return;
    const auto logAt = [&](qint64 nAt) { return nLogOffset + (nAt - nFrom); };
    for (qint64 nPos = nFrom;;) {
        // Events before this byte (also those of bytes dropped from the
        // entry's front) come first.
        while (m.m_nEvent < m.m_events.size() && m.m_events[m.m_nEvent].nOffset <= nPos) {
            const KrPortEvent& e = m.m_events[m.m_nEvent++].event;
            m_pending += LogIndex::EncodeEvent(logAt(nPos), quint8(e.kind), e.time, e.strText);
        }
        if (nPos >= nTo)
            break;
        while (m.m_nTime < m.m_times.size() && m.m_times[m.m_nTime].nOffset <= nPos)
            ++m.m_nTime;
        // The run of bytes with one time: to the next time, the next event or
        // the end of what was written.
        qint64 nEnd = std::min<qint64>(nTo, nPos + 0x7FFFFFFF);
        if (m.m_nTime < m.m_times.size())
            nEnd = std::min(nEnd, m.m_times[m.m_nTime].nOffset);
        if (m.m_nEvent < m.m_events.size())
            nEnd = std::min(nEnd, m.m_events[m.m_nEvent].nOffset);
        if (m.m_nTime > 0) {
            LogIndex::Record r;
            r.nOffset = logAt(nPos);
            r.nLength = quint32(nEnd - nPos);
            r.kind = LogIndex::RecordKind::Data;
            r.time = m.m_times[m.m_nTime - 1].time;
            LogIndex::AppendRecord(m_pending, r);
        }
        nPos = nEnd;
    }
    Write();
}

void CLogIndexWriter::Write()
{
    if (m_pending.isEmpty())
        return;
    const qint64 nDone = m_file.Append(m_pending.constData(), m_pending.size());
    if (nDone < m_pending.size()) {
        // What did not fit is left out; the next Open cuts off a record cut
        // short here.
        Fail(QStringLiteral("Cannot write '%1': %2").arg(m_strName, m_file.ErrorText()));
        return;
    }
    m_pending.resize(0); // keeps its room for the next records
    m_strError.clear();
}

void CLogIndexWriter::Close()
{
    m_file.Close();
    m_pending.clear();
}
