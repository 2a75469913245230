#pragma once
// A pseudo-terminal for tests that need a serial device without hardware: the
// slave side stands in for the device a port opens (SlavePath), the master
// side is the far end of the line that the test drives (WriteMaster,
// ReadMasterFor). Both descriptors are closed when the pair goes away. Every
// wait is bounded by a timeout.

#include "FdIo.h"

#include <QByteArray>
#include <QString>

#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class PtyPair
{
public:
    PtyPair()
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
            m_master = m_slave = -1;
            return;
        }
        // Raw both ways: no echo, no line editing, no newline translation.
        termios t{};
        if (::tcgetattr(m_slave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_slave, TCSANOW, &t);
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        if (const char* name = ::ptsname(m_master))
            m_strSlavePath = QString::fromLocal8Bit(name);
    }
    ~PtyPair()
    {
        CloseSlave();
        CloseMaster();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const { return m_master >= 0 && !m_strSlavePath.isEmpty(); }
    // "/dev/pts/N": the name to open as a serial device.
    QString SlavePath() const { return m_strSlavePath; }
    int MasterFd() const { return m_master; }
    // The pair's own slave descriptor: it keeps the terminal alive while a
    // port opens and closes it, and shows the line settings a port made.
    int SlaveFd() const { return m_slave; }

    // Writes all of data to the master; false when that does not succeed
    // within timeoutMs.
    bool WriteMaster(const QByteArray& data, int timeoutMs = 20000)
    {
        return FdWriteAll(m_master, data, timeoutMs);
    }

    // Reads from the master until n bytes arrived or timeoutMs passed;
    // returns what arrived.
    QByteArray ReadMasterFor(qsizetype n, int timeoutMs = 20000)
    {
        return FdReadFor(m_master, n, timeoutMs);
    }

    // Whatever the master can read at once, without waiting.
    QByteArray ReadMasterAvailable() { return ReadMasterFor(1 << 20, 0); }

    // The far end goes away, as a device that is unplugged.
    void CloseMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void CloseSlave()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_strSlavePath;
};
