// XMODEM and YMODEM over a paced line: the real Terminal window (offscreen,
// in this process, its port open on a pseudo-terminal) against lrzsz, and
// lrzsz against itself on the same line for comparison.
//
// The line: a thread of this process ("BenchLine") joins the window's
// pseudo-terminal to the peer's (one pair for the peer's standard input, one
// for its output, as the test suites do) and carries the bytes each way at
// the line's rate, baud / 10 bytes a second (8N1): a byte read is delivered
// when the line would have finished sending it, after the bytes before it.
// It takes at most 4 KiB ahead of the wire, so a writer that outruns the
// line meets a full terminal, as at a real port.
// A transfer's rate is measured on the line, from the sender's bytes read
// block by block, with the time the line began to send each byte; twice:
// the whole transfer, from the first block (SOH or STX) to the last byte the
// line delivered either way (the receiver's last answer), so that how long
// each side waits before it begins does not count; and the data phase, from
// the start of the file's block 1 to the start of its EOT, which the sender
// sends once the last block was acknowledged (every block's turn-around
// included, the start and end handshakes not: rb, for one, waits a second
// before it acknowledges an EOT and another before it asks for the next
// file). Each file is random bytes and is compared with what the receiver
// stored; the blocks on the line and those sent again are counted.
//
// The window's CPU: user + system seconds of this process (getrusage) less
// the line's thread, while a 1 MiB file goes with YMODEM to rb, and while
// the same bytes go raw with Send Text File to the line's far end; "Local
// Echo" and "Log Input Data" unchecked. Each thread's share (/proc/self/task)
// is printed too. The transfers start as a user starts them: the menu entry,
// its dialog answered (the Afx modal hook).
//
//   bench_xfer [--baud B] [--kib K] [--cpu-mib M] [--rounds R] [--case NAME]...
//     --baud     the line's rate (default 115200)
//     --rounds   how often every case runs, in turn (default 1); with more
//                than one, the medians and ranges follow
//     --kib      the size of the throughput cases' file (default 128)
//     --cpu-mib  the size of the CPU cases' file (default 1)
//     --case     run only these (repeatable): y-send y-receive y-lrzsz
//                x-send x-receive x-lrzsz cpu-ymodem cpu-raw

#include "Afx.h"
#include "BenchClock.h"
#include "CDataView.h"
#include "CKrCommConfig.h"
#include "CTerminalDlg.h"
#include "CXferCommand.h"
#include "CXferDialog.h"
#include "KrThreadName.h"
#include "XferProtocol.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kKiB = 1024;
// The bound of one case: a guard against a hang.
constexpr qint64 kCaseLimitMs = 20 * 60 * 1000;

qint64 NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// A raw pseudo-terminal pair; the slave stays open with the object.
struct SPty
{
    SPty()
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~SPty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    SPty(const SPty&) = delete;
    SPty& operator=(const SPty&) = delete;
    int master = -1;
    int slave = -1;
    QString path;
};

// What the sender puts on the line, read frame by frame with the time the
// line begins to send each byte: a block is SOH or STX, its number and the
// number's complement, 128 or 1024 data bytes and the CRC (every case here
// uses the CRC); between blocks come EOT and CAN. A block header whose
// number and complement disagree, or a byte between blocks that is none of
// these, is counted as out of step: the figures of such a case are not to be
// trusted, and the case fails.
class CFrameWatch
{
public:
    void Feed(char c, qint64 nNs)
    {
        const auto u = quint8(c);
        if (m_nLeft > 0) {
            m_block += c;
            --m_nLeft;
            if (m_block.size() == 2) {
                m_nNumber = u;
            } else if (m_block.size() == 3 && quint8(m_nNumber + u) != 0xFF) {
                ++m_nOutOfStep;
            } else if (m_block.size() == 3 && m_nNumber == 1 && m_nFirstDataNs < 0) {
                m_nFirstDataNs = m_nFrameNs;
            }
            if (m_nLeft == 0) {
                // A block sent again is the one before, byte for byte (the
                // number alone would not tell YMODEM's closing block 0 from
                // a file's block 256).
                ++m_nBlocks;
                const qsizetype nData = m_block.size() - 5;
                const quint16 crc = XferCrc16(m_block.constData() + 3, nData);
                if (quint8(m_block.at(3 + nData)) != crc >> 8 ||
                    quint8(m_block.at(4 + nData)) != (crc & 0xFF))
                    ++m_nBadCrc;
                if (m_block == m_previous)
                    ++m_nResent;
                m_previous.swap(m_block);
            }
            return;
        }
        if (c == 0x01 || c == 0x02) {
            m_nLeft = 2 + (c == 0x01 ? 128 : 1024) + 2;
            m_block = QByteArray(1, c);
            m_nFrameNs = nNs;
            if (m_nFirstBlockNs < 0)
                m_nFirstBlockNs = nNs;
        } else if (c == 0x04) {
            if (m_nFirstDataNs >= 0 && m_nEotNs < 0)
                m_nEotNs = nNs;
        } else if (c != 0x18) {
            ++m_nOutOfStep;
        }
    }
    qint64 m_nFirstBlockNs = -1; // the first block (YMODEM: block 0, the name) began
    qint64 m_nFirstDataNs = -1;  // the file's block 1 began
    qint64 m_nEotNs = -1;        // the file's first EOT began
    qint64 m_nBlocks = 0;        // whole blocks sent
    qint64 m_nResent = 0;        // blocks that repeated the one before
    qint64 m_nOutOfStep = 0;
    qint64 m_nBadCrc = 0; // whole blocks whose CRC does not match their data

private:
    qsizetype m_nLeft = 0; // bytes of the current block still to come
    QByteArray m_block, m_previous;
    quint8 m_nNumber = 0;
    qint64 m_nFrameNs = -1;
};

// What the line saw of a case.
struct SLineFigures
{
    qint64 nFirstBlockNs = -1, nFirstDataNs = -1, nEotNs = -1, nLastNs = -1;
    qint64 nBlocks = 0, nResent = 0, nOutOfStep = 0, nBadCrc = 0;
};

// The paced line: each link carries bytes from one descriptor to another
// (or nowhere, for -1) at the line's rate, 8N1: a byte is delivered when the
// line has finished sending it, after the bytes before it. A link takes from
// its source only while less than kLineBuffer bytes wait for the wire, as a
// serial driver's transmit buffer does; beyond that the writer meets a full
// pseudo-terminal and waits, as it would at a real port.
class CPacedLine
{
public:
    static constexpr qsizetype kLineBuffer = 4096;
    struct SLink
    {
        int fdFrom, fdTo;
    };
    // nSenderLink: the link whose bytes the frame watch reads (-1: none).
    CPacedLine(std::vector<SLink> links, int nBaud, int nSenderLink = -1)
        : m_nByteNs(10LL * 1000000000 / nBaud), m_nSenderLink(nSenderLink),
          m_links(links.begin(), links.end())
    {
        m_thread = std::thread([this] { Pump(); });
    }
    ~CPacedLine()
    {
        m_bStop = true;
        m_thread.join();
    }
    // The frame watch's figures and when the line last delivered a byte.
    SLineFigures Figures() const
    {
        std::lock_guard<std::mutex> guard(m_traceMutex);
        SLineFigures f;
        f.nFirstBlockNs = m_frames.m_nFirstBlockNs;
        f.nFirstDataNs = m_frames.m_nFirstDataNs;
        f.nEotNs = m_frames.m_nEotNs;
        f.nBlocks = m_frames.m_nBlocks;
        f.nResent = m_frames.m_nResent;
        f.nOutOfStep = m_frames.m_nOutOfStep;
        f.nBadCrc = m_frames.m_nBadCrc;
        f.nLastNs = m_nLastNs.load();
        return f;
    }
    qint64 LastDeliveredNs() const { return m_nLastNs.load(); }
    qint64 Delivered(size_t nLink) const { return m_links[nLink].nDelivered.load(); }
    // The line's last chunks read, one a line.
    QString Trace() const
    {
        std::lock_guard<std::mutex> guard(m_traceMutex);
        QString text;
        for (const QString& line : m_trace)
            text += QStringLiteral("      ") + line + QLatin1Char('\n');
        return text;
    }
    // The line's thread, for its CPU time; 0 until it runs.
    int Tid() const { return m_nTid.load(); }

private:
    struct SChunk
    {
        QByteArray data;
        qint64 nStartNs; // when the line begins to send its first byte
        qsizetype nDone = 0;
    };
    struct SState
    {
        SState(const SLink& link) : fdFrom(link.fdFrom), fdTo(link.fdTo) {}
        SState(const SState& o) : fdFrom(o.fdFrom), fdTo(o.fdTo) {}
        int fdFrom, fdTo;
        std::deque<SChunk> chunks;
        qsizetype nWaiting = 0; // bytes read, not yet sent by the line
        qint64 nWireFreeNs = 0;
        QByteArray out; // delivered by the line, not yet taken by the far end
        std::atomic<qint64> nDelivered{0};
    };

    void Pump()
    {
        KrNameThisThread("BenchLine");
        m_nTid = int(::syscall(SYS_gettid));
        char buf[kLineBuffer];
        while (!m_bStop) {
            qint64 nNow = NowNs();
            qint64 nWakeNs = nNow + 5 * 1000000;
            std::vector<pollfd> polls;
            for (SState& s : m_links) {
                // A full link does not look at its source until the line sent some.
                polls.push_back({s.nWaiting < kLineBuffer ? s.fdFrom : -1, POLLIN, 0});
                if (!s.chunks.empty()) {
                    const SChunk& c = s.chunks.front();
                    const qint64 nNextByte = c.nStartNs + (c.nDone + 1) * m_nByteNs;
                    const qint64 nLastByte = c.nStartNs + c.data.size() * m_nByteNs;
                    // Every millisecond while a chunk goes, and at its end.
                    nWakeNs = qMin(nWakeNs, qMin(nLastByte, qMax(nNextByte, nNow + 1000000)));
                }
                if (!s.out.isEmpty())
                    nWakeNs = qMin(nWakeNs, nNow + 200000);
            }
            const qint64 nWait = qMax<qint64>(0, nWakeNs - nNow);
            const timespec wait{time_t(nWait / 1000000000), long(nWait % 1000000000)};
            ::ppoll(polls.data(), nfds_t(polls.size()), &wait, nullptr);
            nNow = NowNs();
            for (SState& s : m_links) {
                const size_t nRoom = size_t(kLineBuffer - s.nWaiting);
                const ssize_t n = nRoom > 0 ? ::read(s.fdFrom, buf, nRoom) : 0;
                if (n > 0) {
                    const qint64 nStart = qMax(nNow, s.nWireFreeNs);
                    std::lock_guard<std::mutex> guard(m_traceMutex);
                    // What the line carried last, for a failed case.
                    m_trace.push_back(
                        QStringLiteral("%1 s link %2: %3 bytes %4 ... %5")
                            .arg(nNow / 1e9, 0, 'f', 4)
                            .arg(&s - &m_links[0])
                            .arg(n)
                            .arg(QString::fromLatin1(
                                QByteArray(buf, int(qMin<ssize_t>(n, 4))).toHex(' ')))
                            .arg(QString::fromLatin1(
                                QByteArray(buf + qMax<ssize_t>(0, n - 4), int(qMin<ssize_t>(n, 4)))
                                    .toHex(' '))));
                    if (m_trace.size() > 40)
                        m_trace.pop_front();
                    if (&s - &m_links[0] == m_nSenderLink) {
                        for (ssize_t i = 0; i < n; ++i)
                            m_frames.Feed(buf[i], nStart + i * m_nByteNs);
                    }
                    s.chunks.push_back({QByteArray(buf, qsizetype(n)), nStart});
                    s.nWaiting += n;
                    s.nWireFreeNs = nStart + n * m_nByteNs;
                }
                while (!s.chunks.empty()) {
                    SChunk& c = s.chunks.front();
                    const qsizetype nSent =
                        qMin<qsizetype>(c.data.size(), qsizetype((nNow - c.nStartNs) / m_nByteNs));
                    if (nSent > c.nDone) {
                        s.out += c.data.mid(c.nDone, nSent - c.nDone);
                        s.nDelivered += nSent - c.nDone;
                        s.nWaiting -= nSent - c.nDone;
                        c.nDone = nSent;
                        // When the line finished the byte, not when this thread saw it.
                        m_nLastNs = qMax(m_nLastNs.load(), c.nStartNs + nSent * m_nByteNs);
                    }
                    if (c.nDone < c.data.size())
                        break;
                    s.chunks.pop_front();
                }
                if (s.fdTo < 0) {
                    s.out.clear();
                } else if (!s.out.isEmpty()) {
                    const ssize_t w = ::write(s.fdTo, s.out.constData(), size_t(s.out.size()));
                    if (w > 0)
                        s.out.remove(0, qsizetype(w));
                }
            }
        }
    }

    const qint64 m_nByteNs;
    const std::ptrdiff_t m_nSenderLink;
    std::deque<SState> m_links;
    std::atomic<qint64> m_nLastNs{-1};
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nTid{0};
    mutable std::mutex m_traceMutex; // m_trace and m_frames
    std::deque<QString> m_trace;
    CFrameWatch m_frames;
    std::thread m_thread;
};

// What a thread cost: CPU seconds, and the times it was switched out
// (waits ended, and preemptions).
struct SThreadCost
{
    double dCpu = 0;
    qint64 nSwitches = 0;
};
using ThreadCosts = std::map<QString, SThreadCost>;

// This process's threads, by name, but the line's.
ThreadCosts ThreadCpu()
{
    ThreadCosts costs;
    const double dTick = double(sysconf(_SC_CLK_TCK));
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype nOpen = line.indexOf('('), nClose = line.lastIndexOf(')');
        const QString name = QString::fromLatin1(line.mid(nOpen + 1, nClose - nOpen - 1));
        if (name == QLatin1String("BenchLine"))
            continue;
        const QList<QByteArray> fields = line.mid(nClose + 2).split(' ');
        // After the name: state is field 3; utime and stime are fields 14, 15.
        SThreadCost& cost = costs[name];
        cost.dCpu += (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / dTick;
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& row : status.readAll().split('\n')) {
                if (row.contains("ctxt_switches:"))
                    cost.nSwitches += row.mid(row.indexOf(':') + 1).trimmed().toLongLong();
            }
        }
    }
    return costs;
}

// The change of each thread's figures; a thread that came and went during
// the case shows only as far as it was seen.
ThreadCosts Minus(ThreadCosts after, const ThreadCosts& before)
{
    for (auto& [name, cost] : after) {
        const auto it = before.find(name);
        if (it != before.end()) {
            cost.dCpu -= it->second.dCpu;
            cost.nSwitches -= it->second.nSwitches;
        }
    }
    return after;
}

// User + system seconds of one thread of this process.
double TaskCpu(int nTid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(nTid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

// The window's CPU over a case: the whole process (getrusage, threads that
// ended included) less the line's thread; and each thread's share, from
// samples taken while the case runs (a thread that ended shows as far as it
// was seen last, at most a second before it ended).
class CCpuMeter
{
public:
    explicit CCpuMeter(const CPacedLine& line)
        : m_nLineTid(line.Tid()), m_before(ThreadCpu()), m_seen(m_before),
          m_dProcess(CpuSeconds(RUSAGE_SELF)), m_dLine(TaskCpu(m_nLineTid))
    {
    }
    void Sample()
    {
        for (const auto& [name, cost] : ThreadCpu()) {
            SThreadCost& seen = m_seen[name];
            seen.dCpu = qMax(seen.dCpu, cost.dCpu);
            seen.nSwitches = qMax(seen.nSwitches, cost.nSwitches);
        }
    }
    double Total() const
    {
        return (CpuSeconds(RUSAGE_SELF) - m_dProcess) - (TaskCpu(m_nLineTid) - m_dLine);
    }
    ThreadCosts Threads()
    {
        Sample();
        return Minus(m_seen, m_before);
    }

private:
    int m_nLineTid;
    ThreadCosts m_before, m_seen;
    double m_dProcess, m_dLine;
};

QByteArray RandomBytes(qint64 n)
{
    QByteArray data(n, Qt::Uninitialized);
    QRandomGenerator random{quint32(n)};
    for (char& c : data)
        c = char(random.generate());
    return data;
}

class CPeer
{
public:
    ~CPeer() { Kill(); }
    bool Start(const QStringList& command, const QString& dir, const QString& in,
               const QString& out)
    {
        m_proc.setWorkingDirectory(dir);
        m_proc.setStandardInputFile(in);
        m_proc.setStandardOutputFile(out);
        m_strErrorFile = dir + QStringLiteral("/../stderr-") + command.first();
        m_proc.setStandardErrorFile(m_strErrorFile);
        // BENCH_VERBOSE=1: lrzsz says what it does, for a case that failed.
        QStringList args = command.mid(1);
        if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
            args.replaceInStrings(QRegularExpression(QStringLiteral("^-q$")),
                                  QStringLiteral("-vv"));
        m_proc.start(QStandardPaths::findExecutable(command.first()), args);
        return m_proc.waitForStarted(10000);
    }
    bool Running() const { return m_proc.state() != QProcess::NotRunning; }
    QString Stderr() const
    {
        QFile file(m_strErrorFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed()
                                              : QString();
    }
    int Exit() const
    {
        return m_proc.exitStatus() == QProcess::NormalExit ? m_proc.exitCode() : -1;
    }
    void Kill()
    {
        if (!Running())
            return;
        m_proc.kill();
        m_proc.waitForFinished(10000);
    }

private:
    QProcess m_proc;
    QString m_strErrorFile;
};

struct SCase
{
    const char* name;
    const char* title;
    bool bWindowSends; // the window sends (else it receives, or is not in it)
    bool bWindow;      // the window takes part
    XferProtocol eProtocol;
    QStringList sender;   // lrzsz, when it sends
    QStringList receiver; // lrzsz, when it receives
    bool bCpu;
};

struct SResult
{
    bool bOk = false;
    QString strNote;
    qint64 nBytes = 0;
    double dSeconds = 0;
    double dEfficiency = 0;
    double dDataSeconds = 0;
    double dDataEfficiency = 0;
    qint64 nBlocks = -1; // blocks on the line (-1: not a transfer)
    qint64 nResent = 0;
    qint64 nBadCrc = 0;
    double dCpu = 0;
    ThreadCosts cpu;
};

class CBench
{
public:
    CBench(int nBaud, qint64 nThroughputBytes, qint64 nCpuBytes)
        : m_nBaud(nBaud), m_nThroughputBytes(nThroughputBytes), m_nCpuBytes(nCpuBytes)
    {
    }
    SResult RunTransfer(const SCase& c);
    SResult RunRaw();

private:
    std::unique_ptr<CTerminalDlg> StartWindow(const SPty& pty);
    bool WaitFor(const std::function<bool()>& done, qint64 nLimitMs);
    // Looked at with every check of WaitFor.
    std::function<void()> m_sample;

    int m_nBaud;
    qint64 m_nThroughputBytes;
    qint64 m_nCpuBytes;
};

bool CBench::WaitFor(const std::function<bool()>& done, qint64 nLimitMs)
{
    // The window's own event loop runs meanwhile, as in the program; the
    // condition is looked at 20 times a second, the threads' figures once a
    // second (reading them costs this thread's time).
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    int nChecks = 0;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (m_sample && ++nChecks % 20 == 0)
            m_sample();
        if (done() || clock.elapsed() > nLimitMs)
            loop.quit();
    });
    check.start(50);
    if (!done())
        loop.exec();
    return done();
}

std::unique_ptr<CTerminalDlg> CBench::StartWindow(const SPty& pty)
{
    auto dlg = std::make_unique<CTerminalDlg>();
    dlg->Create(); // a fresh folder: default settings, the port closed
    // Nothing but the transfer or the send: no echo of what goes, no log.
    dlg->LocalEchoCheck()->setChecked(false);
    dlg->LogInputCheck()->setChecked(false);
    CKrCommConfig config = dlg->Port().GetConfig();
    config.strPort = pty.path;
    config.nBaud = m_nBaud;
    dlg->Port().SetConfig(config);
    dlg->Port().Open();
    dlg->show();
    WaitFor([&] { return dlg->Port().IsOpen(); }, 10000);
    return dlg;
}

SResult CBench::RunTransfer(const SCase& c)
{
    SResult r;
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("from"));
    const QString to = dir.filePath(QStringLiteral("to"));
    QDir().mkpath(from);
    QDir().mkpath(to);
    const QByteArray data = RandomBytes(c.bCpu ? m_nCpuBytes : m_nThroughputBytes);
    r.nBytes = data.size();
    {
        QFile file(from + QStringLiteral("/data.bin"));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
            r.strNote = QStringLiteral("cannot write the file");
            return r;
        }
    }
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    SPty near, peerIn, peerOut, otherIn, otherOut;
    std::unique_ptr<CTerminalDlg> dlg;
    std::unique_ptr<CPacedLine> line;
    CPeer sender, receiver;
    if (c.bWindow) {
        dlg = StartWindow(near);
        line = std::make_unique<CPacedLine>(
            std::vector<CPacedLine::SLink>{{near.master, peerIn.master},
                                           {peerOut.master, near.master}},
            m_nBaud, c.bWindowSends ? 0 : 1);
    } else {
        // lrzsz both sides: each one's output goes to the other's input.
        line = std::make_unique<CPacedLine>(
            std::vector<CPacedLine::SLink>{{peerOut.master, otherIn.master},
                                           {otherOut.master, peerIn.master}},
            m_nBaud, 0);
    }
    while (line->Tid() == 0)
        QThread::yieldCurrentThread();
    CCpuMeter meter(*line);
    m_sample = [&] { meter.Sample(); };
    const QString dirFrom = from, dirTo = to;
    bool bStarted = true;
    CXferCommand* pCommand = dlg ? dlg->DataView()->findChild<CXferCommand*>() : nullptr;
    if (c.bWindow) {
        // The window first, as a user starts it; lrzsz then finds it waiting.
        const QString path = c.bWindowSends ? from + QStringLiteral("/data.bin")
                             : c.eProtocol == XferProtocol::Ymodem
                                 ? to
                                 : to + QStringLiteral("/data.bin");
        AfxHooks answers;
        answers.messageBox = [](const QString& text, int) {
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
            return IDOK;
        };
        answers.doModal = [&](QDialog& d) {
            auto* pDialog = qobject_cast<CXferDialog*>(&d);
            if (!pDialog)
                return IDCANCEL;
            pDialog->ProtocolBox()->setCurrentIndex(
                pDialog->ProtocolBox()->findData(int(c.eProtocol)));
            pDialog->PathEdit()->setText(path);
            pDialog->accept();
            return d.result() == QDialog::Accepted ? IDOK : IDCANCEL;
        };
        AfxScopedHooks hooks(answers);
        std::unique_ptr<QMenu> menu(dlg->DataView()->CreateContextMenu(nullptr));
        for (QAction* pAction : menu->actions()) {
            if (pAction->text() ==
                (c.bWindowSends ? CXferCommand::SendText() : CXferCommand::ReceiveText()))
                pAction->trigger();
        }
        bStarted = pCommand->Session() && pCommand->Session()->IsActive();
        if (c.bWindowSends)
            bStarted = bStarted && receiver.Start(c.receiver, to, peerIn.path, peerOut.path);
        else
            bStarted = bStarted && sender.Start(c.sender, from, peerIn.path, peerOut.path);
    } else {
        bStarted = receiver.Start(c.receiver, to, otherIn.path, otherOut.path) &&
                   sender.Start(c.sender, from, peerIn.path, peerOut.path);
    }
    if (!bStarted) {
        r.strNote = QStringLiteral("did not start");
    } else {
        const bool bEnded = WaitFor(
            [&] {
                const bool bWindowDone = !pCommand || !pCommand->Session()->IsActive();
                return bWindowDone && !sender.Running() && !receiver.Running();
            },
            kCaseLimitMs);
        r.dCpu = meter.Total();
        r.cpu = meter.Threads();
        const SLineFigures f = line->Figures();
        const bool bFramed = f.nOutOfStep == 0 && f.nFirstBlockNs >= 0 && f.nFirstDataNs >= 0 &&
                             f.nEotNs > f.nFirstDataNs && f.nLastNs > f.nFirstBlockNs;
        if (bFramed) {
            r.dSeconds = (f.nLastNs - f.nFirstBlockNs) / 1e9;
            r.dEfficiency = r.nBytes / r.dSeconds / (m_nBaud / 10.0);
            r.dDataSeconds = (f.nEotNs - f.nFirstDataNs) / 1e9;
            r.dDataEfficiency = r.nBytes / r.dDataSeconds / (m_nBaud / 10.0);
        }
        r.nBlocks = f.nBlocks;
        r.nResent = f.nResent;
        r.nBadCrc = f.nBadCrc;
        const QByteArray got = [&] {
            QFile file(to + QStringLiteral("/data.bin"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        r.bOk = bEnded && got == data && bFramed;
        r.strNote = pCommand ? pCommand->Session()->EndNote()
                             : QStringLiteral("%1 exit %2, %3 exit %4")
                                   .arg(c.sender.first())
                                   .arg(sender.Exit())
                                   .arg(c.receiver.first())
                                   .arg(receiver.Exit());
        if (!bEnded)
            r.strNote += QStringLiteral(" (did not end)");
        else if (got != data)
            r.strNote += QStringLiteral(" (the file differs: %1 bytes stored)").arg(got.size());
        if (!bFramed)
            r.strNote += QStringLiteral(" (the line's blocks were not understood: %1 bytes out "
                                        "of step, block 1 %2, EOT %3)")
                             .arg(f.nOutOfStep)
                             .arg(f.nFirstDataNs >= 0 ? "seen" : "not seen")
                             .arg(f.nEotNs >= 0 ? "seen" : "not seen");
        if (!r.bOk)
            r.strNote += QStringLiteral("\n    lrzsz said: %1 %2\n    the line's last chunks:\n%3")
                             .arg(sender.Stderr(), receiver.Stderr(), line->Trace());
    }
    m_sample = nullptr;
    sender.Kill();
    receiver.Kill();
    line.reset();
    dlg.reset();
    QDir::setCurrent(saved);
    return r;
}

SResult CBench::RunRaw()
{
    SResult r;
    QTemporaryDir dir;
    const QByteArray data = RandomBytes(m_nCpuBytes);
    r.nBytes = data.size();
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            return r;
    }
    const QString saved = QDir::currentPath();
    QDir::setCurrent(dir.path());
    SPty near;
    auto dlg = StartWindow(near);
    auto line =
        std::make_unique<CPacedLine>(std::vector<CPacedLine::SLink>{{near.master, -1}}, m_nBaud);
    while (line->Tid() == 0)
        QThread::yieldCurrentThread();
    CCpuMeter meter(*line);
    m_sample = [&] { meter.Sample(); };
    const qint64 nStartNs = NowNs();
    {
        AfxHooks answers;
        answers.openFileName = [&](QWidget*) { return path; };
        AfxScopedHooks hooks(answers);
        dlg->OnSendTextFile();
    }
    const bool bEnded = WaitFor(
        [&] { return line->Delivered(0) >= data.size() && !dlg->IsSendingFile(); }, kCaseLimitMs);
    r.dCpu = meter.Total();
    r.cpu = meter.Threads();
    m_sample = nullptr;
    r.dSeconds = (line->LastDeliveredNs() - nStartNs) / 1e9;
    r.dEfficiency = r.nBytes / r.dSeconds / (m_nBaud / 10.0);
    r.bOk = bEnded && line->Delivered(0) == data.size();
    r.strNote = QStringLiteral("%1 bytes delivered").arg(line->Delivered(0));
    line.reset();
    dlg.reset();
    QDir::setCurrent(saved);
    return r;
}

void Print(const char* title, const SResult& r, bool bThreads)
{
    const QString data = r.nBlocks < 0 ? QStringLiteral("data       -        -")
                                       : QStringLiteral("data %1 s %2 %")
                                             .arg(r.dDataSeconds, 7, 'f', 2)
                                             .arg(100.0 * r.dDataEfficiency, 5, 'f', 1);
    std::printf("%-30s %-4s %8lld bytes  whole %7.2f s %5.1f %%  %s  cpu %5.2f s  load %s\n", title,
                r.bOk ? "ok" : "FAIL", static_cast<long long>(r.nBytes), r.dSeconds,
                100.0 * r.dEfficiency, qPrintable(data), r.dCpu, qPrintable(LoadAverage()));
    std::printf("    %s\n", qPrintable(r.strNote));
    if (r.nBlocks >= 0)
        std::printf("    blocks on the line %lld, sent again %lld, with a wrong CRC %lld\n",
                    static_cast<long long>(r.nBlocks), static_cast<long long>(r.nResent),
                    static_cast<long long>(r.nBadCrc));
    if (bThreads) {
        QString text;
        for (const auto& [name, cost] : r.cpu) {
            if (cost.dCpu > 0.004 || cost.nSwitches > 100)
                text += QStringLiteral("%1 %2 s (%3 switches)  ")
                            .arg(name)
                            .arg(cost.dCpu, 0, 'f', 2)
                            .arg(cost.nSwitches);
        }
        std::printf("    threads: %s\n", qPrintable(text));
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    KrNameThisThread("bench_xfer");
    int nBaud = 115200;
    qint64 nKiB = 128, nCpuMiB = 1;
    int nRounds = 1;
    QStringList only;
    const QStringList names{"y-send",    "y-receive", "y-lrzsz",    "x-send",
                            "x-receive", "x-lrzsz",   "cpu-ymodem", "cpu-raw"};
    bool bUsage = argc % 2 == 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        bool bNumber = true;
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (std::strcmp(argv[i], "--baud") == 0)
            nBaud = value.toInt(&bNumber);
        else if (std::strcmp(argv[i], "--kib") == 0)
            nKiB = value.toLongLong(&bNumber);
        else if (std::strcmp(argv[i], "--cpu-mib") == 0)
            nCpuMiB = value.toLongLong(&bNumber);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            nRounds = value.toInt(&bNumber);
        else if (std::strcmp(argv[i], "--case") == 0 && names.contains(value))
            only << value;
        else
            bUsage = true;
        bUsage = bUsage || !bNumber;
    }
    if (bUsage || nBaud < 300 || nBaud > 4000000 || nKiB < 1 || nKiB > 65536 || nCpuMiB < 1 ||
        nCpuMiB > 64 || nRounds < 1) {
        std::fprintf(stderr,
                     "usage: %s [--baud 300-4000000] [--kib 1-65536] [--cpu-mib 1-64] "
                     "[--rounds R>=1] [--case NAME]...\n  NAME: %s\n",
                     argv[0], qPrintable(names.join(QLatin1Char(' '))));
        return 2;
    }
    for (const char* program : {"sx", "sb", "rx", "rb"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty()) {
            std::fprintf(stderr, "lrzsz is missing (%s)\n", program);
            return 1;
        }
    }
    const QStringList rb{"rb", "-q"}, sb{"sb", "-q", "-k", "data.bin"};
    const QStringList rx{"rx", "-q", "-c", "data.bin"}, sx{"sx", "-q", "data.bin"};
    // The window's side: whether it sends; lrzsz's programs at either end.
    const SCase cases[] = {
        {"y-send", "YMODEM-1K  VornTerm -> rb", true, true, XferProtocol::Ymodem, {}, rb, false},
        {"y-receive",
         "YMODEM-1K  sb -k -> VornTerm",
         false,
         true,
         XferProtocol::Ymodem,
         sb,
         {},
         false},
        {"y-lrzsz", "YMODEM-1K  sb -k -> rb", false, false, XferProtocol::Ymodem, sb, rb, false},
        {"x-send", "XMODEM-CRC VornTerm -> rx -c", true, true, XferProtocol::Xmodem, {}, rx, false},
        {"x-receive",
         "XMODEM-CRC sx -> VornTerm",
         false,
         true,
         XferProtocol::XmodemCrc,
         sx,
         {},
         false},
        {"x-lrzsz", "XMODEM-CRC sx -> rx -c", false, false, XferProtocol::Xmodem, sx, rx, false},
        {"cpu-ymodem",
         "CPU: YMODEM VornTerm -> rb",
         true,
         true,
         XferProtocol::Ymodem,
         {},
         rb,
         true},
    };
    std::printf("line %d baud (%d bytes/s), throughput file %lld KiB, CPU file %lld MiB, "
                "%d round(s), load %s\n",
                nBaud, nBaud / 10, static_cast<long long>(nKiB), static_cast<long long>(nCpuMiB),
                nRounds, qPrintable(LoadAverage()));
    CBench bench(nBaud, nKiB * kKiB, nCpuMiB * kKiB * kKiB);
    bool bAllOk = true;
    // The rounds run the cases in turn, so that the load drifts over all alike.
    std::map<QString, std::vector<SResult>> results;
    for (int nRound = 1; nRound <= nRounds; ++nRound) {
        std::printf("round %d\n", nRound);
        for (const SCase& c : cases) {
            if (!only.isEmpty() && !only.contains(QLatin1String(c.name)))
                continue;
            const SResult r = bench.RunTransfer(c);
            Print(c.title, r, c.bWindow);
            results[QLatin1String(c.title)].push_back(r);
            bAllOk = bAllOk && r.bOk;
        }
        if (only.isEmpty() || only.contains(QStringLiteral("cpu-raw"))) {
            const SResult r = bench.RunRaw();
            Print("CPU: raw Send Text File", r, true);
            results[QStringLiteral("CPU: raw Send Text File")].push_back(r);
            bAllOk = bAllOk && r.bOk;
        }
    }
    if (nRounds > 1) {
        std::printf("medians over %d rounds (lowest - highest):\n", nRounds);
        for (auto& [title, runs] : results) {
            const auto median = [&](double SResult::*field) {
                std::vector<double> v;
                for (const SResult& r : runs)
                    v.push_back(r.*field);
                std::sort(v.begin(), v.end());
                return QStringLiteral("%1 (%2 - %3)")
                    .arg(v[v.size() / 2], 0, 'f', 3)
                    .arg(v.front(), 0, 'f', 3)
                    .arg(v.back(), 0, 'f', 3);
            };
            std::printf("%-30s whole %s  data %s  cpu %s\n", qPrintable(title),
                        qPrintable(median(&SResult::dEfficiency)),
                        qPrintable(median(&SResult::dDataEfficiency)),
                        qPrintable(median(&SResult::dCpu)));
        }
    }
    return bAllOk ? 0 : 1;
}
