#pragma once
// Reading a timing index (format: LogIndexFormat.h) beside its log, without
// reading either whole: records are read by number, in small runs. What the
// index cannot vouch for is left out: a last record cut short (a crash, a
// full disk) and any record that claims bytes past the log's end (the log
// being written, or cut back). Used by vornterm-log and the tests; any
// thread, one reader per thread.

#include "LogIndexFormat.h"

#include <QIODevice>
#include <QString>
#include <QtGlobal>

class CLogIndexReader
{
public:
    // Reads the header of `index`, an open, seekable device, beside a log of
    // nLogSize bytes. False with the reason in ErrorText() when it is no
    // index this program reads.
    bool Open(QIODevice* pIndex, qint64 nLogSize);

    QString LogName() const { return m_strLogName; }
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
    // How many records from the first are usable: they stop at the first
    // damaged one or the first past the log's end.
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
    QString m_strLogName;
    QString m_strError;
    // A small window of records read ahead.
    QByteArray m_window;
    qint64 m_nWindowFirst = -1;
};

namespace LogIndex {

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
};

// Checks every record of an opened reader against the log: each whole and
// correctly checked, of a known kind, in log order, data runs that neither
// overlap nor go past the log's end, an event's text after the event.
Verdict Verify(CLogIndexReader& reader);

} // namespace LogIndex
