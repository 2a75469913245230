// End to end: the real Terminal window, offscreen, "Log Input Data" checked,
// reading one end of a socat pseudo-terminal pair while a writer thread pushes
// a known byte pattern into the other end as fast as the pty takes it.
//
// The reference is the pair by itself: the same socat pair, the same writer
// code and the same byte count, with a plain reader thread (read() into a
// 64 KiB buffer, counting and discarding) in the window's place. It is
// measured just before and just after every run of the window, with the
// window's port closed meanwhile, and a run's ratio is its rate over the mean
// of the two (the mean because the load on the machine drifts: the two
// measurements bracket the run in time).
//
// Per run: the window's sustained rate (from the first write until the log
// holds every byte; the user-interface thread runs its event loop meanwhile,
// as on screen, and a timer looks at the log's size five times a second; the
// end is the log's last modification), the ratio, whether the log holds every
// byte in order, the peak resident memory while the window ran, the CPU time
// of this process and of socat per MB, the CPU seconds of the port's I/O
// thread (which also calls the window's receive sink), of the log's writer
// thread and of the user-interface thread, and each
// thread's CPU time, system calls and context switches per MB. After the last
// run, the delay from a short marker's write to its appearance in the idle
// view.
//
//   build/bench/bench_endtoend [MiB=64] [text|hex=hex] [runs=1] [--screen]
//                              [--index=on|off|alternate]
//
// --screen: the window on the platform that QT_QPA_PLATFORM names (xcb under
// Xvfb, say), where the accessibility bridge can be active, instead of
// offscreen. Whether accessibility is active is printed in any case.
// --index: the timing index beside the log on (the default, as in use), off,
// or off and on by turns (odd runs off, even runs on; give an even number of
// runs), with a summary for each and the index's size a MB of log.

#include "Afx.h"
#include "BenchClock.h"
#include "CDataView.h"
#include "CInputLog.h"
#include "CTerminalDlg.h"
#include "LogIndexFormat.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr double kGoalRatio = 0.90;
constexpr double kGoalPeakMB = 100.0;
// How often the user-interface thread looks at the log during a transfer.
constexpr int kCheckMs = 200;

// The threads whose CPU time each run reports, by the names they carry.
constexpr const char* kPortThread = "KrCommPort I/O";
constexpr const char* kLogThread = "VornLogWriter";
constexpr const char* kUiThread = "user interface"; // the main thread

char PatternByte(qint64 i)
{
    return char((i * 31 + (i >> 9)) & 0xFF);
}

// Fields of a /proc stat line after the command name, which may hold spaces;
// empty when the file cannot be read.
QList<QByteArray> StatFields(const QString& strPath, QByteArray* pName = nullptr)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = file.readAll();
    const qsizetype nOpen = line.indexOf('(');
    const qsizetype nClose = line.lastIndexOf(')');
    if (nOpen < 0 || nClose < nOpen)
        return {};
    if (pName)
        *pName = line.mid(nOpen + 1, nClose - nOpen - 1);
    return line.mid(nClose + 2).split(' ');
}

// User plus system time from a /proc stat file (a process or one thread); -1
// when it cannot be read. The figures are in clock ticks (10 ms).
double StatCpuSeconds(const QString& strPath, QByteArray* pName = nullptr)
{
    const QList<QByteArray> fields = StatFields(strPath, pName);
    // utime and stime are the 14th and 15th fields, the name being the 2nd.
    if (fields.size() < 13)
        return -1;
    static const double dTick = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toLongLong() + fields[12].toLongLong()) / dTick;
}

// What one thread has done so far, from its /proc files.
struct SThreadStats
{
    QByteArray name;
    double dCpu = 0;      // seconds on a CPU (to the nanosecond where known)
    qint64 nReads = 0;    // read-type system calls
    qint64 nWrites = 0;   // write-type system calls
    qint64 nSwitches = 0; // context switches, voluntary or not

    void Add(const SThreadStats& o, int nSign)
    {
        dCpu += nSign * o.dCpu;
        nReads += nSign * o.nReads;
        nWrites += nSign * o.nWrites;
        nSwitches += nSign * o.nSwitches;
    }
};

// The number after "key:" in a /proc file of "key: value" lines; 0 if none.
qint64 ProcValue(const QByteArray& text, const QByteArray& key)
{
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(key) && line.size() > key.size() && line[key.size()] == ':')
            return line.mid(key.size() + 1).trimmed().toLongLong();
    }
    return 0;
}

QByteArray ReadProcFile(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// strDir: /proc/self/task/<tid>, or /proc/thread-self for the calling thread.
// The time on a CPU comes from schedstat (nanoseconds) where it can be read,
// else from stat (clock ticks of 10 ms).
SThreadStats ReadThreadStats(const QString& strDir)
{
    SThreadStats t;
    t.dCpu = std::max(0.0, StatCpuSeconds(strDir + QStringLiteral("/stat"), &t.name));
    bool bNs = false;
    const qint64 nNs =
        ReadProcFile(strDir + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong(&bNs);
    if (bNs)
        t.dCpu = nNs / 1e9;
    const QByteArray io = ReadProcFile(strDir + QStringLiteral("/io"));
    t.nReads = ProcValue(io, "syscr");
    t.nWrites = ProcValue(io, "syscw");
    const QByteArray status = ReadProcFile(strDir + QStringLiteral("/status"));
    t.nSwitches = ProcValue(status, "voluntary_ctxt_switches") +
                  ProcValue(status, "nonvoluntary_ctxt_switches");
    return t;
}

// Every thread of this process, by thread id.
std::map<QString, SThreadStats> AllThreadStats()
{
    std::map<QString, SThreadStats> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    const QString main = QString::number(::getpid());
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        threads[tid] = ReadThreadStats(tasks.filePath(tid));
        if (tid == main)
            threads[tid].name = kUiThread;
    }
    return threads;
}

// What each named thread did between two AllThreadStats() samples; a thread
// that started in between counts in full, one that ended is missing.
std::map<QByteArray, SThreadStats> ThreadDelta(const std::map<QString, SThreadStats>& before,
                                               const std::map<QString, SThreadStats>& after)
{
    std::map<QByteArray, SThreadStats> byName;
    for (const auto& [tid, thread] : after) {
        SThreadStats& sum = byName[thread.name];
        sum.name = thread.name;
        sum.Add(thread, 1);
        const auto it = before.find(tid);
        if (it != before.end())
            sum.Add(it->second, -1);
    }
    return byName;
}

// Sets the resident-memory high-water mark back to what is resident now, so
// that the next reading covers only what follows.
bool ResetPeakRss()
{
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool bWritten = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && bWritten;
}

// The high-water mark of resident memory (since the last reset), KiB.
long PeakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

long MaxRssKiB()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Pages of its own, handed back to the system when it goes: a measurement's
// buffers leave nothing resident behind for the next one.
class CPageBuffer
{
public:
    explicit CPageBuffer(size_t nSize) : m_nSize(nSize)
    {
        void* p =
            ::mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_p = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }
    ~CPageBuffer()
    {
        if (m_p)
            ::munmap(m_p, m_nSize);
    }
    CPageBuffer(const CPageBuffer&) = delete;
    CPageBuffer& operator=(const CPageBuffer&) = delete;

    char* Data() const { return m_p; }

private:
    char* m_p = nullptr;
    size_t m_nSize = 0;
};

// Pushes nTotal bytes of the pattern into a pty end as fast as it takes them,
// on a thread of its own ("flood writer"); the same code feeds the plain
// reader and the window.
class CFloodWriter
{
public:
    CFloodWriter(int fd, qint64 nTotal) : m_thread([this, fd, nTotal] { Run(fd, nTotal); }) {}
    ~CFloodWriter() { Join(); }
    CFloodWriter(const CFloodWriter&) = delete;
    CFloodWriter& operator=(const CFloodWriter&) = delete;

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // After Join: the writing thread's own CPU time, and the reason a write
    // failed (0 when every byte went).
    double CpuSeconds() const { return m_dCpu; }
    // After Join: the writing thread's system calls and context switches.
    const SThreadStats& Stats() const { return m_stats; }
    int Error() const { return m_nError; }

private:
    void Run(int fd, qint64 nTotal)
    {
        pthread_setname_np(pthread_self(), "flood writer");
        const QString self = QStringLiteral("/proc/thread-self");
        const SThreadStats start = ReadThreadStats(self);
        const double dStart = ::CpuSeconds(RUSAGE_THREAD);
        CPageBuffer chunk(kChunk);
        if (!chunk.Data())
            m_nError = ENOMEM;
        for (qint64 nSent = 0; nSent < nTotal && m_nError == 0;) {
            const qint64 n = std::min<qint64>(qint64(kChunk), nTotal - nSent);
            for (qint64 i = 0; i < n; ++i)
                chunk.Data()[i] = PatternByte(nSent + i);
            qint64 nOff = 0;
            while (nOff < n) {
                const ssize_t w = ::write(fd, chunk.Data() + nOff, size_t(n - nOff));
                if (w > 0) {
                    nOff += w;
                } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
                    m_nError = errno;
                    break;
                }
            }
            nSent += n;
        }
        m_dCpu = ::CpuSeconds(RUSAGE_THREAD) - dStart;
        m_stats = ReadThreadStats(self);
        m_stats.Add(start, -1);
    }

    double m_dCpu = 0;
    SThreadStats m_stats;
    int m_nError = 0;
    std::thread m_thread; // last: starts once the rest is set
};

// Busy time of all CPUs together, from /proc/stat; -1 when unknown.
double MachineBusySeconds()
{
    const QByteArray stat = ReadProcFile(QStringLiteral("/proc/stat"));
    const QList<QByteArray> fields = stat.left(stat.indexOf('\n')).simplified().split(' ');
    // cpu user nice system idle iowait irq softirq steal
    if (fields.size() < 9 || fields[0] != "cpu")
        return -1;
    qint64 nBusy = 0;
    for (int i : {1, 2, 3, 6, 7, 8})
        nBusy += fields[i].toLongLong();
    return nBusy / double(sysconf(_SC_CLK_TCK));
}

struct SCpu
{
    double dProcess = 0; // this process, every thread
    double dWriter = 0;  // of which the flood writer
    double dSocat = -1;  // the socat process; -1 when unknown
    // CPUs kept busy by everything else (other processes, the kernel's
    // workers), on average; -1 when unknown.
    double dOthersCores = -1;
};

// CPU time of this process, of socat and of the whole machine between Start
// and Stop. Used on one thread.
class CCpuMeter
{
public:
    explicit CCpuMeter(qint64 nSocatPid)
        : m_strSocat(QStringLiteral("/proc/%1/stat").arg(nSocatPid))
    {
    }
    void Start()
    {
        m_dMachine0 = MachineBusySeconds();
        m_dSocat0 = StatCpuSeconds(m_strSocat);
        m_dSelf0 = CpuSeconds(RUSAGE_SELF);
        m_timer.start();
    }
    SCpu Stop() const
    {
        SCpu cpu;
        const double dWall = m_timer.nsecsElapsed() / 1e9;
        cpu.dProcess = CpuSeconds(RUSAGE_SELF) - m_dSelf0;
        const double dSocat1 = StatCpuSeconds(m_strSocat);
        if (m_dSocat0 >= 0 && dSocat1 >= 0)
            cpu.dSocat = dSocat1 - m_dSocat0;
        const double dMachine1 = MachineBusySeconds();
        if (m_dMachine0 >= 0 && dMachine1 >= 0 && cpu.dSocat >= 0 && dWall > 0)
            cpu.dOthersCores =
                std::max(0.0, dMachine1 - m_dMachine0 - cpu.dProcess - cpu.dSocat) / dWall;
        return cpu;
    }

private:
    QString m_strSocat;
    double m_dMachine0 = -1;
    double m_dSocat0 = -1;
    double m_dSelf0 = 0;
    QElapsedTimer m_timer;
};

struct SPtyOwn
{
    double dSeconds = 0;
    qint64 nBytes = 0;
    qint64 nStale = 0; // bytes found on the way before the writer started
    SCpu cpu;
    SThreadStats reader;
    SThreadStats writer;
    QString strError;
};

// The pair by itself: the flood writer into fdPeer, a plain reader thread
// ("plain reader") draining the other end, until nTotal bytes came through.
SPtyOwn MeasurePtyOwn(const QString& strDev, int fdPeer, qint64 nTotal, qint64 nSocatPid)
{
    SPtyOwn r;
    const int fd = ::open(QFile::encodeName(strDev).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        r.strError = QStringLiteral("cannot open %1: %2")
                         .arg(strDev, QString::fromLocal8Bit(std::strerror(errno)));
        return r;
    }
    // Raw, and a read returns once anything is there, or 0 after 5 s of
    // silence. The window sets its own modes when it opens the port.
    termios saved{};
    const bool bSaved = ::tcgetattr(fd, &saved) == 0;
    termios raw = saved;
    ::cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 50;
    ::tcsetattr(fd, TCSANOW, &raw);

    // Whatever an earlier stage left on the way is read first: 100 ms of
    // silence ends it.
    {
        termios quick = raw;
        quick.c_cc[VTIME] = 1;
        ::tcsetattr(fd, TCSANOW, &quick);
        char stale[4096];
        for (ssize_t n; (n = ::read(fd, stale, sizeof stale)) > 0;)
            r.nStale += n;
        ::tcsetattr(fd, TCSANOW, &raw);
    }

    CCpuMeter meter(nSocatPid);
    meter.Start();
    QElapsedTimer timer;
    timer.start();
    qint64 nDoneNs = 0;
    std::thread reader([&] {
        pthread_setname_np(pthread_self(), "plain reader");
        const QString self = QStringLiteral("/proc/thread-self");
        const SThreadStats start = ReadThreadStats(self);
        CPageBuffer buf(kChunk);
        while (buf.Data() && r.nBytes < nTotal) {
            const ssize_t n = ::read(fd, buf.Data(), kChunk);
            if (n > 0)
                r.nBytes += n;
            else if (n == 0 || errno != EINTR)
                break;
        }
        nDoneNs = timer.nsecsElapsed();
        r.reader = ReadThreadStats(self);
        r.reader.Add(start, -1);
    });
    CFloodWriter writer(fdPeer, nTotal);
    reader.join();
    writer.Join();
    r.cpu = meter.Stop();
    r.cpu.dWriter = writer.CpuSeconds();
    r.writer = writer.Stats();
    r.dSeconds = nDoneNs / 1e9;

    if (writer.Error() != 0)
        r.strError = QStringLiteral("writing to the pty failed: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(writer.Error())));
    else if (r.nBytes < nTotal)
        r.strError = QStringLiteral("the reader saw %1 of %2 bytes, then 5 s of silence")
                         .arg(r.nBytes)
                         .arg(nTotal);
    if (bSaved)
        ::tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return r;
}

struct SWindowRun
{
    double dSeconds = 0;
    bool bComplete = false; // the log reached the byte count in time
    bool bExact = false;
    qint64 nLogSize = 0;
    long nPeakKiB = 0;
    bool bPeakOfRunOnly = false; // the high-water mark was reset before the run
    bool bAccessible = false;    // accessibility was active at the end of the run
    SCpu cpu;
    std::map<QByteArray, SThreadStats> threads; // the window's and the harness's
    SThreadStats writer;
    QString strError;
};

bool LogMatchesPattern(const QString& strLog, qint64 nTotal, qint64* pSize)
{
    QFile log(strLog);
    if (!log.open(QIODevice::ReadOnly))
        return false;
    *pSize = log.size();
    bool bExact = log.size() == nTotal;
    for (qint64 nPos = 0; bExact && nPos < nTotal;) {
        const QByteArray piece = log.read(1 << 20);
        if (piece.isEmpty())
            return false;
        for (qsizetype i = 0; i < piece.size() && bExact; ++i)
            bExact = piece[i] == PatternByte(nPos + i);
        nPos += piece.size();
    }
    return bExact;
}

// The window with its port open on strDev, "Log Input Data" checked, hex or
// text display.
std::unique_ptr<CTerminalDlg> OpenWindow(const QString& strDev, bool bHex, QString* pWhy)
{
    auto pDlg = std::make_unique<CTerminalDlg>();
    pDlg->Create();
    CKrCommConfig config;
    config.strPort = strDev;
    config.nBaud = 115200;
    pDlg->Port().SetConfig(config);
    if (!pDlg->Port().Open()) {
        *pWhy = pDlg->Port().GetDescription();
        return nullptr;
    }
    pDlg->LogInputCheck()->setChecked(true);
    if (bHex)
        pDlg->OnToggleHex(); // a new window starts in text mode
    pDlg->show();
    qApp->processEvents();
    return pDlg;
}

qint64 RealtimeNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The time of a file's last modification (CLOCK_REALTIME, ns); -1 if none.
qint64 ModifiedNs(const QString& strPath)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(strPath).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The flood through the window, until the log holds nTotal bytes (at most
// ten minutes).
SWindowRun MeasureWindow(const QString& strLog, int fdPeer, qint64 nTotal, qint64 nSocatPid)
{
    SWindowRun r;
    QFile::remove(strLog);
    QFile::remove(LogIndex::IndexNameFor(strLog));
    r.bPeakOfRunOnly = ResetPeakRss();
    const auto threads0 = AllThreadStats();
    CCpuMeter meter(nSocatPid);
    meter.Start();
    QElapsedTimer timer;
    timer.start();
    const qint64 nStartNs = RealtimeNs();
    CFloodWriter writer(fdPeer, nTotal);
    // The user-interface thread runs its event loop as it does on screen; a
    // timer looks at the log's size a few times a second and touches nothing
    // of the window. The transfer ended when the log was last written: its
    // modification time, to the kernel's file clock (a few ms).
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        r.bComplete = QFileInfo(strLog).size() >= nTotal;
        if (r.bComplete || timer.elapsed() >= 600000)
            loop.quit();
    });
    check.start(kCheckMs);
    loop.exec();
    check.stop();
    r.dSeconds = timer.nsecsElapsed() / 1e9;
    const qint64 nEndNs = ModifiedNs(strLog);
    if (r.bComplete && nEndNs > nStartNs)
        r.dSeconds = (nEndNs - nStartNs) / 1e9;
    r.bAccessible = QAccessible::isActive();
    r.cpu = meter.Stop();
    r.threads = ThreadDelta(threads0, AllThreadStats());
    r.nPeakKiB = PeakRssKiB();
    writer.Join();
    r.cpu.dWriter = writer.CpuSeconds();
    r.writer = writer.Stats();
    r.threads.erase("flood writer"); // it may or may not have ended by then
    if (writer.Error() != 0)
        r.strError = QStringLiteral("writing to the pty failed: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(writer.Error())));
    return r;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString CpuText(const SCpu& cpu, qint64 nTotal, const char* pszRest)
{
    QString s = QStringLiteral("%1 s/MB (writer %2, %3 %4)")
                    .arg(cpu.dProcess / MB(nTotal), 0, 'f', 4)
                    .arg(cpu.dWriter / MB(nTotal), 0, 'f', 4)
                    .arg(QString::fromLatin1(pszRest))
                    .arg((cpu.dProcess - cpu.dWriter) / MB(nTotal), 0, 'f', 4);
    if (cpu.dSocat >= 0)
        s += QStringLiteral(", socat %1 s/MB").arg(cpu.dSocat / MB(nTotal), 0, 'f', 4);
    if (cpu.dOthersCores >= 0)
        s += QStringLiteral("; rest of the machine %1 CPUs busy").arg(cpu.dOthersCores, 0, 'f', 2);
    return s;
}

// One thread's figures per MB of the transfer.
void PrintThread(const char* pszName, const SThreadStats& t, double dCpu, qint64 nTotal)
{
    const double dMB = MB(nTotal);
    std::printf("    thread %-16s cpu %.4f s/MB, %6.0f reads/MB, %6.0f writes/MB, %6.0f "
                "switches/MB\n",
                pszName, dCpu / dMB, t.nReads / dMB, t.nWrites / dMB, t.nSwitches / dMB);
}

void PrintPtyOwn(const char* pszWhen, const SPtyOwn& r, qint64 nTotal)
{
    if (!r.strError.isEmpty()) {
        std::printf("  pty pair alone, %-6s  failed: %s\n", pszWhen, qPrintable(r.strError));
        return;
    }
    std::printf("  pty pair alone, %-6s  %6.1f MB/s (%.2f s)  cpu %s\n", pszWhen,
                MB(nTotal) / r.dSeconds, r.dSeconds, qPrintable(CpuText(r.cpu, nTotal, "reader")));
    PrintThread("flood writer", r.writer, r.cpu.dWriter, nTotal);
    PrintThread("plain reader", r.reader, r.cpu.dProcess - r.cpu.dWriter, nTotal);
    if (r.nStale > 0)
        std::printf("    (%lld stale bytes read and set aside first)\n", r.nStale);
}

double ThreadCpu(const std::map<QByteArray, SThreadStats>& threads, const char* pszName)
{
    const auto it = threads.find(QByteArray(pszName));
    return it == threads.end() ? 0 : it->second.dCpu;
}

int Usage(const char* pszWhy)
{
    std::fprintf(stderr,
                 "%s\nusage: bench_endtoend [MiB] [text|hex] [runs] [--screen] "
                 "[--index=on|off|alternate]\n"
                 "  MiB: 1 to 4096 (default 64); text or hex (default hex); runs: 1 to 50 "
                 "(default 1)\n"
                 "  --screen: the platform QT_QPA_PLATFORM names instead of offscreen\n"
                 "  --index: the timing index on (default), off, or off and on by turns\n",
                 pszWhy);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QList<QByteArray> args;
    bool bScreen = false;
    QByteArray index = "on";
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--screen")
            bScreen = true;
        else if (arg.startsWith("--index="))
            index = arg.mid(8);
        else if (arg.startsWith("--"))
            return Usage("The options are --screen and --index=on|off|alternate.");
        else
            args.append(arg);
    }
    if (!bScreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool bOk = true;
    const qint64 nMiB = args.size() > 0 ? args[0].toLongLong(&bOk) : 64;
    if (!bOk || nMiB < 1 || nMiB > 4096)
        return Usage("The size is a whole number of MiB, 1 to 4096.");
    const QByteArray mode = args.size() > 1 ? args[1] : QByteArray("hex");
    if (mode != "text" && mode != "hex")
        return Usage("The mode is \"text\" or \"hex\".");
    const bool bHex = mode == "hex";
    const int nRuns = args.size() > 2 ? args[2].toInt(&bOk) : 1;
    if (!bOk || nRuns < 1 || nRuns > 50)
        return Usage("The number of runs is a whole number, 1 to 50.");
    if (index != "on" && index != "off" && index != "alternate")
        return Usage("The index is --index=on, --index=off or --index=alternate.");
    const qint64 nTotal = nMiB * 1024 * 1024;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AfxScopedHooks quiet(AfxHooks{[](const QString&, int) { return IDOK; }, {}, [] {}, {}, {}, {}});

    const QString devLink = dir.filePath(QStringLiteral("dev"));
    const QString peerLink = dir.filePath(QStringLiteral("peer"));
    QProcess socat;
    socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=%1").arg(devLink),
                                          QStringLiteral("pty,raw,echo=0,link=%1").arg(peerLink)});
    if (!socat.waitForStarted(5000)) {
        std::fprintf(stderr, "socat did not start: %s (apt-get install socat)\n",
                     qPrintable(socat.errorString()));
        return 1;
    }
    const qint64 nSocatPid = socat.processId();
    for (int i = 0; i < 500 && !(QFileInfo::exists(devLink) && QFileInfo::exists(peerLink)); ++i)
        QThread::msleep(10);
    const QString dev = QFileInfo(devLink).canonicalFilePath();
    const QString peer = QFileInfo(peerLink).canonicalFilePath();
    const int fdPeer = ::open(QFile::encodeName(peer).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fdPeer < 0) {
        std::fprintf(stderr, "cannot open the pty %s: %s\n", qPrintable(peer),
                     std::strerror(errno));
        return 1;
    }
    const QString log = dir.filePath(CInputLog::FileNameFor(QDateTime::currentDateTime()));

    std::printf("mode %s, %lld MiB per transfer, %d run%s; pty pair %s -> %s (socat pid %lld)\n",
                bHex ? "hex" : "text", nMiB, nRuns, nRuns == 1 ? "" : "s", qPrintable(peer),
                qPrintable(dev), nSocatPid);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("reference: the pair alone, mean of the measurements just before and just after "
                "each run\n");
    std::fflush(stdout);

    bool bAllExact = true;
    std::vector<double> ratios, rates, refs, peaks, cpus, windowCpus, portCpus, logCpus, uiCpus;
    std::vector<double> delays;
    // By whether the timing index was kept: ratio, CPU s/MB, index bytes a MB.
    struct SIndexGroup
    {
        std::vector<double> ratios, cpus, sizes;
    } groups[2];
    SPtyOwn before = MeasurePtyOwn(dev, fdPeer, nTotal, nSocatPid);
    for (int nRun = 1; nRun <= nRuns; ++nRun) {
        std::printf("run %d\n", nRun);
        if (nRun > 1 && before.strError.isEmpty())
            std::printf("  pty pair alone, before  %6.1f MB/s (run %d's \"after\")\n",
                        MB(nTotal) / before.dSeconds, nRun - 1);
        else
            PrintPtyOwn("before", before, nTotal);

        QString why;
        std::unique_ptr<CTerminalDlg> pDlg = OpenWindow(dev, bHex, &why);
        if (!pDlg) {
            std::fprintf(stderr, "the window could not open %s: %s\n", qPrintable(dev),
                         qPrintable(why));
            return 1;
        }
        const bool bIndex = index == "on" || (index == "alternate" && nRun % 2 == 0);
        pDlg->ReceiveSink().InputLog().SetIndexing(bIndex);
        std::printf("  accessibility           %s at the start; timing index %s\n",
                    QAccessible::isActive() ? "active" : "not active", bIndex ? "on" : "off");
        const SWindowRun run = MeasureWindow(log, fdPeer, nTotal, nSocatPid);
        pDlg->Port().Close();
        const SPtyOwn after = MeasurePtyOwn(dev, fdPeer, nTotal, nSocatPid);
        qint64 nLogSize = 0;
        const bool bExact = run.bComplete && LogMatchesPattern(log, nTotal, &nLogSize);
        bAllExact = bAllExact && bExact && run.strError.isEmpty();

        const double dRate = MB(nTotal) / run.dSeconds;
        std::printf("  VornTerm                %6.1f MB/s (%.2f s)  cpu %s\n", dRate, run.dSeconds,
                    qPrintable(CpuText(run.cpu, nTotal, "window")));
        const double dPortCpu = ThreadCpu(run.threads, kPortThread);
        const double dLogCpu = ThreadCpu(run.threads, kLogThread);
        const double dUiCpu = ThreadCpu(run.threads, kUiThread);
        std::printf("  CPU seconds             window %.3f: port I/O %.3f, log writer %.3f, user "
                    "interface %.3f (accessibility %s)\n",
                    run.cpu.dProcess - run.cpu.dWriter, dPortCpu, dLogCpu, dUiCpu,
                    run.bAccessible ? "active" : "not active");
        PrintThread("flood writer", run.writer, run.cpu.dWriter, nTotal);
        for (const auto& [name, thread] : run.threads) {
            if (thread.dCpu > 0 || thread.nReads + thread.nWrites > 0)
                PrintThread(name.constData(), thread, thread.dCpu, nTotal);
        }
        if (!run.strError.isEmpty())
            std::printf("    %s\n", qPrintable(run.strError));
        PrintPtyOwn("after", after, nTotal);
        if (before.strError.isEmpty() && after.strError.isEmpty()) {
            const double dBefore = MB(nTotal) / before.dSeconds;
            const double dAfter = MB(nTotal) / after.dSeconds;
            const double dRef = (dBefore + dAfter) / 2;
            const double dRatio = dRate / dRef;
            std::printf("  reference               %6.1f MB/s (mean of before and after): ratio "
                        "%.3f (%.3f against the faster)\n",
                        dRef, dRatio, dRate / std::max(dBefore, dAfter));
            ratios.push_back(dRatio);
            refs.push_back(dRef);
        }
        std::printf("  log                     %s", bExact ? "every byte, in order" : "MISMATCH");
        if (!bExact)
            std::printf(" (%lld of %lld bytes%s)", nLogSize, nTotal,
                        run.bComplete ? "" : ", not complete after 10 minutes");
        std::printf("\n");
        std::printf("  peak RSS                %.1f MB%s\n", run.nPeakKiB / 1024.0,
                    run.bPeakOfRunOnly ? " (high-water mark reset just before the run)"
                                       : " (whole process: the mark could not be reset)");
        rates.push_back(dRate);
        windowCpus.push_back(run.cpu.dProcess - run.cpu.dWriter);
        portCpus.push_back(dPortCpu);
        logCpus.push_back(dLogCpu);
        uiCpus.push_back(dUiCpu);
        peaks.push_back(run.nPeakKiB / 1024.0);
        cpus.push_back(run.cpu.dProcess / MB(nTotal));
        const qint64 nIndexSize = QFileInfo(LogIndex::IndexNameFor(log)).size();
        std::printf("  timing index            %lld bytes, %.0f a MB of log\n", nIndexSize,
                    nIndexSize / MB(nTotal));
        SIndexGroup& group = groups[bIndex];
        if (!ratios.empty() && before.strError.isEmpty() && after.strError.isEmpty())
            group.ratios.push_back(ratios.back());
        group.cpus.push_back(run.cpu.dProcess / MB(nTotal));
        group.sizes.push_back(nIndexSize / MB(nTotal));
        std::fflush(stdout);

        if (nRun == nRuns) {
            // Delay: one short line at a time into the idle window, until the
            // view shows it.
            if (!pDlg->Port().Open()) {
                std::fprintf(stderr, "the window could not open %s again: %s\n", qPrintable(dev),
                             qPrintable(pDlg->Port().GetDescription()));
                return 1;
            }
            for (int i = 0; i < 50; ++i) {
                const QByteArray marker = QByteArray("<mark") + QByteArray::number(1000 + i) + ">";
                const QString want = bHex ? QString::fromLatin1(marker.toHex(' ').toUpper())
                                                .replace(QLatin1Char(' '), QLatin1String("] ["))
                                          : QString::fromLatin1(marker);
                QElapsedTimer t;
                t.start();
                if (::write(fdPeer, marker.constData(), size_t(marker.size())) != marker.size())
                    break;
                while (t.elapsed() < 2000) {
                    app.processEvents(QEventLoop::AllEvents, 1);
                    const QStringList rows = pDlg->DataView()->VisibleRows();
                    const QString tail =
                        rows.mid(std::max(0, int(rows.size()) - 3)).join(QString());
                    if (tail.contains(want))
                        break;
                }
                delays.push_back(t.nsecsElapsed() / 1e6);
                QThread::msleep(20);
            }
            pDlg->Port().Close();
        }
        pDlg.reset();
        before = after;
    }
    std::sort(delays.begin(), delays.end());

    ::close(fdPeer);
    socat.terminate();
    if (!socat.waitForFinished(3000)) {
        socat.kill();
        socat.waitForFinished(3000);
    }

    std::printf("summary, %s, %lld MiB, %d run%s\n", bHex ? "hex" : "text", nMiB, nRuns,
                nRuns == 1 ? "" : "s");
    std::printf("  sustained     median %.1f MB/s; reference median %.1f MB/s\n", Median(rates),
                Median(refs));
    if (!ratios.empty()) {
        std::printf("  ratio        ");
        for (double d : ratios)
            std::printf(" %.3f", d);
        std::printf("; median %.3f (goal >= %.2f: %s)\n", Median(ratios), kGoalRatio,
                    Median(ratios) >= kGoalRatio ? "met" : "not met");
    }
    const double dPeak = *std::max_element(peaks.begin(), peaks.end());
    std::printf("  log           %s\n", bAllExact ? "every byte, in order, every run" : "MISMATCH");
    std::printf("  peak RSS      max %.1f MB over the runs (goal < %.0f MB: %s); whole process "
                "%.1f MB\n",
                dPeak, kGoalPeakMB, dPeak < kGoalPeakMB ? "met" : "not met", MaxRssKiB() / 1024.0);
    std::printf("  cpu           median %.4f s/MB of this process, writer included\n",
                Median(cpus));
    std::printf("  cpu seconds   median window %.3f: port I/O %.3f, log writer %.3f, user "
                "interface %.3f\n",
                Median(windowCpus), Median(portCpus), Median(logCpus), Median(uiCpus));
    if (index == "alternate" && !groups[0].cpus.empty() && !groups[1].cpus.empty()) {
        for (const bool bOn : {false, true}) {
            const SIndexGroup& g = groups[bOn];
            std::printf("  index %-3s     %zu runs: ratio median %.3f, cpu median %.4f s/MB, index "
                        "%.0f bytes a MB of log\n",
                        bOn ? "on" : "off", g.cpus.size(), Median(g.ratios), Median(g.cpus),
                        Median(g.sizes));
        }
        std::printf("  index on against off: ratio %+.1f %%, cpu a MB %+.1f %%\n",
                    (Median(groups[1].ratios) / Median(groups[0].ratios) - 1) * 100,
                    (Median(groups[1].cpus) / Median(groups[0].cpus) - 1) * 100);
    }
    if (!delays.empty())
        std::printf("  arrival to view delay  median %.1f ms, max %.1f ms (%zu samples)\n",
                    delays[delays.size() / 2], delays.back(), delays.size());
    return bAllExact ? 0 : 1;
}
