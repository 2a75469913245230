#include "LogIndexReader.h"

#include <algorithm>

using LogIndex::kHeaderSize;
using LogIndex::kRecordSize;
using LogIndex::Record;
using LogIndex::RecordKind;

namespace {

constexpr qint64 kWindowRecords = 512; // 16 KiB read at a time

} // namespace

bool CLogIndexReader::Open(QIODevice* pIndex, qint64 nLogSize)
{
    *this = CLogIndexReader();
    m_pIndex = pIndex;
    m_nLogSize = nLogSize;
    if (!pIndex->seek(0)) {
        m_strError = pIndex->errorString();
        return false;
    }
    const QByteArray header = pIndex->read(kHeaderSize);
    if (!LogIndex::DecodeHeader(header, &m_strLogName, &m_strError))
        return false;
    const qint64 nBody = std::max<qint64>(pIndex->size() - kHeaderSize, 0);
    m_nRecords = nBody / kRecordSize;
    m_nTorn = nBody % kRecordSize;
    return true;
}

bool CLogIndexReader::Read(qint64 i, Record* pRecord)
{
    if (i < 0 || i >= m_nRecords)
        return false;
    if (m_nWindowFirst < 0 || i < m_nWindowFirst ||
        i >= m_nWindowFirst + m_window.size() / kRecordSize) {
        m_nWindowFirst = i;
        m_window.clear();
        if (!m_pIndex->seek(kHeaderSize + i * kRecordSize))
            return false;
        m_window = m_pIndex->read(std::min(kWindowRecords, m_nRecords - i) * kRecordSize);
        if (m_window.size() < kRecordSize)
            return false;
    }
    return LogIndex::DecodeRecord(m_window.constData() + (i - m_nWindowFirst) * kRecordSize,
                                  pRecord);
}

bool CLogIndexReader::At(qint64 i, Record* pRecord)
{
    return Read(i, pRecord) && pRecord->nOffset <= m_nLogSize && pRecord->End() <= m_nLogSize;
}

qint64 CLogIndexReader::UsableCount()
{
    if (m_nUsable >= 0)
        return m_nUsable;
    // Records are in log order, so those past the log's end are the last
    // ones: a binary search finds the first. A damaged record in the middle
    // is found by Verify, not here.
    Record r;
    qint64 nLow = 0, nHigh = m_nRecords;
    if (m_nRecords > 0 && At(m_nRecords - 1, &r))
        nLow = m_nRecords;
    while (nLow < nHigh) {
        const qint64 nMid = nLow + (nHigh - nLow) / 2;
        if (At(nMid, &r))
            nLow = nMid + 1;
        else
            nHigh = nMid;
    }
    m_nUsable = nLow;
    return m_nUsable;
}

qint64 CLogIndexReader::FirstEndingAfter(qint64 nOffset)
{
    qint64 nLow = 0, nHigh = UsableCount();
    Record r;
    while (nLow < nHigh) {
        const qint64 nMid = nLow + (nHigh - nLow) / 2;
        if (At(nMid, &r) && r.End() <= nOffset && r.kind != RecordKind::Event)
            nLow = nMid + 1;
        else
            nHigh = nMid;
    }
    return nLow;
}

qint64 CLogIndexReader::TimedAtOrAfter(qint64 i, qint64 nEnd, Record* pRecord)
{
    for (; i < nEnd; ++i) {
        if (At(i, pRecord) && pRecord->kind != RecordKind::Text)
            return i;
    }
    return -1;
}

qint64 CLogIndexReader::FirstAtOrAfter(qint64 nWallUs)
{
    const qint64 nUsable = UsableCount();
    qint64 nLow = 0, nHigh = nUsable;
    Record r;
    while (nLow < nHigh) {
        const qint64 nMid = nLow + (nHigh - nLow) / 2;
        const qint64 nTimed = TimedAtOrAfter(nMid, nHigh, &r);
        if (nTimed < 0) {
            nHigh = nMid;
        } else if (r.time.nWallUs < nWallUs) {
            nLow = nTimed + 1;
        } else {
            nHigh = nMid;
        }
    }
    return nLow;
}

namespace LogIndex {

Verdict Verify(CLogIndexReader& reader)
{
    Verdict v;
    v.bTornTail = reader.TornBytes() > 0;
    qint64 nDataEnd = 0; // where the last data run ended
    qint64 nOffset = 0;  // the last record's offset
    bool bInEvent = false;
    int nTextPiece = 0;
    for (qint64 i = 0; i < reader.RecordCount(); ++i) {
        const QString strWhere = QStringLiteral("record %1 (byte %2 of the index): ")
                                     .arg(i)
                                     .arg(kHeaderSize + i * kRecordSize);
        Record r;
        if (!reader.At(i, &r)) {
            v.strProblem =
                strWhere +
                (reader.Read(i, &r)
                     ? QStringLiteral("describes bytes up to %1, past the log's end").arg(r.End())
                     : QStringLiteral("damaged (its check does not match)"));
            return v;
        }
        QString strWhy;
        if (r.nOffset < nOffset)
            strWhy = QStringLiteral("offset %1 goes back before %2").arg(r.nOffset).arg(nOffset);
        else if (r.kind == RecordKind::Data && r.nOffset < nDataEnd)
            strWhy = QStringLiteral("bytes from %1 are described twice").arg(r.nOffset);
        else if (r.kind == RecordKind::Data && r.nLength == 0)
            strWhy = QStringLiteral("a data record of no bytes");
        else if (r.kind == RecordKind::Text && (!bInEvent || r.nCode != nTextPiece))
            strWhy = QStringLiteral("text without its event");
        else if (r.kind != RecordKind::Data && r.kind != RecordKind::Event &&
                 r.kind != RecordKind::Lost && r.kind != RecordKind::Text)
            strWhy = QStringLiteral("unknown kind %1").arg(int(r.kind));
        if (!strWhy.isEmpty()) {
            v.strProblem = strWhere + strWhy;
            return v;
        }
        nOffset = r.nOffset;
        switch (r.kind) {
        case RecordKind::Data:
            nDataEnd = r.End();
            v.nTimedBytes += r.nLength;
            bInEvent = false;
            break;
        case RecordKind::Event:
            ++v.nEvents;
            bInEvent = true;
            nTextPiece = 0;
            break;
        case RecordKind::Text:
            ++nTextPiece;
            break;
        case RecordKind::Lost:
            v.nLostBytes += r.nLength;
            bInEvent = false;
            break;
        }
        ++v.nGood;
    }
    return v;
}

} // namespace LogIndex
