#pragma once
// The day's timing index as the log's writer keeps it (format:
// LogIndexFormat.h): what one entry of the log's queue says about its bytes
// (CLogIndexMarks), what was lost before an entry (CLogIndexLoss), and the
// writing (CLogIndexWriter).
//
// Threads: marks and losses are made on the thread that hands the bytes,
// events or sent bytes over, under the log's hand-over lock, and belong to
// the log's writer thread with their entry; a CLogIndexWriter is used on the
// log's writer thread only. Nothing here ever holds up the reception: what
// cannot be written is left out.

#include "CLogIndexFile.h"
#include "KrTimeStamp.h"

#include <QByteArray>
#include <QString>
#include <vector>

// Something the index records between received bytes: an event (the port's,
// or the start of a log session) or bytes sent.
struct CLogIndexNote
{
    bool bSent = false;
    quint8 nCode = 0;        // an event's code
    QString strText;         // an event's text
    qint64 nCount = 0;       // bytes sent
    QByteArray sample;       // what is kept of them (LogIndex::SentSample)
    bool bContinues = false; // the next piece of the same send
    KrTimeStamp time;
};

class CLogIndexMarks
{
public:
    // The arrival times one entry holds at most (about 192 KiB of them): the
    // log's queue begins a new entry for a block whose times do not fit.
    static constexpr size_t kMaxTimes = 8192;

    // A block's times, its bytes appended at nOffset of the entry; at most
    // nRoom of them, and no more than kMaxTimes in all. A part left without
    // a time shares that of the part before it (an earlier time, never a
    // later one). How many were added.
    size_t AddTimes(qint64 nOffset, const KrBlockTimes& times, size_t nRoom);
    // Whether nMore times fit beside those held.
    bool HasRoomFor(size_t nMore) const { return m_times.size() + nMore <= kMaxTimes; }
    size_t TimeCount() const { return m_times.size(); }
    // An event or bytes sent, before the entry's byte at nOffset.
    void AddNote(qint64 nOffset, CLogIndexNote note);
    // The arrival time of the entry's byte at nOffset.
    KrTimeStamp TimeAt(qint64 nOffset) const;
    // The notes not yet recorded, taken out (their entry is dropped).
    std::vector<CLogIndexNote> TakeNotes();

private:
    friend class CLogIndexWriter;
    struct Time
    {
        qint64 nOffset;
        KrTimeStamp time;
    };
    struct Note
    {
        qint64 nOffset;
        CLogIndexNote note;
    };
    std::vector<Time> m_times;
    std::vector<Note> m_notes;
    size_t m_nTime = 0; // the first time past what was recorded
    size_t m_nNote = 0; // the first note not recorded
};

// Received bytes that never reached the log (the queue was full), with the
// notes that went with them; recorded before the next bytes written.
struct CLogIndexLoss
{
    qint64 nBytes = 0;
    KrTimeStamp first; // arrival of the first of them
    std::vector<CLogIndexNote> notes;

    void Add(qint64 n, const KrTimeStamp& time)
    {
        if (nBytes == 0)
            first = time;
        nBytes += n;
    }
    bool IsEmpty() const { return nBytes == 0 && notes.empty(); }
};

// Writes the records. Reads that follow each other closely share a data
// record (LogIndex::kJoinGapUs, kMaxSpanUs), as does a read of a steady
// stream that came late while the line kept busy (a reading side held up is
// no gap in the line), and the pieces of one send with
// nothing between them a sent record; the last record, still open to what
// the next batch brings, is written with the others, whole (with its
// last-read record), and written again as it grows: the index never lags
// the log by more than the batch being written. The writer stays between
// openings of the file (one per batch), and knows what it wrote last only
// while nothing else changed the file.
class CLogIndexWriter
{
public:
    // Opens the index beside the log strLogName, which holds nLogSize bytes
    // now (0 when it does not exist yet: the records then precede the first
    // byte the log will hold). An incomplete last record (a crash, a full
    // disk) is cut off, and records that claim more than the log holds go.
    // False, with the reason in ErrorText(), when the index cannot be used.
    bool Open(const QString& strLogName, qint64 nLogSize);
    // What was lost before the bytes about to be recorded, at nLogOffset.
    void RecordLoss(CLogIndexLoss& loss, qint64 nLogOffset);
    // Bytes [nFrom, nTo) of the entry with these marks now lie in the log
    // from nLogOffset on: their records (and the notes among them) are
    // written. Call only after those bytes reached the log. An entry without
    // bytes records its notes with nFrom == nTo == 0.
    void Record(CLogIndexMarks& marks, qint64 nFrom, qint64 nTo, qint64 nLogOffset);
    void Close();
    bool IsOpen() const { return m_file.IsOpen(); }

    // "Cannot write 'VornTerm.12-06-26.IDX': No space left on device"; empty
    // after a clean Open and writes.
    QString ErrorText() const { return m_strError; }

private:
    // The data or sent record still open to more, and what of it is in the
    // file.
    struct Tail
    {
        bool bOpen = false;
        bool bSent = false;
        qint64 nOffset = 0, nLength = 0; // data: log bytes; sent: bytes sent
        quint8 nFlags = 0;               // data's
        KrTimeStamp first, last;         // its first read's or piece's time, its last's
        qint64 nLastOffset = 0;          // data: where its last read begins
        bool bPieces = false;            // sent: in more than one piece
        qint64 nLastPiece = 0;           // sent: the last piece's bytes
        QByteArray sample;               // sent: what is kept
        qint64 nFilePos = -1;            // where it was written, -1 when not yet
        QByteArray written;              // what was written there
    };

    // The pace of the stream being read, from the reads that came less
    // than LogIndex::kJoinGapUs after the one before: how many, their bytes
    // and the time between them. Kept across records; a gap of
    // LogIndex::kMaxSpanUs or more ends it.
    struct Pace
    {
        bool bAny = false;
        qint64 nIntervals = 0, nBytes = 0, nUs = 0;
        qint64 nReads = 0, nGoingOn = 0; // of the recent reads, those that went on
        KrTimeStamp last;                // the last read
        bool bLastCounted = false;       // it counted
    };

    bool Fail(const QString& strWhy);
    // Whether a read nGap after the one before, of nLength bytes, is the
    // stream going on at its pace, read late.
    bool SteadyAfter(qint64 nGap, qint64 nLength) const;
    void LearnPace(const KrTimeStamp& time, qint64 nLength);
    bool TrimBeyond(qint64 nRecords, qint64 nLogSize, qint64* pSize);
    void AddRead(qint64 nOffset, qint64 nLength, const KrTimeStamp& time);
    void AddNote(const CLogIndexNote& note, qint64 nOffset);
    // The open data record is done; bNextContinues when the next data record
    // goes on from it (its last read then needs no record of its own).
    void CloseTail(bool bNextContinues);
    QByteArray TailBytes(bool bWithLastRead) const;
    void Write();

    CLogIndexFile m_file;
    QString m_strName;
    QString m_strError;
    QByteArray m_pending;    // records to append
    qint64 m_nCutTo = -1;    // the file is cut here before they are
    qint64 m_nFileSize = -1; // the file's size after the last write
    Tail m_tail;
    bool m_bHaveRead = false; // m_lastRead holds the last data record's last read
    KrTimeStamp m_lastRead;
    qint64 m_nLastReadEnd = 0; // the end of that data record
    Pace m_pace;
};
