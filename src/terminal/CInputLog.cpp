#include "CInputLog.h"

#include "CInputLogFile.h"

#include <QLocale>

#include <algorithm>

CInputLog::CInputLog(Clock clock, qint64 nQueueCap)
    : m_clock(std::move(clock)), m_nQueueCap(std::max<qint64>(nQueueCap, 0))
{
}

CInputLog::~CInputLog()
{
    std::lock_guard<std::mutex> guard(m_writeMutex);
    DrainLocked();
}

QString CInputLog::FileNameFor(const QDateTime& local)
{
    // The C locale's "%x" is "%m/%d/%y"; its '/' become '-' in the name. Built
    // here rather than by strftime, which would follow the process locale.
    const QDate date = local.date();
    const int nYear = (date.year() % 100 + 100) % 100;
    return QString::asprintf("VornTerm.%02d-%02d-%02d.LOG", date.month(), date.day(), nYear);
}

bool CInputLog::Write(const char* pData, int nLength)
{
    if (!pData || nLength < 0)
        nLength = 0;
    bool bOk = false;
    bool bChanged = false;
    {
        std::lock_guard<std::mutex> guard(m_writeMutex);
        const QString strName = TodaysName();

        // Whatever waits goes first, so the file keeps the order of reception.
        if (DrainLocked()) {
            CInputLogFile file;
            if (file.Open(strName)) {
                const qint64 nDone = file.Append(pData, nLength);
                bOk = nDone == nLength;
                if (!bOk) {
                    // Only the bytes that did not reach the file wait.
                    m_strFailName = strName;
                    m_strFailReason = file.ErrorText();
                    Enqueue(strName, pData + nDone, nLength - nDone);
                }
            } else {
                m_strFailName = strName;
                m_strFailReason = file.ErrorText();
                Enqueue(strName, pData, nLength);
            }
        } else {
            Enqueue(strName, pData, nLength);
        }
        bChanged = Publish(!bOk);
    }
    Notify(bChanged);
    return bOk;
}

QString CInputLog::TodaysName()
{
    if (m_clock) {
        const QDateTime now = m_clock();
        return FileNameFor(now.isValid() ? now : QDateTime::currentDateTime());
    }
    // The local date is worked out once a day, not for every block: the
    // system clock in milliseconds tells whether the day is still the same.
    const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
    if (nNow < m_nDayStart || nNow >= m_nDayEnd) {
        const QDate today = QDateTime::fromMSecsSinceEpoch(nNow).date();
        m_strDayName = FileNameFor(QDateTime(today, QTime(12, 0)));
        m_nDayStart = QDateTime(today, QTime(0, 0)).toMSecsSinceEpoch();
        m_nDayEnd = QDateTime(today.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
        if (m_nDayEnd <= nNow || m_nDayStart > nNow)
            m_nDayEnd = m_nDayStart = 0; // a day the local clock skips: no cache
    }
    return m_strDayName;
}

bool CInputLog::Flush()
{
    bool bOk = false;
    bool bChanged = false;
    {
        std::lock_guard<std::mutex> guard(m_writeMutex);
        bOk = DrainLocked();
        bChanged = Publish(!bOk);
    }
    Notify(bChanged);
    return bOk;
}

bool CInputLog::DrainLocked()
{
    while (!m_queue.empty()) {
        // One opening for each run of blocks of the same day.
        const QString strName = m_queue.front().strName;
        CInputLogFile file;
        if (!file.Open(strName)) {
            m_strFailName = strName;
            m_strFailReason = file.ErrorText();
            return false;
        }
        while (!m_queue.empty() && m_queue.front().strName == strName) {
            Pending& pending = m_queue.front();
            const qint64 nLeft = pending.data.size() - pending.nFrom;
            const qint64 nDone = file.Append(pending.data.constData() + pending.nFrom, nLeft);
            pending.nFrom += nDone;
            m_nQueued -= nDone;
            if (nDone < nLeft) {
                m_strFailName = strName;
                m_strFailReason = file.ErrorText();
                return false;
            }
            m_queue.pop_front();
        }
    }
    return true;
}

void CInputLog::Enqueue(const QString& strName, const char* pData, qint64 nLength)
{
    if (nLength <= 0)
        return;
    // A block larger than the whole queue keeps only its newest bytes.
    if (nLength > m_nQueueCap) {
        const qint64 nDrop = nLength - m_nQueueCap;
        m_nLost += nDrop;
        pData += nDrop;
        nLength = m_nQueueCap;
        if (nLength == 0)
            return;
    }
    qint64 nExcess = m_nQueued + nLength - m_nQueueCap;
    while (nExcess > 0 && !m_queue.empty()) {
        Pending& oldest = m_queue.front();
        const qint64 nLeft = oldest.data.size() - oldest.nFrom;
        const qint64 nDrop = std::min(nLeft, nExcess);
        oldest.nFrom += nDrop;
        m_nQueued -= nDrop;
        m_nLost += nDrop;
        nExcess -= nDrop;
        if (nDrop == nLeft)
            m_queue.pop_front();
    }
    // Small blocks of one day share an entry, so that what waits costs
    // about its own size in memory whatever the block size.
    constexpr qint64 kMaxEntry = 1024 * 1024;
    if (!m_queue.empty() && m_queue.back().strName == strName &&
        m_queue.back().data.size() + nLength <= kMaxEntry)
        m_queue.back().data.append(pData, qsizetype(nLength));
    else
        m_queue.push_back(Pending{strName, QByteArray(pData, qsizetype(nLength)), 0});
    m_nQueued += nLength;
}

bool CInputLog::Publish(bool bFailing)
{
    if (!bFailing) {
        m_strFailName.clear();
        m_strFailReason.clear();
    }
    std::lock_guard<std::mutex> guard(m_stateMutex);
    const bool bChanged = bFailing != m_bFailing || m_nLost != m_nPubLost ||
                          m_strFailName != m_strPubName || m_strFailReason != m_strPubReason;
    m_bFailing = bFailing;
    m_nPubQueued = m_nQueued;
    m_nPubLost = m_nLost;
    m_strPubName = m_strFailName;
    m_strPubReason = m_strFailReason;
    return bChanged;
}

void CInputLog::Notify(bool bChanged)
{
    if (!bChanged)
        return;
    std::function<void()> fnChanged;
    {
        std::lock_guard<std::mutex> guard(m_stateMutex);
        fnChanged = m_fnChanged;
    }
    if (fnChanged)
        fnChanged();
}

bool CInputLog::IsFailing() const
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_bFailing;
}

QString CInputLog::FailureText() const
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    if (!m_bFailing)
        return QString();
    // Fixed grouping, so the figures read the same whatever the user's locale.
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    QString strText = QStringLiteral("Cannot write '%1': %2 \u2014 %3 bytes waiting")
                          .arg(m_strPubName, m_strPubReason, numbers.toString(m_nPubQueued));
    if (m_nPubLost > 0)
        strText += QStringLiteral(", %1 bytes lost").arg(numbers.toString(m_nPubLost));
    return strText;
}

qint64 CInputLog::QueuedBytes() const
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_nPubQueued;
}

qint64 CInputLog::LostBytes() const
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_nPubLost;
}

void CInputLog::SetStateChangedCallback(std::function<void()> fnChanged)
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_fnChanged = std::move(fnChanged);
}
