#pragma once

#include "KrPortEvent.h"
#include "KrTimeStamp.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

struct CLogIndexNote;

// Appends received bytes to the day's log file "VornTerm.MM-DD-YY.LOG" in the
// current directory.
//
// Threads: Write() runs on the port's thread and only hands the block over (a
// copy into the log's queue under a short lock, never any file work). A writer
// thread of the log's own, started with the first block, does all the file
// work in order of reception: one opening, appending and closing for each run
// of blocks of one day, without the hand-over lock held. It writes in
// batches: soon after a write, what comes waits until CLogPacing::kIntervalMs
// after that write began, and goes with the next one. Flush(), Finish() and
// the destructor run on the owner's thread; the state getters on any thread.
//
// Each block carries the name of the day it was received on. Blocks that
// cannot be written wait and the writer tries them again by itself; the
// waiting bytes are capped, the oldest dropped first and counted as lost.
//
// Beside each day's log the same writer keeps its timing index
// ("VornTerm.MM-DD-YY.IDX", CLogIndex): the arrival times of the bytes, the
// port's events, the bytes sent and the bytes lost, each record written after
// the log bytes it describes. Only received bytes create the day's log:
// events and sent bytes that come before the day's first received byte go to
// the index alone, placed before the log's first byte. Each log session (the
// first record of a file written by this object, and each BeginSession())
// starts with an event naming the port (SetPortDescription). An index that
// cannot be written never stops the log.
class CInputLog
{
public:
    using Clock = std::function<QDateTime()>;
    static constexpr qint64 kDefaultQueueCap = qint64(64) * 1024 * 1024;
    // How often the writer tries a failing file again when no block comes.
    static constexpr int kRetryIntervalMs = 250;
    // The arrival times that may wait for the writer (about 768 KiB of them),
    // each read's own; past them a block shares the time of the one before
    // it (an earlier time) until the writer has caught up.
    static constexpr qint64 kMaxTimesWaiting = 32768;

    // An empty clock means the system's local time.
    explicit CInputLog(Clock clock = {}, qint64 nQueueCap = kDefaultQueueCap);
    // Finish(0): what still waits is dropped.
    ~CInputLog();
    CInputLog(const CInputLog&) = delete;
    CInputLog& operator=(const CInputLog&) = delete;

    // "VornTerm." + the date as "%m/%d/%y" (the C locale's "%x") + ".LOG", with
    // '/' replaced by '-'; never depends on the process locale.
    static QString FileNameFor(const QDateTime& local);

    // Hands the block to the writer for today's file; never waits for the
    // disk. A zero-length block only creates the file. False when bytes had to
    // be dropped to keep the queue within its cap, or when the log has been
    // finished (the block is then dropped and counted as lost).
    bool Write(const char* pData, int nLength);
    // The same for a block held in a byte array: a large one is shared, not
    // copied. Without times the block is stamped as it is handed over.
    bool Write(const QByteArray& block);
    bool Write(const QByteArray& block, const KrBlockTimes& times);
    // A port event, between the bytes handed over before and after it; it
    // goes to the index only and never creates the log.
    bool WriteEvent(const KrPortEvent& event);
    // Bytes the port accepted at `time`, between the received bytes handed
    // over before and after: a sent record in the index, never in the log,
    // and never creating it. Up to LogIndex::kSentWhole bytes are kept whole;
    // of more, the first and the last LogIndex::kSentEdge with the count.
    // bContinues: the next piece of the same send (a file, a transfer); it
    // joins the record of the piece before when nothing was received and
    // nothing happened between them, so that a large send costs one record
    // whatever its pieces. Any thread; copies at most LogIndex::kSentWhole
    // bytes and never waits for the disk.
    bool WriteSent(const QByteArray& bytes, const KrTimeStamp& time, bool bContinues = false);
    // The port as the session event names it, e.g. "/dev/ttyUSB0
    // 115200,8,N,1"; any thread. Used by the next session event.
    void SetPortDescription(const QString& strDescription);
    // A log session starts now (the checkbox was ticked): the index gets an
    // event with the port's description, before anything handed over later.
    // Any thread; never creates the log.
    void BeginSession();
    // Has the writer try what waits now and waits up to nTimeoutMs for that
    // attempt to end. True when nothing waits.
    bool Flush(int nTimeoutMs);
    // Takes no more blocks, gives the writer up to nWaitMs to write what waits
    // and stops it (a writer held up in the system beyond that is left behind;
    // it no longer touches anything of the owner). No state callback after it.
    // True when nothing waits. Later calls only return the state.
    bool Finish(int nWaitMs);

    bool IsFailing() const;
    // Empty while not failing, else e.g. "Cannot write 'VornTerm.12-06-26.LOG':
    // Permission denied — 1,234 bytes waiting" (+ ", 56 bytes lost").
    QString FailureText() const;
    // Empty when nothing waits, else e.g. "1,234 received bytes could not be
    // written to the log file '/home/ann/VornTerm.12-06-26.LOG': not a regular
    // file."
    QString UnwrittenText() const;
    // Empty while the timing index is written, else why it is not, e.g.
    // "Cannot write 'VornTerm.12-06-26.IDX': Permission denied".
    QString IndexFailureText() const;
    // Whether the index is kept (it is by default); for comparing costs.
    void SetIndexing(bool bOn);

    // Bytes handed over and not yet in their file.
    qint64 QueuedBytes() const;
    // Bytes dropped from a full queue, or after Finish, since construction.
    qint64 LostBytes() const;

    // Called on the writer's thread, with no lock of the log held, whenever
    // IsFailing(), LostBytes() or the failing file or reason changes, and
    // while failing whenever QueuedBytes() changes, and whenever
    // IndexFailureText() changes. It must not call Write(),
    // Flush() or Finish(); it should only hand the news on.
    void SetStateChangedCallback(std::function<void()> fnChanged);

private:
    struct State;
    // Bytes (pNote null; zero bytes create the file), or a note, or with
    // neither and bSession a session's start alone.
    bool Hand(const char* pData, qint64 nLength, const QByteArray* pBlock,
              const KrBlockTimes& times, const CLogIndexNote* pNote = nullptr,
              bool bSession = false);
    std::shared_ptr<State> m_pState;
    std::thread m_writer;
};
