#pragma once
// A real ser2net (4.3.11, the Debian 12 package) on 127.0.0.1 for the tests of the
// network port back ends. It serves a pseudo-terminal twice: RawPort() is a plain TCP
// accepter, RfcPort() a telnet accepter with com port control (RFC 2217). The device
// is one end (A, DevicePath()) of a socat pty pair (SocatPty); the test drives the
// line through the other end (B, WriteLine/ReadLineFor).
//
// Thread: the test thread only; every wait is bounded.
//
// CI must have both programs (scripts/deps.sh --test installs socat and ser2net). Only
// a missing program lets a test skip (ToolsFound() false); any other trouble is a
// failure, so a test does
//     if (!s.ToolsFound()) QSKIP(qPrintable(s.ErrorString()));
//     QVERIFY2(s.IsValid(), qPrintable(s.ErrorString()));
//
// How ser2net 4.3.11 behaves here (seen on Linux 6.18):
// - ser2net -n -d -u -c FILE -P PIDFILE: -u turns UUCP locking off, so nothing is
//   written to /run/lock (with locking it writes LCK.._path_with_underscores and a
//   killed ser2net leaves it behind). Its log goes to a file in the temporary
//   directory (Log()); "Unable to start mdns: Out of memory" is always there and
//   harmless. A configuration error or a port that cannot be bound is only logged:
//   ser2net keeps running without that accepter, so readiness is checked here by
//   looking for ser2net's own listening sockets in /proc, never by connecting (a probe
//   connection opens the device, and a client coming straight after it may be told
//   "Port already in use").
// - The ports are picked by binding port 0 and closing; the race with another program
//   is caught (the socket must belong to this ser2net) and the first Start() then tries
//   new ports. Start() after Stop() uses the same ports.
// - Telnet connection, first bytes from ser2net, at once and unasked:
//   FF FB 03  FF FD 03  FF FB 01  FF FE 01  FF FD 00  FF FB 00  FF FD 2C
//   (WILL SGA, DO SGA, WILL ECHO, DONT ECHO, DO BINARY, WILL BINARY, DO COM-PORT).
//   Data flows before any answer; 0xFF is doubled both ways, CR NUL is passed as is.
// - SET-BAUDRATE 9600 (FF FA 2C 01 00 00 25 80 FF F0) is answered with code 101:
//   FF FA 2C 65 00 00 25 80 FF F0, also without the client's WILL COM-PORT; a value of 0
//   asks and gets the current rate. Any rate is accepted and echoed (12345 too; the pty
//   then gets a custom rate). SET-DATASIZE/PARITY/STOPSIZE are answered with 102/103/104
//   and the value asked for; SET-CONTROL 0 gets 105 01. SET-CONTROL DTR/RTS on (8, 11)
//   got no answer on a pty. SIGNATURE (0) gets FF FA 2C 64 "ser2net" FF F0.
// - Line settings: only A shows them (DeviceTermios()), and only while a connection
//   holds the device open: ser2net sets the configured rate (115200n81) at every
//   connect and restores A's previous settings when the client goes. B is a different
//   pseudo-terminal (socat only copies bytes), so B never shows them. Linux keeps a pty
//   at CS8 without parity whatever is asked; rate and stop bits do change.
// - A second client on a port that is in use gets "Port already in use\r\n" (after the
//   negotiation bytes on the telnet port) and is closed; a client on the other port
//   while the device is in use gets "Port's device already in use\r\n" and is closed.
//   A client that comes right after the previous one closed mostly gets the same
//   (seen 170 of 200 times, raw then telnet): ser2net needs about 10 ms to close the
//   device, and a client that closes at once may leave before ser2net even opened it.
// - Bytes written to B while no client is connected wait in the pty and reach the
//   next client.
// - Device missing: a client gets "Device open failure: Value or file not found\r\n"
//   (after the negotiation bytes on the telnet port), then an orderly close. A client
//   connected when the device vanishes is closed (FIN) at once.
// - Stop() (SIGTERM): every client sees an orderly close (FIN, read returns 0) at
//   once; a write after that fails with EPIPE and new connects are refused. A ser2net
//   that failed to bind a port ignored the first SIGTERM, hence the SIGKILL fallback.

#include "SocatPty.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class Ser2NetServer
{
public:
    // nBaud: the rate ser2net sets on the device at each connect.
    explicit Ser2NetServer(int nBaud = 115200)
        : m_nBaud(nBaud), m_dir(QDir::tempPath() + QStringLiteral("/vornterm-ser2net-XXXXXX")),
          m_line(m_dir.path())
    {
        m_strSer2Net = FindProgram(QStringLiteral("ser2net"));
        QStringList missing;
        if (m_strSer2Net.isEmpty())
            missing << QStringLiteral("ser2net");
        if (FindProgram(QStringLiteral("socat")).isEmpty())
            missing << QStringLiteral("socat");
        if (!missing.isEmpty()) {
            m_strError = QStringLiteral("%1 not installed (scripts/deps.sh --test installs it)")
                             .arg(missing.join(QStringLiteral(" and ")));
            return;
        }
        m_bToolsFound = true;
        if (!m_dir.isValid())
            m_strError =
                QStringLiteral("cannot make a temporary directory: %1").arg(m_dir.errorString());
        else if (!(m_bLine = m_line.Start()))
            m_strError = m_line.Error();
        else
            Start();
    }
    ~Ser2NetServer() { Stop(); }
    Ser2NetServer(const Ser2NetServer&) = delete;
    Ser2NetServer& operator=(const Ser2NetServer&) = delete;

    // Both programs were found: only without them may a test skip.
    bool ToolsFound() const { return m_bToolsFound; }
    // The pty pair is there and ser2net listens on both ports.
    bool IsValid() const { return m_bLine && IsRunning(); }
    bool IsRunning() const { return m_ser2net.state() == QProcess::Running; }
    // What went wrong last, with ser2net's log when it said something.
    QString ErrorString() const { return m_strError; }

    quint16 RawPort() const { return m_nRawPort; }
    quint16 RfcPort() const { return m_nRfcPort; }
    // A: the name ser2net opens (a link to /dev/pts/N).
    QString DevicePath() const { return m_line.DevicePath(); }

    // Starts ser2net (again) and waits until both ports listen.
    bool Start(int timeoutMs = 20000)
    {
        if (IsRunning())
            return true;
        const bool bPickPorts = m_nRawPort == 0;
        for (int attempt = 0; attempt < (bPickPorts ? 3 : 1); ++attempt) {
            if (bPickPorts && !PickPorts())
                return false;
            if (!WriteConfig())
                return false;
            if (Launch(timeoutMs))
                return true;
            Stop();
            if (!m_strError.contains(QLatin1String("Address already in use")))
                break;
        }
        if (bPickPorts)
            m_nRawPort = m_nRfcPort = 0;
        return false;
    }

    // Ends this ser2net (its pid only): SIGTERM, then SIGKILL after 3 s.
    void Stop()
    {
        if (m_ser2net.state() == QProcess::NotRunning)
            return;
        m_ser2net.terminate();
        if (!m_ser2net.waitForFinished(3000)) {
            m_ser2net.kill();
            m_ser2net.waitForFinished(3000);
        }
    }

    // The far end of the line (B).
    bool WriteLine(const QByteArray& data, int timeoutMs = 20000)
    {
        return m_line.WritePeer(data, timeoutMs);
    }
    QByteArray ReadLineFor(qsizetype n, int timeoutMs = 20000)
    {
        return m_line.ReadPeerFor(n, timeoutMs);
    }

    // A's line settings as ser2net made them; meaningful only while a client is
    // connected (see above). False when A cannot be opened.
    bool DeviceTermios(termios& t) const
    {
        const int fd = ::open(QFile::encodeName(DevicePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool bOk = ::tcgetattr(fd, &t) == 0;
        ::close(fd);
        return bOk;
    }

private:
    static QString FindProgram(const QString& name)
    {
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            path = QStandardPaths::findExecutable(
                name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                       QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin")});
        return path;
    }

    QString LogPath() const { return m_dir.filePath(QStringLiteral("ser2net.log")); }
    QString ConfigPath() const { return m_dir.filePath(QStringLiteral("ser2net.yaml")); }

    // Two distinct free ports, both held at once while they are picked.
    bool PickPorts()
    {
        QTcpServer rfc, raw;
        if (!rfc.listen(QHostAddress::LocalHost, 0) || !raw.listen(QHostAddress::LocalHost, 0)) {
            m_strError = QStringLiteral("no free port on 127.0.0.1: %1")
                             .arg(rfc.isListening() ? raw.errorString() : rfc.errorString());
            return false;
        }
        m_nRfcPort = rfc.serverPort();
        m_nRawPort = raw.serverPort();
        return true;
    }

    bool WriteConfig()
    {
        const QString connector =
            QStringLiteral("serialdev,%1,%2n81,local").arg(DevicePath()).arg(m_nBaud);
        const QString yaml = QStringLiteral("%YAML 1.1\n---\n"
                                            "connection: &vornrfc\n"
                                            "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                            "  connector: %3\n"
                                            "connection: &vornraw\n"
                                            "  accepter: tcp,127.0.0.1,%2\n"
                                            "  connector: %3\n")
                                 .arg(m_nRfcPort)
                                 .arg(m_nRawPort)
                                 .arg(connector);
        QFile f(ConfigPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(yaml.toUtf8()) != yaml.toUtf8().size() || !f.flush()) {
            m_strError = QStringLiteral("cannot write %1: %2").arg(ConfigPath(), f.errorString());
            return false;
        }
        return true;
    }

    bool Launch(int timeoutMs)
    {
        const qint64 logStart = QFileInfo(LogPath()).size();
        m_ser2net.setProgram(m_strSer2Net);
        m_ser2net.setArguments({QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"),
                                QStringLiteral("-c"), ConfigPath(), QStringLiteral("-P"),
                                m_dir.filePath(QStringLiteral("ser2net.pid"))});
        m_ser2net.setStandardInputFile(QProcess::nullDevice());
        m_ser2net.setProcessChannelMode(QProcess::MergedChannels);
        m_ser2net.setStandardOutputFile(LogPath(), QIODevice::Append);
        m_ser2net.start();
        if (!m_ser2net.waitForStarted(timeoutMs)) {
            m_strError =
                QStringLiteral("cannot start %1: %2").arg(m_strSer2Net, m_ser2net.errorString());
            return false;
        }
        QDeadlineTimer deadline(timeoutMs);
        QString why;
        for (;;) {
            if (Listens(m_nRfcPort) && Listens(m_nRawPort))
                return true;
            QFile log(LogPath());
            QString said;
            if (log.open(QIODevice::ReadOnly) && log.seek(logStart))
                said = QString::fromLocal8Bit(log.readAll());
            if (said.contains(QLatin1String("Unable to startup network port")) ||
                said.contains(ConfigPath() + QLatin1Char(':')))
                why = QStringLiteral("refused its configuration");
            else if (deadline.hasExpired())
                why = QStringLiteral("did not listen within %1 ms").arg(timeoutMs);
            else if (m_ser2net.waitForFinished(20))
                why = QStringLiteral("ended with exit code %1").arg(m_ser2net.exitCode());
            if (!why.isEmpty()) {
                m_strError = QStringLiteral("ser2net on 127.0.0.1 ports %1 (telnet) and %2 (raw) "
                                            "%3; it said: %4")
                                 .arg(m_nRfcPort)
                                 .arg(m_nRawPort)
                                 .arg(why, said.trimmed());
                return false;
            }
        }
    }

    // True when this ser2net itself has a socket listening on 127.0.0.1:port: its
    // descriptors ("socket:[inode]") against /proc/net/tcp's listening rows (st 0A),
    // the port in hex after the address. Never a probe connection (see above).
    bool Listens(quint16 port) const
    {
        QSet<QByteArray> sockets;
        const QByteArray dir = "/proc/" + QByteArray::number(m_ser2net.processId()) + "/fd";
        if (DIR* d = ::opendir(dir.constData())) {
            while (const dirent* e = ::readdir(d)) {
                char target[256];
                const ssize_t n =
                    ::readlink((dir + '/' + e->d_name).constData(), target, sizeof target);
                if (n > 0)
                    sockets.insert(QByteArray(target, qsizetype(n)));
            }
            ::closedir(d);
        }
        QFile tcp(QStringLiteral("/proc/net/tcp"));
        if (!tcp.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : tcp.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 10 && f[3] == "0A" &&
                f[1].mid(f[1].indexOf(':') + 1).toUInt(nullptr, 16) == port &&
                sockets.contains("socket:[" + f[9] + ']'))
                return true;
        }
        return false;
    }

    int m_nBaud;
    QTemporaryDir m_dir;
    SocatPty m_line;
    QString m_strSer2Net;
    QString m_strError;
    bool m_bToolsFound = false;
    bool m_bLine = false;
    QProcess m_ser2net;
    quint16 m_nRawPort = 0;
    quint16 m_nRfcPort = 0;
};
