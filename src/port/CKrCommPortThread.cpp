#include "CKrCommPortThread.h"

#include "CKrCommPort.h"

#include <QMetaObject>

#include <cstring>

namespace {

// Pieces handed to the back end per turn of the I/O thread's event loop, so
// that a long write does not hold up Close.
constexpr int kPiecesPerTurn = 16;

} // namespace

CKrCommPortThread::CKrCommPortThread(CKrCommPort& port) : m_port(port)
{
    m_thread.setObjectName(QStringLiteral("KrCommPort I/O"));
}

CKrCommPortThread::~CKrCommPortThread()
{
    Shutdown();
}

void CKrCommPortThread::StartThread()
{
    if (m_pWorker)
        return;
    m_pWorker = new CKrCommPortWorker(*this);
    m_pWorker->moveToThread(&m_thread);
    // The worker, and any back end still waiting for deletion, go when the
    // thread ends.
    QObject::connect(&m_thread, &QThread::finished, m_pWorker, &QObject::deleteLater);
    m_thread.start();
}

void CKrCommPortThread::RunOnThread(const std::function<void()>& fn)
{
    if (QThread::currentThread() == &m_thread) {
        fn();
        return;
    }
    StartThread();
    Job job{fn};
    std::unique_lock<std::mutex> lock(m_jobMutex);
    m_jobs.push_back(&job);
    QMetaObject::invokeMethod(m_pWorker, "RunJobs", Qt::QueuedConnection);
    m_jobDone.wait(lock, [&job] { return job.bDone; });
}

void CKrCommPortThread::RunJobs()
{
    for (;;) {
        Job* pJob = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_jobMutex);
            if (m_jobs.empty())
                return;
            pJob = m_jobs.front();
            m_jobs.pop_front();
        }
        pJob->fn();
        {
            std::lock_guard<std::mutex> lock(m_jobMutex);
            pJob->bDone = true;
        }
        m_jobDone.notify_all();
    }
}

void CKrCommPortWorker::RunJobs()
{
    m_owner.RunJobs();
}

void CKrCommPortWorker::Drain()
{
    m_owner.Drain();
}

void CKrCommPortThread::Shutdown()
{
    if (!m_pWorker)
        return;
    if (QThread::currentThread() == &m_thread) {
        // A receiver destroying its own port from inside OnReceive: the thread
        // cannot wait for itself.
        qWarning("KrCommPort: a port cannot be shut down from its own I/O thread");
        return;
    }
    RunOnThread([this] { DoClose(); });
    m_thread.quit();
    m_thread.wait();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pWorker = nullptr; // deleted as the thread finished
    m_bPoked = false;
}

bool CKrCommPortThread::Open(const CKrCommConfig& config)
{
    bool ok = false;
    QString why;
    RunOnThread([&] { ok = DoOpen(config, &why); });
    return ok;
}

void CKrCommPortThread::Close()
{
    if (!m_pWorker)
        return;
    RunOnThread([this] { DoClose(); });
}

int CKrCommPortThread::Write(const char* pData, qint64 nLength)
{
    if (nLength == -1)
        nLength = pData ? qint64(std::strlen(pData)) : 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bOpen)
            return -1;
        if (nLength <= 0 || !pData)
            return 0;
        m_queue.emplace_back(pData, nLength);
        m_nPending += nLength;
        // Under the lock: the worker cannot go away meanwhile.
        Poke();
    }
    return int(nLength);
}

void CKrCommPortThread::Poke()
{
    if (!m_bPoked.exchange(true))
        QMetaObject::invokeMethod(m_pWorker, "Drain", Qt::QueuedConnection);
}

bool CKrCommPortThread::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bOpen;
}

QString CKrCommPortThread::LastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLastError;
}

CKrCommConfig CKrCommPortThread::OpenConfig() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openConfig;
}

bool CKrCommPortThread::DoOpen(const CKrCommConfig& config, QString* why)
{
    DoClose();
    if (config.IsValid(why))
        m_pBackend = KrCreateBackend(config.strPort, *this, why);
    if (m_pBackend && !m_pBackend->Open(config, why))
        m_pBackend.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pBackend) {
        m_strLastError = *why;
        return false;
    }
    m_bOpen = true;
    m_strLastError.clear();
    m_openConfig = config;
    return true;
}

void CKrCommPortThread::DoClose()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = false;
        m_strLastError.clear();
        m_queue.clear();
        m_nFrontOffset = 0;
        m_nPending = 0;
    }
    DisposeBackend();
}

void CKrCommPortThread::DisposeBackend()
{
    if (!m_pBackend)
        return;
    m_pBackend->Close();
    // It may be the caller further up this thread's stack (a receiver that
    // closes its port from OnReceive), so it is deleted from the event loop.
    m_pBackend.release()->deleteLater();
}

void CKrCommPortThread::Drain()
{
    m_bPoked = false;
    for (int i = 0; i < kPiecesPerTurn; ++i) {
        CKrCommBackend* pBackend = m_pBackend.get();
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
            if (m_queue.empty())
                return;
            chunk = m_queue.front();
            nOffset = m_nFrontOffset;
            nLength = qMin(nRoom, qint64(chunk.size()) - nOffset);
            m_nFrontOffset += nLength;
            if (m_nFrontOffset >= chunk.size()) {
                m_queue.pop_front();
                m_nFrontOffset = 0;
            }
        }
        pBackend->Send(chunk.constData() + nOffset, nLength);
    }
    Poke();
}

void CKrCommPortThread::BackendReceived(const char* pData, int nLength)
{
    if (nLength > 0)
        m_port.DeliverReceived(pData, nLength);
}

void CKrCommPortThread::BackendWritten(qint64 nCount)
{
    m_nPending -= nCount;
}

void CKrCommPortThread::BackendReady()
{
    Drain();
}

void CKrCommPortThread::BackendFailed(const QString& why)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = false;
        m_strLastError = why;
        m_queue.clear();
        m_nFrontOffset = 0;
        m_nPending = 0;
    }
    DisposeBackend();
}
