#pragma once
// Reading a timing index (format: LogIndexFormat.h) beside its log, without
// reading either whole: records are read by number, in small runs
// (CLogIndexReader), or item by item with what belongs together joined
// (CLogIndexWalk). What the index cannot vouch for is left out: a last
// record cut short (a crash, a full disk), the records at its end that claim
// bytes past the log's end (the log being written, or cut back) and damaged
// records, which the walk names. Used by vornterm-log and the tests; any
// thread, one reader per thread.

#include "LogIndexFormat.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class CLogIndexReader
{
public:
    // Reads the header of `index`, an open, seekable device, beside a log of
    // nLogSize bytes. False with the reason in ErrorText() when it is no
    // index this program reads.
    bool Open(QIODevice* pIndex, qint64 nLogSize);

    QString LogName() const { return m_strLogName; }
    // 0 for an index of the first writer, LogIndex::kRevision for this one's.
    quint16 Revision() const { return m_nRevision; }
    qint64 LogSize() const { return m_nLogSize; }
    QString ErrorText() const { return m_strError; }
    // Whole records in the file, and the bytes of a record cut short after
    // them (0 when none).
    qint64 RecordCount() const { return m_nRecords; }
    qint64 TornBytes() const { return m_nTorn; }

    // Record i; false when it is damaged or claims bytes the log does not
    // hold.
    bool At(qint64 i, LogIndex::Record* pRecord);
    // Record i as it is, whatever the log holds; false when it is damaged.
    bool Read(qint64 i, LogIndex::Record* pRecord);
    // How many records from the first are usable: all but those at the end
    // that claim bytes past the log's end. Damaged ones among them are the
    // walk's to name.
    qint64 UsableCount();
    // The first record whose data ends after log offset nOffset (a binary
    // search over the usable records); UsableCount() when none.
    qint64 FirstEndingAfter(qint64 nOffset);
    // The first data record whose wall time is at or after nWallUs, for
    // indexes whose times never go back (a clock set back makes it a guess
    // near the right place); UsableCount() when none.
    qint64 FirstAtOrAfter(qint64 nWallUs);

private:
    // The usable record at or after i that carries a time (data, lost or
    // event), or -1.
    qint64 TimedAtOrAfter(qint64 i, qint64 nEnd, LogIndex::Record* pRecord);

    QIODevice* m_pIndex = nullptr;
    qint64 m_nLogSize = 0;
    qint64 m_nRecords = 0;
    qint64 m_nTorn = 0;
    qint64 m_nUsable = -1; // not yet known
    quint16 m_nRevision = 0;
    QString m_strLogName;
    QString m_strError;
    // A small window of records read ahead.
    QByteArray m_window;
    qint64 m_nWindowFirst = -1;
};

namespace LogIndex {

// One thing the index says, its records joined: received bytes with their
// times, an event with its text, bytes lost, bytes sent.
struct Item
{
    enum class Kind
    {
        Received,
        Event,
        Lost,
        Sent
    };
    Kind kind = Kind::Received;
    qint64 nRecord = 0; // its first record
    qint64 nOffset = 0; // received: its first log byte; else where it happened
    qint64 nLength = 0; // received: log bytes; lost: bytes lost; sent: bytes sent
    KrTimeStamp time;   // received: its first read's; else when it happened

    // Received: its last read, and where that begins (the first read's time
    // and offset when it is one read). A data record that the next one
    // continues ends at that one's time. A record of several reads whose
    // last one is not known (the program ended while writing it) gives all
    // its bytes its first time (bEndKnown false).
    KrTimeStamp last;
    qint64 nLastOffset = 0;
    bool bContinues = false; // the received bytes before it went on into it
    bool bEndKnown = true;

    quint8 nCode = 0;      // event: its code
    QString strText;       // event: its text
    QByteArray bytes;      // sent: what is stored of them
    bool bSummary = false; // sent: the first and the last kSentEdge only

    qint64 End() const { return nOffset + (kind == Kind::Received ? nLength : 0); }
    // The time of received byte nAt: between the first read and the last,
    // on a straight line by its offset; the last read's from there on.
    KrTimeStamp TimeAt(qint64 nAt) const;
};

// Walks the usable records of an opened reader from record nFirst on and
// gives them item by item. A damaged record (a check that does not match, a
// place out of the log's order, a piece without its record) is skipped and
// named in Damage(); the bytes it would have described have no time. Kinds
// it does not know are skipped without a word, as a reader of the first
// writer skipped this one's.
class CLogIndexWalk
{
public:
    explicit CLogIndexWalk(CLogIndexReader& reader, qint64 nFirst = 0);
    bool Next(Item* pItem);
    // The next record to be read.
    qint64 Position() const { return m_nNext; }
    // "record 12 (byte 448 of the index): damaged (its check does not match)"
    const QStringList& Damage() const { return m_damage; }

private:
    bool Take(qint64 i, Record* pRecord);
    void Damaged(qint64 i, const QString& strWhy);
    QByteArray Pieces(qint64 nOffset, int nMax, int* pTaken);

    CLogIndexReader& m_reader;
    qint64 m_nNext = 0;
    qint64 m_nEnd = 0;
    qint64 m_nOffset = 0;   // the last record's offset
    qint64 m_nDataEnd = 0;  // where the last data record ended
    qint64 m_nDamaged = -2; // the last record named, or a piece after it
    QStringList m_damage;
};

// "record 12 (byte 448 of the index): "
QString WhereIs(qint64 nRecord);

// What --verify finds: the records that agree with the log, and the first
// disagreement (empty when there is none).
struct Verdict
{
    qint64 nGood = 0;       // records that agree, from the first
    qint64 nTimedBytes = 0; // log bytes that have a time
    qint64 nEvents = 0;
    qint64 nLostBytes = 0;
    QString strProblem;     // "record 12 (byte 832 of the index): ..."
    bool bTornTail = false; // a record cut short at the end, ignored
    qint64 nSent = 0;       // sent records
    qint64 nSentBytes = 0;
};

// Checks every record of an opened reader against the log: each whole and
// correctly checked, of a known kind, in log order, data runs that neither
// overlap nor go past the log's end, an event's text after the event, a sent
// record's bytes after it, a data record of several reads followed by its
// last read (or continued by the next). What the program could not finish
// when it ended (the last record's last read or pieces) is not a fault.
Verdict Verify(CLogIndexReader& reader);

} // namespace LogIndex
