#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <deque>
#include <functional>
#include <mutex>

// Appends received bytes to the day's log file "VornTerm.MM-DD-YY.LOG" in the
// current directory, opening and closing the file for every block.
//
// Blocks that cannot be written are kept, each with the file of the day it was
// received on, and written ahead of the next block once the file can be
// written again; the waiting bytes are capped, the oldest dropped first.
//
// Write() and Flush() may be called from different threads (they take turns);
// the state getters may be called from any thread at any time.
class CInputLog
{
public:
    using Clock = std::function<QDateTime()>;
    static constexpr qint64 kDefaultQueueCap = qint64(64) * 1024 * 1024;

    // An empty clock means the system's local time.
    explicit CInputLog(Clock clock = {}, qint64 nQueueCap = kDefaultQueueCap);
    // Makes one last attempt to write what is waiting; no callback.
    ~CInputLog();
    CInputLog(const CInputLog&) = delete;
    CInputLog& operator=(const CInputLog&) = delete;

    // "VornTerm." + the date as "%m/%d/%y" (the C locale's "%x") + ".LOG", with
    // '/' replaced by '-'; never depends on the process locale.
    static QString FileNameFor(const QDateTime& local);

    // Appends the block to today's file. True when this block and everything
    // waiting before it reached the file; otherwise the unwritten bytes wait.
    // A zero-length block only creates the file.
    bool Write(const char* pData, int nLength);
    // Retries the waiting bytes without a new block. True when none wait.
    bool Flush();

    bool IsFailing() const;
    // Empty while not failing, else e.g. "Cannot write 'VornTerm.12-06-26.LOG':
    // Permission denied — 1,234 bytes waiting" (+ ", 56 bytes lost").
    QString FailureText() const;
    qint64 QueuedBytes() const;
    // Bytes dropped from a full queue since construction.
    qint64 LostBytes() const;

    // Called on the writing thread, with no lock held, whenever IsFailing(),
    // LostBytes() or the failing file or reason changes. It must not call
    // Write() or Flush().
    void SetStateChangedCallback(std::function<void()> fnChanged);

private:
    struct Pending
    {
        QString strName;
        QByteArray data;
        qsizetype nFrom = 0; // bytes of data already written or dropped
    };

    // The file name for now; under m_writeMutex.
    QString TodaysName();
    bool DrainLocked();
    void Enqueue(const QString& strName, const char* pData, qint64 nLength);
    bool Publish(bool bFailing);
    void Notify(bool bChanged);

    Clock m_clock;
    const qint64 m_nQueueCap;
    // Today's file name and the span of system time it holds for.
    QString m_strDayName;
    qint64 m_nDayStart = 0;
    qint64 m_nDayEnd = 0;

    // Held by Write/Flush for the whole attempt; owns the queue.
    std::mutex m_writeMutex;
    std::deque<Pending> m_queue;
    qint64 m_nQueued = 0;
    qint64 m_nLost = 0;
    QString m_strFailName;
    QString m_strFailReason;

    // Guards the published state, read by other threads.
    mutable std::mutex m_stateMutex;
    bool m_bFailing = false;
    qint64 m_nPubQueued = 0;
    qint64 m_nPubLost = 0;
    QString m_strPubName;
    QString m_strPubReason;
    std::function<void()> m_fnChanged;
};
