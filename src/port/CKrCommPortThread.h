#pragma once
// The inside of a port object: its I/O thread, the back end living on it,
// the queue of bytes waiting to be written, and the port's state.
//
// Threads: the owner (any thread but the port's own two) asks for the port to
// be open or closed; the request is recorded under the lock and the I/O
// thread carries it out from its event loop. What the I/O thread reads is
// handed to the delivery thread, which calls the receiver, so that the device
// is read on while the receiver works; blocks that wait are joined up to
// kMaxBlock bytes, and when kMaxWaiting bytes wait the I/O thread reads no
// more until the receiver has caught up. The owner waits for the outcome only
// briefly (kSettleWaitMs), so it is never held by a device, a network or a
// busy receiver; whatever finishes later is reported to the listener. While
// the port is wanted open but is not (a device unplugged, a server down), the
// I/O thread tries again on a timer; it never spins. What was read is handed
// to the receiver even when a Close came meanwhile; only Shutdown drops it.

#include "CKrCommBackend.h"
#include "CKrCommConfig.h"
#include "CKrCommPortStatus.h"
#include "CKrCommWriteQueue.h"
#include "KrReconnect.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class CKrCommPort;
class CKrCommPortThread;

// Lives on the I/O thread; its slots are what other threads wake it for.
class CKrCommPortWorker : public QObject
{
    Q_OBJECT
public:
    explicit CKrCommPortWorker(CKrCommPortThread& owner);

    void Apply();
    void Drain();

    QTimer m_retryTimer;
    QTimer m_openLimitTimer;

private:
    CKrCommPortThread& m_owner;
};

class CKrCommPortThread final : private CKrCommBackendSink
{
public:
    // The longest the owner's calls wait for the I/O thread.
    static constexpr int kSettleWaitMs = 150;

    // The largest block handed to the receiver, and how much may wait for it.
    static constexpr qsizetype kMaxBlock = 64 * 1024;
    static constexpr qint64 kMaxWaiting = 4 * 1024 * 1024;
    // A port open this long counts as steady: its next reopen starts the
    // back-off from the first delay again.
    static constexpr int kSteadyMs = 10000;

    explicit CKrCommPortThread(CKrCommPort& port);
    ~CKrCommPortThread();

    // Owner's thread. Open returns true when the port is open on return;
    // false while an open is still under way (the listener hears how it
    // ends) or when it failed. Both may be called from the port's own threads
    // (a receiver closing its port), then without waiting.
    bool Open(const CKrCommConfig& config);
    void Close();
    // Ends the I/O thread: no receiver or listener call follows its return.
    // It waits only for a receiver or listener call already in progress.
    // Open starts a new thread.
    void Shutdown();

    // Any thread. Takes what fits below CKrCommPort::kMaxQueued.
    int Write(const char* pData, qint64 nLength, int nStream);
    int Write(const QByteArray& data, int nStream);
    qint64 PendingCount() const { return m_nPending.load(); }
    // Drops a stream's bytes not yet handed to the back end; returns how many.
    qint64 DiscardQueued(int nStream);
    // A stream's bytes dropped unsent by closes and losses so far.
    qint64 DroppedCount(int nStream) const;
    // Any thread but the delivery thread, which gets an immediate answer.
    bool WaitDelivered(int nMaxMs);
    CKrCommPortStatus Status() const;
    // Set while no thread runs, or from the owner's thread before Open.
    void SetListener(CKrCommPortListener* pListener);

private:
    friend class CKrCommPortWorker;

    void StartThread();
    bool OnPortThread() const;
    void Deliver(); // the delivery thread's loop
    void Wake();
    void Poke();
    void WaitSettled(std::unique_lock<std::mutex>& lock, quint64 nRequest);
    // Under m_mutex: the status for a state, with its description.
    void SetStatusLocked(KrPortState state, const KrPortFailure& failure);
    void DropQueueLocked();
    // Under m_mutex: PendingCount() follows the queue.
    void QueueChangedLocked() { m_nPending = m_writes.Pending(); }

    // I/O thread.
    void Apply();
    void Attempt();
    void OnRetryTimer();
    void OnOpenLimit();
    void Opened();
    void AttemptFailed(const KrPortFailure& failure);
    void ScheduleRetry();
    void DisposeBackend();
    void Drain();
    void Publish();

    void BackendOpened() override;
    void BackendReceived(const char* pData, int nLength) override;
    void BackendWritten(qint64 nCount) override;
    void BackendReady() override;
    void BackendFailed(const KrPortFailure& failure) override;
    void BackendNoteChanged() override;

    CKrCommPort& m_port;
    QThread m_thread;
    CKrCommPortWorker* m_pWorker = nullptr; // lives on m_thread

    // I/O thread only.
    std::unique_ptr<CKrCommBackend> m_pBackend;
    enum class Phase
    {
        Idle,
        Opening,
        Open
    } m_phase = Phase::Idle;
    quint64 m_nApplied = 0;      // the request being carried out
    CKrCommConfig m_wanted;      // its configuration
    CKrCommConfig m_attempt;     // what the current attempt opens (the path may differ)
    KrDeviceIdentity m_identity; // of the device last open, to find it again
    int m_nRetryDelayMs = 0;
    QElapsedTimer m_openedAt;
    CKrCommPortStatus m_published; // what the listener heard last

    mutable std::mutex m_mutex; // guards the members below
    std::condition_variable m_settled;
    quint64 m_nRequest = 0; // counts Open, Close and Shutdown calls
    quint64 m_nSettled = 0; // the last request whose first outcome is known
    bool m_bWanted = false; // the owner wants the port open
    bool m_bShutdown = false;
    CKrCommConfig m_requestConfig;
    CKrCommPortStatus m_status;
    CKrCommConfig m_shownConfig; // the configuration the description names
    QString m_strNote;
    bool m_bOpen = false; // Write accepts bytes
    CKrCommWriteQueue m_writes;
    CKrCommPortListener* m_pListener = nullptr;

    // Blocks read and not yet handed to the receiver; guarded by
    // m_deliverMutex.
    std::thread m_deliverer;
    std::mutex m_deliverMutex;
    std::condition_variable m_blockReady;  // for the delivery thread
    std::condition_variable m_roomForMore; // for the I/O thread
    std::deque<QByteArray> m_blocks;
    qint64 m_nWaiting = 0;
    bool m_bHanding = false; // a block is with the receiver
    bool m_bStopDelivery = false;

    std::atomic<quint64> m_nRequestSeen{0}; // m_nRequest, read without the lock
    std::atomic<qint64> m_nPending{0};
    std::atomic<bool> m_bPoked{false};
};
