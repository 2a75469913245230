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
    if (!LogIndex::DecodeHeader(header, &m_strLogName, &m_strError, &m_nRevision))
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
        // Read backwards, the window ends at the record; else it begins there.
        const bool bBack = i < m_nWindowFirst && m_nWindowFirst - i <= kWindowRecords;
        m_nWindowFirst = bBack ? std::max<qint64>(0, i - kWindowRecords + 1) : i;
        m_window.clear();
        if (!m_pIndex->seek(kHeaderSize + m_nWindowFirst * kRecordSize))
            return false;
        m_window =
            m_pIndex->read(std::min(kWindowRecords, m_nRecords - m_nWindowFirst) * kRecordSize);
        if (m_window.size() < (i - m_nWindowFirst + 1) * kRecordSize) {
            m_nWindowFirst = -1;
            return false;
        }
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
    // ones, written after the log's size was taken (or left by a log cut
    // back): usually none or a few. A damaged record stops the search; the
    // walk names it.
    Record r;
    qint64 n = m_nRecords;
    while (n > 0 && Read(n - 1, &r) && (r.nOffset > m_nLogSize || r.End() > m_nLogSize))
        --n;
    m_nUsable = n;
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

QString WhereIs(qint64 nRecord)
{
    return QStringLiteral("record %1 (byte %2 of the index): ")
        .arg(nRecord)
        .arg(kHeaderSize + nRecord * kRecordSize);
}

KrTimeStamp Item::TimeAt(qint64 nAt) const
{
    if (kind != Kind::Received || nAt >= nLastOffset || nLastOffset <= nOffset)
        return nAt >= nLastOffset ? last : time;
    const double dShare =
        double(std::max<qint64>(nAt - nOffset, 0)) / double(nLastOffset - nOffset);
    const qint64 nSince = qint64(double(last.nMonoUs - time.nMonoUs) * dShare);
    return KrTimeStamp{time.nWallUs + nSince, time.nMonoUs + nSince};
}

CLogIndexWalk::CLogIndexWalk(CLogIndexReader& reader, qint64 nFirst)
    : m_reader(reader), m_nNext(std::max<qint64>(nFirst, 0)), m_nEnd(reader.UsableCount())
{
}

void CLogIndexWalk::Damaged(qint64 i, const QString& strWhy)
{
    m_damage << WhereIs(i) + strWhy;
    m_nDamaged = i;
}

// Record i when it is whole, within the log and in the log's order; else it
// is named as damaged.
bool CLogIndexWalk::Take(qint64 i, Record* pRecord)
{
    Record& r = *pRecord;
    if (!m_reader.Read(i, &r)) {
        Damaged(i, QStringLiteral("damaged (its check does not match)"));
        return false;
    }
    if (r.End() > m_reader.LogSize()) {
        Damaged(i, QStringLiteral("describes bytes up to %1, past the log's end").arg(r.End()));
        return false;
    }
    if (r.nOffset < m_nOffset) {
        Damaged(i, QStringLiteral("offset %1 goes back before %2").arg(r.nOffset).arg(m_nOffset));
        return false;
    }
    if (r.kind == RecordKind::Data && (r.nOffset < m_nDataEnd || r.nLength == 0)) {
        Damaged(i, r.nLength == 0
                       ? QStringLiteral("a data record of no bytes")
                       : QStringLiteral("bytes from %1 are described twice").arg(r.nOffset));
        return false;
    }
    m_nOffset = r.nOffset;
    if (r.kind == RecordKind::Data)
        m_nDataEnd = r.End();
    return true;
}

// The text pieces after a record at nOffset, up to nMax of them, joined.
QByteArray CLogIndexWalk::Pieces(qint64 nOffset, int nMax, int* pTaken)
{
    QByteArray bytes;
    int n = 0;
    Record r;
    while (n < nMax && m_nNext < m_nEnd && m_reader.Read(m_nNext, &r) &&
           r.kind == RecordKind::Text && r.nOffset == nOffset && r.nCode == n) {
        bytes += r.text;
        ++m_nNext;
        ++n;
    }
    if (pTaken)
        *pTaken = n;
    return bytes;
}

bool CLogIndexWalk::Next(Item* pItem)
{
    while (m_nNext < m_nEnd) {
        const qint64 i = m_nNext++;
        Record r;
        if (!Take(i, &r))
            continue;
        Item item;
        item.nRecord = i;
        item.nOffset = r.nOffset;
        item.nLength = r.nLength;
        item.time = r.time;
        switch (r.kind) {
        case RecordKind::Data: {
            item.kind = Item::Kind::Received;
            item.last = r.time;
            item.nLastOffset = r.nOffset;
            item.bContinues = r.nCode & kContinues;
            Record next;
            const bool bNext = (r.nCode & kSeveral) && m_nNext < m_nEnd &&
                               m_reader.Read(m_nNext, &next) && next.nOffset == r.End();
            if (bNext && next.kind == RecordKind::LastRead && next.nLength > 0 &&
                next.nLength < r.nLength && next.time.nMonoUs >= r.time.nMonoUs) {
                item.last = next.time;
                item.nLastOffset = r.End() - next.nLength;
                m_nOffset = next.nOffset;
                ++m_nNext;
            } else if (bNext && next.kind == RecordKind::Data && (next.nCode & kContinues) &&
                       next.time.nMonoUs >= r.time.nMonoUs) {
                item.last = next.time;
                item.nLastOffset = r.End();
            } else if (r.nCode & kSeveral) {
                item.bEndKnown = false;
            }
            break;
        }
        case RecordKind::Event:
            item.kind = Item::Kind::Event;
            item.nLength = 0;
            item.nCode = r.nCode;
            item.strText = QString::fromUtf8(Pieces(r.nOffset, kMaxTextPieces, nullptr));
            break;
        case RecordKind::Lost:
            item.kind = Item::Kind::Lost;
            break;
        case RecordKind::Sent: {
            item.kind = Item::Kind::Sent;
            item.bSummary = r.nCode & kSummary;
            item.last = r.time;
            int nTaken = 0;
            const int nWanted = SentPieces(r.nLength);
            item.bytes = Pieces(r.nOffset, nWanted, &nTaken);
            if (nTaken < nWanted && m_nNext < m_nEnd)
                Damaged(i, QStringLiteral("%1 of its %2 pieces of bytes sent follow it")
                               .arg(nTaken)
                               .arg(nWanted));
            Record next;
            if ((r.nCode & kSeveralPieces) && m_nNext < m_nEnd && m_reader.Read(m_nNext, &next) &&
                next.kind == RecordKind::LastRead && next.nOffset == r.nOffset &&
                next.time.nMonoUs >= r.time.nMonoUs) {
                item.last = next.time;
                ++m_nNext;
            }
            break;
        }
        // Pieces of a damaged record are not named again.
        case RecordKind::Text:
            if (m_nDamaged != i - 1)
                Damaged(i, QStringLiteral("text without its event"));
            else
                m_nDamaged = i;
            continue;
        case RecordKind::LastRead:
            if (m_nDamaged != i - 1)
                Damaged(i, QStringLiteral("a last read without its data record"));
            continue;
        default:
            continue; // a kind of a later writer
        }
        *pItem = item;
        return true;
    }
    return false;
}

Verdict Verify(CLogIndexReader& reader)
{
    Verdict v;
    v.bTornTail = reader.TornBytes() > 0;
    qint64 nOffset = 0; // the last record's offset
    bool bHaveData = false;
    Record data;      // the last data record
    KrTimeStamp last; // its last read, when known
    bool bLastKnown = false;
    bool bWantLast = false; // it holds several reads and wants its last
    // Text pieces: an event may have up to kMaxTextPieces, a sent record
    // has exactly as many as its count asks for, and then, when it came in
    // pieces, its last piece's record.
    int nPiece = 0, nMayPieces = 0, nMustPieces = 0;
    Record sent; // the last sent record
    bool bWantSentLast = false;
    for (qint64 i = 0; i < reader.RecordCount(); ++i) {
        Record r;
        if (!reader.At(i, &r)) {
            v.strProblem =
                WhereIs(i) +
                (reader.Read(i, &r)
                     ? QStringLiteral("describes bytes up to %1, past the log's end").arg(r.End())
                     : QStringLiteral("damaged (its check does not match)"));
            return v;
        }
        const bool bData = r.kind == RecordKind::Data;
        const bool bText = r.kind == RecordKind::Text;
        const bool bLast = r.kind == RecordKind::LastRead;
        const bool bSentLastDue = bWantSentLast && nPiece >= nMustPieces;
        const qint64 nPieceLength =
            std::min<qint64>(kTextPerRecord, SentStored(sent.nLength) - nPiece * kTextPerRecord);
        QString strWhy;
        if (!bData && r.kind != RecordKind::Event && r.kind != RecordKind::Lost && !bText &&
            r.kind != RecordKind::Sent && !bLast)
            strWhy = QStringLiteral("unknown kind %1").arg(int(r.kind));
        else if (r.nOffset < nOffset)
            strWhy = QStringLiteral("offset %1 goes back before %2").arg(r.nOffset).arg(nOffset);
        else if (nPiece < nMustPieces && !bText)
            strWhy = QStringLiteral("the sent record before it lacks %1 of its %2 pieces of bytes")
                         .arg(nMustPieces - nPiece)
                         .arg(nMustPieces);
        else if (bText && (nPiece >= std::max(nMayPieces, nMustPieces) || r.nCode != nPiece ||
                           r.nOffset != nOffset))
            strWhy = QStringLiteral("text without its event");
        else if (bText && nMustPieces > 0 && r.nLength != nPieceLength)
            strWhy = QStringLiteral("a piece of bytes sent of %1 bytes where %2 belong")
                         .arg(r.nLength)
                         .arg(nPieceLength);
        else if (bWantLast && !bLast && !(bData && (r.nCode & kContinues)))
            strWhy = QStringLiteral("the data record of several reads before it has no last read");
        else if (bSentLastDue && !bLast)
            strWhy = QStringLiteral("the sent record in pieces before it has no last piece");
        else if (bData && r.nOffset < (bHaveData ? data.End() : 0))
            strWhy = QStringLiteral("bytes from %1 are described twice").arg(r.nOffset);
        else if (bData && r.nLength == 0)
            strWhy = QStringLiteral("a data record of no bytes");
        else if (bData && (r.nCode & ~kDataFlags))
            strWhy = QStringLiteral("unknown flags %1 of a data record").arg(int(r.nCode));
        else if (bData && (r.nCode & kContinues) &&
                 (!bHaveData || data.End() != r.nOffset ||
                  (bLastKnown &&
                   (r.time.nMonoUs < last.nMonoUs || r.time.nMonoUs - last.nMonoUs >= kJoinGapUs))))
            strWhy = QStringLiteral("continues no data record before it");
        else if (bLast && !bSentLastDue &&
                 (!bWantLast || r.nOffset != data.End() || r.nLength == 0 ||
                  r.nLength >= data.nLength || r.time.nMonoUs < data.time.nMonoUs))
            strWhy = QStringLiteral("a last read that fits no data record before it");
        else if (bLast && bSentLastDue &&
                 (r.nOffset != sent.nOffset || r.nLength == 0 || r.nLength >= sent.nLength ||
                  r.time.nMonoUs < sent.time.nMonoUs))
            strWhy = QStringLiteral("a last piece that fits no sent record before it");
        else if (r.kind == RecordKind::Sent &&
                 ((r.nCode & ~kSentFlags) || r.nLength == 0 ||
                  bool(r.nCode & kSummary) != (r.nLength > quint32(kSentWhole))))
            strWhy = QStringLiteral("the flags %1 of a sent record do not fit its %2 bytes")
                         .arg(int(r.nCode))
                         .arg(r.nLength);
        if (!strWhy.isEmpty()) {
            v.strProblem = WhereIs(i) + strWhy;
            return v;
        }
        nOffset = r.nOffset;
        bWantLast = false;
        if (!bText) {
            nPiece = nMayPieces = nMustPieces = 0;
            bWantSentLast = false;
        }
        switch (r.kind) {
        case RecordKind::Data:
            v.nTimedBytes += r.nLength;
            bHaveData = true;
            data = r;
            bLastKnown = !(r.nCode & kSeveral);
            last = r.time;
            bWantLast = r.nCode & kSeveral;
            break;
        case RecordKind::LastRead:
            if (!bSentLastDue) {
                bLastKnown = true;
                last = r.time;
            }
            break;
        case RecordKind::Event:
            ++v.nEvents;
            nMayPieces = kMaxTextPieces;
            break;
        case RecordKind::Sent:
            ++v.nSent;
            v.nSentBytes += r.nLength;
            sent = r;
            nMustPieces = SentPieces(r.nLength);
            bWantSentLast = r.nCode & kSeveralPieces;
            break;
        case RecordKind::Text:
            ++nPiece;
            break;
        case RecordKind::Lost:
            v.nLostBytes += r.nLength;
            break;
        }
        ++v.nGood;
    }
    // A last read, a last piece or pieces missing at the very end were still
    // being written when the program ended: readers do without them.
    return v;
}

} // namespace LogIndex
