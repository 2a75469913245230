#pragma once
// Fake peers on 127.0.0.1 for the network port back ends' tests.
//
// ScriptedServer: a TCP server on 127.0.0.1 (port 0, see Port()) that greets every
// connection with a script: the first segment at once, each further one a gap later,
// each written and flushed on its own with TCP_NODELAY so that it leaves as a TCP
// segment of its own, then stays open or closes. It records what every client sends.
// Thread: the server and its sockets live on a thread of their own, so the test
// thread may block in a port call (a connect, a wait for a negotiation answer) while
// the server goes on. The getters may be called from any thread.
//
// UnansweredListener: a loopback port where a connect neither succeeds nor fails, for
// connect-timeout tests. Thread: any one thread; it owns plain sockets only.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
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
#include <memory>
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
        Close // orderly close: the client reads end of stream
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
        // Taken after the thread's last word under it (see Serve): the
        // thread checker cannot see the hand-over inside QThread::wait.
        QMutexLocker lock(&m_mutex);
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

    // Connections accepted so far.
    int ConnectionCount() const
    {
        QMutexLocker lock(&m_mutex);
        return m_nConnections;
    }
    // Everything clients sent, over all connections in arrival order.
    QByteArray Received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }

private:
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

    // Runs on the server thread for its whole life; its last word is said
    // under the lock, after everything it made is gone.
    void Serve()
    {
        ServeUntilQuit();
        QMutexLocker lock(&m_mutex);
    }

    void ServeUntilQuit()
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
            m_nPort = server.serverPort();
        }
        m_ready.release();
        m_thread.exec(); // the sockets are the server's children and go with it
    }

    void Accept(QTcpSocket* s)
    {
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        {
            QMutexLocker lock(&m_mutex);
            ++m_nConnections;
        }
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
            const QByteArray data = s->readAll();
            QMutexLocker lock(&m_mutex);
            m_received += data;
        });
        auto* timer = new QTimer(s);
        timer->setInterval(m_nGapMs);
        const auto pSent = std::make_shared<int>(0); // segments sent so far
        const auto step = [this, s, timer, pSent] {
            if (s->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            if (*pSent < m_segments.size()) {
                s->write(m_segments[(*pSent)++]);
                s->flush();
                return;
            }
            timer->stop();
            if (m_after == AfterScript::Close)
                s->disconnectFromHost();
        };
        QObject::connect(timer, &QTimer::timeout, s, step);
        timer->start();
        step();
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
    int m_nConnections = 0;
    QByteArray m_received;
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
