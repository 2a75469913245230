#pragma once
// A pseudo-terminal pair made by socat under two fixed link names in a
// folder: DevicePath() stands in for a device a port opens, PeerPath() is the
// far end the test drives. Stop() ends socat, so both terminals vanish as an
// unplugged device does; Start() makes a new pair under the same names, as
// the device coming back. Test thread only; every wait is bounded. Needs
// socat (installed by the test command).

#include "FdIo.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

class SocatPty
{
public:
    explicit SocatPty(const QString& dir)
        : m_strDevice(dir + QStringLiteral("/dev")), m_strPeer(dir + QStringLiteral("/peer"))
    {
    }
    ~SocatPty() { Stop(); }
    SocatPty(const SocatPty&) = delete;
    SocatPty& operator=(const SocatPty&) = delete;

    QString DevicePath() const { return m_strDevice; }
    QString PeerPath() const { return m_strPeer; }
    // Why Start failed, for the test's message.
    QString Error() const { return m_strError; }

    bool Start()
    {
        Stop();
        m_socat.start(QStringLiteral("socat"),
                      {QStringLiteral("pty,raw,echo=0,link=") + m_strDevice,
                       QStringLiteral("pty,raw,echo=0,link=") + m_strPeer});
        if (!m_socat.waitForStarted(20000)) {
            m_strError = QStringLiteral("socat did not start: ") + m_socat.errorString();
            return false;
        }
        QDeadlineTimer deadline(20000);
        while (!(QFileInfo::exists(m_strDevice) && QFileInfo::exists(m_strPeer))) {
            if (deadline.hasExpired()) {
                m_strError = QStringLiteral("socat made no terminals");
                return false;
            }
            QThread::msleep(5);
        }
        m_peer = ::open(QFile::encodeName(m_strPeer).constData(),
                        O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_peer < 0)
            m_strError = QStringLiteral("cannot open the far end");
        return m_peer >= 0;
    }

    // Ends only the socat this fixture started, and waits for it.
    void Stop()
    {
        if (m_peer >= 0)
            ::close(m_peer);
        m_peer = -1;
        if (m_socat.state() != QProcess::NotRunning) {
            m_socat.terminate();
            if (!m_socat.waitForFinished(5000)) {
                m_socat.kill();
                m_socat.waitForFinished(5000);
            }
        }
    }

    bool WritePeer(const QByteArray& data, int timeoutMs = 20000)
    {
        return FdWriteAll(m_peer, data, timeoutMs);
    }
    QByteArray ReadPeerFor(qsizetype n, int timeoutMs = 20000)
    {
        return FdReadFor(m_peer, n, timeoutMs);
    }

private:
    QString m_strDevice;
    QString m_strPeer;
    QString m_strError;
    QProcess m_socat;
    int m_peer = -1;
};
