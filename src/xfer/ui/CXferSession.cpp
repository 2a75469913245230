#include "CXferSession.h"

#include "CXferFileSource.h"
#include "CXferFolderTarget.h"
#include "CXmodemReceiver.h"
#include "CXmodemSender.h"

#include <QDir>
#include <QFileInfo>

#include <climits>
#include <memory>

// The engine's side of a session: lives on the session's thread and is the
// only one that touches the engine, its file and its timers.
class CXferWorker : public QObject
{
public:
    explicit CXferWorker(CXferSession& session) : m_session(session), m_link(session.m_link)
    {
        m_deadline.setSingleShot(true);
        m_deadline.setTimerType(Qt::PreciseTimer);
        connect(&m_deadline, &QTimer::timeout, this, [this] { Step(); });
        m_room.setInterval(CXferSession::kRoomPollMs);
        connect(&m_room, &QTimer::timeout, this, [this] { Step(); });
    }

    // Any thread: something for the engine (bytes, a cancel, the start).
    void Wake() { m_wake.Request(); }
    // Stops the timers.
    void Stop()
    {
        m_deadline.stop();
        m_room.stop();
        m_bOver = true;
    }
    // The last call on the thread before it ends, once the tap is gone: the
    // engine's last bytes go (the port's queue has room for them: nothing
    // else sends during a transfer).
    void Finish()
    {
        Stop();
        if (!m_pending.isEmpty())
            m_link.SendTransferBytes(m_pending);
        m_pending.clear();
    }

private:
    qint64 Now() const { return m_session.m_clock.elapsed(); }
    const CXferTimings& Timings() const { return m_session.m_timings; }
    void Begin(qint64 nNowMs, QByteArray* pOut);
    void Step();
    // Hands what waits to the port; false when the port is not open.
    bool Flush(qint64 nNowMs);
    // Ends without the engine's word: the port is gone, or it took nothing
    // for too long, or the file could not be opened.
    void EndHere(qint64 nNowMs, const QString& strMessage);
    void Publish(bool bOver);
    // Feeds the ACKs the tap answered, as they came; false when the engine
    // would have sent something else than what went.
    bool CatchUp(const std::vector<CXferSession::SShared::SAnswered>& answered);
    // Gives the tap the send's next blocks, while the engine waits for a
    // data block's answer and nothing else is due or waiting.
    void Arm(int nCancels);

    CXferSession& m_session;
    CXferLink& m_link;
    std::unique_ptr<CXferFileSource> m_pSource;
    std::unique_ptr<CXferFolderTarget> m_pTarget;
    std::unique_ptr<CXferEngine> m_pEngine; // after its file: goes first
    CXmodemSender* m_pSender = nullptr;     // m_pEngine when sending
    qint64 m_nFedMs = 0;                    // the latest time the engine was given
    bool m_bBegun = false;
    bool m_bOver = false;
    bool m_bEndedHere = false;
    QString m_strEndedHere;
    bool m_bStopListening = false; // a second cancel came
    qint64 m_nListenUntilMs = -1;  // the user's cancel: when the engine stops wanting bytes
    int m_nCancelsSeen = 0;
    QByteArray m_pending;         // the engine's bytes the port has not taken yet
    qint64 m_nNoRoomSinceMs = -1; // since when the port had no room for them
    // Children, so that they move to the session's thread with the worker.
    QTimer m_deadline{this}; // the engine's next deadline, or the end of listening
    QTimer m_room{this};     // while bytes wait for room at the port
    KrCoalescedCall m_wake{this, [this] { Step(); }};
};

void CXferWorker::Begin(qint64 nNowMs, QByteArray* pOut)
{
    m_bBegun = true;
    const SXferJob& job = m_session.m_job;
    const CXferTimings& timings = m_session.m_timings;
    if (job.bSend) {
        m_pSource = std::make_unique<CXferFileSource>();
        QString strError;
        if (!m_pSource->Open(job.strPath, &strError)) {
            EndHere(nNowMs, strError);
            return;
        }
        auto pSender = std::make_unique<CXmodemSender>(
            job.eProtocol, std::vector<CXferSource*>{m_pSource.get()}, timings);
        m_pSender = pSender.get();
        m_pEngine = std::move(pSender);
    } else {
        const QFileInfo path(job.strPath);
        m_pTarget = job.IntoFolder()
                        ? std::make_unique<CXferFolderTarget>(job.strPath)
                        : std::make_unique<CXferFolderTarget>(path.absolutePath(), path.fileName());
        m_pEngine = std::make_unique<CXmodemReceiver>(job.eProtocol, m_pTarget.get(), timings);
    }
    m_pEngine->Start(nNowMs, pOut);
}

void CXferWorker::Step()
{
    if (m_bOver)
        return;
    QByteArray in;
    std::vector<CXferSession::SShared::SAnswered> answered;
    int nCancels = 0;
    bool bAbandon = false;
    bool bPortGone = false;
    {
        std::lock_guard<std::mutex> guard(m_session.m_mutex);
        CXferSession::SShared& shared = m_session.m_shared;
        in.swap(shared.inbox);
        answered.swap(shared.answered);
        shared.armed.clear(); // until the engine has caught up
        nCancels = shared.nCancels;
        bAbandon = shared.bAbandon;
        bPortGone = shared.bPortGone;
    }
    // Read after taking: later than every answer taken, which the engine
    // hears of first, each at its own time.
    const qint64 nNowMs = qMax(Now(), m_nFedMs);
    QByteArray out;
    if (!m_bBegun && !bAbandon)
        Begin(nNowMs, &out);
    if (m_pEngine) {
        if (!answered.empty() && !CatchUp(answered)) {
            // The other side got a block the engine did not mean: it is told
            // to stop.
            m_pEngine->Cancel(nNowMs, &out);
            m_bEndedHere = true;
            m_strEndedHere = QStringLiteral("a block sent ahead was not the one due");
        }
        m_nFedMs = nNowMs;
        if (!in.isEmpty() && m_pEngine->WantsBytes(nNowMs))
            m_pEngine->Receive(in, nNowMs, &out);
        if (bAbandon) {
            m_pEngine->Cancel(nNowMs, &out);
        } else if (nCancels != m_nCancelsSeen) {
            if (!m_pEngine->IsFinished()) {
                m_pEngine->Cancel(nNowMs, &out);
                m_nListenUntilMs = nNowMs + Timings().nAnswerMs;
            } else {
                m_bStopListening = true;
            }
        }
        m_nCancelsSeen = nCancels;
        m_pEngine->Tick(nNowMs, &out);
    }
    m_pending += out;
    const bool bListening = m_pEngine && !m_bEndedHere && m_pEngine->IsFinished() &&
                            m_pEngine->WantsBytes(nNowMs) && !m_bStopListening;
    // The engine's last bytes (a receive's last ACK, an abort's CAN) go once
    // the tap is gone (Finish), so that what the other side sends when it
    // hears them reaches the data window.
    const bool bFinal = !bAbandon && m_pEngine && m_pEngine->IsFinished() && !bListening;
    if (!bFinal) {
        if (!Flush(nNowMs) || bPortGone)
            EndHere(nNowMs, QStringLiteral("the port is not open any more"));
        else if (m_nNoRoomSinceMs >= 0 && nNowMs - m_nNoRoomSinceMs >= Timings().nAnswerMs)
            EndHere(nNowMs, QStringLiteral("the port took none of the transfer's bytes for %1 s")
                                .arg(double(Timings().nAnswerMs) / 1000.0));
    }
    const bool bOver = bAbandon || m_bEndedHere || bFinal;
    Publish(bOver);
    if (bOver) {
        Stop();
        return;
    }
    if (!bPortGone)
        Arm(nCancels);
    // The next wake of the clock: the engine's deadline, or the end of
    // listening after the user's cancel.
    qint64 nNext = CXferEngine::kNoDeadline;
    if (m_pEngine && !m_pEngine->IsFinished())
        nNext = m_pEngine->NextDeadline();
    else if (bListening)
        nNext = m_nListenUntilMs + 1;
    if (nNext == CXferEngine::kNoDeadline)
        m_deadline.stop();
    else
        m_deadline.start(int(qBound<qint64>(0, nNext - nNowMs, qint64(INT_MAX))));
}

bool CXferWorker::CatchUp(const std::vector<CXferSession::SShared::SAnswered>& answered)
{
    for (const CXferSession::SShared::SAnswered& answer : answered) {
        const qint64 nAtMs = qMax(answer.nAtMs, m_nFedMs);
        m_nFedMs = nAtMs;
        QByteArray again;
        if (m_pEngine->WantsBytes(nAtMs))
            m_pEngine->Receive(&Xfer::kAck, 1, nAtMs, &again);
        if (again != answer.block)
            return false;
    }
    return true;
}

void CXferWorker::Arm(int nCancels)
{
    if (!m_pSender || !m_pending.isEmpty() || m_pSender->IsFinished())
        return;
    std::vector<QByteArray> ahead = m_pSender->AnswersAhead(CXferSession::kArmedBlocks);
    if (ahead.empty())
        return;
    std::lock_guard<std::mutex> guard(m_session.m_mutex);
    CXferSession::SShared& shared = m_session.m_shared;
    // Whatever came since the worker took the inbox, it goes to the engine
    // first (its wake is on the way).
    if (!shared.inbox.isEmpty() || !shared.answered.empty() || shared.nCancels != nCancels ||
        shared.bAbandon || shared.bPortGone)
        return;
    shared.armed.assign(std::make_move_iterator(ahead.begin()),
                        std::make_move_iterator(ahead.end()));
}

bool CXferWorker::Flush(qint64 nNowMs)
{
    if (m_pending.isEmpty()) {
        m_room.stop();
        m_nNoRoomSinceMs = -1;
        return true;
    }
    const qint64 nSent = m_link.SendTransferBytes(m_pending);
    if (nSent < 0)
        return false;
    if (nSent == 0) {
        // No room at the port: the block waits whole, and goes once the
        // port's queue has drained enough.
        if (m_nNoRoomSinceMs < 0)
            m_nNoRoomSinceMs = nNowMs;
        if (!m_room.isActive())
            m_room.start();
        return true;
    }
    m_pending.remove(0, qsizetype(nSent));
    if (m_pending.isEmpty()) {
        m_room.stop();
        m_nNoRoomSinceMs = -1;
    }
    return true;
}

void CXferWorker::EndHere(qint64 nNowMs, const QString& strMessage)
{
    if (m_bEndedHere || (m_pEngine && m_pEngine->IsFinished()))
        return;
    // A file being received is removed; the cancel cannot go anywhere.
    if (m_pEngine) {
        QByteArray unsent;
        m_pEngine->Cancel(nNowMs, &unsent);
    }
    m_pending.clear();
    m_bEndedHere = true;
    m_strEndedHere = strMessage;
}

void CXferWorker::Publish(bool bOver)
{
    bool bNews = bOver;
    {
        std::lock_guard<std::mutex> guard(m_session.m_mutex);
        CXferSession::SShared& shared = m_session.m_shared;
        if (m_pEngine)
            shared.progress = m_pEngine->Progress();
        const bool bEnded = m_bEndedHere || (m_pEngine && m_pEngine->IsFinished());
        if (bEnded && !shared.bEngineEnded) {
            shared.bEngineEnded = true;
            shared.eEnd = m_bEndedHere ? XferEnd::Failed : m_pEngine->End();
            shared.strMessage = m_bEndedHere ? m_strEndedHere : m_pEngine->Message();
            if (m_pTarget)
                shared.stored = m_pTarget->Stored();
            bNews = true;
        }
        shared.bOver = bOver;
    }
    if (bNews)
        m_session.m_news.Request();
}

// ---------------------------------------------------------------------------

CXferSession::CXferSession(CXferLink& link, const SXferJob& job, const CXferTimings& timings,
                           QObject* pParent)
    : QObject(pParent), m_link(link), m_job(job), m_timings(timings)
{
    m_thread.setObjectName(QStringLiteral("VornTransfer"));
    m_progressTimer.setInterval(kProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &CXferSession::OnProgressTick);
}

CXferSession::~CXferSession()
{
    Abandon();
}

bool CXferSession::Start(QString* pError)
{
    if (m_ePhase != Phase::Idle)
        return false;
    m_clock.start();
    auto* pWorker = new CXferWorker(*this);
    pWorker->moveToThread(&m_thread);
    m_thread.start();
    if (!m_thread.isRunning()) {
        delete pWorker;
        *pError = QStringLiteral("the system started no thread for it");
        return false;
    }
    // The worker goes as its thread ends.
    connect(&m_thread, &QThread::finished, pWorker, &QObject::deleteLater);
    m_pWorker = pWorker;
    // The tap first: the other side's first answer may come at once.
    m_link.SetReceiveTap(this);
    const QString strPath = QDir::toNativeSeparators(m_job.strPath);
    if (m_job.bSend)
        m_link.AppendNote(
            QStringLiteral("%1: sending %2 (%3 bytes) ... (Escape cancels)")
                .arg(m_job.ProtocolName(), strPath, XferFigure(QFileInfo(m_job.strPath).size())));
    else
        m_link.AppendNote(QStringLiteral("%1: receiving into %2 ... (Escape cancels)")
                              .arg(m_job.ProtocolName(), strPath));
    SetPhase(Phase::Running);
    m_pWorker->Wake();
    m_progressTimer.start();
    m_link.ShowTransferStatus(ProgressText());
    return true;
}

void CXferSession::Cancel()
{
    if (!IsActive())
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_shared.nCancels;
        m_shared.armed.clear();
    }
    m_pWorker->Wake();
}

void CXferSession::Abandon()
{
    if (!IsActive())
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_shared.bAbandon = true;
        m_shared.armed.clear();
    }
    m_pWorker->Wake();
    StopThread();
    m_progressTimer.stop();
    SetPhase(Phase::Ended);
}

void CXferSession::Received(const QByteArray& block)
{
    bool bWake = true;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        SShared& shared = m_shared;
        const bool bLoneAck = block.size() == 1 && block.at(0) == Xfer::kAck;
        if (bLoneAck && shared.inbox.isEmpty() && !shared.armed.empty()) {
            // The engine's answer is known: it goes now, in one piece, and
            // the engine hears of the ACK when it catches up.
            const QByteArray next = std::move(shared.armed.front());
            shared.armed.pop_front();
            if (m_link.SendTransferBytes(next) == next.size()) {
                const qint64 nNowMs = m_clock.elapsed();
                shared.answered.push_back({next, nNowMs});
                bWake = int(shared.armed.size()) <= kArmedLowWater ||
                        nNowMs - shared.answered.front().nAtMs >= kCatchUpMs;
            } else {
                // No room, or no port: the engine deals with it.
                shared.armed.clear();
                shared.inbox += block;
            }
        } else {
            shared.armed.clear();
            shared.inbox += block;
        }
    }
    if (bWake)
        m_pWorker->Wake();
}

void CXferSession::OnNews()
{
    if (!IsActive())
        return;
    bool bEngineEnded = false;
    bool bOver = false;
    XferEnd eEnd = XferEnd::Running;
    QString strMessage;
    QStringList stored;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        bEngineEnded = m_shared.bEngineEnded;
        bOver = m_shared.bOver;
        eEnd = m_shared.eEnd;
        strMessage = m_shared.strMessage;
        stored = m_shared.stored;
    }
    if (bEngineEnded && !m_bEndNoted) {
        m_bEndNoted = true;
        m_eEnd = eEnd;
        m_strEndNote = NoteFor(eEnd, strMessage, stored);
        m_link.AppendNote(m_strEndNote);
        if (!bOver && eEnd == XferEnd::Cancelled) {
            SetPhase(Phase::Cancelling);
            m_link.ShowTransferStatus(ProgressText());
        }
    }
    if (bOver) {
        StopThread();
        m_progressTimer.stop();
        m_link.ShowTransferStatus(QString());
        SetPhase(Phase::Ended);
    }
}

void CXferSession::OnProgressTick()
{
    // A port that closed or was lost takes nothing more: the transfer ends
    // instead of waiting for answers that cannot come.
    if (m_link.PendingBytes() < 0) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_shared.bPortGone = true;
            m_shared.armed.clear();
        }
        m_pWorker->Wake();
    }
    m_link.ShowTransferStatus(ProgressText());
}

QString CXferSession::ProgressText() const
{
    if (m_ePhase == Phase::Cancelling)
        return QStringLiteral("%1: cancelled; the cancel is sent again if the other side goes "
                              "on (Escape: stop now)")
            .arg(m_job.ProtocolName());
    CXferProgress progress;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        progress = m_shared.progress;
    }
    progress.strProtocol = m_job.ProtocolName();
    if (progress.nStartMs < 0) {
        // Nothing went yet: the other side has still to begin.
        QString text = progress.strProtocol + QStringLiteral(": ");
        if (!progress.strFile.isEmpty())
            text += progress.strFile + QLatin1Char(' ');
        return text + (m_job.bSend ? QStringLiteral("waiting for the receiver to begin")
                                   : QStringLiteral("waiting for the sender to begin"));
    }
    return XferProgressText(progress, m_clock.elapsed());
}

void CXferSession::StopThread()
{
    // After this, no block reaches the tap: the worker can go.
    m_link.SetReceiveTap(nullptr);
    if (!m_pWorker)
        return;
    // Behind whatever was asked of the worker before: it stops, then its
    // thread ends (and deletes it).
    CXferWorker* pWorker = m_pWorker;
    QMetaObject::invokeMethod(
        pWorker,
        [pWorker] {
            pWorker->Finish();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
    m_pWorker = nullptr;
}

QString CXferSession::NoteFor(XferEnd eEnd, const QString& strMessage,
                              const QStringList& stored) const
{
    QString text = m_job.ProtocolName() + QStringLiteral(": ");
    if (eEnd == XferEnd::Failed)
        text += QStringLiteral("failed: ");
    text += strMessage;
    if (stored.size() > 1) {
        QStringList names;
        for (const QString& path : stored)
            names << QFileInfo(path).fileName();
        text += QStringLiteral(" (%1)").arg(names.join(QStringLiteral(", ")));
    }
    return text;
}

void CXferSession::SetPhase(Phase ePhase)
{
    if (m_ePhase == ePhase)
        return;
    m_ePhase = ePhase;
    Q_EMIT PhaseChanged();
}
