#pragma once
// One XMODEM or YMODEM transfer in the terminal, from its start to its end:
// the engine runs on a thread of its own ("VornTransfer"), with its
// deadlines on that thread's timers, because receiving writes and syncs
// files and sending reads them. The terminal (CXferLink) hands every
// received block to the session's tap, which appends it to the inbox and
// wakes the thread. A send's next blocks are read and framed ahead by the
// thread ("armed"): a lone ACK gets the next of them from the tap itself,
// on the port's thread, and the engine hears of that ACK later, with the
// time it came, and checks that the block it would send is the one that
// went; the thread then wakes once per several blocks instead of at every
// ACK. Anything but a lone ACK (or a cancel) disarms the tap until the
// engine has caught up. The engine's bytes go out through
// CXferLink::SendTransferBytes (a block whole, or it waits for room); its
// last bytes (a receive's last ACK) go only once the tap is gone, so that
// what the other side sends when it hears them reaches the data window. The
// status bar's progress part shows where the transfer stands twice a second
// (each rewrite costs the window a repaint; a faster one showed nothing a
// reader could follow), the Tx figure with it (not once a block), and the
// data window gets a line before and after.
//
// A cancel (Cancel, or Escape in the Terminal window) ends the transfer at
// once and tells the other side; for a while after it (the answer time),
// bytes still coming get the cancel once more, and the terminal keeps them
// from the data window. A second cancel stops that at once. Abandon ends it
// all without a word in the window: for a window that closes.
//
// User-interface thread, but for the tap's Received (the port's I/O thread)
// and the worker, which lives on the session's thread.

#include "CXferLink.h"
#include "KrCoalescedCall.h"
#include "XferJob.h"
#include "XferProtocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <deque>
#include <mutex>
#include <vector>

class CXferWorker;

class CXferSession : public QObject, private CXferLink::Tap
{
    Q_OBJECT
public:
    enum class Phase
    {
        Idle,       // not started
        Running,    // the engine runs
        Cancelling, // the engine ended by the user's cancel; bytes still coming get it again
        Ended
    };

    // How often the status bar's progress part is rewritten.
    static constexpr int kProgressMs = 500;
    // How often a transfer whose bytes the port cannot take yet tries again.
    static constexpr int kRoomPollMs = 10;
    // A send's blocks framed ahead for the tap, and when it wakes the engine
    // to catch up: when that many are left, or when the oldest ACK it
    // answered has waited kCatchUpMs (so that the progress follows).
    static constexpr int kArmedBlocks = 16;
    static constexpr int kArmedLowWater = 8;
    static constexpr int kCatchUpMs = 500;

    CXferSession(CXferLink& link, const SXferJob& job, const CXferTimings& timings = CXferTimings(),
                 QObject* pParent = nullptr);
    // Abandons a transfer still running.
    ~CXferSession() override;
    CXferSession(const CXferSession&) = delete;
    CXferSession& operator=(const CXferSession&) = delete;

    // Takes the received bytes, says what begins in the data window and
    // starts the thread. False with the reason when the system gave no
    // thread (nothing was changed then).
    bool Start(QString* pError);
    // The user's cancel. While Cancelling, it stops listening at once.
    void Cancel();
    // Ends now without a word in the window (the window is closing): the
    // engine cancels, so a file being received is removed, its cancel goes
    // to the port if the port takes it, and the thread is joined.
    void Abandon();

    Phase GetPhase() const { return m_ePhase; }
    bool IsActive() const { return m_ePhase == Phase::Running || m_ePhase == Phase::Cancelling; }
    const SXferJob& Job() const { return m_job; }
    // Once ended: how, and the line the data window got.
    XferEnd End() const { return m_eEnd; }
    QString EndNote() const { return m_strEndNote; }
    // What the progress part shows now.
    QString ProgressText() const;

Q_SIGNALS:
    // Cancelling began, or the transfer ended.
    void PhaseChanged();

private:
    friend class CXferWorker;

    // What the session's threads share, under m_mutex.
    struct SShared
    {
        // To the worker.
        QByteArray inbox; // received, not yet given to the engine
        // Lone ACKs the tap answered with an armed block: before inbox.
        struct SAnswered
        {
            QByteArray block; // what went
            qint64 nAtMs = 0; // when the ACK came, on m_clock
        };
        std::vector<SAnswered> answered;
        // From the worker: the blocks the next lone ACKs get, in order.
        std::deque<QByteArray> armed;
        int nCancels = 0; // the user's cancels so far
        bool bAbandon = false;
        bool bPortGone = false; // the port was seen closed
        // From the worker.
        CXferProgress progress;
        bool bEngineEnded = false; // the engine has ended (its end note can be written)
        bool bOver = false;        // nothing more to do: the session can end
        XferEnd eEnd = XferEnd::Running;
        QString strMessage;
        QStringList stored; // the files a receive stored
    };

    // CXferLink::Tap
    void Received(const QByteArray& block) override;
    void CancelRequested() override { Cancel(); }

    // News from the worker (the engine ended, or everything did).
    void OnNews();
    void OnProgressTick();
    // Clears the tap, and ends and joins the thread.
    void StopThread();
    QString NoteFor(XferEnd eEnd, const QString& strMessage, const QStringList& stored) const;
    void SetPhase(Phase ePhase);

    CXferLink& m_link;
    SXferJob m_job;
    CXferTimings m_timings;
    QElapsedTimer m_clock; // the engine's milliseconds; started with the session
    Phase m_ePhase = Phase::Idle;
    XferEnd m_eEnd = XferEnd::Running;
    QString m_strEndNote;
    bool m_bEndNoted = false;

    // m_shared; also held while the tap sends an armed block, so that no
    // block goes after the worker disarmed (a cancel's CAN, a resend).
    mutable std::mutex m_mutex;
    SShared m_shared;

    QTimer m_progressTimer; // while the transfer runs
    KrCoalescedCall m_news{this, [this] { OnNews(); }};
    QThread m_thread;
    CXferWorker* m_pWorker = nullptr; // lives on m_thread; set while the thread runs
};
