#pragma once
// The inside of a port object: its I/O thread, the back end living on it,
// the queue of bytes waiting to be written, and the port's state.
//
// Threads: the owner (any thread but the I/O thread) asks for the port to be
// open or closed; the request is recorded under the lock and the I/O thread
// carries it out from its event loop. The owner waits for the outcome only
// briefly (kSettleWaitMs), so it is never held by a device, a network or a
// busy receiver; whatever finishes later is reported to the listener. The
// I/O thread reads the device and calls the receiver with each block itself:
// a receiver that is slow holds the reading, as the device's own buffer then
// does (the receiver's slow work, the log's disk, has a thread of its own).
// While the port is wanted open but is not (a device unplugged, a server
// down), the I/O thread tries again on a timer; it never spins. A block read
// before a Close still reaches the receiver; only Shutdown ends the calls.
// Requests for the control lines (set, pulse, break) are queued like the
// bytes to write and carried out by the I/O thread in order; the ends of
// pulses and breaks are timers of that thread.

#include "CKrCommBackend.h"
#include "CKrCommConfig.h"
#include "CKrCommPortStatus.h"
#include "CKrCommWriteQueue.h"
#include "KrCoalescedCall.h"
#include "KrReconnect.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class CKrCommPort;
class CKrCommPortThread;

// Lives on the I/O thread; its slots are what other threads wake it for.
class CKrCommPortWorker : public QObject
{
    Q_OBJECT
public:
    explicit CKrCommPortWorker(CKrCommPortThread& owner);

    QTimer m_retryTimer;
    QTimer m_openLimitTimer;
    // The ends of a pulse of DTR and of RTS, and of a break.
    std::array<QTimer, 2> m_pulseTimers;
    QTimer m_breakTimer;
    // A new request, bytes to write and line requests: each at most once on
    // its way.
    KrCoalescedCall m_apply;
    KrCoalescedCall m_drain;
    KrCoalescedCall m_lines;
};

// One request for the control lines.
struct KrLineRequest
{
    enum class Kind : quint8
    {
        Set,   // DTR or RTS on or off
        Pulse, // DTR or RTS the other way for nMs, then back
        Break  // the break condition for nMs
    };
    Kind kind = Kind::Set;
    KrLine line = KrLine::Dtr;
    bool bOn = false;
    int nMs = 0;
};

class CKrCommPortThread final : private CKrCommBackendSink
{
public:
    // The longest the owner's calls wait for the I/O thread.
    static constexpr int kSettleWaitMs = 150;
    // A port open this long counts as steady: its next reopen starts the
    // back-off from the first delay again.
    static constexpr int kSteadyMs = 10000;

    explicit CKrCommPortThread(CKrCommPort& port);
    ~CKrCommPortThread();

    // Owner's thread. Open returns true when the port is open on return;
    // false while an open is still under way (the listener hears how it
    // ends) or when it failed. Both may be called from the I/O thread (a
    // receiver closing its port), then without waiting.
    bool Open(const CKrCommConfig& config);
    void Close();
    // Waits, at most nMaxMs, until the I/O thread has carried out the last
    // Open or Close; true when it has. Not from the I/O thread.
    bool WaitSettled(int nMaxMs);
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
    // A stream's bytes dropped unsent by closes and losses since the last call.
    qint64 TakeDropped(int nStream);
    // The state; a closed port is described with `next`, the configuration
    // it would open next.
    CKrCommPortStatus Status(const CKrCommConfig& next) const;
    // Set while no thread runs, or from the owner's thread before Open.
    // SetListener replaces every listener; AddListener adds one.
    void SetListener(CKrCommPortListener* pListener);
    void AddListener(CKrCommPortListener* pListener);

    // Any thread. Queues a request for the lines; false, and nothing
    // queued, when the port is not open or has no such line.
    bool RequestLine(const KrLineRequest& request);
    // The lines as last told to the listeners.
    KrLines Lines() const;

private:
    friend class CKrCommPortWorker;

    // False when the system refused the thread.
    bool StartThread();
    bool OnPortThread() const;
    // Under m_mutex: records a new Open, Close or Shutdown and wakes the I/O
    // thread; returns its number.
    quint64 NewRequestLocked(bool bWanted, KrPortState state);
    void WaitSettledLocked(std::unique_lock<std::mutex>& lock, quint64 nRequest, int nMaxMs);
    // Under m_mutex: the status for a state, with its description.
    void SetStatusLocked(KrPortState state, const KrPortFailure& failure);
    // Under m_mutex: PendingCount() follows the queue.
    void QueueChangedLocked() { m_nPending = m_writes.Pending(); }
    // Write: queues what fits of nLength bytes at pData (pWhole, when given,
    // holds them all) and wakes the I/O thread to drain.
    int Queue(const QByteArray* pWhole, const char* pData, qint64 nLength, int nStream);
    // Any thread, without m_mutex. A write made by a receiver (on the I/O
    // thread, while a block is delivered) is drained as the delivery ends,
    // without a trip through the event loop.
    void RequestDrain();

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
    // Tells every listener of an event, stamped now.
    void TellEvent(KrPortEventKind kind, const QString& strText);
    void ApplyLines();
    void EndPulse(KrLine line);
    void EndBreak();
    void StopLineTimers();
    void PublishLines();
    // Whether the current back end serves the latest request.
    bool CurrentLocked() const { return m_nRequest == m_nApplied; }

    void BackendOpened() override;
    void BackendReceived(const QByteArray& block) override;
    void BackendWritten(qint64 nCount) override;
    void BackendReady() override;
    void BackendFailed(const KrPortFailure& failure) override;
    void BackendNoteChanged() override;
    void BackendLinesChanged() override;

    CKrCommPort& m_port;
    QThread m_thread;
    CKrCommPortWorker* m_pWorker = nullptr; // lives on m_thread

    // I/O thread only.
    std::unique_ptr<CKrCommBackend> m_pBackend;
    bool m_bBackendOpen = false; // the back end opened (else its open is pending)
    bool m_bDrainDue = false;    // a receiver wrote while a block was delivered
    quint64 m_nApplied = 0;      // the request being carried out
    CKrCommConfig m_attempt;     // what the current attempt opens (the path may differ)
    KrDeviceIdentity m_identity; // of the device last open, to find it again
    int m_nRetryDelayMs = 0;
    QElapsedTimer m_openedAt;
    // For the events: the current request has had its port open; the port
    // was lost since; the configuration of the last open.
    bool m_bOpenedForRequest = false;
    bool m_bLostSinceOpen = false;
    bool m_bEverOpened = false;
    CKrCommConfig m_lastOpened;
    CKrCommPortStatus m_published;             // what the listener heard last
    KrLines m_linesPublished = NotOpenLines(); // what the listeners heard of the lines last
    std::array<bool, 2> m_abPulseRestore{};    // DTR and RTS after their pulse

    mutable std::mutex m_mutex; // guards the members below
    std::condition_variable m_settled;
    quint64 m_nRequest = 0; // counts Open, Close and Shutdown calls
    quint64 m_nSettled = 0; // the last request whose first outcome is known
    bool m_bWanted = false; // the owner wants the port open
    bool m_bShutdown = false;
    CKrCommConfig m_request; // of the last Open; the description names it
    QString m_strPathInUse;  // the device open under it, when it was followed
    CKrCommPortStatus m_status;
    QString m_strNote;
    CKrCommWriteQueue m_writes;
    std::vector<CKrCommPortListener*> m_listeners;
    std::vector<KrLineRequest> m_lineRequests;
    KrLines m_lines = NotOpenLines();

    static KrLines NotOpenLines() { return KrLines::None(QStringLiteral("port not open")); }

    std::atomic<qint64> m_nPending{0};

    // Held while a writer posts to the worker, and while the worker comes and
    // goes; never by the I/O thread at work, so the thread a write wakes does
    // not sleep on the writer's lock.
    std::mutex m_postMutex;
    CKrCommPortWorker* m_pPostTarget = nullptr; // m_pWorker, for the writers
};
