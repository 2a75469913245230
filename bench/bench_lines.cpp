// What watching the control lines costs an idle open port, and how long a
// pulse lasts.
//
// Idle cost: wake-ups per second (voluntary context switches of every thread
// of this process, from /proc/self/task/*/status: each is a thread going back
// to sleep after it woke) over a stretch of idle seconds, for:
//   - nothing open (the bench's own event loop: the floor);
//   - loop://;
//   - a serial device (a pseudo-terminal, which refuses the modem-control
//     calls, so nothing watches);
//   - the serial back end on a pseudo-terminal with a modem control whose
//     waiting sleeps in a system call until a change, as the system's does
//     where the driver can wait for the lines;
//   - the same with a modem control that cannot wait: the lines are read on
//     the timer.
// Pulse: the time between the two line events of each of N pulses of DTR on
// loop:// (the I/O thread's timer), and between the two SET-CONTROL commands
// as a local rfc2217:// server reads them (the wire).
//
// Usage: bench_lines [idle seconds] [pulses]

#include "CKrCommBackend.h"
#include "CKrCommPort.h"
#include "KrModemControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <pty.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Voluntary context switches of each thread of this process, by its name.
std::map<QString, qint64> Switches()
{
    std::map<QString, qint64> byName;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                byName[name] += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return byName;
}

void Idle(int nMs)
{
    QEventLoop loop;
    QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
    loop.exec();
}

// Wake-ups per second over nSeconds of idling, per thread and in all.
void MeasureIdle(const char* scenario, int nSeconds)
{
    Idle(500); // what opening started settles
    const auto before = Switches();
    Idle(nSeconds * 1000);
    const auto after = Switches();
    double total = 0;
    QString perThread;
    for (const auto& [name, n] : after) {
        const auto it = before.find(name);
        const double rate = double(n - (it == before.end() ? 0 : it->second)) / nSeconds;
        total += rate;
        perThread += QStringLiteral(" %1=%2").arg(name).arg(rate, 0, 'f', 1);
    }
    std::printf("%-44s %6.1f /s  (%s )\n", scenario, total, qPrintable(perThread));
    std::fflush(stdout);
}

// A modem control whose waiting sleeps in read() on a pipe until its end,
// as a driver's wait for the lines sleeps in the kernel.
class SleepingModem : public CKrModemControl
{
public:
    explicit SleepingModem(bool bCanWait) : m_bCanWait(bCanWait) {}
    ~SleepingModem() override { StopWatching(); }
    bool Read(KrLines* pLines, QString*) override
    {
        for (KrLine line : kKrWires)
            pLines->Set(line, true);
        return true;
    }
    bool SetOutputs(quint8, quint8, QString*) override { return true; }
    bool SetBreak(bool, QString*) override { return true; }
    bool StartWatching(std::function<void()>) override
    {
        if (!m_bCanWait || ::pipe(m_aPipe) != 0)
            return false;
        m_thread = std::thread([fd = m_aPipe[0]] {
            char c;
            while (::read(fd, &c, 1) < 0) {
            }
        });
        return true;
    }
    bool IsWatching() const override { return m_thread.joinable(); }
    void StopWatching() override
    {
        if (!m_thread.joinable())
            return;
        ::close(m_aPipe[1]);
        m_thread.join();
        ::close(m_aPipe[0]);
    }

private:
    bool m_bCanWait;
    int m_aPipe[2] = {-1, -1};
    std::thread m_thread;
};

class NullSink : public CKrCommBackendSink
{
public:
    void BackendOpened() override {}
    void BackendReceived(const QByteArray&) override {}
    void BackendWritten(qint64) override {}
    void BackendReady() override {}
    void BackendFailed(const KrPortFailure&) override {}
    void BackendNoteChanged() override {}
    void BackendLinesChanged() override {}
};

// Hears the times of the line events of a port.
class EventTimes : public CKrCommPortListener
{
public:
    void OnPortStatus(const CKrCommPortStatus&) override {}
    void OnPortLines(const KrLineEvent& event) override
    {
        QMutexLocker lock(&m_mutex);
        m_times.push_back(event.nTimeUs);
    }
    std::vector<qint64> Times()
    {
        QMutexLocker lock(&m_mutex);
        return m_times;
    }

private:
    QMutex m_mutex;
    std::vector<qint64> m_times;
};

void PrintSpread(const char* what, std::vector<double> ms, int nAsked)
{
    if (ms.empty()) {
        std::printf("%-44s no pulse seen\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s %zu pulses of %d ms: min %.2f, median %.2f, p90 %.2f, max %.2f ms\n", what,
                ms.size(), nAsked, ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10],
                ms.back());
}

bool WaitFor(const std::function<bool()>& done, int nMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < nMs)
        Idle(5);
    return done();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int nPulses = argc > 2 ? std::atoi(argv[2]) : 30;
    if (nSeconds <= 0 || nPulses <= 0)
        return 2;

    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return 1;
    CKrCommConfig pty;
    pty.strPort = QString::fromLocal8Bit(::ptsname(master));

    std::printf("idle wake-ups over %d s (all threads of the process)\n", nSeconds);
    MeasureIdle("nothing open", nSeconds);
    {
        CKrCommPortEx port;
        CKrCommConfig loop;
        port.SetConfig(loop);
        port.Open();
        MeasureIdle("loop://", nSeconds);
    }
    {
        CKrCommPortEx port;
        port.SetConfig(pty);
        port.Open();
        MeasureIdle("serial, pty (modem control refused)", nSeconds);
    }
    for (const bool bCanWait : {true, false}) {
        NullSink sink;
        auto backend = KrCreateSerialBackendWith(
            sink, [bCanWait](qintptr) { return std::make_unique<SleepingModem>(bCanWait); });
        KrPortFailure failure;
        if (backend->Open(pty, &failure) != CKrCommBackend::OpenResult::Opened)
            return 1;
        MeasureIdle(bCanWait ? "serial back end, lines waited for"
                             : "serial back end, lines read on the timer",
                    nSeconds);
        backend->Close();
    }

    // Pulses on loop://, timed by the port's own events.
    {
        EventTimes times;
        CKrCommPortEx port;
        port.AddListener(&times);
        port.SetConfig(CKrCommConfig());
        port.Open();
        WaitFor([&] { return port.GetLines().IsKnown(KrLine::Dtr); }, 20000);
        std::vector<double> ms;
        for (int i = 0; i < nPulses; ++i) {
            const size_t nBefore = times.Times().size();
            if (!port.PulseLine(KrLine::Dtr))
                break;
            if (!WaitFor([&] { return times.Times().size() >= nBefore + 2; }, 20000))
                break;
            const std::vector<qint64> t = times.Times();
            ms.push_back(double(t[nBefore + 1] - t[nBefore]) / 1000.0);
        }
        PrintSpread("loop://, pulse DTR (port's events)", ms, CKrCommPort::kDefaultPulseMs);
    }

    // Pulses on rfc2217://, timed as a local server reads the commands.
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            return 1;
        QTcpSocket* pPeer = nullptr;
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        std::vector<std::pair<qint64, QByteArray>> reads; // ms, bytes
        QObject::connect(&server, &QTcpServer::newConnection, [&] {
            pPeer = server.nextPendingConnection();
            pPeer->write(QByteArray::fromHex("fffd2c")); // DO COM-PORT
            QObject::connect(pPeer, &QTcpSocket::readyRead, [&] {
                const QByteArray data = pPeer->readAll();
                reads.emplace_back(clock.nsecsElapsed() / 1000, data);
                received += data;
            });
        });
        CKrCommPortEx port;
        CKrCommConfig rfc;
        rfc.strPort = QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.serverPort());
        port.SetConfig(rfc);
        port.Open();
        const QByteArray dtrOff = QByteArray::fromHex("fffa2c0509fff0");
        const QByteArray dtrOn = QByteArray::fromHex("fffa2c0508fff0");
        WaitFor([&] { return port.GetLines().IsKnown(KrLine::Dtr); }, 20000);
        std::vector<double> ms;
        for (int i = 0; i < nPulses; ++i) {
            reads.clear();
            port.PulseLine(KrLine::Dtr);
            qint64 nOff = -1, nOn = -1;
            WaitFor(
                [&] {
                    for (const auto& [us, bytes] : reads) {
                        if (nOff < 0 && bytes.contains(dtrOff))
                            nOff = us;
                        if (nOff >= 0 && bytes.contains(dtrOn))
                            nOn = us;
                    }
                    return nOn >= 0;
                },
                20000);
            if (nOn < 0)
                break;
            ms.push_back(double(nOn - nOff) / 1000.0);
        }
        PrintSpread("rfc2217://, pulse DTR (server's reads)", ms, CKrCommPort::kDefaultPulseMs);
    }
    ::close(master);
    ::close(slave);
    return 0;
}
