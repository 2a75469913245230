#include "CKrCommPortThread.h"

#include "CKrCommPort.h"
#include "KrPortList.h"
#include "KrSerialDiag.h"
#include "KrThreadName.h"

#include <QMetaObject>

#include <chrono>
#include <cstring>

namespace {

// Pieces handed to the back end per turn of the I/O thread's event loop, so
// that a long write does not hold up a Close.
constexpr int kPiecesPerTurn = 16;

// The port whose delivery thread this is, if any.
thread_local const CKrCommPortThread* t_pDelivering = nullptr;

} // namespace

CKrCommPortWorker::CKrCommPortWorker(CKrCommPortThread& owner)
    : m_retryTimer(this), m_openLimitTimer(this), m_owner(owner)
{
    m_retryTimer.setSingleShot(true);
    m_openLimitTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] { m_owner.OnRetryTimer(); });
    connect(&m_openLimitTimer, &QTimer::timeout, this, [this] { m_owner.OnOpenLimit(); });
}

void CKrCommPortWorker::Apply()
{
    m_owner.Apply();
}

void CKrCommPortWorker::Drain()
{
    m_owner.Drain();
}

CKrCommPortThread::CKrCommPortThread(CKrCommPort& port) : m_port(port)
{
    m_thread.setObjectName(QStringLiteral("KrCommPort I/O"));
    m_status = CKrCommPortStatus{KrPortState::Closed, KrPortError::None, QString(), QString()};
}

CKrCommPortThread::~CKrCommPortThread()
{
    Shutdown();
}

// ---- the owner's side ----------------------------------------------------

void CKrCommPortThread::StartThread()
{
    if (m_pWorker)
        return;
    m_bShutdown = false;
    m_pWorker = new CKrCommPortWorker(*this);
    m_pWorker->moveToThread(&m_thread);
    // The worker, and any back end still waiting for deletion, go when the
    // thread ends.
    QObject::connect(&m_thread, &QThread::finished, m_pWorker, &QObject::deleteLater);
    m_thread.start();
    {
        std::lock_guard<std::mutex> lock(m_deliverMutex);
        m_bStopDelivery = false;
    }
    m_deliverer = std::thread([this] { Deliver(); });
}

bool CKrCommPortThread::OnPortThread() const
{
    return QThread::currentThread() == &m_thread || t_pDelivering == this;
}

void CKrCommPortThread::Wake()
{
    QMetaObject::invokeMethod(m_pWorker, &CKrCommPortWorker::Apply, Qt::QueuedConnection);
}

void CKrCommPortThread::WaitSettled(std::unique_lock<std::mutex>& lock, quint64 nRequest)
{
    m_settled.wait_for(lock, std::chrono::milliseconds(kSettleWaitMs),
                       [&] { return m_nSettled >= nRequest; });
}

bool CKrCommPortThread::Open(const CKrCommConfig& config)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    StartThread();
    const quint64 nRequest = ++m_nRequest;
    m_nRequestSeen = nRequest;
    m_bWanted = true;
    m_requestConfig = config;
    m_shownConfig = config;
    m_strNote.clear();
    m_bOpen = false;
    DropQueueLocked();
    SetStatusLocked(KrPortState::Opening, KrPortFailure{KrPortError::None, QString()});
    Wake();
    if (OnPortThread())
        return false;
    WaitSettled(lock, nRequest);
    return m_nRequest == nRequest && m_status.state == KrPortState::Open;
}

void CKrCommPortThread::Close()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const quint64 nRequest = ++m_nRequest;
    m_nRequestSeen = nRequest;
    m_bWanted = false;
    m_bOpen = false;
    DropQueueLocked();
    m_strNote.clear();
    SetStatusLocked(KrPortState::Closed, KrPortFailure{KrPortError::None, QString()});
    if (!m_pWorker) {
        m_nSettled = nRequest;
        return;
    }
    Wake();
    if (OnPortThread())
        return;
    WaitSettled(lock, nRequest);
}

void CKrCommPortThread::Shutdown()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_pWorker)
        return;
    if (OnPortThread()) {
        // A receiver destroying its own port from inside OnReceive: the thread
        // cannot wait for itself.
        qWarning("KrCommPort: a port cannot be shut down from its own I/O thread");
        return;
    }
    const quint64 nRequest = ++m_nRequest;
    m_nRequestSeen = nRequest;
    m_bWanted = false;
    m_bShutdown = true;
    m_bOpen = false;
    DropQueueLocked();
    m_strNote.clear();
    SetStatusLocked(KrPortState::Closed, KrPortFailure{KrPortError::None, QString()});
    Wake();
    lock.unlock();
    // The I/O thread ends itself once the back end is closed; it only has to
    // finish a receiver call it may be in.
    m_thread.wait();
    {
        // What still waits for the receiver is dropped; a call in progress
        // ends first.
        std::lock_guard<std::mutex> delivery(m_deliverMutex);
        m_bStopDelivery = true;
        m_blocks.clear();
        m_nWaiting = 0;
    }
    m_blockReady.notify_all();
    m_deliverer.join();
    lock.lock();
    m_pWorker = nullptr; // deleted as the thread finished
    m_bPoked = false;
    m_nSettled = nRequest;
}

void CKrCommPortThread::Deliver()
{
    // Its own name in the system's thread lists, beside "KrCommPort I/O".
    KrNameThisThread("KrCommDeliver");
    t_pDelivering = this;
    std::unique_lock<std::mutex> lock(m_deliverMutex);
    for (;;) {
        m_blockReady.wait(lock, [this] { return m_bStopDelivery || !m_blocks.empty(); });
        if (m_bStopDelivery)
            return;
        QByteArray block = std::move(m_blocks.front());
        m_blocks.pop_front();
        m_nWaiting -= block.size();
        m_bHanding = true;
        lock.unlock();
        m_roomForMore.notify_all();
        // What was read is handed on, also when a Close came meanwhile:
        // only the port's destruction drops it.
        m_port.DeliverReceived(block.constData(), int(block.size()));
        block.clear(); // freed without the lock
        lock.lock();
        m_bHanding = false;
        if (m_blocks.empty())
            m_roomForMore.notify_all(); // for WaitDelivered
    }
}

bool CKrCommPortThread::WaitDelivered(int nMaxMs)
{
    std::unique_lock<std::mutex> lock(m_deliverMutex);
    const auto delivered = [this] { return m_bStopDelivery || (m_blocks.empty() && !m_bHanding); };
    if (t_pDelivering == this)
        return m_blocks.empty();
    return m_roomForMore.wait_for(lock, std::chrono::milliseconds(qMax(0, nMaxMs)), delivered);
}

int CKrCommPortThread::Write(const char* pData, qint64 nLength, int nStream)
{
    if (nLength == -1)
        nLength = pData ? qint64(std::strlen(pData)) : 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bOpen)
        return -1;
    if (nLength <= 0 || !pData)
        return 0;
    nLength = qMin(nLength, CKrCommPort::kMaxQueued - m_writes.Pending());
    if (nLength <= 0)
        return 0;
    m_writes.Push(QByteArray(pData, nLength), nStream);
    QueueChangedLocked();
    // Under the lock: the worker cannot go away meanwhile.
    Poke();
    return int(nLength);
}

int CKrCommPortThread::Write(const QByteArray& data, int nStream)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen)
            return -1;
        if (data.isEmpty())
            return 0;
        if (data.size() <= CKrCommPort::kMaxQueued - m_writes.Pending()) {
            m_writes.Push(data, nStream); // shared, not copied
            QueueChangedLocked();
            Poke();
            return int(data.size());
        }
    }
    return Write(data.constData(), data.size(), nStream); // what fits, copied
}

void CKrCommPortThread::Poke()
{
    if (!m_bPoked.exchange(true))
        QMetaObject::invokeMethod(m_pWorker, &CKrCommPortWorker::Drain, Qt::QueuedConnection);
}

qint64 CKrCommPortThread::DiscardQueued(int nStream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 nDropped = m_writes.Discard(nStream);
    QueueChangedLocked();
    return nDropped;
}

qint64 CKrCommPortThread::DroppedCount(int nStream) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.Dropped(nStream);
}

CKrCommPortStatus CKrCommPortThread::Status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

void CKrCommPortThread::SetListener(CKrCommPortListener* pListener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pListener = pListener;
}

void CKrCommPortThread::SetStatusLocked(KrPortState state, const KrPortFailure& failure)
{
    m_status.state = state;
    m_status.error = failure.code;
    m_status.strReason = failure.strText;
    const QString base = KrDescribeConfig(m_shownConfig);
    switch (state) {
    case KrPortState::Open:
        m_status.strDescription =
            m_strNote.isEmpty() ? base : base + QStringLiteral(" - ") + m_strNote;
        break;
    case KrPortState::Opening:
        m_status.strDescription = base + QStringLiteral(" - connecting");
        break;
    case KrPortState::Closed:
        m_status.strDescription =
            base + QStringLiteral(" - not open: ") +
            (failure.strText.isEmpty() ? QStringLiteral("port closed") : failure.strText);
        break;
    case KrPortState::Lost:
        m_status.strDescription = base + QStringLiteral(" - disconnected: ") + failure.strText;
        break;
    }
}

void CKrCommPortThread::DropQueueLocked()
{
    // What the back end already holds goes or is dropped with it (see
    // DisposeBackend).
    m_writes.DropQueued();
    QueueChangedLocked();
}

// ---- the I/O thread ------------------------------------------------------

void CKrCommPortThread::Apply()
{
    CKrCommConfig config;
    bool bWanted = false;
    bool bShutdown = false;
    quint64 nRequest = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        nRequest = m_nRequest;
        config = m_requestConfig;
        bWanted = m_bWanted;
        bShutdown = m_bShutdown;
    }
    if (nRequest != m_nApplied) {
        m_nApplied = nRequest;
        DisposeBackend();
        m_nRetryDelayMs = 0;
        if (bWanted && !bShutdown) {
            // The device last open under this name is looked for again.
            if (config.strPort != m_wanted.strPort)
                m_identity = KrDeviceIdentity();
            m_wanted = config;
            m_attempt = config;
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
    m_phase = Phase::Opening;
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
    m_phase = Phase::Open;
    m_openedAt.start();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nRequest != m_nApplied)
            return; // a newer request follows
        m_bOpen = true;
        m_shownConfig = m_attempt;
        m_strNote = m_pBackend->Note();
        SetStatusLocked(KrPortState::Open, KrPortFailure{KrPortError::None, QString()});
        m_nSettled = m_nApplied;
        m_settled.notify_all();
    }
    Publish();
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
        if (m_nRequest != m_nApplied)
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
    const KrReopenPolicy policy = KrReopenPolicyFor(m_wanted.strPort);
    m_nRetryDelayMs =
        m_nRetryDelayMs == 0 ? policy.nFirstDelayMs : qMin(m_nRetryDelayMs * 2, policy.nMaxDelayMs);
    m_pWorker->m_retryTimer.start(m_nRetryDelayMs);
}

void CKrCommPortThread::OnRetryTimer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bWanted || m_bShutdown || m_nRequest != m_nApplied)
            return;
    }
    m_attempt = m_wanted;
    if (KrReopenPolicyFor(m_wanted.strPort).bFollowsDevice) {
        // The system's list of devices is only read when there is an identity
        // to look for in it.
        const QList<KrPortInfo> ports =
            m_identity.IsKnown() ? KrAvailablePorts() : QList<KrPortInfo>();
        const KrFollowResult found =
            KrFindDevice(m_wanted.strPort, m_identity, ports, &KrDeviceExists);
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
    if (m_phase != Phase::Opening || !m_pBackend)
        return;
    AttemptFailed(m_pBackend->OpenTimedOut());
}

void CKrCommPortThread::DisposeBackend()
{
    if (m_pWorker) {
        m_pWorker->m_openLimitTimer.stop();
        m_pWorker->m_retryTimer.stop();
    }
    m_phase = Phase::Idle;
    if (!m_pBackend)
        return;
    m_pBackend->ReportWritten();
    m_pBackend->Close();
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
    m_bPoked = false;
    for (int i = 0; i < kPiecesPerTurn; ++i) {
        CKrCommBackend* pBackend = m_phase == Phase::Open ? m_pBackend.get() : nullptr;
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
            if (m_nRequest != m_nApplied || !m_writes.TakePiece(nRoom, &chunk, &nOffset, &nLength))
                return;
        }
        pBackend->Send(chunk.constData() + nOffset, nLength);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writes.Pending() > 0)
        Poke();
}

void CKrCommPortThread::Publish()
{
    CKrCommPortStatus status;
    CKrCommPortListener* pListener = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        status = m_status;
        pListener = m_pListener;
    }
    // Only a change is told, so a reason repeated at every retry is told once.
    if (status == m_published)
        return;
    m_published = status;
    if (pListener)
        pListener->OnPortStatus(status);
}

void CKrCommPortThread::BackendOpened()
{
    if (m_phase == Phase::Opening)
        Opened();
}

void CKrCommPortThread::BackendReceived(const char* pData, int nLength)
{
    if (nLength <= 0)
        return;
    const quint64 nRequest = m_nApplied;
    std::unique_lock<std::mutex> lock(m_deliverMutex);
    // A receiver that cannot keep up holds the reading here, as it would if
    // it were called directly; a new request (a Close) ends the wait, and
    // the back end that read this goes right after.
    while (m_nWaiting >= kMaxWaiting && !m_bStopDelivery && m_nRequestSeen.load() == nRequest)
        m_roomForMore.wait_for(lock, std::chrono::milliseconds(20));
    if (m_bStopDelivery)
        return;
    if (!m_blocks.empty() && m_blocks.back().size() + nLength <= kMaxBlock)
        m_blocks.back().append(pData, nLength);
    else
        m_blocks.push_back(QByteArray(pData, nLength));
    m_nWaiting += nLength;
    lock.unlock();
    m_blockReady.notify_one();
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
    if (m_phase == Phase::Opening) {
        AttemptFailed(failure);
        return;
    }
    if (m_phase != Phase::Open)
        return;
    DisposeBackend();
    bool bWanted = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nRequest != m_nApplied)
            return; // closed or reopened meanwhile
        m_bOpen = false;
        DropQueueLocked();
        SetStatusLocked(KrPortState::Lost, failure);
        bWanted = m_bWanted;
    }
    Publish();
    // A port that stayed open a while starts the back-off again; one that is
    // dropped as soon as it opens (a server that takes the connection and
    // closes it) goes on backing off.
    if (m_openedAt.elapsed() >= kSteadyMs)
        m_nRetryDelayMs = 0;
    if (bWanted && failure.IsRetried())
        ScheduleRetry();
}

void CKrCommPortThread::BackendNoteChanged()
{
    if (m_phase != Phase::Open || !m_pBackend)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_nRequest != m_nApplied)
            return;
        m_strNote = m_pBackend->Note();
        SetStatusLocked(KrPortState::Open, KrPortFailure{KrPortError::None, QString()});
    }
    Publish();
}
