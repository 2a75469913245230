// The fixtures the network port suites stand on: a real ser2net serving a pty pair,
// a scripted fake server, and a port whose connects stay pending.

#include "PortHelpers.h"
#include "ScriptedServer.h"
#include "Ser2NetServer.h"

#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ScriptedServer::AfterScript)

namespace {

// A plain blocking-with-timeouts TCP client, so that a reset and an orderly close can
// be told apart (both are RemoteHostClosedError to QTcpSocket).
class Client
{
public:
    enum class End
    {
        Open,  // nothing more within the time
        Eof,   // orderly close
        Reset, // ECONNRESET
        Error
    };

    explicit Client(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool IsConnected() const { return m_fd >= 0; }
    bool Send(const QByteArray& data)
    {
        return ::send(m_fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL) == data.size();
    }
    // One read: what a single recv returns within timeoutMs.
    QByteArray ReadChunk(int timeoutMs)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (m_end != End::Open || ::poll(&p, 1, timeoutMs) <= 0)
            return {};
        char buf[4096];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n > 0)
            return QByteArray(buf, qsizetype(n));
        m_end = n == 0 ? End::Eof : errno == ECONNRESET ? End::Reset : End::Error;
        return {};
    }
    // Reads until n bytes arrived, the peer ended, or timeoutMs passed.
    QByteArray ReadFor(qsizetype n, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        QByteArray got;
        while (got.size() < n && m_end == End::Open && !deadline.hasExpired())
            got += ReadChunk(int(qMax<qint64>(deadline.remainingTime(), 1)));
        return got;
    }
    End Ended() const { return m_end; }

private:
    int m_fd = -1;
    End m_end = End::Open;
};

QByteArray SetBaudrate(quint32 baud, char code)
{
    QByteArray b("\xff\xfa\x2c");
    b += code;
    for (int shift = 24; shift >= 0; shift -= 8)
        b += char((baud >> shift) & 0xff);
    return b + "\xff\xf0";
}

const QByteArray kNegotiation("\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01\xff\xfe\x01"
                              "\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c",
                              21);

speed_t DeviceSpeed(const Ser2NetServer& s)
{
    termios t{};
    return s.DeviceTermios(t) ? ::cfgetospeed(&t) : speed_t(B0);
}

} // namespace

Q_DECLARE_METATYPE(Client::End)

#define REQUIRE_SER2NET(s)                                                                         \
    do {                                                                                           \
        if (!(s).ToolsFound())                                                                     \
            QSKIP(qPrintable((s).ErrorString()));                                                  \
        QVERIFY2((s).IsValid(), qPrintable((s).ErrorString()));                                    \
    } while (false)

class TestNetFixtures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawPortCarriesBytesBothWays();
    void telnetPortNegotiatesAndSetsTheRate();
    void stopClosesClientsAndStartServesTheSamePorts();
    void removedDeviceIsReportedThenClosed();
    void scriptArrivesInSegmentsAndClientDataIsRecorded_data();
    void scriptArrivesInSegmentsAndClientDataIsRecorded();
    void connectToUnansweredListenerStaysPending();
};

void TestNetFixtures::rawPortCarriesBytesBothWays()
{
    Ser2NetServer s;
    REQUIRE_SER2NET(s);
    Client c(s.RawPort());
    QVERIFY(c.IsConnected());
    QVERIFY(c.Send(AllByteValues()));
    QCOMPARE(s.ReadLineFor(256), AllByteValues());
    const QByteArray back = Pattern(3000);
    QVERIFY(s.WriteLine(back));
    QCOMPARE(c.ReadFor(back.size()), back);
    QCOMPARE(DeviceSpeed(s), speed_t(B115200));
}

void TestNetFixtures::telnetPortNegotiatesAndSetsTheRate()
{
    Ser2NetServer s;
    REQUIRE_SER2NET(s);
    Client c(s.RfcPort());
    QVERIFY(c.IsConnected());
    QCOMPARE(c.ReadFor(kNegotiation.size()), kNegotiation);
    QVERIFY(c.Send(SetBaudrate(9600, 1)));
    const QByteArray answer = SetBaudrate(9600, 101);
    QCOMPARE(c.ReadFor(answer.size()), answer);
    QCOMPARE(DeviceSpeed(s), speed_t(B9600));
}

void TestNetFixtures::stopClosesClientsAndStartServesTheSamePorts()
{
    Ser2NetServer s;
    REQUIRE_SER2NET(s);
    const quint16 raw = s.RawPort();
    const quint16 rfc = s.RfcPort();
    {
        Client c(raw);
        QVERIFY(c.IsConnected());
        s.Stop();
        QVERIFY(!s.IsRunning());
        QCOMPARE(c.ReadFor(1), QByteArray());
        QCOMPARE(c.Ended(), Client::End::Eof);
        QVERIFY(!Client(raw).IsConnected());
    }
    QVERIFY2(s.Start(), qPrintable(s.ErrorString()));
    QCOMPARE(s.RawPort(), raw);
    QCOMPARE(s.RfcPort(), rfc);
    {
        Client c(raw);
        QVERIFY(c.Send("again"));
        QCOMPARE(s.ReadLineFor(5), QByteArray("again"));
    }
    QVERIFY(s.WaitIdle());
    Client t(rfc);
    QCOMPARE(t.ReadFor(kNegotiation.size()), kNegotiation);
}

void TestNetFixtures::removedDeviceIsReportedThenClosed()
{
    Ser2NetServer s;
    REQUIRE_SER2NET(s);
    s.RemoveDevice();
    QVERIFY(!QFileInfo::exists(s.DevicePath()));
    Client c(s.RawPort());
    QVERIFY(c.IsConnected());
    QVERIFY(c.ReadFor(1000).startsWith("Device open failure"));
    QCOMPARE(c.Ended(), Client::End::Eof);
}

void TestNetFixtures::scriptArrivesInSegmentsAndClientDataIsRecorded_data()
{
    QTest::addColumn<ScriptedServer::AfterScript>("after");
    QTest::addColumn<Client::End>("end");
    QTest::newRow("stay open") << ScriptedServer::AfterScript::StayOpen << Client::End::Open;
    QTest::newRow("close") << ScriptedServer::AfterScript::Close << Client::End::Eof;
    QTest::newRow("reset") << ScriptedServer::AfterScript::Reset << Client::End::Reset;
}

void TestNetFixtures::scriptArrivesInSegmentsAndClientDataIsRecorded()
{
    QFETCH(ScriptedServer::AfterScript, after);
    QFETCH(Client::End, end);
    const QList<QByteArray> script{"\xff\xfb\x03", "one", QByteArray(1000, 'x')};
    ScriptedServer srv(script, 50, after);
    QVERIFY2(srv.IsValid(), qPrintable(srv.ErrorString()));
    Client c(srv.Port());
    QVERIFY(c.IsConnected());
    QVERIFY(c.Send("hello"));
    QList<QByteArray> chunks;
    QElapsedTimer sinceFirst;
    qint64 lastAt = 0;
    for (int i = 0; i < 10 && c.Ended() == Client::End::Open; ++i) {
        const QByteArray chunk = c.ReadChunk(500);
        if (!chunk.isEmpty()) {
            if (chunks.isEmpty())
                sinceFirst.start();
            lastAt = sinceFirst.elapsed();
            chunks << chunk;
        } else if (chunks.size() == script.size()) {
            break; // nothing more came
        }
    }
    QCOMPARE(chunks, script);
    // The pauses are there: the last segment left two gaps after the first (a lower
    // bound only, which a slow machine cannot break).
    QVERIFY2(lastAt >= 90, qPrintable(QString::number(lastAt)));
    QCOMPARE(c.Ended(), end);
    QTRY_COMPARE(srv.Received(), QByteArray("hello"));
    QCOMPARE(srv.ConnectionCount(), 1);
    QCOMPARE(srv.SegmentsSent(0), int(script.size()));
    if (end != Client::End::Open)
        return;
    QVERIFY(c.Send("more"));
    QTRY_COMPARE(srv.ReceivedOn(0), QByteArray("hellomore"));
    srv.Send("extra");
    QCOMPARE(c.ReadFor(5), QByteArray("extra"));
    srv.CloseConnections();
    QCOMPARE(c.ReadFor(1), QByteArray());
    QCOMPARE(c.Ended(), Client::End::Eof);
    QTRY_COMPARE(srv.OpenCount(), 0);
}

void TestNetFixtures::connectToUnansweredListenerStaysPending()
{
    UnansweredListener l;
    QVERIFY2(l.IsValid(), qPrintable(l.ErrorString()));
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, l.Port());
    QTest::qWait(1500); // past the first SYN retry
    QCOMPARE(s.state(), QAbstractSocket::ConnectingState);
}

QTEST_GUILESS_MAIN(TestNetFixtures)
#include "tst_netfixtures.moc"
