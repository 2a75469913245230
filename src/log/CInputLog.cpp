#include "CInputLog.h"

#include "CInputLogFile.h"
#include "CLogIndex.h"
#include "CLogPacing.h"
#include "Figure.h"
#include "KrThreadName.h"
#include "LogIndexFormat.h"

#include <QByteArray>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

// Small blocks of one day share an entry, so that what waits costs about its
// own size in memory whatever the block size; large blocks are cut to this
// size, so the one entry the writer holds while it writes stays small.
constexpr qsizetype kMaxEntry = 1024 * 1024;

// Written entries' memory kept for new entries: about what a flood fills
// while the writer waits for its batch (CLogPacing).
constexpr size_t kMaxSpares = 6;

// A block at least this long is shared with its sender rather than copied.
// Smaller ones are copied into recycled entries: held through a batch, the
// senders' own blocks would make the heap grow and shrink by a batch every
// time, fresh pages faulted in for every block.
constexpr qsizetype kShareFrom = 256 * 1024;

// After the wait Finish() grants, how long the writer has to notice the stop.
constexpr int kStopGraceMs = 250;

} // namespace

// Everything the writer thread shares with the owner. It lives as long as
// either of them: a writer left behind by Finish() keeps it alive.
struct CInputLog::State
{
    struct Pending
    {
        QString strName;
        QByteArray data;
        qsizetype nFrom = 0;  // bytes of data already written or dropped
        CLogIndexMarks marks; // what the timing index says of data
        bool bLog = false;    // it needs the log (bytes, or the file made),
                              // not only the index (notes alone)
    };

    Clock clock;
    qint64 nQueueCap = 0;

    // The hand-over lock: held for bookkeeping only, never during file work.
    mutable std::mutex mutex;
    std::condition_variable wake;    // the writer waits here for work
    std::condition_variable settled; // Flush and Finish wait here for the writer
    std::deque<Pending> queue;       // in order of reception
    qint64 nQueued = 0;              // bytes waiting, the entry being written included
    qint64 nInFlight = 0;            // bytes of the entry being written
    QString strInFlightName;         // and its file
    qint64 nTimesWaiting = 0;        // arrival times held by the queue's entries
    qint64 nLost = 0;
    bool bFailing = false;
    QString strFailName;
    QString strFailReason;
    bool bNewBlock = false;
    bool bRetryNow = false;
    bool bFinished = false; // no more blocks are taken
    bool bStop = false;     // the writer is to end
    bool bWriterStarted = false;
    bool bWriterExited = false;
    bool bWriterWaiting = false;
    CLogPacing pacing;              // the writer's own
    std::vector<QByteArray> spares; // written entries' memory, for new entries
    CLogIndexLoss loss;             // dropped before the oldest entry waiting
    bool bIndexing = true;
    QString strIndexFailure;
    QString strPortDescription;
    QString strSessionFile; // the file whose session start is queued
    CLogIndexWriter index;  // the writer thread's own
    quint64 nAttemptsBegun = 0;
    quint64 nAttemptsEnded = 0;

    // What the callback was last told of; under mutex.
    bool bToldFailing = false;
    qint64 nToldQueued = 0;
    qint64 nToldLost = 0;
    QString strToldName;
    QString strToldReason;
    QString strToldIndex;

    // Today's file name and the span of system time it holds for; under mutex.
    QString strDayName;
    qint64 nDayStart = 0;
    qint64 nDayEnd = 0;

    // Held while the callback runs, so that clearing it waits for a call in
    // progress.
    std::mutex callbackMutex;
    std::function<void()> fnChanged;

    QString TodaysName();
    // pBlock, when given, holds the bytes and may be shared instead of copied.
    void Enqueue(const QString& strName, const char* pData, qint64 nLength,
                 const QByteArray* pBlock, const KrBlockTimes& times, const CLogIndexNote* pNote);
    // No byte waits (a zero-length block's pending opening does not count).
    bool IsEmpty() const { return nQueued == 0; }
    // The oldest entry leaves the queue (taken or dropped), or comes back.
    Pending PopFront();
    void PushFront(Pending entry);
    bool Drain(std::unique_lock<std::mutex>& lock);
    void Fail(const QString& strName, const QString& strReason);
    bool TakeNews();
    void Notify();
    static void Run(std::shared_ptr<State> pState);
};

CInputLog::CInputLog(Clock clock, qint64 nQueueCap) : m_pState(std::make_shared<State>())
{
    m_pState->clock = std::move(clock);
    m_pState->nQueueCap = std::max<qint64>(nQueueCap, 0);
}

CInputLog::~CInputLog()
{
    Finish(0);
}

QString CInputLog::FileNameFor(const QDateTime& local)
{
    // The C locale's "%x" is "%m/%d/%y"; its '/' become '-' in the name. Built
    // here rather than by strftime, which would follow the process locale.
    const QDate date = local.date();
    const int nYear = (date.year() % 100 + 100) % 100;
    return QString::asprintf("VornTerm.%02d-%02d-%02d.LOG", date.month(), date.day(), nYear);
}

bool CInputLog::Write(const char* pData, int nLength)
{
    if (!pData || nLength < 0)
        nLength = 0;
    return Hand(pData, nLength, nullptr, KrBlockTimes(KrTimeStamp::Now()));
}

bool CInputLog::Write(const QByteArray& block)
{
    return Hand(block.constData(), block.size(), &block, KrBlockTimes(KrTimeStamp::Now()));
}

bool CInputLog::Write(const QByteArray& block, const KrBlockTimes& times)
{
    return Hand(block.constData(), block.size(), &block, times);
}

bool CInputLog::WriteEvent(const KrPortEvent& event)
{
    CLogIndexNote note;
    note.nCode = quint8(event.kind);
    note.strText = event.strText;
    note.time = event.time;
    return Hand(nullptr, 0, nullptr, KrBlockTimes(), &note);
}

bool CInputLog::WriteSent(const QByteArray& bytes, const KrTimeStamp& time, bool bContinues)
{
    CLogIndexNote note;
    note.bSent = true;
    note.bContinues = bContinues;
    note.nCount = bytes.size();
    note.sample = LogIndex::SentSample(bytes);
    note.time = time;
    return Hand(nullptr, 0, nullptr, KrBlockTimes(), &note);
}

void CInputLog::SetPortDescription(const QString& strDescription)
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    m_pState->strPortDescription = strDescription;
}

void CInputLog::BeginSession()
{
    {
        std::lock_guard<std::mutex> guard(m_pState->mutex);
        m_pState->strSessionFile.clear();
    }
    Hand(nullptr, 0, nullptr, KrBlockTimes(), nullptr, true);
}

bool CInputLog::Hand(const char* pData, qint64 nLength, const QByteArray* pBlock,
                     const KrBlockTimes& times, const CLogIndexNote* pNote, bool bSession)
{
    State& s = *m_pState;
    std::unique_lock<std::mutex> guard(s.mutex);
    if (s.bFinished) {
        s.nLost += nLength;
        return false;
    }
    if (!s.bWriterStarted) {
        try {
            m_writer = std::thread(&State::Run, m_pState);
            s.bWriterStarted = true;
        } catch (const std::system_error& e) {
            // The block waits; the next one tries to start the writer again.
            s.bFailing = true;
            s.strFailName = s.TodaysName();
            s.strFailReason = QStringLiteral("cannot start the log's writer: ") +
                              QString::fromLocal8Bit(e.what());
        }
    }
    const qint64 nLostBefore = s.nLost;
    const QString strName = s.TodaysName();
    if (s.strSessionFile != strName) {
        // A session's start comes before anything else of it in a file.
        CLogIndexNote start;
        start.nCode = LogIndex::kLogStartedCode;
        start.strText = s.strPortDescription;
        start.time = pNote ? pNote->time : times.IsEmpty() ? KrTimeStamp::Now() : times.At(0).time;
        s.strSessionFile = strName;
        s.Enqueue(strName, nullptr, 0, nullptr, KrBlockTimes(), &start);
    }
    if (!bSession)
        s.Enqueue(strName, pData, nLength, pBlock, times, pNote);
    // A writer at work finds the block when it looks again; only one that
    // waits needs waking, once.
    const bool bWake = s.bWriterWaiting && !s.bNewBlock;
    s.bNewBlock = true;
    const bool bTaken = s.nLost == nLostBefore;
    guard.unlock();
    if (bWake)
        s.wake.notify_one();
    return bTaken;
}

bool CInputLog::Flush(int nTimeoutMs)
{
    State& s = *m_pState;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.bWriterStarted && !s.bWriterExited) {
        // The next attempt to begin sees everything handed over until now.
        const quint64 nTarget = s.nAttemptsBegun + 1;
        s.bRetryNow = true;
        s.wake.notify_one();
        s.settled.wait_for(lock, std::chrono::milliseconds(std::max(nTimeoutMs, 0)),
                           [&] { return s.nAttemptsEnded >= nTarget || s.bWriterExited; });
    }
    return s.IsEmpty();
}

bool CInputLog::Finish(int nWaitMs)
{
    State& s = *m_pState;
    {
        std::lock_guard<std::mutex> guard(s.callbackMutex);
        s.fnChanged = nullptr;
    }
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.bFinished)
        return s.IsEmpty();
    s.bFinished = true;
    if (!s.bWriterStarted)
        return s.IsEmpty();

    // While the writer fails it tries again every kRetryIntervalMs.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(nWaitMs, 0));
    s.bRetryNow = true;
    s.wake.notify_one();
    s.settled.wait_until(lock, deadline, [&] { return s.IsEmpty() || s.bWriterExited; });
    s.bStop = true;
    s.wake.notify_one();
    s.settled.wait_until(lock, deadline + std::chrono::milliseconds(kStopGraceMs),
                         [&] { return s.bWriterExited; });
    const bool bExited = s.bWriterExited;
    lock.unlock();
    // A writer held up in a system call cannot be joined in time: it keeps
    // the shared state alive and ends on its own.
    if (bExited)
        m_writer.join();
    else
        m_writer.detach();
    lock.lock();
    return s.IsEmpty();
}

QString CInputLog::State::TodaysName()
{
    if (clock) {
        const QDateTime now = clock();
        return FileNameFor(now.isValid() ? now : QDateTime::currentDateTime());
    }
    // The local date is worked out once a day, not for every block: the
    // system clock in milliseconds tells whether the day is still the same.
    const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
    if (nNow < nDayStart || nNow >= nDayEnd) {
        const QDate today = QDateTime::fromMSecsSinceEpoch(nNow).date();
        strDayName = FileNameFor(QDateTime(today, QTime(12, 0)));
        nDayStart = QDateTime(today, QTime(0, 0)).toMSecsSinceEpoch();
        nDayEnd = QDateTime(today.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
        if (nDayEnd <= nNow || nDayStart > nNow)
            nDayEnd = nDayStart = 0; // a day the local clock skips: no cache
    }
    return strDayName;
}

void CInputLog::State::Enqueue(const QString& strName, const char* pData, qint64 nLength,
                               const QByteArray* pBlock, const KrBlockTimes& blockTimes,
                               const CLogIndexNote* pNote)
{
    // The entry being written cannot be dropped; what does not fit beside it
    // goes, the oldest first, this block's own oldest bytes last. The index
    // records each loss before the next bytes written.
    KrBlockTimes times = blockTimes;
    const qint64 nRoom = std::max<qint64>(nQueueCap - nInFlight, 0);
    if (nLength > nRoom) {
        const qint64 nDrop = nLength - nRoom;
        nLost += nDrop;
        loss.Add(nDrop, times.TimeAt(0));
        times = times.From(nDrop);
        pData += nDrop;
        nLength = nRoom;
    }
    // The block's times (or the note) go with its bytes into an entry; only
    // bytes, or a zero-length block, need the log itself.
    const auto mark = [&](Pending& entry, qint64 nAt, qint64 nBlockFrom) {
        if (pNote) {
            entry.marks.AddNote(nAt, *pNote);
            return;
        }
        nTimesWaiting += qint64(
            entry.marks.AddTimes(nAt, nBlockFrom == 0 ? times : times.From(nBlockFrom),
                                 size_t(std::max<qint64>(kMaxTimesWaiting - nTimesWaiting, 0))));
        entry.bLog = true;
    };
    qint64 nExcess = nQueued + nLength - nQueueCap;
    while (nExcess > 0 && !queue.empty()) {
        Pending& oldest = queue.front();
        const qint64 nLeft = oldest.data.size() - oldest.nFrom;
        const qint64 nDrop = std::min(nLeft, nExcess);
        loss.Add(nDrop, oldest.marks.TimeAt(oldest.nFrom));
        oldest.nFrom += nDrop;
        nQueued -= nDrop;
        nLost += nDrop;
        nExcess -= nDrop;
        if (nDrop == nLeft) {
            for (CLogIndexNote& note : oldest.marks.TakeNotes())
                loss.notes.push_back(std::move(note));
            PopFront();
        }
    }
    // A large block, taken whole, is shared; small ones are gathered into
    // one entry, which costs less than an entry each.
    if (pBlock && nLength == pBlock->size() && nLength >= kShareFrom && nLength <= kMaxEntry) {
        queue.push_back(Pending{strName, *pBlock, 0, {}, false});
        mark(queue.back(), 0, 0);
        nQueued += nLength;
        return;
    }
    // An entry whose times are full takes no more blocks while more times may
    // wait: each read keeps its own.
    const bool bTimesFit = pNote || nTimesWaiting >= kMaxTimesWaiting ||
                           (!queue.empty() && queue.back().marks.HasRoomFor(size_t(times.Count())));
    if (!queue.empty() && queue.back().strName == strName &&
        queue.back().data.size() + nLength <= kMaxEntry && bTimesFit) {
        mark(queue.back(), queue.back().data.size(), 0);
        queue.back().data.append(pData, qsizetype(nLength));
        nQueued += nLength;
        return;
    }
    // Even a zero-length block gets an entry: the writer opens, and so
    // creates, the file for it. A note alone gets one that only the index
    // is opened for, unless the log exists.
    qint64 nBlockFrom = 0;
    do {
        const qsizetype nPiece = qsizetype(std::min<qint64>(nLength, kMaxEntry));
        // Room for the blocks that follow, so that appending never moves it;
        // memory comes back from the writer, so a steady flow allocates none.
        QByteArray data;
        if (!spares.empty()) {
            data = std::move(spares.back());
            spares.pop_back();
        }
        data.reserve(kMaxEntry);
        data.append(pData, nPiece);
        queue.push_back(Pending{strName, std::move(data), 0, {}, false});
        mark(queue.back(), 0, nBlockFrom);
        nBlockFrom += nPiece;
        pData += nPiece;
        nLength -= nPiece;
        nQueued += nPiece;
    } while (nLength > 0);
}

CInputLog::State::Pending CInputLog::State::PopFront()
{
    Pending entry = std::move(queue.front());
    queue.pop_front();
    nTimesWaiting -= qint64(entry.marks.TimeCount());
    return entry;
}

void CInputLog::State::PushFront(Pending entry)
{
    nTimesWaiting += qint64(entry.marks.TimeCount());
    queue.push_front(std::move(entry));
}

void CInputLog::State::Fail(const QString& strName, const QString& strReason)
{
    bFailing = true;
    strFailName = strName;
    strFailReason = strReason;
}

bool CInputLog::State::Drain(std::unique_lock<std::mutex>& lock)
{
    while (!queue.empty() && !bStop) {
        // One opening for each run of blocks of the same day.
        const QString strName = queue.front().strName;
        const bool bNeedLog = queue.front().bLog;
        CInputLogFile file;
        const bool bIndex = bIndexing;
        lock.unlock();
        // Notes alone never create the log: without it the index describes
        // what comes before its first byte.
        const bool bLog = bNeedLog || QFileInfo::exists(strName);
        const bool bOpen = !bLog || file.Open(strName);
        // Where the next bytes land, for the timing index, which is opened
        // beside the log; its trouble never stops the log.
        qint64 nLogEnd = !bIndex ? -1 : bLog && bOpen ? file.Size() : 0;
        if (nLogEnd >= 0 && !index.Open(strName, nLogEnd))
            nLogEnd = -1;
        lock.lock();
        if (!bOpen) {
            Fail(strName, file.ErrorText());
            return false;
        }
        strIndexFailure = bIndex ? index.ErrorText() : QString();
        bool bOk = true;
        while (bOk && !queue.empty() && queue.front().strName == strName && !bStop &&
               (bLog || !queue.front().bLog)) {
            // The writer holds the oldest entry while it writes it, so that
            // blocks handed over meanwhile never touch it.
            Pending entry = PopFront();
            CLogIndexLoss lost = std::move(loss);
            loss = CLogIndexLoss();
            const qint64 nLeft = entry.data.size() - entry.nFrom;
            nInFlight = nLeft;
            strInFlightName = strName;
            lock.unlock();
            const qint64 nDone =
                bLog ? file.Append(entry.data.constData() + entry.nFrom, nLeft) : 0;
            // ---- The timing index: the records of what this entry put in
            // the log (and of what was lost before it), after those bytes
            // and before the next entry's.
            if (nLogEnd >= 0) {
                index.RecordLoss(lost, nLogEnd);
                index.Record(entry.marks, entry.nFrom, entry.nFrom + nDone, nLogEnd);
                nLogEnd += nDone;
            }
            lock.lock();
            if (bIndex && !index.ErrorText().isEmpty())
                strIndexFailure = index.ErrorText();
            nInFlight = 0;
            nQueued -= nDone;
            if (nDone < nLeft) {
                // Only the bytes that did not reach the file wait, first.
                entry.nFrom += qsizetype(nDone);
                PushFront(std::move(entry));
                Fail(strName, file.ErrorText());
                bOk = false;
            } else if (spares.size() < kMaxSpares && entry.data.capacity() >= kMaxEntry) {
                entry.data.resize(0); // keeps its memory
                spares.push_back(std::move(entry.data));
            }
        }
        lock.unlock();
        index.Close();
        file.Close();
        lock.lock();
        if (!bOk)
            return false;
    }
    if (!queue.empty())
        return false; // stopped part-way: the failure shown stays as it was
    bFailing = false;
    strFailName.clear();
    strFailReason.clear();
    return true;
}

bool CInputLog::State::TakeNews()
{
    const bool bNews = bFailing != bToldFailing || nLost != nToldLost ||
                       strFailName != strToldName || strFailReason != strToldReason ||
                       (bFailing && nQueued != nToldQueued) || strIndexFailure != strToldIndex;
    bToldFailing = bFailing;
    nToldQueued = nQueued;
    nToldLost = nLost;
    strToldName = strFailName;
    strToldReason = strFailReason;
    strToldIndex = strIndexFailure;
    return bNews;
}

void CInputLog::State::Notify()
{
    std::lock_guard<std::mutex> guard(callbackMutex);
    if (fnChanged)
        fnChanged();
}

void CInputLog::State::Run(std::shared_ptr<State> pState)
{
    KrNameThisThread("VornLogWriter");
    State& s = *pState;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        const auto hasWork = [&] {
            return s.bStop || s.bRetryNow || s.bNewBlock || (!s.bFailing && !s.queue.empty());
        };
        // A failing file is tried again now and then even when nothing comes.
        s.bWriterWaiting = true;
        if (s.bFailing && !s.queue.empty())
            s.wake.wait_for(lock, std::chrono::milliseconds(kRetryIntervalMs), hasWork);
        else
            s.wake.wait(lock, hasWork);
        s.bWriterWaiting = false;
        // Soon after a write, what comes meanwhile waits to go with the next
        // one; nobody wakes the writer for it. Flush and Finish do not wait.
        const qint64 nBatchMs = s.bFailing || s.bRetryNow ? 0 : s.pacing.MsUntilWrite();
        if (nBatchMs > 0 && !s.bStop)
            s.wake.wait_for(lock, std::chrono::milliseconds(nBatchMs),
                            [&] { return s.bStop || s.bRetryNow; });
        if (s.bStop)
            break;
        s.bNewBlock = false;
        s.bRetryNow = false;
        const quint64 nAttempt = ++s.nAttemptsBegun;
        if (!s.queue.empty())
            s.pacing.Writing();
        s.Drain(lock);
        // The news is out before anyone waiting learns that the attempt ended.
        if (s.TakeNews()) {
            lock.unlock();
            s.Notify();
            lock.lock();
        }
        s.nAttemptsEnded = nAttempt;
        s.settled.notify_all();
    }
    s.bWriterExited = true;
    s.settled.notify_all();
}

bool CInputLog::IsFailing() const
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    return m_pState->bFailing;
}

QString CInputLog::FailureText() const
{
    const State& s = *m_pState;
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.bFailing)
        return QString();
    QString strText = QStringLiteral("Cannot write '%1': %2 \u2014 %3 bytes waiting")
                          .arg(s.strFailName, s.strFailReason, Figure(s.nQueued));
    if (s.nLost > 0)
        strText += QStringLiteral(", %1 bytes lost").arg(Figure(s.nLost));
    return strText;
}

QString CInputLog::UnwrittenText() const
{
    const State& s = *m_pState;
    std::lock_guard<std::mutex> guard(s.mutex);
    if (s.IsEmpty())
        return QString();
    // Without a failure, the writer was still at work when the time was up.
    const QString strName = s.bFailing        ? s.strFailName
                            : s.nInFlight > 0 ? s.strInFlightName
                                              : s.queue.front().strName;
    const QString strReason =
        s.bFailing ? s.strFailReason : QStringLiteral("the writing did not end in time");
    return QStringLiteral("%1 received bytes could not be written to the log file '%2': %3.")
        .arg(Figure(s.nQueued), QFileInfo(strName).absoluteFilePath(), strReason);
}

QString CInputLog::IndexFailureText() const
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    return m_pState->strIndexFailure;
}

void CInputLog::SetIndexing(bool bOn)
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    m_pState->bIndexing = bOn;
}

qint64 CInputLog::QueuedBytes() const
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    return m_pState->nQueued;
}

qint64 CInputLog::LostBytes() const
{
    std::lock_guard<std::mutex> guard(m_pState->mutex);
    return m_pState->nLost;
}

void CInputLog::SetStateChangedCallback(std::function<void()> fnChanged)
{
    std::lock_guard<std::mutex> guard(m_pState->callbackMutex);
    m_pState->fnChanged = std::move(fnChanged);
}
