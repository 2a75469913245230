#pragma once
// The day's timing index as the log's writer keeps it (format:
// LogIndexFormat.h): what one entry of the log's queue says about its bytes
// (CLogIndexMarks), what was lost before an entry (CLogIndexLoss), and the
// writing (CLogIndexWriter).
//
// Threads: marks and losses are made on the port's thread under the log's
// hand-over lock and belong to the log's writer thread with their entry; a
// CLogIndexWriter is used on the log's writer thread only. Nothing here
// ever holds up the reception: what cannot be written is left out.

#include "CLogIndexFile.h"
#include "KrPortEvent.h"
#include "KrTimeStamp.h"

#include <QByteArray>
#include <QString>
#include <vector>

class CLogIndexMarks
{
public:
    // Past this many arrival times in one entry, a block shares the time of
    // the block before it (an earlier time, never a later one), so that what
    // waits stays small whatever the size of the blocks.
    static constexpr size_t kMaxTimes = 4096;

    // A block's times, its bytes appended at nOffset of the entry.
    void AddTimes(qint64 nOffset, const KrBlockTimes& times);
    // An event, before the entry's byte at nOffset.
    void AddEvent(qint64 nOffset, const KrPortEvent& event);
    // The arrival time of the entry's byte at nOffset.
    KrTimeStamp TimeAt(qint64 nOffset) const;
    // The events not yet recorded, taken out (their entry is dropped).
    std::vector<KrPortEvent> TakeEvents();

private:
    friend class CLogIndexWriter;
    struct Time
    {
        qint64 nOffset;
        KrTimeStamp time;
    };
    struct Event
    {
        qint64 nOffset;
        KrPortEvent event;
    };
    std::vector<Time> m_times;
    std::vector<Event> m_events;
    size_t m_nTime = 0;  // the first time past what was recorded
    size_t m_nEvent = 0; // the first event not recorded
};

// Received bytes that never reached the log (the queue was full), with the
// events that went with them; recorded before the next bytes written.
struct CLogIndexLoss
{
    qint64 nBytes = 0;
    KrTimeStamp first; // arrival of the first of them
    std::vector<KrPortEvent> events;

    void Add(qint64 n, const KrTimeStamp& time)
    {
        if (nBytes == 0)
            first = time;
        nBytes += n;
    }
    bool IsEmpty() const { return nBytes == 0 && events.empty(); }
};

class CLogIndexWriter
{
public:
    // Opens the index beside the log strLogName, which holds nLogSize bytes
    // now. An incomplete last record (a crash, a full disk) is cut off, and
    // records that claim more than the log holds go. False, with the reason
    // in ErrorText(), when the index cannot be used.
    bool Open(const QString& strLogName, qint64 nLogSize);
    // What was lost before the bytes about to be recorded, at nLogOffset.
    void RecordLoss(CLogIndexLoss& loss, qint64 nLogOffset);
    // Bytes [nFrom, nTo) of the entry with these marks now lie in the log
    // from nLogOffset on: their records (and the events among them) are
    // written. Call only after those bytes reached the log.
    void Record(CLogIndexMarks& marks, qint64 nFrom, qint64 nTo, qint64 nLogOffset);
    void Close();
    bool IsOpen() const { return m_file.IsOpen(); }

    // "Cannot write 'VornTerm.12-06-26.IDX': No space left on device"; empty
    // after a clean Open and writes.
    QString ErrorText() const { return m_strError; }

private:
    bool Fail(const QString& strWhy);
    bool TrimBeyond(qint64 nRecords, qint64 nLogSize);
    void Write();

    CLogIndexFile m_file;
    QString m_strName;
    QString m_strError;
    QByteArray m_pending;
};
