// socket:// and rfc2217:// ports against a real ser2net serving a pseudo-
// terminal, against hostile fake servers, and against hosts that refuse or
// never answer. Everything runs on 127.0.0.1, started by the tests.

#include "CKrCommPort.h"
#include "PortHelpers.h"
#include "ScriptedServer.h"
#include "Ser2NetServer.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QElapsedTimer>
#include <QTest>

// Skips only when ser2net or socat is not installed (the test command
// installs both); any other trouble fails.
#define SER2NET_RUNNING(server)                                                                    \
    do {                                                                                           \
        if (!(server).ToolsFound())                                                                \
            QSKIP(qPrintable((server).ErrorString()));                                             \
        QVERIFY2((server).IsValid(), qPrintable((server).ErrorString()));                          \
    } while (false)

namespace {

QString Url(const char* scheme, quint16 port, const char* host = "127.0.0.1")
{
    return QStringLiteral("%1://%2:%3").arg(QLatin1String(scheme), QLatin1String(host)).arg(port);
}

// The URL of ser2net's raw or telnet accepter.
QString ServedUrl(const Ser2NetServer& ser2net, bool rfc2217)
{
    return rfc2217 ? Url("rfc2217", ser2net.RfcPort()) : Url("socket", ser2net.RawPort());
}

// A port with a receiver and a listener, opened on `url`.
struct NetPort
{
    CollectingReceiver rx;
    RecordingListener states;
    CKrCommPortEx port;

    explicit NetPort(const CKrCommConfig& config)
    {
        port.SetStateListener(&states);
        port.m_pReceiver = &rx;
        port.SetConfig(config);
        port.Open();
    }
    bool WaitOpen(int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!port.IsOpen() && !deadline.hasExpired())
            QTest::qWait(10);
        return port.IsOpen();
    }
};

} // namespace

class TestNetPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyByteBothWays_data();
    void everyByteBothWays();
    void lineSettingsReachTheDevice();
    void serverStoppedAndBack_data();
    void serverStoppedAndBack();
    void hostileServer_data();
    void hostileServer();
    void serverThatDropsEveryConnectionIsTriedLessOften();
    void hostNamesAndIPv6();
    void connectFailuresNeverHoldTheWindow_data();
    void connectFailuresNeverHoldTheWindow();
};

void TestNetPort::everyByteBothWays_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("socket://") << false;
    QTest::newRow("rfc2217://") << true;
}

void TestNetPort::everyByteBothWays()
{
    QFETCH(bool, rfc2217);
    Ser2NetServer ser2net;
    SER2NET_RUNNING(ser2net);
    const QString url = ServedUrl(ser2net, rfc2217);
    NetPort net(ConfigFor(url));
    QVERIFY2(net.WaitOpen(), qPrintable(net.port.GetDescription()));
    QCOMPARE(net.port.GetDescription(), rfc2217 ? url + QStringLiteral(" 115200,8,N,1") : url);

    const QByteArray all = AllByteValues() + AllByteValues();
    QCOMPARE(net.port.Write(all.constData(), int(all.size())), int(all.size()));
    QCOMPARE(ser2net.ReadLineFor(all.size()), all);
    QVERIFY(ser2net.WriteLine(all));
    QTRY_COMPARE(net.rx.Data(), all);
    QTRY_COMPARE(net.port.GetPendingCount(), qint64(0));
    QCOMPARE(net.states.LastState(), KrPortState::Open);
}

void TestNetPort::lineSettingsReachTheDevice()
{
    Ser2NetServer ser2net;
    SER2NET_RUNNING(ser2net);
    CKrCommConfig config = ConfigFor(Url("rfc2217", ser2net.RfcPort()), 9600);
    config.stopBits = KrStopBits::Two;
    NetPort net(config);
    QVERIFY2(net.WaitOpen(), qPrintable(net.port.GetDescription()));
    // The settings go out without a wait for any reply; the server applies
    // them to its device a moment later.
    termios t{};
    QTRY_VERIFY(ser2net.DeviceTermios(t) && ::cfgetospeed(&t) == B9600);
    QVERIFY(t.c_cflag & CSTOPB);
    QCOMPARE(net.port.GetDescription(),
             Url("rfc2217", ser2net.RfcPort()) + QStringLiteral(" 9600,8,N,2"));
}

void TestNetPort::serverStoppedAndBack_data()
{
    everyByteBothWays_data();
}

void TestNetPort::serverStoppedAndBack()
{
    QFETCH(bool, rfc2217);
    Ser2NetServer ser2net;
    SER2NET_RUNNING(ser2net);
    const QString url = ServedUrl(ser2net, rfc2217);
    NetPort net(ConfigFor(url));
    QVERIFY2(net.WaitOpen(), qPrintable(net.port.GetDescription()));

    ser2net.Stop();
    QTRY_COMPARE(net.states.LastState(), KrPortState::Lost);
    // The loss as told then: the attempts a second later change the description.
    CKrCommPortStatus lost;
    for (const CKrCommPortStatus& status : net.states.Statuses()) {
        if (status.state == KrPortState::Lost) {
            lost = status;
            break;
        }
    }
    QVERIFY2(lost.strDescription.startsWith(url) &&
                 lost.strDescription.contains(
                     QStringLiteral(" - disconnected: the server closed the connection")),
             qPrintable(lost.strDescription));
    QCOMPARE(net.port.Write("x", 1), -1);
    // While it stays away the attempts are refused and say so.
    QTRY_VERIFY(
        net.port.GetDescription().endsWith(QStringLiteral(" - disconnected: connection refused")));

    QVERIFY2(ser2net.Start(), qPrintable(ser2net.ErrorString()));
    // The attempts back off to 10 s apart.
    QVERIFY2(net.WaitOpen(30000), qPrintable(net.port.GetDescription()));
    QVERIFY(ser2net.WriteLine("back"));
    QTRY_VERIFY(net.rx.Data().endsWith("back"));
    QCOMPARE(net.port.Write("more", 4), 4);
    QCOMPARE(ser2net.ReadLineFor(4), QByteArray("more"));
}

void TestNetPort::hostileServer_data()
{
    QTest::addColumn<QList<QByteArray>>("segments");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answer"); // what the client must have sent back

    const QByteArray iac("\xFF", 1);
    QTest::newRow("commands split across segments")
        << QList<QByteArray>{"ab" + iac, iac + "cd" + iac, QByteArray("\xFB"),
                             "\x01"
                             "ef"}
        << QByteArray("ab\xFF"
                      "cdef")
        << QByteArray("\xFF\xFD\x01"); // DO ECHO
    QTest::newRow("lone 0xFF ending a segment")
        << QList<QByteArray>{"x" + iac, iac + "y"} << QByteArray("x\xFFy") << QByteArray();
    QTest::newRow("unknown options are refused")
        << QList<QByteArray>{QByteArray("\xFF\xFB\x55"
                                        "da"),
                             QByteArray("\xFF\xFD\x56"
                                        "ta")}
        << QByteArray("data") << QByteArray("\xFF\xFE\x55\xFF\xFC\x56");
    // A subnegotiation that never ends is given up; what follows is data.
    const QByteArray mega = Pattern(1024 * 1024).replace('\xFF', 'f');
    QTest::newRow("subnegotiation without end, then 1 MiB")
        << QList<QByteArray>{QByteArray("\xFF\xFA\x2C"), mega.left(500000), mega.mid(500000)}
        << mega << QByteArray();
}

void TestNetPort::hostileServer()
{
    QFETCH(QList<QByteArray>, segments);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, answer);
    ScriptedServer server(segments);
    QVERIFY2(server.IsValid(), qPrintable(server.ErrorString()));
    NetPort net(ConfigFor(Url("rfc2217", server.Port())));
    QVERIFY2(net.WaitOpen(), qPrintable(net.port.GetDescription()));
    QTRY_COMPARE_WITH_TIMEOUT(net.rx.Size(), data.size(), 30000);
    QVERIFY(net.rx.Data() == data);
    QTRY_VERIFY(server.Received().contains(answer));
    // It never agreed to the Com Port option: data flows, the description
    // tells, and the port stays open.
    QTRY_VERIFY(
        net.port.GetDescription().endsWith(QStringLiteral(" - server does not support RFC 2217")));
    QVERIFY(net.port.IsOpen());
    QCOMPARE(net.port.Write("\xFF", 1), 1);
    QTRY_VERIFY(server.Received().endsWith("\xFF\xFF"));
}

void TestNetPort::serverThatDropsEveryConnectionIsTriedLessOften()
{
    // It takes each connection and closes it at once (as a server whose
    // device is missing does): the attempts back off, 1, 2, 4 ... s apart.
    ScriptedServer server({QByteArray("no device\r\n")}, 0, ScriptedServer::AfterScript::Close);
    QVERIFY2(server.IsValid(), qPrintable(server.ErrorString()));
    QElapsedTimer since;
    since.start();
    NetPort net(ConfigFor(Url("socket", server.Port())));
    QTRY_COMPARE(net.states.LastState(), KrPortState::Lost);
    QTest::qWait(6500);
    const int nConnections = server.ConnectionCount();
    // No more attempts than the back-off allows in the time that passed,
    // however long that was (a timer may fire 5% early): 4 in the first
    // 6.65 s, where one a second would make 7.
    int nAllowed = 0;
    for (qint64 at = 0, gap = 1000; at <= since.elapsed();
         at += gap * 95 / 100, gap = qMin<qint64>(gap * 2, 10000))
        ++nAllowed;
    QVERIFY2(
        nConnections >= 2 && nConnections <= nAllowed,
        qPrintable(QStringLiteral("%1 connections, %2 allowed").arg(nConnections).arg(nAllowed)));
    QVERIFY(net.rx.Data().startsWith("no device\r\n"));
}

void TestNetPort::hostNamesAndIPv6()
{
    ScriptedServer v4({QByteArray("four")});
    QVERIFY2(v4.IsValid(), qPrintable(v4.ErrorString()));
    NetPort byName(ConfigFor(Url("socket", v4.Port(), "localhost")));
    QTRY_COMPARE(byName.rx.Data(), QByteArray("four"));

    QTcpServer v6;
    if (!v6.listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    NetPort bracketed(ConfigFor(Url("socket", v6.serverPort(), "[::1]")));
    QTRY_VERIFY(v6.hasPendingConnections());
    QTcpSocket* peer = v6.nextPendingConnection();
    QVERIFY(bracketed.WaitOpen());
    peer->write("six");
    QTRY_COMPARE(bracketed.rx.Data(), QByteArray("six"));
}

void TestNetPort::connectFailuresNeverHoldTheWindow_data()
{
    QTest::addColumn<bool>("unanswered");
    QTest::addColumn<QString>("why");
    QTest::newRow("connection refused") << false << "connection refused";
    QTest::newRow("no answer") << true << "no answer from host";
}

void TestNetPort::connectFailuresNeverHoldTheWindow()
{
    QFETCH(bool, unanswered);
    QFETCH(QString, why);
    UnansweredListener silent;
    quint16 nPort = 0;
    if (unanswered) {
        QVERIFY2(silent.IsValid(), qPrintable(silent.ErrorString()));
        nPort = silent.Port();
    } else {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        nPort = closed.serverPort();
    }
    const QString description = Url("socket", nPort);

    TerminalFixture fx;
    QVERIFY(fx.WriteSettings(ConfigFor(description)));
    // The window is up while the connection is still being made.
    auto dlg = fx.Start();
    if (unanswered)
        QCOMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - %1 - connecting").arg(description));
    // The window answers while the connection is tried: a key is refused at
    // once.
    QTest::keyClick(dlg.get(), Qt::Key_A);
    QCOMPARE(fx.beeps, 1);
    // The attempt is given up long before the system's own 127 s.
    QTRY_COMPARE_WITH_TIMEOUT(dlg->windowTitle(),
                              QStringLiteral("VornTerm - %1 - not open: %2").arg(description, why),
                              30000);
}

QTEST_MAIN(TestNetPort)
#include "tst_netport.moc"
