#pragma once
// A real ser2net (4.3.11, the Debian 12 package) on 127.0.0.1 for the tests of the
// network port back ends. It serves a pseudo-terminal twice: RawPort() is a plain TCP
// accepter, RfcPort() a telnet accepter with com port control (RFC 2217). The device
// is one end (A, DevicePath()) of a socat pty pair; the test drives the line through
// the other end (B, LinePath(), WriteLine/ReadLineFor).
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
//   device. WaitIdle() waits for that (0 of 400 after it); a client that closes at
//   once may leave before ser2net even opened the device, so the wait looks at the
//   connections too, not only at the device.
// - Bytes written to B while no client is connected wait in the pty and reach the
//   next client.
// - Device missing (RemoveDevice()): a client gets "Device open failure: Value or file
//   not found\r\n" (after the negotiation bytes on the telnet port), then an orderly
//   close. A client connected when the device vanishes is closed (FIN) at once.
// - Stop() (SIGTERM): every client sees an orderly close (FIN, read returns 0) at
//   once; a write after that fails with EPIPE and new connects are refused. A ser2net
//   that failed to bind a port ignored the first SIGTERM, hence the SIGKILL fallback.

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

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class Ser2NetServer
{
public:
    // nBaud: the rate ser2net sets on the device at each connect.
    explicit Ser2NetServer(int nBaud = 115200)
        : m_nBaud(nBaud), m_dir(QDir::tempPath() + QStringLiteral("/vornterm-ser2net-XXXXXX"))
    {
        m_strSer2Net = FindProgram(QStringLiteral("ser2net"));
        m_strSocat = FindProgram(QStringLiteral("socat"));
        QStringList missing;
        if (m_strSer2Net.isEmpty())
            missing << QStringLiteral("ser2net");
        if (m_strSocat.isEmpty())
            missing << QStringLiteral("socat");
        if (!missing.isEmpty()) {
            m_strError = QStringLiteral("%1 not installed (scripts/deps.sh --test installs it)")
                             .arg(missing.join(QStringLiteral(" and ")));
            return;
        }
        m_bToolsFound = true;
        if (!m_dir.isValid()) {
            m_strError =
                QStringLiteral("cannot make a temporary directory: %1").arg(m_dir.errorString());
            return;
        }
        if (StartLine())
            Start();
    }
    ~Ser2NetServer()
    {
        Stop();
        RemoveDevice();
    }
    Ser2NetServer(const Ser2NetServer&) = delete;
    Ser2NetServer& operator=(const Ser2NetServer&) = delete;

    // Both programs were found: only without them may a test skip.
    bool ToolsFound() const { return m_bToolsFound; }
    // The pty pair is there and ser2net listens on both ports.
    bool IsValid() const { return m_lineFd >= 0 && IsRunning(); }
    bool IsRunning() const { return m_ser2net.state() == QProcess::Running; }
    // What went wrong last, with ser2net's log when it said something.
    QString ErrorString() const { return m_strError; }

    quint16 RawPort() const { return m_nRawPort; }
    quint16 RfcPort() const { return m_nRfcPort; }
    // A: the name ser2net opens (a link to /dev/pts/N).
    QString DevicePath() const { return m_dir.filePath(QStringLiteral("device")); }
    // B: the far end of the line.
    QString LinePath() const { return m_dir.filePath(QStringLiteral("line")); }
    // B, open O_RDWR | O_NOCTTY | O_NONBLOCK; -1 once the device is removed.
    int LineFd() const { return m_lineFd; }

    // Starts ser2net (again) and waits until both ports listen.
    bool Start(int timeoutMs = 10000)
    {
        if (IsRunning())
            return true;
        if (m_lineFd < 0) {
            m_strError = QStringLiteral("no pty pair for ser2net to serve");
            return false;
        }
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

    // Ends this ser2net (its pid only) and waits for it.
    void Stop() { EndProcess(m_ser2net); }

    // The device vanishes, as an unplugged adapter: socat ends and removes both links.
    // There is no way back within this fixture.
    void RemoveDevice()
    {
        if (m_lineFd >= 0)
            ::close(m_lineFd);
        m_lineFd = -1;
        EndProcess(m_socat);
    }

    // Writes all of data to B; false when that does not succeed within timeoutMs.
    bool WriteLine(const QByteArray& data, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        qsizetype done = 0;
        while (done < data.size() && m_lineFd >= 0) {
            const ssize_t n =
                ::write(m_lineFd, data.constData() + done, size_t(data.size() - done));
            if (n > 0)
                done += n;
            else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !WaitLine(POLLOUT, deadline))
                return false;
        }
        return done == data.size();
    }

    // Reads from B until n bytes arrived or timeoutMs passed; returns what arrived.
    QByteArray ReadLineFor(qsizetype n, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        QByteArray got;
        char buf[65536];
        while (got.size() < n && m_lineFd >= 0) {
            const ssize_t r =
                ::read(m_lineFd, buf, size_t(qMin<qsizetype>(sizeof buf, n - got.size())));
            if (r > 0)
                got.append(buf, qsizetype(r));
            else if (r == 0 || (errno != EAGAIN && errno != EINTR) || !WaitLine(POLLIN, deadline))
                break;
        }
        return got;
    }
    QByteArray ReadLineAvailable() { return ReadLineFor(1 << 20, 0); }

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

    // Waits until ser2net is done with every client: no connection on either port is
    // still open or waiting to be accepted, and the device is closed. A client that
    // comes sooner, even right after the previous one closed, may be turned away as
    // "in use".
    bool WaitIdle(int timeoutMs = 5000) const
    {
        const QByteArray device = QFile::encodeName(QFileInfo(DevicePath()).canonicalFilePath());
        QDeadlineTimer deadline(timeoutMs);
        while (IsRunning() && (HasClients() || OpenFiles().contains(device))) {
            if (deadline.hasExpired())
                return false;
            ::usleep(2000);
        }
        return true;
    }

    // Everything ser2net wrote since the fixture began.
    QString Log() const { return QString::fromLocal8Bit(ReadFile(LogPath())); }

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

    static QByteArray ReadFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString LogPath() const { return m_dir.filePath(QStringLiteral("ser2net.log")); }
    QString ConfigPath() const { return m_dir.filePath(QStringLiteral("ser2net.yaml")); }

    // Ends p by its pid: SIGTERM, then SIGKILL if it is still there after 3 s.
    static void EndProcess(QProcess& p)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(3000);
        }
    }

    bool StartLine()
    {
        const QString opts = QStringLiteral("pty,raw,echo=0,link=");
        m_socat.setProgram(m_strSocat);
        m_socat.setArguments({opts + DevicePath(), opts + LinePath()});
        m_socat.setStandardInputFile(QProcess::nullDevice());
        m_socat.setProcessChannelMode(QProcess::MergedChannels);
        m_socat.setStandardOutputFile(m_dir.filePath(QStringLiteral("socat.log")));
        m_socat.start();
        if (!m_socat.waitForStarted(5000)) {
            m_strError =
                QStringLiteral("cannot start %1: %2").arg(m_strSocat, m_socat.errorString());
            return false;
        }
        // Both links, and B already raw: socat sets the modes before it makes the links,
        // but a test must not race it.
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (QFileInfo::exists(DevicePath()) && QFileInfo::exists(LinePath()) && OpenLineIfRaw())
                return true;
            if (m_socat.waitForFinished(10))
                break;
        }
        m_strError =
            QStringLiteral("socat made no raw pty pair %1, %2 within 5 s: %3")
                .arg(DevicePath(), LinePath(),
                     QString::fromLocal8Bit(ReadFile(m_dir.filePath(QStringLiteral("socat.log")))));
        RemoveDevice();
        return false;
    }

    bool OpenLineIfRaw()
    {
        if (m_lineFd < 0)
            m_lineFd = ::open(QFile::encodeName(LinePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        return m_lineFd >= 0 && ::tcgetattr(m_lineFd, &t) == 0 &&
               (t.c_lflag & (ECHO | ICANON)) == 0;
    }

    bool WaitLine(short events, const QDeadlineTimer& deadline)
    {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        pollfd p{m_lineFd, events, 0};
        return ::poll(&p, 1, int(qMin<qint64>(left, 1000))) >= 0;
    }

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

    // What the descriptors of this ser2net lead to ("socket:[N]", "/dev/pts/N", ...).
    QSet<QByteArray> OpenFiles() const
    {
        QSet<QByteArray> targets;
        const QByteArray dir = "/proc/" + QByteArray::number(m_ser2net.processId()) + "/fd";
        if (DIR* d = ::opendir(dir.constData())) {
            while (const dirent* e = ::readdir(d)) {
                char target[4096];
                const ssize_t n =
                    ::readlink((dir + '/' + e->d_name).constData(), target, sizeof target);
                if (n > 0)
                    targets.insert(QByteArray(target, qsizetype(n)));
            }
            ::closedir(d);
        }
        return targets;
    }

    // /proc/net/tcp as rows of fields: sl local_address rem_address st ... inode, the
    // address and port in hex; st 01 = ESTABLISHED, 03 = SYN_RECV, 08 = CLOSE_WAIT,
    // 0A = LISTEN.
    static QList<QList<QByteArray>> TcpTable()
    {
        QList<QList<QByteArray>> rows;
        for (const QByteArray& line : ReadFile(QStringLiteral("/proc/net/tcp")).split('\n')) {
            QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 10 && f[1].contains(':'))
                rows.append(std::move(f));
        }
        return rows;
    }
    static quint16 LocalPort(const QList<QByteArray>& row)
    {
        return quint16(row[1].mid(row[1].indexOf(':') + 1).toUInt(nullptr, 16));
    }

    // True when this ser2net itself has a socket listening on 127.0.0.1:port.
    bool Listens(quint16 port) const
    {
        const QSet<QByteArray> files = OpenFiles();
        for (const QList<QByteArray>& row : TcpTable()) {
            if (row[3] == "0A" && LocalPort(row) == port &&
                files.contains("socket:[" + row[9] + ']'))
                return true;
        }
        return false;
    }

    // A connection on either port that ser2net has not finished with.
    bool HasClients() const
    {
        for (const QList<QByteArray>& row : TcpTable()) {
            const quint16 port = LocalPort(row);
            if ((port == m_nRawPort || port == m_nRfcPort) &&
                (row[3] == "01" || row[3] == "03" || row[3] == "08"))
                return true;
        }
        return false;
    }

    int m_nBaud;
    QTemporaryDir m_dir;
    QString m_strSer2Net;
    QString m_strSocat;
    QString m_strError;
    bool m_bToolsFound = false;
    QProcess m_socat;
    QProcess m_ser2net;
    int m_lineFd = -1;
    quint16 m_nRawPort = 0;
    quint16 m_nRfcPort = 0;
};
