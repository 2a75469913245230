#pragma once
// Shared by the port suites: configurations, their stored form, test data and
// a receiver that collects what the port's thread hands over.

#include "CArchive.h"
#include "CKrCommPort.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaType>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

Q_DECLARE_METATYPE(CKrCommConfig)

inline CKrCommConfig ConfigFor(const QString& path, int baud = 115200)
{
    CKrCommConfig c;
    c.strPort = path;
    c.nBaud = baud;
    return c;
}

inline CKrCommConfig MakeConfig(const QString& path, int baud, int data, KrParity parity,
                                KrStopBits stop, KrFlow flow)
{
    CKrCommConfig c = ConfigFor(path, baud);
    c.nDataBits = data;
    c.parity = parity;
    c.stopBits = stop;
    c.flow = flow;
    return c;
}

// The bytes a port with `config` stores.
inline QByteArray StoredConfig(const CKrCommConfig& config)
{
    CKrCommPort port;
    port.SetConfig(config);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    CArchive ar(&buffer, CArchive::store);
    port.Serialize(ar);
    ar.Close();
    return bytes;
}

// "DTR rts CTS ?DSR": each line a port has, upper case when on, lower case
// when off, '?' before it when not known; "BREAK" while a break is sent.
inline QString LinesText(const KrLines& lines)
{
    QStringList words;
    for (KrLine line : kKrWires) {
        if (!lines.Has(line))
            continue;
        const QString name = KrLineName(line);
        words << (!lines.IsKnown(line) ? QLatin1Char('?') + name
                  : lines.IsOn(line)   ? name
                                       : name.toLower());
    }
    if (lines.IsOn(KrLine::Break))
        words << QStringLiteral("BREAK");
    return words.join(QLatin1Char(' '));
}

// Every byte value once, in order.
inline QByteArray AllByteValues()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    return all;
}

// n bytes that do not repeat with a short period, so lost or reordered
// pieces show.
inline QByteArray Pattern(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

// Open() waits at most about 150 ms for the port's I/O thread: on a loaded
// machine the attempt can still be under way then, the port "Opening". Waits,
// at most timeoutMs, until the attempt has ended either way; true when the
// port is open. Any thread but the port's own.
inline bool SettledOpen(const CKrCommPort& port, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (port.GetStatus().state == KrPortState::Opening && !deadline.hasExpired())
        QThread::msleep(2);
    return port.IsOpen();
}

// Opens `port` and waits for the attempt to end; true when it is open.
inline bool OpenSettled(CKrCommPort& port)
{
    return port.Open() || SettledOpen(port);
}

// Opens `port` with `config`, handing received blocks to `rx`.

inline bool OpenPort(CKrCommPortEx& port, const CKrCommConfig& config,
                     CKrCommReceiver* rx = nullptr)
{
    port.m_pReceiver = rx;
    port.SetConfig(config);
    return OpenSettled(port);
}

// Keeps every state, every port event and every line event a port reports,
// as its I/O thread reports them.
class RecordingListener : public CKrCommPortListener
{
public:
    void OnPortStatus(const CKrCommPortStatus& status) override
    {
        QMutexLocker lock(&m_mutex);
        m_statuses.append(status);
    }
    void OnPortLines(const KrLineEvent& event) override
    {
        QMutexLocker lock(&m_mutex);
        m_lineEvents.append(event);
    }
    QList<KrLineEvent> LineEvents() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lineEvents;
    }
    QList<CKrCommPortStatus> Statuses() const
    {
        QMutexLocker lock(&m_mutex);
        return m_statuses;
    }
    CKrCommPortStatus Last() const
    {
        QMutexLocker lock(&m_mutex);
        return m_statuses.isEmpty() ? CKrCommPortStatus() : m_statuses.last();
    }
    KrPortState LastState() const { return Last().state; }
    void OnPortEvent(const KrPortEvent& event) override
    {
        QMutexLocker lock(&m_mutex);
        m_events.append(event);
    }
    QList<KrPortEvent> Events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }

private:
    mutable QMutex m_mutex;
    QList<CKrCommPortStatus> m_statuses;
    QList<KrPortEvent> m_events;
    QList<KrLineEvent> m_lineEvents;
};

class CollectingReceiver : public CKrCommReceiver
{
public:
    void OnReceive(const char* pData, int nLength) override
    {
        QMutexLocker lock(&m_mutex);
        m_data.append(pData, nLength);
        m_nLargestBlock = qMax(m_nLargestBlock, nLength);
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            m_bOnUiThread = true;
    }
    QByteArray Data() const
    {
        QMutexLocker lock(&m_mutex);
        return m_data;
    }
    qsizetype Size() const
    {
        QMutexLocker lock(&m_mutex);
        return m_data.size();
    }
    int LargestBlock() const
    {
        QMutexLocker lock(&m_mutex);
        return m_nLargestBlock;
    }
    bool OnUiThread() const
    {
        QMutexLocker lock(&m_mutex);
        return m_bOnUiThread;
    }

private:
    mutable QMutex m_mutex;
    QByteArray m_data;
    int m_nLargestBlock = 0;
    bool m_bOnUiThread = false;
};
