#include "CFileSend.h"

#include <QFile>
#include <QLocale>

#include <chrono>

namespace {

QString Figure(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

// How often a stream looks at the port while the port's queue is full.
constexpr std::chrono::milliseconds kPoll(10);

} // namespace

CFileSend::CFileSend(Hooks hooks, QObject* pParent) : QObject(pParent), m_hooks(std::move(hooks))
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CFileSend::Update);
}

CFileSend::~CFileSend()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancel = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CFileSend::Sent(qint64 nSize, qint64 nAccepted, const QString& path)
{
    // A new progress once the last one is over.
    if (!m_timer.isActive() && !IsStreaming()) {
        m_nTotal = 0;
        m_nAccepted = 0;
        m_nStreamed = 0;
    }
    m_nTotal += nSize;
    m_nAccepted += nAccepted;
    if (nAccepted < nSize && !IsStreaming()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bCancel = false;
            m_strStreamError.clear();
        }
        m_thread = std::thread([this, path, nAccepted] { Run(path, nAccepted); });
    }
    if (nSize > 0) {
        Update();
        m_timer.start();
    }
}

void CFileSend::Stop()
{
    if (!IsStreaming() && !m_timer.isActive())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bCancel = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    const qint64 nPending = qMax<qint64>(0, m_hooks.pending());
    const qint64 nTaken = m_nAccepted + m_nStreamed.load();
    Finish(QStringLiteral("Stopped: %1 of %2 bytes sent")
               .arg(Figure(qMax<qint64>(0, nTaken - nPending)), Figure(m_nTotal)));
}

void CFileSend::Run(const QString& path, qint64 nOffset)
{
    QString error;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(nOffset))
        error = file.errorString();
    while (error.isEmpty()) {
        {
            // Only so much waits at the port: the next piece is read when the
            // port has taken the last ones.
            std::unique_lock<std::mutex> lock(m_mutex);
            while (!m_bCancel && m_hooks.pending() > kLowWater)
                m_wake.wait_for(lock, kPoll);
            if (m_bCancel)
                break;
        }
        const QByteArray piece = file.read(kPiece);
        if (piece.isEmpty()) {
            if (!file.atEnd())
                error = file.errorString();
            break; // the whole file went
        }
        qsizetype nDone = 0;
        while (nDone < piece.size()) {
            const qint64 n = m_hooks.sendPiece(
                QByteArray::fromRawData(piece.constData() + nDone, piece.size() - nDone));
            if (n < 0) {
                error = QStringLiteral("the port is not open");
                break;
            }
            nDone += qsizetype(n);
            m_nStreamed += n;
            if (n == 0) {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_bCancel || m_wake.wait_for(lock, kPoll, [this] { return m_bCancel; }))
                    break;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bCancel)
            break;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_strStreamError = error;
    }
    QMetaObject::invokeMethod(this, &CFileSend::StreamEnded, Qt::QueuedConnection);
}

void CFileSend::StreamEnded()
{
    if (!m_thread.joinable())
        return; // Stop has joined it already
    m_thread.join();
    QString error;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        error = m_strStreamError;
    }
    if (!error.isEmpty()) {
        const qint64 nPending = qMax<qint64>(0, m_hooks.pending());
        Finish(QStringLiteral("Stopped: %1 of %2 bytes sent - %3")
                   .arg(Figure(qMax<qint64>(0, m_nAccepted + m_nStreamed.load() - nPending)),
                        Figure(m_nTotal), error));
        return;
    }
    Update();
}

void CFileSend::Update()
{
    const qint64 nPending = m_hooks.pending();
    const qint64 nTaken = m_nAccepted + m_nStreamed.load();
    if (nPending < 0) {
        // The port closed or was lost: what waited there is gone.
        if (IsStreaming())
            return; // the stream ends by itself and says so
        const qint64 nOut = qMax<qint64>(0, nTaken - m_nLastPending);
        Finish(nOut >= m_nTotal ? QString()
                                : QStringLiteral("Stopped: %1 of %2 bytes sent")
                                      .arg(Figure(nOut), Figure(m_nTotal)));
        return;
    }
    m_nLastPending = nPending;
    if (!IsStreaming() && nPending == 0) {
        Finish(QString());
        return;
    }
    const qint64 nDone = qBound<qint64>(0, nTaken - nPending, m_nTotal);
    ShowStatus(QStringLiteral("Sending %1 / %2").arg(Figure(nDone), Figure(m_nTotal)));
}

void CFileSend::ShowStatus(const QString& text)
{
    m_strStatus = text;
    if (m_hooks.showStatus)
        m_hooks.showStatus(text);
}

void CFileSend::Finish(const QString& text)
{
    m_timer.stop();
    m_nTotal = 0;
    m_nAccepted = 0;
    m_nStreamed = 0;
    m_nLastPending = 0;
    ShowStatus(text);
}
