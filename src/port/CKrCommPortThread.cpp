#include "CKrCommPortThread.h"

#include "CKrCommPort.h"
#include "KrPortList.h"
#include "KrSerialSystem.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace {

// Pieces handed to the back end per turn of the I/O thread's event loop, so
// that a long write does not hold up a Close.
constexpr int kPiecesPerTurn = 16;

// The one line that describes a port in a state: its configuration, and how
// it is when not open.
QString Describe(const CKrCommConfig& config, KrPortState state, const QString& reason,
                 const QString& note)
{
    const QString base = KrDescribeConfig(config);
    switch (state) {
    case KrPortState::Open:
        return note.isEmpty() ? base : base + QStringLiteral(" - ") + note;
    case KrPortState::Opening:
        return base + QStringLiteral(" - connecting");
    case KrPortState::Closed:
        return base + QStringLiteral(" - not open: ") +
               (reason.isEmpty() ? QStringLiteral("port closed") : reason);
    case KrPortState::Lost:
        break;
    }
    return base + QStringLiteral(" - disconnected: ") + reason;
}

} // namespace

CKrCommPortWorker::CKrCommPortWorker(CKrCommPortThread& owner)
    : m_retryTimer(this), m_openLimitTimer(this), m_breakTimer(this),
      m_apply(this, [&owner] { owner.Apply(); }), m_drain(this, [&owner] { owner.Drain(); }),
      m_lines(this, [&owner] { owner.ApplyLines(); })
{
    m_retryTimer.setSingleShot(true);
    m_openLimitTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [&owner] { owner.OnRetryTimer(); });
    connect(&m_openLimitTimer, &QTimer::timeout, this, [&owner] { owner.OnOpenLimit(); });
    // A pulse or a break lasts what was asked, not a coarse timer's idea of it.
    const KrLine pulsed[] = {KrLine::Dtr, KrLine::Rts};
    for (int i = 0; i < 2; ++i) {
        QTimer& timer = m_pulseTimers[size_t(i)];
        timer.setParent(this);
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        const KrLine line = pulsed[i];
        connect(&timer, &QTimer::timeout, this, [&owner, line] { owner.EndPulse(line); });
    }
    m_breakTimer.setSingleShot(true);
    m_breakTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_breakTimer, &QTimer::timeout, this, [&owner] { owner.EndBreak(); });
}

CKrCommPortThread::CKrCommPortThread(CKrCommPort& port) : m_port(port)
{
    m_thread.setObjectName(QStringLiteral("KrCommPort I/O"));
}

CKrCommPortThread::~CKrCommPortThread()
{
    Shutdown();
}

// ---- the owner's side ----------------------------------------------------

bool CKrCommPortThread::StartThread()
{
    if (m_pWorker)
        return true;
    m_bShutdown = false;
    // Made before the thread runs, so that nothing of it races the start.
    auto* pWorker = new CKrCommPortWorker(*this);
    pWorker->moveToThread(&m_thread);
    m_thread.start();
    if (!m_thread.isRunning()) {
        // The system refused the thread (a limit on processes): the port
        // stays closed, and the next Open tries again.
        delete pWorker;
        return false;
    }
    // The worker, and any back end still waiting for deletion, go when the
    // thread ends.
    QObject::connect(&m_thread, &QThread::finished, pWorker, &QObject::deleteLater);
    m_pWorker = pWorker;
    std::lock_guard<std::mutex> posting(m_postMutex);
    m_pPostTarget = pWorker;
    return true;
}

bool CKrCommPortThread::OnPortThread() const
{
    return QThread::currentThread() == &m_thread;
}

quint64 CKrCommPortThread::NewRequestLocked(bool bWanted, KrPortState state)
{
    const quint64 nRequest = ++m_nRequest;
    m_bWanted = bWanted;
    m_strNote.clear();
    m_strPathInUse.clear();
    // Bytes and line requests waiting for the old request do not go out
    // under the new one.
    m_writes.DropQueued();
    m_lineRequests.clear();
    QueueChangedLocked();
    SetStatusLocked(state, KrPortFailure{KrPortError::None, QString()});
    if (m_pWorker)
        m_pWorker->m_apply.Request();
    return nRequest;
}

void CKrCommPortThread::WaitSettledLocked(std::unique_lock<std::mutex>& lock, quint64 nRequest,
                                          int nMaxMs)
{
    m_settled.wait_for(lock, std::chrono::milliseconds(qMax(0, nMaxMs)),
                       [&] { return m_nSettled >= nRequest; });
}

bool CKrCommPortThread::Open(const CKrCommConfig& config)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_request = config;
    if (!StartThread()) {
        NewRequestLocked(false, KrPortState::Closed);
        SetStatusLocked(
            KrPortState::Closed,
            KrPortFailure{KrPortError::Other, QStringLiteral("cannot start the port's thread: the "
                                                             "system refused a new thread")});
        m_nSettled = m_nRequest;
        return false;
    }
    const quint64 nRequest = NewRequestLocked(true, KrPortState::Opening);
    if (OnPortThread())
        return false;
    WaitSettledLocked(lock, nRequest, kSettleWaitMs);
    return m_nRequest == nRequest && m_status.state == KrPortState::Open;
}

void CKrCommPortThread::Close()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 nRequest = NewRequestLocked(false, KrPortState::Closed);
    if (!m_pWorker) {
        m_nSettled = nRequest;
        return;
    }
    if (!OnPortThread())
        WaitSettledLocked(lock, nRequest, kSettleWaitMs);
}

bool CKrCommPortThread::WaitSettled(int nMaxMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (OnPortThread())
        return m_nSettled >= m_nRequest;
    WaitSettledLocked(lock, m_nRequest, nMaxMs);
    return m_nSettled >= m_nRequest;
}

void CKrCommPortThread::Shutdown()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_pWorker)
        return;
    if (OnPortThread()) {
        // A receiver destroying its own port from inside its call: the thread
        // cannot wait for itself.
        qWarning("KrCommPort: a port cannot be shut down from its own I/O thread");
        return;
    }
    m_bShutdown = true;
    const quint64 nRequest = NewRequestLocked(false, KrPortState::Closed);
    lock.unlock();
    {
        // Writers post to the worker no more: it goes as the thread ends.
        std::lock_guard<std::mutex> posting(m_postMutex);
        m_pPostTarget = nullptr;
    }
    // The I/O thread ends itself once the back end is closed; it only has to
    // finish a receiver call it may be in.
    m_thread.wait();
    lock.lock();
    m_pWorker = nullptr; // deleted as the thread finished
    m_nSettled = nRequest;
}

int CKrCommPortThread::Write(const char* pData, qint64 nLength, int nStream)
{
    if (nLength == -1)
        nLength = pData ? qint64(std::strlen(pData)) : 0;
    return Queue(nullptr, pData, pData ? nLength : 0, nStream);
}

int CKrCommPortThread::Write(const QByteArray& data, int nStream)
{
    return Queue(&data, data.constData(), data.size(), nStream);
}

int CKrCommPortThread::Queue(const QByteArray* pWhole, const char* pData, qint64 nLength,
                             int nStream)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_status.state != KrPortState::Open)
            return -1;
        nLength = qMin(nLength, CKrCommPort::kMaxQueued - m_writes.Pending());
        if (nLength <= 0)
            return 0;
        // A whole array is shared, not copied.
        m_writes.Push(pWhole && nLength == pWhole->size() ? *pWhole
                                                          : QByteArray(pData, qsizetype(nLength)),
                      nStream);
        QueueChangedLocked();
    }
    RequestDrain();
    return int(nLength);
}

namespace {
// The port whose received block this thread is delivering, if any.
thread_local const CKrCommPortThread* t_pDelivering = nullptr;
} // namespace

void CKrCommPortThread::RequestDrain()
{
    if (t_pDelivering == this) {
        m_bDrainDue = true; // BackendReceived drains as it ends
        return;
    }
    // Outside m_mutex: the I/O thread, woken at once, takes it to drain, and
    // would otherwise sleep on it until the writer let go.
    std::lock_guard<std::mutex> posting(m_postMutex);
    if (m_pPostTarget)
        m_pPostTarget->m_drain.Request();
}

qint64 CKrCommPortThread::DiscardQueued(int nStream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 nDropped = m_writes.Discard(nStream);
    QueueChangedLocked();
    return nDropped;
}

qint64 CKrCommPortThread::TakeDropped(int nStream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.TakeDropped(nStream);
}

CKrCommPortStatus CKrCommPortThread::Status(const CKrCommConfig& next) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    CKrCommPortStatus status = m_status;
    if (status.state == KrPortState::Closed)
        status.strDescription = Describe(next, status.state, status.strReason, QString());
    return status;
}

void CKrCommPortThread::SetListener(CKrCommPortListener* pListener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.clear();
    if (pListener)
        m_listeners.push_back(pListener);
}

void CKrCommPortThread::AddListener(CKrCommPortListener* pListener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (pListener)
        m_listeners.push_back(pListener);
}

bool CKrCommPortThread::RequestLine(const KrLineRequest& request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool bOutput = request.kind == KrLineRequest::Kind::Break
                             ? request.line == KrLine::Break
                             : (KrLineBit(request.line) & kKrOutputLines) != 0;
    if (m_status.state != KrPortState::Open || !bOutput || !m_lines.Has(request.line))
        return false;
    m_lineRequests.push_back(request);
    // Under the lock: the worker cannot go away meanwhile.
    m_pWorker->m_lines.Request();
    return true;
}

KrLines CKrCommPortThread::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

void CKrCommPortThread::SetStatusLocked(KrPortState state, const KrPortFailure& failure)
{
    m_status.state = state;
    m_status.error = failure.code;
    m_status.strReason = failure.strText;
    CKrCommConfig shown = m_request;
    if (!m_strPathInUse.isEmpty())
        shown.strPort = m_strPathInUse;
    m_status.strDescription = Describe(shown, state, failure.strText, m_strNote);
}

// ---- the I/O thread ------------------------------------------------------

void CKrCommPortThread::Apply()
{
    bool bWanted = false;
    bool bShutdown = false;
    quint64 nRequest = 0;
    CKrCommConfig request;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        nRequest = m_nRequest;
        bWanted = m_bWanted;
        bShutdown = m_bShutdown;
        request = m_request;
    }
    if (nRequest != m_nApplied) {
        m_nApplied = nRequest;
        DisposeBackend();
        m_nRetryDelayMs = 0;
        // A port that was open under the old request (even if lost since)
        // is closed by its owner now: a Close, a new Open or the end.
        if (m_bOpenedForRequest)
            TellEvent(KrPortEventKind::Closed, QString());
        m_bOpenedForRequest = false;
        m_bLostSinceOpen = false;
        if (bWanted && !bShutdown) {
            // The device last open under this name is looked for again.
            if (request.strPort != m_attempt.strPort)
                m_identity = KrDeviceIdentity();
            m_attempt = request;
            Attempt();
        } else {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_nRequest == nRequest)
                m_nSettled = nRequest;
            m_settled.notify_all();
        }
    }
    if (bShutdown) {
        m_published = CKrCommPortStatus();
        m_linesPublished = NotOpenLines();
        // Last under the lock, which the owner takes once the thread ended,
        // so that everything this thread did is seen to happen before.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_thread.quit();
        return;
    }
    Publish();
}

void CKrCommPortThread::Attempt()
{
    KrPortFailure failure;
    QString why;
    if (!m_attempt.IsValid(&why)) {
        AttemptFailed(KrPortFailure{KrPortError::InvalidSettings, why});
        return;
    }
    m_pBackend = KrCreateBackend(m_attempt.strPort, *this, &why);
    if (!m_pBackend) {
        AttemptFailed(KrPortFailure{KrPortError::UnknownType, why});
        return;
    }
    m_bBackendOpen = false;
    switch (m_pBackend->Open(m_attempt, &failure)) {
    case CKrCommBackend::OpenResult::Opened:
        Opened();
        break;
    case CKrCommBackend::OpenResult::Pending:
        m_pWorker->m_openLimitTimer.start(KrReopenPolicyFor(m_attempt.strPort).nOpenLimitMs);
        Publish(); // "connecting"
        break;
    case CKrCommBackend::OpenResult::Failed:
        AttemptFailed(failure);
        break;
    }
}

void CKrCommPortThread::Opened()
{
    m_pWorker->m_openLimitTimer.stop();
    m_bBackendOpen = true;
    m_openedAt.start();
    CKrCommConfig request;
    QString description;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!CurrentLocked())
            return; // a newer request follows
        m_strPathInUse = m_attempt.strPort;
        m_strNote = m_pBackend->Note();
        SetStatusLocked(KrPortState::Open, KrPortFailure{KrPortError::None, QString()});
        m_nSettled = m_nApplied;
        m_settled.notify_all();
        request = m_request;
        description = m_status.strDescription;
    }
    Publish();
    // Before any block read from it.
    if (m_bLostSinceOpen) {
        TellEvent(KrPortEventKind::Reopened, description);
    } else {
        if (m_bEverOpened && request != m_lastOpened)
            TellEvent(KrPortEventKind::ConfigChanged, description);
        TellEvent(KrPortEventKind::Opened, description);
    }
    m_bOpenedForRequest = true;
    m_bLostSinceOpen = false;
    m_bEverOpened = true;
    m_lastOpened = request;
    if (KrReopenPolicyFor(m_attempt.strPort).bFollowsDevice) {
        // What the system knows of the device, to find it again should it come
        // back under another name. Read after the owner has heard the outcome.
        const KrDeviceIdentity id = KrIdentityOf(m_attempt.strPort, KrAvailablePorts());
        if (id.IsKnown() || m_identity.strPath != m_attempt.strPort)
            m_identity = id;
    }
}

void CKrCommPortThread::AttemptFailed(const KrPortFailure& failure)
{
    DisposeBackend();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!CurrentLocked())
            return;
        // Reopening after a loss the port stays "disconnected", with the
        // latest reason; a first open is "not open".
        const bool bLost = m_status.state == KrPortState::Lost;
        SetStatusLocked(bLost ? KrPortState::Lost : KrPortState::Closed, failure);
        m_nSettled = m_nApplied;
        m_settled.notify_all();
    }
    Publish();
    if (failure.IsRetried())
        ScheduleRetry();
}

void CKrCommPortThread::ScheduleRetry()
{
    const KrReopenPolicy policy = KrReopenPolicyFor(m_attempt.strPort);
    m_nRetryDelayMs =
        m_nRetryDelayMs == 0 ? policy.nFirstDelayMs : qMin(m_nRetryDelayMs * 2, policy.nMaxDelayMs);
    m_pWorker->m_retryTimer.start(m_nRetryDelayMs);
}

void CKrCommPortThread::OnRetryTimer()
{
    CKrCommConfig request;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bWanted || m_bShutdown || !CurrentLocked())
            return;
        request = m_request;
    }
    m_attempt = request;
    if (KrReopenPolicyFor(request.strPort).bFollowsDevice) {
        // The system's list of devices is only read when there is an identity
        // to look for in it.
        const QList<KrPortInfo> ports =
            m_identity.IsKnown() ? KrAvailablePorts() : QList<KrPortInfo>();
        const KrFollowResult found =
            KrFindDevice(request.strPort, m_identity, ports, &KrDeviceExists);
        if (!found.IsFound()) {
            ScheduleRetry(); // still away: nothing to try yet
            return;
        }
        m_attempt.strPort = found.strPath;
    }
    Attempt();
}

void CKrCommPortThread::OnOpenLimit()
{
    if (!m_pBackend || m_bBackendOpen)
        return;
    AttemptFailed(m_pBackend->OpenTimedOut());
}

void CKrCommPortThread::DisposeBackend()
{
    if (m_pWorker) {
        m_pWorker->m_openLimitTimer.stop();
        m_pWorker->m_retryTimer.stop();
    }
    // A pulse or break under way ends with the back end, not after it.
    StopLineTimers();
    if (!m_pBackend)
        return;
    m_pBackend->ReportWritten();
    m_pBackend->Close();
    m_bBackendOpen = false;
    {
        // What it held and had not written is dropped with it.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writes.DropInFlight();
        QueueChangedLocked();
    }
    // It may be the caller further up this thread's stack (a back end that
    // reports its own failure), so it is deleted from the event loop.
    m_pBackend.release()->deleteLater();
}

void CKrCommPortThread::Drain()
{
    for (int i = 0; i < kPiecesPerTurn; ++i) {
        CKrCommBackend* pBackend = m_bBackendOpen ? m_pBackend.get() : nullptr;
        if (!pBackend)
            return;
        const qint64 nRoom = pBackend->Room();
        if (nRoom <= 0)
            return;       // BackendReady drains again
        QByteArray chunk; // shares the queued bytes; nothing is copied
        qint64 nOffset = 0;
        qint64 nLength = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!CurrentLocked() || !m_writes.TakePiece(nRoom, &chunk, &nOffset, &nLength))
                return;
        }
        pBackend->Send(chunk.constData() + nOffset, nLength);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writes.Pending() > 0)
        m_pWorker->m_drain.Request();
}

void CKrCommPortThread::Publish()
{
    CKrCommPortStatus status;
    std::vector<CKrCommPortListener*> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        status = m_status;
        listeners = m_listeners;
    }
    // Only a change is told, so a reason repeated at every retry is told once.
    if (status != m_published) {
        m_published = status;
        for (CKrCommPortListener* pListener : listeners)
            pListener->OnPortStatus(status);
    }
    PublishLines();
}

void CKrCommPortThread::PublishLines()
{
    const bool bOpen = m_pBackend && m_bBackendOpen;
    KrLines lines = bOpen ? m_pBackend->Lines() : NotOpenLines();
    std::vector<CKrCommPortListener*> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (bOpen && !CurrentLocked())
            lines = NotOpenLines(); // a newer request follows
        // Told once, however often a refusal comes again.
        if (lines == m_linesPublished)
            return;
        m_lines = lines;
        listeners = m_listeners;
    }
    KrLineEvent event;
    event.lines = lines;
    event.nChanged = lines.ChangedFrom(m_linesPublished);
    const KrTimeStamp now = KrTimeStamp::Now();
    event.nTimeUs = now.nWallUs;
    event.nMonoUs = now.nMonoUs;
    m_linesPublished = lines;
    for (CKrCommPortListener* pListener : listeners)
        pListener->OnPortLines(event);
}

void CKrCommPortThread::ApplyLines()
{
    std::vector<KrLineRequest> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!CurrentLocked())
            return;
        requests.swap(m_lineRequests);
    }
    for (const KrLineRequest& r : requests) {
        if (!m_pBackend || !m_bBackendOpen)
            break;
        const size_t nPulse = r.line == KrLine::Rts ? 1 : 0;
        QTimer& pulseTimer = m_pWorker->m_pulseTimers[nPulse];
        // Each step is told with its own time; a pulse or break is told
        // before its timer starts, so that its two times are never closer
        // than it lasted.
        switch (r.kind) {
        case KrLineRequest::Kind::Set:
            // A set ends a pulse of the line: what was set stays.
            pulseTimer.stop();
            m_pBackend->SetLine(r.line, r.bOn);
            PublishLines();
            break;
        case KrLineRequest::Kind::Pulse:
            // A pulse during a pulse of the line lengthens it.
            if (!pulseTimer.isActive()) {
                m_abPulseRestore[nPulse] = m_pBackend->Lines().IsOn(r.line);
                const bool bDone = m_pBackend->SetLine(r.line, !m_abPulseRestore[nPulse]);
                PublishLines();
                if (!bDone)
                    break;
            }
            pulseTimer.start(r.nMs);
            break;
        case KrLineRequest::Kind::Break:
            if (!m_pWorker->m_breakTimer.isActive()) {
                const bool bDone = m_pBackend->SetLine(KrLine::Break, true);
                PublishLines();
                if (!bDone)
                    break;
            }
            m_pWorker->m_breakTimer.start(r.nMs);
            break;
        }
    }
}

void CKrCommPortThread::EndPulse(KrLine line)
{
    if (!m_pBackend || !m_bBackendOpen)
        return;
    m_pBackend->SetLine(line, m_abPulseRestore[line == KrLine::Rts ? 1 : 0]);
    PublishLines();
}

void CKrCommPortThread::EndBreak()
{
    if (!m_pBackend || !m_bBackendOpen)
        return;
    m_pBackend->SetLine(KrLine::Break, false);
    PublishLines();
}

void CKrCommPortThread::StopLineTimers()
{
    if (!m_pWorker)
        return;
    for (QTimer& timer : m_pWorker->m_pulseTimers)
        timer.stop();
    m_pWorker->m_breakTimer.stop();
}

void CKrCommPortThread::TellEvent(KrPortEventKind kind, const QString& strText)
{
    const KrTimeStamp time = KrTimeStamp::Now();
    std::vector<CKrCommPortListener*> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listeners = m_listeners;
    }
    const KrPortEvent event{kind, strText, time};
    for (CKrCommPortListener* pListener : listeners)
        pListener->OnPortEvent(event);
}

void CKrCommPortThread::BackendOpened()
{
    if (m_pBackend && !m_bBackendOpen)
        Opened();
}

void CKrCommPortThread::BackendReceived(const QByteArray& block)
{
    // Straight to the receiver, also after a Close that this thread has not
    // carried out yet: what was read before it is the user's. The arrival
    // time is taken here, as the read returns, before any queue.
    if (block.isEmpty())
        return;
    if (t_pDelivering == this) {
        // A back end that answers a write at once (loop://) while a block
        // is delivered or drained: its writes are drained further out.
        m_port.DeliverReceived(block, KrBlockTimes(KrTimeStamp::Now()));
        return;
    }
    // A transfer answers an ACK with its next block from here: the block
    // goes as the delivery ends, not one turn of the event loop later.
    t_pDelivering = this;
    m_port.DeliverReceived(block, KrBlockTimes(KrTimeStamp::Now()));
    if (std::exchange(m_bDrainDue, false))
        Drain();
    t_pDelivering = nullptr;
    if (std::exchange(m_bDrainDue, false))
        m_pWorker->m_drain.Request();
}

void CKrCommPortThread::BackendWritten(qint64 nCount)
{
    // Also after a newer request: until this back end is disposed of, what it
    // writes is what left.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.Written(nCount);
    QueueChangedLocked();
}

void CKrCommPortThread::BackendReady()
{
    Drain();
}

void CKrCommPortThread::BackendFailed(const KrPortFailure& failure)
{
    if (m_pBackend && !m_bBackendOpen) {
        AttemptFailed(failure);
        return;
    }
    if (!m_pBackend)
        return;
    DisposeBackend();
    bool bWanted = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!CurrentLocked())
            return; // closed or reopened meanwhile
        m_writes.DropQueued();
        QueueChangedLocked();
        SetStatusLocked(KrPortState::Lost, failure);
        bWanted = m_bWanted;
    }
    Publish();
    TellEvent(KrPortEventKind::Lost, failure.strText);
    m_bLostSinceOpen = true;
    // A port that stayed open a while starts the back-off again; one that is
    // dropped as soon as it opens (a server that takes the connection and
    // closes it) goes on backing off.
    if (m_openedAt.elapsed() >= kSteadyMs)
        m_nRetryDelayMs = 0;
    if (bWanted && failure.IsRetried())
        ScheduleRetry();
}

void CKrCommPortThread::BackendLinesChanged()
{
    if (m_bBackendOpen && m_pBackend)
        PublishLines();
}

void CKrCommPortThread::BackendNoteChanged()
{
    if (!m_bBackendOpen || !m_pBackend)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!CurrentLocked())
            return;
        m_strNote = m_pBackend->Note();
        SetStatusLocked(KrPortState::Open, KrPortFailure{KrPortError::None, QString()});
    }
    Publish();
}
