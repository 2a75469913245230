#pragma once
// Fake peers on 127.0.0.1 for the network port back ends' tests.
//
// ScriptedServer: a TCP server on 127.0.0.1 (port 0, see Port()) that greets every
// connection with a script: the first segment at once, each further one a gap later,
// each written and flushed on its own with TCP_NODELAY so that it leaves as a TCP
// segment of its own. It records what every client sends and can send more, close or
// reset on demand.
// Thread: the server and its sockets live on a thread of their own, so the test
// thread may block in a port call (a connect, a wait for a negotiation answer) while
// the server goes on. The public methods are called from the test thread; Send,
// CloseConnections and ResetConnections return once the server thread has done it.
// The getters may be called from any thread.
//
// UnansweredListener: a loopback port where a connect neither succeeds nor fails, for
// connect-timeout tests. Thread: any one thread; it owns plain sockets only.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class ScriptedServer
{
public:
    // What a connection does once its script has been sent.
    enum class AfterScript
    {
        StayOpen,
        Close, // orderly close: the client reads end of stream
        Reset  // SO_LINGER 0, then close: the client gets ECONNRESET
    };

    explicit ScriptedServer(QList<QByteArray> segments = {}, int nGapMs = 30,
                            AfterScript after = AfterScript::StayOpen)
        : m_segments(std::move(segments)), m_nGapMs(nGapMs), m_after(after), m_thread(this)
    {
        m_thread.start();
        if (!m_ready.tryAcquire(1, 10000)) {
            QMutexLocker lock(&m_mutex);
            m_strError = QStringLiteral("the scripted server's thread did not start in 10 s");
        }
    }
    ~ScriptedServer()
    {
        m_thread.quit();
        if (!m_thread.wait(QDeadlineTimer(10000)))
            qFatal("the scripted server's thread did not end in 10 s");
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool IsValid() const { return Port() != 0; }
    QString ErrorString() const
    {
        QMutexLocker lock(&m_mutex);
        return m_strError;
    }
    quint16 Port() const
    {
        QMutexLocker lock(&m_mutex);
        return m_nPort;
    }

    // Connections accepted so far, and those of them still open.
    int ConnectionCount() const
    {
        QMutexLocker lock(&m_mutex);
        return int(m_conns.size());
    }
    int OpenCount() const
    {
        QMutexLocker lock(&m_mutex);
        return int(
            std::count_if(m_conns.cbegin(), m_conns.cend(), [](const Conn& c) { return c.bOpen; }));
    }
    // Segments of the script that connection n has been sent.
    int SegmentsSent(int n) const
    {
        QMutexLocker lock(&m_mutex);
        return n >= 0 && n < m_conns.size() ? m_conns[n].nSent : 0;
    }
    // Everything clients sent, over all connections in arrival order; or on connection n.
    QByteArray Received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }
    QByteArray ReceivedOn(int n) const
    {
        QMutexLocker lock(&m_mutex);
        return n >= 0 && n < m_conns.size() ? m_conns[n].received : QByteArray();
    }

    // To every open connection, now, outside the script.
    void Send(const QByteArray& data)
    {
        OnServerThread([this, data] {
            for (QTcpSocket* s : OpenSockets()) {
                s->write(data);
                s->flush();
            }
        });
    }
    void CloseConnections()
    {
        OnServerThread([this] {
            for (QTcpSocket* s : OpenSockets())
                Finish(s, AfterScript::Close);
        });
    }
    void ResetConnections()
    {
        OnServerThread([this] {
            for (QTcpSocket* s : OpenSockets())
                Finish(s, AfterScript::Reset);
        });
    }

private:
    struct Conn
    {
        QByteArray received;
        int nSent = 0;
        bool bOpen = true;
    };

    class Thread : public QThread
    {
    public:
        explicit Thread(ScriptedServer* pOwner) : m_pOwner(pOwner) {}

    protected:
        void run() override { m_pOwner->Serve(); }
        friend class ScriptedServer;

    private:
        ScriptedServer* m_pOwner;
    };

    // Runs on the server thread for its whole life.
    void Serve()
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0)) {
            QMutexLocker lock(&m_mutex);
            m_strError = QStringLiteral("cannot listen on 127.0.0.1: %1").arg(server.errorString());
            m_ready.release();
            return;
        }
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* s = server.nextPendingConnection())
                Accept(s);
        });
        {
            QMutexLocker lock(&m_mutex);
            m_pServer = &server;
            m_nPort = server.serverPort();
        }
        m_ready.release();
        m_thread.exec();
        QMutexLocker lock(&m_mutex);
        m_pServer = nullptr; // the sockets are the server's children and go with it
    }

    void Accept(QTcpSocket* s)
    {
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        int n;
        {
            QMutexLocker lock(&m_mutex);
            n = int(m_conns.size());
            m_conns.append(Conn());
        }
        m_sockets.append(s);
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, n] {
            const QByteArray data = s->readAll();
            QMutexLocker lock(&m_mutex);
            m_conns[n].received += data;
            m_received += data;
        });
        QObject::connect(s, &QTcpSocket::disconnected, s, [this, n] {
            QMutexLocker lock(&m_mutex);
            m_conns[n].bOpen = false;
        });
        auto* timer = new QTimer(s);
        timer->setInterval(m_nGapMs);
        const auto step = [this, s, n, timer] {
            if (s->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            QMutexLocker lock(&m_mutex);
            int& sent = m_conns[n].nSent;
            if (sent < m_segments.size()) {
                s->write(m_segments[sent]);
                s->flush();
                ++sent;
                return;
            }
            lock.unlock();
            // One gap after the last segment, so that it has left before a reset.
            timer->stop();
            if (m_after != AfterScript::StayOpen)
                Finish(s, m_after);
        };
        QObject::connect(timer, &QTimer::timeout, s, step);
        timer->start();
        step();
    }

    void Finish(QTcpSocket* s, AfterScript how)
    {
        if (how == AfterScript::Reset) {
            const linger l{1, 0};
            ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            s->abort();
        } else {
            s->disconnectFromHost();
        }
        QMutexLocker lock(&m_mutex);
        for (int i = 0; i < m_sockets.size(); ++i) {
            if (m_sockets[i] == s)
                m_conns[i].bOpen = false;
        }
    }

    // Server thread only.
    QList<QTcpSocket*> OpenSockets() const
    {
        QList<QTcpSocket*> open;
        for (const QPointer<QTcpSocket>& s : m_sockets) {
            if (s && s->state() == QAbstractSocket::ConnectedState)
                open.append(s);
        }
        return open;
    }

    template <typename F> void OnServerThread(F f)
    {
        QMutexLocker lock(&m_mutex);
        QTcpServer* pServer = m_pServer;
        lock.unlock();
        if (pServer)
            QMetaObject::invokeMethod(pServer, std::move(f), Qt::BlockingQueuedConnection);
    }

    const QList<QByteArray> m_segments;
    const int m_nGapMs;
    const AfterScript m_after;
    Thread m_thread;
    QSemaphore m_ready;
    mutable QMutex m_mutex;
    // Under m_mutex:
    QString m_strError;
    quint16 m_nPort = 0;
    QTcpServer* m_pServer = nullptr;
    QList<Conn> m_conns;
    QByteArray m_received;
    // Server thread only, one per connection in m_conns order.
    QList<QPointer<QTcpSocket>> m_sockets;
};

// A connect to 127.0.0.1:Port() stays pending (SYN-SENT) for as long as this lives.
// How: a listening socket with backlog 0 takes one finished handshake into its accept
// queue; this holds that place with a connection of its own that is never accepted.
// Linux then drops every further SYN while the queue is full, so the client retries the
// SYN (after 1, 2, 4 ... s) and fails with ETIMEDOUT only after about 127 s (the default
// net.ipv4.tcp_syn_retries = 6). Nothing simpler works on loopback alone: a port without
// a listener, or bound without listen(), refuses (RST) at once. The constructor checks
// that a connect really stays pending; IsValid() is false when the kernel answers.
class UnansweredListener
{
public:
    UnansweredListener()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(m_listenFd, 0) != 0 ||
            ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            Fail("cannot listen on 127.0.0.1");
            return;
        }
        m_nPort = ntohs(a.sin_port);
        m_fillerFd = ConnectNonBlocking(a);
        if (m_fillerFd < 0 || !Writable(m_fillerFd, 5000)) {
            Fail("the connection that fills the accept queue did not complete");
            return;
        }
        const int probe = ConnectNonBlocking(a);
        const bool bAnswered = probe < 0 || Writable(probe, 50);
        if (probe >= 0)
            ::close(probe);
        if (bAnswered)
            Fail("a connect to the full accept queue was answered", false);
    }
    ~UnansweredListener()
    {
        for (int fd : {m_fillerFd, m_listenFd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;

    bool IsValid() const { return m_strError.isEmpty(); }
    QString ErrorString() const { return m_strError; }
    quint16 Port() const { return m_nPort; }

private:
    // bSystem: errno tells why.
    void Fail(const char* what, bool bSystem = true)
    {
        m_strError = QStringLiteral("%1 (127.0.0.1 port %2)").arg(QLatin1String(what)).arg(m_nPort);
        if (bSystem)
            m_strError += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        m_nPort = 0;
    }
    static int ConnectNonBlocking(const sockaddr_in& a)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
            errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    // Whether the connect on fd has finished (either way) within timeoutMs.
    static bool Writable(int fd, int timeoutMs)
    {
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

    int m_listenFd = -1;
    int m_fillerFd = -1;
    quint16 m_nPort = 0;
    QString m_strError;
};
