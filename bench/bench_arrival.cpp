// Arrival times as the log keeps them: the real Terminal window, offscreen,
// "Log Input Data" checked, its port open on a raw pseudo-terminal.
//
// 1. Bursts with known gaps: for each gap (100, 20 and 2 ms) a writer thread
//    sends bursts of 64 distinct bytes with that much silence between them,
//    noting its own wall clock as each burst goes. vornterm-log's frames
//    (--frames=1 --csv --time=epoch, run in this process) must find every
//    burst where it begins, and its time must be within 5 ms of the
//    writer's; the log must hold exactly what was sent.
// 2. The index's size at a line's rate: text paced at a baud rate, written
//    in pieces of a given size as a serial adapter hands them over (12 bytes
//    every 1.04 ms at 115200 baud is an adapter whose latency timer is 1 ms,
//    115 bytes every 10 ms one of 10 ms), and 4 KiB every millisecond, a
//    line faster than any serial one; for each, the index's bytes a MB of
//    log.
//
// The writer thread asks for real-time priority, so that its pace holds on
// a busy machine; it says whether it got it.
//
//   build/bench/bench_arrival [bursts per gap=20] [baud=115200] [seconds=10]

#include "Afx.h"
#include "CInputLog.h"
#include "CTerminalDlg.h"
#include "KrTimeStamp.h"
#include "LogIndexFormat.h"
#include "LogIndexReader.h"
#include "LogTool.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBurst = 64;
constexpr double kGoalMs = 5.0;
constexpr int kGapsMs[] = {100, 20, 2};

qint64 WallUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void SleepUntilUs(qint64 nMonoUs)
{
    timespec ts{};
    ts.tv_sec = nMonoUs / 1000000;
    ts.tv_nsec = (nMonoUs % 1000000) * 1000;
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

qint64 MonoUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// Runs the event loop until the log holds nBytes (at most 60 s).
bool WaitForLog(CTerminalDlg& dlg, const QString& strLog, qint64 nBytes)
{
    QEventLoop loop;
    QTimer check;
    int nLeft = 600;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (QFileInfo(strLog).size() >= nBytes || --nLeft <= 0)
            loop.quit();
    });
    check.start(100);
    loop.exec();
    return dlg.ReceiveSink().InputLog().Flush(5000) && QFileInfo(strLog).size() == nBytes;
}

// Runs fn on a thread of its own while the user-interface thread runs its
// event loop, as on screen.
template <typename Fn> void WhileTheWindowRuns(Fn fn)
{
    std::atomic<bool> bDone{false};
    std::thread writer([&] {
        // Paced on time even on a busy machine, when the system allows it:
        // the gaps the index sees are then the reading side's, as with a
        // real line.
        static bool bToldRealTime = false;
        sched_param param{};
        param.sched_priority = 10;
        const int nRt = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
        if (!bToldRealTime) {
            std::printf("the writer runs %s\n",
                        nRt == 0 ? "with real-time priority (SCHED_FIFO)"
                                 : "at normal priority (no real-time priority allowed)");
            bToldRealTime = true;
        }
        fn();
        bDone = true;
    });
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (bDone)
            loop.quit();
    });
    check.start(20);
    loop.exec();
    writer.join();
}

struct SFrame
{
    qint64 nWallUs = 0, nOffset = 0, nLength = 0;
};

// The frames vornterm-log finds, from its CSV rows.
std::vector<SFrame> Frames(const QString& strLog, QString* pErr)
{
    QByteArray csv;
    QBuffer out(&csv);
    out.open(QIODevice::WriteOnly);
    const int nStatus = RunLogTool({QStringLiteral("--frames=1"), QStringLiteral("--csv"),
                                    QStringLiteral("--time=epoch"), strLog},
                                   out, *pErr);
    std::vector<SFrame> frames;
    if (nStatus != 0)
        return frames;
    for (const QByteArray& row : csv.split('\n').mid(1)) {
        const QList<QByteArray> f = row.split(',');
        if (f.size() < 3)
            continue;
        const QList<QByteArray> t = f[0].split('.');
        frames.push_back({t.value(0).toLongLong() * 1000000 + t.value(1).toLongLong(),
                          f[1].toLongLong(), f[2].toLongLong()});
    }
    return frames;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

int Usage(const char* pszWhy)
{
    std::fprintf(stderr,
                 "%s\nusage: bench_arrival [bursts per gap] [baud] [seconds]\n"
                 "  bursts: 2 to 1000 (default 20); baud: 300 to 4000000 (default 115200);\n"
                 "  seconds of paced text: 1 to 600 (default 10)\n",
                 pszWhy);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool bOk = true;
    const int nBursts = args.size() > 0 ? args[0].toInt(&bOk) : 20;
    if (!bOk || nBursts < 2 || nBursts > 1000)
        return Usage("The bursts per gap are a whole number, 2 to 1000.");
    const int nBaud = args.size() > 1 ? args[1].toInt(&bOk) : 115200;
    if (!bOk || nBaud < 300 || nBaud > 4000000)
        return Usage("The baud rate is a whole number, 300 to 4000000.");
    const int nSeconds = args.size() > 2 ? args[2].toInt(&bOk) : 10;
    if (!bOk || nSeconds < 1 || nSeconds > 600)
        return Usage("The seconds are a whole number, 1 to 600.");

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    // For a look at the log and its index afterwards.
    if (qEnvironmentVariableIsSet("VORNTERM_BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("the log and its index stay in %s\n", qPrintable(dir.path()));
    }
    AfxScopedHooks quiet(AfxHooks{[](const QString&, int) { return IDOK; }, {}, [] {}, {}, {}, {}});
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "openpty: %s\n", std::strerror(errno));
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    CTerminalDlg dlg;
    dlg.Create();
    CKrCommConfig config;
    config.strPort = QString::fromLocal8Bit(::ptsname(master));
    config.nBaud = 115200;
    dlg.Port().SetConfig(config);
    if (!dlg.Port().Open()) {
        std::fprintf(stderr, "the window could not open %s: %s\n", qPrintable(config.strPort),
                     qPrintable(dlg.Port().GetDescription()));
        return 1;
    }
    dlg.LogInputCheck()->setChecked(true);
    dlg.show();
    app.processEvents();
    // The port settles (its first read armed) before anything is timed.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const QString strLog = dir.filePath(CInputLog::FileNameFor(QDateTime::currentDateTime()));
    const QString strIndex = LogIndex::IndexNameFor(strLog);

    // 1. Bursts with known gaps.
    QByteArray sent;
    std::vector<qint64> starts; // the writer's wall clock as each burst went
    bool bWritten = true;
    WhileTheWindowRuns([&] {
        qint64 nDue = MonoUs();
        for (const int nGapMs : kGapsMs) {
            nDue += 300000; // the groups apart
            for (int i = 0; i < nBursts; ++i) {
                QByteArray burst(kBurst, '\0');
                for (int k = 0; k < kBurst; ++k)
                    burst[k] = char((sent.size() + k) * 7 + 1);
                SleepUntilUs(nDue);
                starts.push_back(WallUs());
                bWritten = bWritten && WriteAll(master, burst.constData(), size_t(kBurst));
                sent += burst;
                nDue = MonoUs() + nGapMs * 1000;
            }
        }
    });
    if (!bWritten || !WaitForLog(dlg, strLog, sent.size())) {
        std::fprintf(stderr, "the log does not hold the %lld bytes sent\n", (long long)sent.size());
        return 1;
    }
    QFile logFile(strLog);
    const bool bIdentical = logFile.open(QIODevice::ReadOnly) && logFile.readAll() == sent;
    logFile.close();
    QString err;
    const std::vector<SFrame> frames = Frames(strLog, &err);
    if (!err.isEmpty())
        std::fprintf(stderr, "vornterm-log: %s", qPrintable(err));
    std::printf("bursts of %d bytes, %d per gap; log %s what was sent; %zu frames found\n", kBurst,
                nBursts, bIdentical ? "byte-identical to" : "DIFFERS from", frames.size());
    // Why a burst is not found: it came in one read with the one before (no
    // index can part them), or its read came less than the index's
    // resolution after the one before and shares its record.
    std::vector<int> inOneRead(std::size(kGapsMs)), joined(std::size(kGapsMs));
    {
        QFile indexFile(strIndex);
        CLogIndexReader reader;
        if (indexFile.open(QIODevice::ReadOnly) &&
            reader.Open(&indexFile, QFileInfo(strLog).size())) {
            LogIndex::CLogIndexWalk walk(reader);
            LogIndex::Item item;
            while (walk.Next(&item)) {
                const size_t g = size_t(item.nOffset / kBurst) / size_t(nBursts);
                if (item.kind != LogIndex::Item::Kind::Received || g >= std::size(kGapsMs) ||
                    item.nLength <= kBurst)
                    continue;
                (item.nLastOffset == item.nOffset ? inOneRead : joined)[g] +=
                    int(item.nLength / kBurst) - 1;
            }
        }
    }
    bool bAllFound = bIdentical;
    double dWorstMs = 0;
    for (size_t g = 0; g < std::size(kGapsMs); ++g) {
        int nFound = 0;
        std::vector<double> errors;
        for (int i = 0; i < nBursts; ++i) {
            const size_t n = g * size_t(nBursts) + size_t(i);
            const qint64 nOffset = qint64(n) * kBurst;
            const auto it = std::find_if(frames.begin(), frames.end(),
                                         [&](const SFrame& f) { return f.nOffset == nOffset; });
            if (it == frames.end() || it->nLength != kBurst)
                continue;
            ++nFound;
            errors.push_back(std::abs(double(it->nWallUs - starts[n])) / 1000);
        }
        const double dMax = errors.empty() ? 0 : *std::max_element(errors.begin(), errors.end());
        dWorstMs = std::max(dWorstMs, dMax);
        bAllFound = bAllFound && nFound == nBursts;
        std::printf("  gap %3d ms: %d of %d bursts found whole; start time off by median %.3f "
                    "ms, p90 %.3f ms, max %.3f ms; %d read with the one before, %d read less "
                    "than %.1f ms after it\n",
                    kGapsMs[g], nFound, nBursts, Percentile(errors, 0.5), Percentile(errors, 0.9),
                    dMax, inOneRead[g], joined[g], LogIndex::kJoinGapUs / 1000.0);
    }
    std::printf("  every burst found, within %.0f ms: %s (worst %.3f ms)\n", kGoalMs,
                bAllFound && dWorstMs <= kGoalMs ? "met" : "not met", dWorstMs);

    // 2. The index's size at the line's rate, pieces of each size paced at
    //    the baud rate; the last case at 4 KiB a millisecond.
    const double dBytesPerUs = nBaud / 10.0 / 1e6; // 10 bits a byte
    struct SCase
    {
        int nPiece;
        qint64 nEveryUs;
    };
    const SCase cases[] = {{12, qint64(12 / dBytesPerUs)},
                           {qRound(dBytesPerUs * 10000), 10000},
                           {4096, qint64(4096 / dBytesPerUs)},
                           {4096, 1000}};
    bool bSmallEnough = true;
    for (const SCase& c : cases) {
        const qint64 nLogBefore = QFileInfo(strLog).size();
        const qint64 nIndexBefore = QFileInfo(strIndex).size();
        qint64 nPaced = 0;
        int nLate = 0;              // pieces written a resolution or more after their time
        std::vector<qint64> sentAt; // each piece's write, on the index's monotonic clock
        sentAt.reserve(size_t(nSeconds * qint64(1000000) / c.nEveryUs + 8));
        WhileTheWindowRuns([&] {
            static const char kText[] =
                "The quick brown fox jumps over the lazy dog 0123456789.\r\n";
            const qint64 nStart = MonoUs();
            const qint64 nPieces = std::max<qint64>(1, nSeconds * qint64(1000000) / c.nEveryUs);
            for (qint64 i = 0; i < nPieces; ++i) {
                const qint64 nDue = nStart + i * c.nEveryUs;
                SleepUntilUs(nDue);
                if (MonoUs() - nDue >= LogIndex::kJoinGapUs)
                    ++nLate;
                QByteArray piece(c.nPiece, '\0');
                for (int k = 0; k < c.nPiece; ++k)
                    piece[k] = kText[(nPaced + k) % (sizeof kText - 1)];
                if (!WriteAll(master, piece.constData(), size_t(piece.size())))
                    break;
                sentAt.push_back(KrTimeStamp::Now().nMonoUs);
                nPaced += c.nPiece;
            }
        });
        if (!WaitForLog(dlg, strLog, nLogBefore + nPaced)) {
            std::fprintf(stderr, "the log does not hold the %lld paced bytes\n", nPaced);
            return 1;
        }
        const double dLogMB = double(QFileInfo(strLog).size() - nLogBefore) / 1e6;
        const qint64 nIndex = QFileInfo(strIndex).size() - nIndexBefore;
        // The gaps of the resolution or more that the index kept: each makes
        // a data record (and a last read for the one before it).
        qint64 nGaps = 0, nSenderGaps = 0;
        QFile indexFile(strIndex);
        CLogIndexReader reader;
        if (indexFile.open(QIODevice::ReadOnly) &&
            reader.Open(&indexFile, QFileInfo(strLog).size())) {
            LogIndex::CLogIndexWalk walk(reader);
            LogIndex::Item item, prev;
            while (walk.Next(&item)) {
                if (item.kind == LogIndex::Item::Kind::Received && item.nOffset > nLogBefore &&
                    !item.bContinues) {
                    ++nGaps;
                    // Whether the writer fell silent for the resolution or
                    // more (beyond its interval) between the read before
                    // and this one: else the gap is the reading side's.
                    const auto from =
                        std::lower_bound(sentAt.begin(), sentAt.end(), prev.last.nMonoUs - 200);
                    bool bSilent = false;
                    for (auto it = from; it != sentAt.end() && *it <= item.time.nMonoUs + 200; ++it)
                        bSilent = bSilent || (it != sentAt.begin() &&
                                              *it - *(it - 1) - c.nEveryUs >= LogIndex::kJoinGapUs);
                    nSenderGaps += bSilent ? 1 : 0;
                }
                if (item.kind == LogIndex::Item::Kind::Received)
                    prev = item;
            }
        }
        const double dShare = 100.0 * double(nIndex) / (dLogMB * 1e6);
        std::printf(
            "pieces of %d bytes every %.3f ms for %d s: %.3f MB of log, %lld index bytes "
            "= %.0f bytes a MB of log (%.2f %%), %lld records; %d pieces written "
            "%.1f ms or more late, %lld gaps of that or more as read (%lld after the writer "
            "fell silent that long, the rest the reading side's)\n",
            c.nPiece, c.nEveryUs / 1000.0, nSeconds, dLogMB, nIndex, double(nIndex) / dLogMB,
            dShare, nIndex / LogIndex::kRecordSize, nLate, LogIndex::kJoinGapUs / 1000.0, nGaps,
            nSenderGaps);
        if (c.nPiece == 12)
            bSmallEnough = bSmallEnough && dShare <= 5.0;
        if (c.nEveryUs == 1000)
            bSmallEnough = bSmallEnough && dShare <= 0.5;
    }
    std::printf("  index at most 5 %% of the log for 12-byte pieces, 0.5 %% for 4 KiB a "
                "millisecond: %s\n",
                bSmallEnough ? "met" : "not met");
    dlg.Port().Close();
    ::close(master);
    ::close(slave);
    return bAllFound && bSmallEnough ? 0 : 1;
}
