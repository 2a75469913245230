#include "CLogIndex.h"

#include "LogIndexFormat.h"

#include <QFileInfo>

#include <algorithm>

using LogIndex::kHeaderSize;
using LogIndex::kRecordSize;

size_t CLogIndexMarks::AddTimes(qint64 nOffset, const KrBlockTimes& times, size_t nRoom)
{
    const size_t nBefore = m_times.size();
    const size_t nMax = nBefore + std::min(nRoom, kMaxTimes - std::min(nBefore, kMaxTimes));
    for (qsizetype i = 0; i < times.Count(); ++i) {
        const qint64 nAt = nOffset + times.At(i).nOffset;
        if (!m_times.empty() && m_times.back().nOffset == nAt)
            m_times.back().time = times.At(i).time; // an empty part before it
        else if (m_times.size() < nMax)
            m_times.push_back(Time{nAt, times.At(i).time});
        else
            break;
    }
    return m_times.size() - nBefore;
}

void CLogIndexMarks::AddNote(qint64 nOffset, CLogIndexNote note)
{
    m_notes.push_back(Note{nOffset, std::move(note)});
}

KrTimeStamp CLogIndexMarks::TimeAt(qint64 nOffset) const
{
    const auto it = std::upper_bound(m_times.begin(), m_times.end(), nOffset,
                                     [](qint64 n, const Time& t) { return n < t.nOffset; });
    return it == m_times.begin() ? KrTimeStamp() : std::prev(it)->time;
}

std::vector<CLogIndexNote> CLogIndexMarks::TakeNotes()
{
    std::vector<CLogIndexNote> notes;
    for (size_t i = m_nNote; i < m_notes.size(); ++i)
        notes.push_back(std::move(m_notes[i].note));
    m_nNote = m_notes.size();
    return notes;
}

namespace {

constexpr qint64 kMaxRecordBytes = 0x7FFFFFFF;
// How long a stream must have kept its pace before a late read of it counts
// as no gap.
constexpr qint64 kPaceReads = 8;
constexpr qint64 kPaceSpanUs = 5000;
// How long after the one before a late read of a steady stream may come: up
// to this many of its usual intervals, and never more than kMaxLateUs. A
// reading side held up by a busy machine (4 to 10 ms at a load of 5 or 6 on
// two cores) stays within them.
constexpr qint64 kLateIntervals = 16;
constexpr qint64 kMaxLateUs = 20000;

} // namespace

bool CLogIndexWriter::Fail(const QString& strWhy)
{
    m_strError = strWhy;
    Close();
    // What the file holds is no longer known: the next opening starts afresh.
    m_nFileSize = -1;
    return false;
}

bool CLogIndexWriter::Open(const QString& strLogName, qint64 nLogSize)
{
    const QString strName = LogIndex::IndexNameFor(strLogName);
    qint64 nKnownSize = strName == m_strName ? m_nFileSize : -1;
    Close();
    m_strName = strName;
    // Until the file is known to be as this writer left it.
    m_nFileSize = -1;
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
        nSize = kHeaderSize;
    } else {
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
        nSize -= nTorn;
        if (!TrimBeyond((nSize - kHeaderSize) / kRecordSize, nLogSize, &nSize))
            return false;
    }
    if (nSize == nKnownSize && m_tail.nFilePos >= 0) {
        // The open record is where it was written, unless another writer
        // left the file at the same size by chance.
        QByteArray there(m_tail.written.size(), '\0');
        if (m_file.ReadAt(m_tail.nFilePos, there.data(), there.size()) != there.size() ||
            there != m_tail.written)
            nKnownSize = -1;
    }
    if (nSize != nKnownSize) {
        // Not as this writer left it (another day, another writer, a cut):
        // what comes next starts a record of its own.
        m_tail = Tail();
        m_bHaveRead = false;
        m_pace = Pace();
    }
    m_nFileSize = nSize;
    m_strError.clear();
    return true;
}

bool CLogIndexWriter::TrimBeyond(qint64 nRecords, qint64 nLogSize, qint64* pSize)
{
    // Records are in log order: the first that claims more than the log
    // holds (or is damaged), and all after it, go. Only the last is read when
    // all is well.
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
    *pSize = kHeaderSize + nLow * kRecordSize;
    if (!m_file.Truncate(*pSize))
        return Fail(QStringLiteral("Cannot write '%1': %2").arg(m_strName, m_file.ErrorText()));
    return true;
}

void CLogIndexWriter::RecordLoss(CLogIndexLoss& loss, qint64 nLogOffset)
{
    if (!m_file.IsOpen() || loss.IsEmpty())
        return;
    if (loss.nBytes > 0) {
        CloseTail(false);
        LogIndex::Record r;
        r.nOffset = nLogOffset;
        r.nLength = quint32(std::min<qint64>(loss.nBytes, 0xFFFFFFFF));
        r.kind = LogIndex::RecordKind::Lost;
        r.time = loss.first;
        LogIndex::AppendRecord(m_pending, r);
    }
    for (const CLogIndexNote& note : loss.notes)
        AddNote(note, nLogOffset);
    loss = CLogIndexLoss();
}

void CLogIndexWriter::Record(CLogIndexMarks& m, qint64 nFrom, qint64 nTo, qint64 nLogOffset)
{
    if (!m_file.IsOpen())
        return;
    const auto logAt = [&](qint64 nAt) { return nLogOffset + (nAt - nFrom); };
    for (qint64 nPos = nFrom;;) {
        // Notes before this byte (also those of bytes dropped from the
        // entry's front) come first.
        while (m.m_nNote < m.m_notes.size() && m.m_notes[m.m_nNote].nOffset <= nPos)
            AddNote(m.m_notes[m.m_nNote++].note, logAt(nPos));
        if (nPos >= nTo)
            break;
        while (m.m_nTime < m.m_times.size() && m.m_times[m.m_nTime].nOffset <= nPos)
            ++m.m_nTime;
        // The run of bytes with one time: to the next time, the next note or
        // the end of what was written.
        qint64 nEnd = std::min<qint64>(nTo, nPos + kMaxRecordBytes);
        if (m.m_nTime < m.m_times.size())
            nEnd = std::min(nEnd, m.m_times[m.m_nTime].nOffset);
        if (m.m_nNote < m.m_notes.size())
            nEnd = std::min(nEnd, m.m_notes[m.m_nNote].nOffset);
        if (m.m_nTime > 0)
            AddRead(logAt(nPos), nEnd - nPos, m.m_times[m.m_nTime - 1].time);
        nPos = nEnd;
    }
    Write();
}

void CLogIndexWriter::LearnPace(const KrTimeStamp& time, qint64 nLength)
{
    Pace& p = m_pace;
    if (time == p.last) {
        // The same read, in parts.
        if (p.bLastCounted)
            p.nBytes += nLength;
        return;
    }
    const qint64 nGap = time.nMonoUs - p.last.nMonoUs;
    // A stream that stops, or a clock that goes back, has no pace to go on.
    if (!p.bAny || nGap < 0 || nGap >= LogIndex::kMaxSpanUs) {
        p = Pace();
        p.bAny = true;
        p.last = time;
        return;
    }
    // Only reads that came close together tell the pace: bursts with gaps
    // between them never make one. (Counting the late reads it let go on
    // too fed on itself: bursts 2 ms apart, once some of them had been read
    // close together, were taken for a stream.)
    p.bLastCounted = nGap < LogIndex::kJoinGapUs;
    if (p.bLastCounted) {
        ++p.nIntervals;
        p.nBytes += nLength;
        p.nUs += nGap;
        // The last second or so counts.
        if (p.nUs > 1000000) {
            p.nIntervals /= 2;
            p.nBytes /= 2;
            p.nUs /= 2;
        }
    }
    p.last = time;
}

bool CLogIndexWriter::SteadyAfter(qint64 nGap, qint64 nLength) const
{
    // A stream that has kept its pace for a while, read late: at that pace
    // the read's bytes took all but less than the resolution of the time
    // since the read before, which is at most kLateIntervals of its usual
    // intervals (and kMaxLateUs).
    // Reads that mostly go on from the one before make a stream; bursts
    // whose reads a held-up reading side brought close now and then do not.
    const Pace& p = m_pace;
    return p.nIntervals >= kPaceReads && p.nUs >= kPaceSpanUs && 2 * p.nGoingOn >= p.nReads &&
           nGap <= kMaxLateUs && nGap * p.nIntervals <= kLateIntervals * p.nUs &&
           nLength * p.nUs > (nGap - LogIndex::kJoinGapUs) * p.nBytes;
}

void CLogIndexWriter::AddRead(qint64 nOffset, qint64 nLength, const KrTimeStamp& time)
{
    if (nLength <= 0)
        return;
    // Whether the read goes on from the one before: tested before it
    // teaches the pace.
    const qint64 nSince = time.nMonoUs - m_pace.last.nMonoUs;
    const bool bNew = m_pace.bAny && time != m_pace.last && nSince >= 0;
    const bool bSteady = bNew && nSince >= LogIndex::kJoinGapUs && SteadyAfter(nSince, nLength);
    LearnPace(time, nLength);
    if (bNew && m_pace.bAny) {
        ++m_pace.nReads;
        if (nSince < LogIndex::kJoinGapUs || bSteady)
            ++m_pace.nGoingOn;
        if (m_pace.nReads > 64) {
            m_pace.nReads /= 2;
            m_pace.nGoingOn /= 2;
        }
    }
    Tail& t = m_tail;
    if (t.bOpen && !t.bSent && t.nOffset + t.nLength == nOffset) {
        const qint64 nGap = time.nMonoUs - t.last.nMonoUs;
        if (time == t.last && t.nLength + nLength <= kMaxRecordBytes) {
            t.nLength += nLength; // the same read, in parts
            return;
        }
        if (nGap >= 0 && (nGap < LogIndex::kJoinGapUs || bSteady)) {
            if (time.nMonoUs - t.first.nMonoUs < LogIndex::kMaxSpanUs &&
                t.nLength + nLength <= kMaxRecordBytes) {
                t.nFlags |= LogIndex::kSeveral;
                t.nLastOffset = nOffset;
                t.last = time;
                t.nLength += nLength;
                return;
            }
            // The stream goes on in a record of its own.
            CloseTail(true);
            t = Tail();
            t.bOpen = true;
            t.nOffset = t.nLastOffset = nOffset;
            t.nLength = nLength;
            t.nFlags = LogIndex::kContinues;
            t.first = t.last = time;
            return;
        }
    }
    CloseTail(false);
    const qint64 nGap = time.nMonoUs - m_lastRead.nMonoUs;
    const bool bContinues =
        m_bHaveRead && m_nLastReadEnd == nOffset && nGap >= 0 && nGap < LogIndex::kJoinGapUs;
    t = Tail();
    t.bOpen = true;
    t.nOffset = t.nLastOffset = nOffset;
    t.nLength = nLength;
    t.nFlags = bContinues ? LogIndex::kContinues : 0;
    t.first = t.last = time;
}

void CLogIndexWriter::AddNote(const CLogIndexNote& note, qint64 nOffset)
{
    Tail& t = m_tail;
    if (note.bSent && note.bContinues && t.bOpen && t.bSent && t.nOffset == nOffset &&
        t.nLength + note.nCount <= 0xFFFFFFFF) {
        // The next piece of the send, with nothing between them.
        t.sample = LogIndex::JoinSentSamples(t.sample, t.nLength, note.sample, note.nCount);
        t.nLength += note.nCount;
        t.nLastPiece = note.nCount;
        t.last = note.time;
        t.bPieces = true;
        return;
    }
    CloseTail(false);
    if (!note.bSent) {
        m_pending += LogIndex::EncodeEvent(nOffset, note.nCode, note.time, note.strText);
        return;
    }
    t = Tail();
    t.bOpen = t.bSent = true;
    t.nOffset = nOffset;
    t.nLength = t.nLastPiece = note.nCount;
    t.sample = note.sample;
    t.first = t.last = note.time;
}

QByteArray CLogIndexWriter::TailBytes(bool bWithLastRead) const
{
    const Tail& t = m_tail;
    LogIndex::Record last;
    last.kind = LogIndex::RecordKind::LastRead;
    last.time = t.last;
    if (t.bSent) {
        QByteArray bytes = LogIndex::EncodeSent(t.nOffset, t.nLength, t.sample, t.first, t.bPieces);
        if (t.bPieces) {
            last.nOffset = t.nOffset;
            last.nLength = quint32(t.nLastPiece);
            LogIndex::AppendRecord(bytes, last);
        }
        return bytes;
    }
    LogIndex::Record r;
    r.nOffset = t.nOffset;
    r.nLength = quint32(t.nLength);
    r.kind = LogIndex::RecordKind::Data;
    r.nCode = t.nFlags;
    r.time = t.first;
    QByteArray bytes = LogIndex::EncodeRecord(r);
    if (bWithLastRead) {
        last.nOffset = t.nOffset + t.nLength;
        last.nLength = quint32(last.nOffset - t.nLastOffset);
        LogIndex::AppendRecord(bytes, last);
    }
    return bytes;
}

void CLogIndexWriter::CloseTail(bool bNextContinues)
{
    Tail& t = m_tail;
    if (!t.bOpen)
        return;
    const QByteArray bytes = TailBytes((t.nFlags & LogIndex::kSeveral) && !bNextContinues);
    if (t.nFilePos < 0) {
        m_pending += bytes;
    } else if (bytes != t.written) {
        // Written already, and nothing after it: written again in its place.
        m_nCutTo = t.nFilePos;
        m_pending.prepend(bytes);
    }
    if (!t.bSent) {
        m_bHaveRead = true;
        m_lastRead = t.last;
        m_nLastReadEnd = t.nOffset + t.nLength;
    }
    t = Tail();
}

void CLogIndexWriter::Write()
{
    if (!m_file.IsOpen())
        return;
    // The open data record goes with the rest, whole, as if it ended here;
    // the next batch writes it again in its place if it grew.
    Tail& t = m_tail;
    if (t.bOpen) {
        const QByteArray bytes = TailBytes(t.nFlags & LogIndex::kSeveral);
        if (t.nFilePos < 0) {
            t.nFilePos = (m_nCutTo >= 0 ? m_nCutTo : m_nFileSize) + m_pending.size();
            m_pending += bytes;
        } else if (bytes != t.written) {
            m_nCutTo = t.nFilePos;
            m_pending = bytes; // nothing follows it
        }
        t.written = bytes;
    }
    const QString strCannot = QStringLiteral("Cannot write '%1': ").arg(m_strName);
    if (m_nCutTo >= 0) {
        if (!m_file.Truncate(m_nCutTo)) {
            Fail(strCannot + m_file.ErrorText());
            return;
        }
        m_nFileSize = m_nCutTo;
        m_nCutTo = -1;
    }
    if (m_pending.isEmpty())
        return;
    const qint64 nDone = m_file.Append(m_pending.constData(), m_pending.size());
    if (nDone < m_pending.size()) {
        // What did not fit is left out; the next Open cuts off a record cut
        // short here.
        Fail(strCannot + m_file.ErrorText());
        return;
    }
    m_nFileSize += nDone;
    m_pending.resize(0); // keeps its room for the next records
    m_strError.clear();
}

void CLogIndexWriter::Close()
{
    m_file.Close();
    if (!m_pending.isEmpty() || m_nCutTo >= 0) {
        // Records never written: the file is not as this writer knows it.
        m_pending.clear();
        m_nCutTo = -1;
        m_nFileSize = -1;
    }
}
