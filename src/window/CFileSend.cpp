#include "CFileSend.h"

#include "Figure.h"
#include "KrThreadName.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <new>
#include <system_error>

namespace {

// How often a stream looks at the port while the port's queue is full.
constexpr std::chrono::milliseconds kPoll(10);

} // namespace

CFileSend::CFileSend(CFileSendLink& link, qint64 nWholeLimit, QObject* pParent)
    : QObject(pParent), m_link(link), m_nWholeLimit(nWholeLimit)
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CFileSend::Update);
}

CFileSend::~CFileSend()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancel = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CFileSend::Send(const QString& path, qint64 nSize)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // A new progress once the last one is over.
    if (!m_timer.isActive() && !m_bRunning) {
        m_nTotal = 0;
        m_nTaken = 0;
        m_nDropped = 0;
    }
    m_nTotal += nSize;
    m_jobs.push_back(Job{path, nSize});
    if (!m_bRunning) {
        m_bRunning = true;
        m_bCancel = false;
        m_strError.clear();
        lock.unlock();
        if (m_thread.joinable())
            m_thread.join(); // the last one has ended
        try {
            m_thread = std::thread([this] { Run(); });
        } catch (const std::system_error& e) {
            // Nothing of this file goes; what still drains from earlier sends
            // goes on showing its progress.
            lock.lock();
            m_jobs.clear();
            m_bRunning = false;
            lock.unlock();
            m_nTotal -= nSize;
            Q_EMIT Failed(
                QStringLiteral("Cannot send '%1': cannot start the sending thread: %2")
                    .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(e.code().message())));
            return;
        }
    } else {
        lock.unlock();
    }
    Update();
    m_timer.start();
}

void CFileSend::Stop()
{
    bool bRunning = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bRunning = m_bRunning;
        m_bCancel = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (!bRunning && !m_timer.isActive())
        return;
    if (m_thread.joinable())
        m_thread.join();
    const qint64 nDiscarded = m_link.DiscardFileBytes();
    TakeDropped();
    Finish(StoppedText(BytesOut(m_nTaken.load() - nDiscarded), QString()));
}

void CFileSend::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancel = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_bCancelled = true;
    m_timer.stop();
}

void CFileSend::TakeDropped()
{
    const qint64 n = m_link.TakeDroppedFileBytes();
    if (n > 0)
        m_nDropped += n;
}

void CFileSend::Run()
{
    KrNameThisThread("VornFileSend");
    for (;;) {
        Job job;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bCancel || m_jobs.empty()) {
                m_jobs.clear();
                m_bRunning = false;
                break;
            }
            job = m_jobs.front();
            m_jobs.pop_front();
        }
        QString error;
        const bool bOk = SendFile(job, &error);
        m_bStreaming = false;
        if (!bOk) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_strError = error;
            m_jobs.clear();
            m_bRunning = false;
            break;
        }
    }
    m_ended.Request();
}

bool CFileSend::SendFile(const Job& job, QString* pError)
{
    const auto readFailed = [&](const QString& reason) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strReadFailure =
            QStringLiteral("Cannot send '%1': %2").arg(QFileInfo(job.strPath).fileName(), reason);
        *pError = reason;
        return false;
    };
    QFile file(job.strPath);
    if (!file.open(QIODevice::ReadOnly))
        return readFailed(file.errorString());
    bool bFirst = true;
    if (job.nSize <= m_nWholeLimit) {
        // Read whole and written at once, as one block.
        QByteArray content;
        try {
            content.resize(qsizetype(job.nSize));
        } catch (const std::bad_alloc&) {
            return readFailed(
                QStringLiteral("there is not enough memory for %1 bytes").arg(Figure(job.nSize)));
        }
        qint64 nRead = 0;
        while (nRead < job.nSize) {
            const qint64 n = file.read(content.data() + nRead, job.nSize - nRead);
            if (n < 0)
                return readFailed(file.errorString());
            if (n == 0)
                break;
            nRead += n;
        }
        // A file that shrank meanwhile is sent as it was read, and said so.
        content.truncate(qsizetype(nRead));
        const qint64 nSent = m_link.SendFilePiece(content, true, true);
        if (nSent < 0) {
            *pError = QStringLiteral("the port is not open");
            return false;
        }
        m_nTaken += nSent;
        if (nSent >= content.size()) {
            if (nRead == job.nSize)
                return true;
            *pError = QStringLiteral("the file ended early");
            return false;
        }
        // What the port's queue could not take follows from the file.
        bFirst = false;
        if (!file.seek(nSent))
            return readFailed(file.errorString());
    }
    m_bStreaming = true;
    // As many bytes as the file had when it was chosen: a file that grows
    // meanwhile sends no more, one that shrinks says so.
    for (;;) {
        if (!WaitForRoom())
            return true; // stopped
        const qint64 nLeft = job.nSize - file.pos();
        if (nLeft <= 0)
            return true; // the whole file went
        const QByteArray piece = file.read(qMin(kPiece, nLeft));
        if (piece.isEmpty()) {
            if (!file.atEnd())
                return readFailed(file.errorString());
            *pError = QStringLiteral("the file ended early");
            return false;
        }
        qsizetype nDone = 0;
        while (nDone < piece.size()) {
            const qint64 n = m_link.SendFilePiece(
                QByteArray::fromRawData(piece.constData() + nDone, piece.size() - nDone), false,
                bFirst);
            if (n < 0) {
                *pError = QStringLiteral("the port is not open");
                return false;
            }
            bFirst = bFirst && n == 0;
            nDone += qsizetype(n);
            m_nTaken += n;
            if (n == 0 && !WaitForRoom())
                return true;
        }
    }
}

bool CFileSend::WaitForRoom()
{
    // Only so much waits at the port: the next piece is read when the port
    // has taken the last ones.
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bCancel && m_link.PendingFileBytes() > kLowWater)
        m_wake.wait_for(lock, kPoll);
    return !m_bCancel;
}

void CFileSend::ThreadEnded()
{
    if (m_bCancelled)
        return; // the program is ending; the destructor joins the thread
    QString error;
    QString failure;
    bool bRunning = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        error = m_strError;
        failure = m_strReadFailure;
        m_strError.clear();
        m_strReadFailure.clear();
        bRunning = m_bRunning;
    }
    if (!bRunning && m_thread.joinable())
        m_thread.join();
    if (!failure.isEmpty())
        Q_EMIT Failed(failure);
    if (!m_timer.isActive())
        return; // stopped meanwhile, and said so
    TakeDropped();
    if (!error.isEmpty() && !bRunning) {
        // What still waits at an open port goes out; a closed or lost one
        // has dropped it, and said how much.
        Finish(StoppedText(BytesOut(m_nTaken.load()), error));
        return;
    }
    Update();
}

void CFileSend::Update()
{
    TakeDropped();
    const qint64 nPending = m_link.PendingFileBytes();
    const qint64 nTaken = m_nTaken.load();
    bool bRunning = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bRunning = m_bRunning;
    }
    if (nPending < 0) {
        // The port closed or was lost: what waited there is gone.
        if (bRunning)
            return; // the send ends by itself and says so
        const qint64 nOut = BytesOut(nTaken);
        Finish(nOut >= m_nTotal ? QString()
                                : StoppedText(nOut, QStringLiteral("the port is not open")));
        return;
    }
    if (!bRunning && nPending == 0) {
        Finish(QString());
        return;
    }
    const qint64 nDone = qBound<qint64>(0, nTaken - nPending, m_nTotal);
    ShowStatus(QStringLiteral("Sending %1 / %2").arg(Figure(nDone), Figure(m_nTotal)));
}

QString CFileSend::StoppedText(qint64 nOut, const QString& why) const
{
    QString text = QStringLiteral("Stopped: %1 of %2 bytes sent")
                       .arg(Figure(qBound<qint64>(0, nOut, m_nTotal)), Figure(m_nTotal));
    if (!why.isEmpty())
        text += QStringLiteral(" - ") + why;
    return text;
}

void CFileSend::ShowStatus(const QString& text)
{
    Q_EMIT Status(text);
}

void CFileSend::Finish(const QString& text)
{
    m_timer.stop();
    m_nTotal = 0;
    m_nTaken = 0;
    ShowStatus(text);
}
