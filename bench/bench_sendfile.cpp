// File send: the real Terminal window, offscreen, its port open on a raw
// pseudo-terminal, sends a file of a known pattern through Send Text File
// (the open-file prompt answers with the file's path). A reader thread drains
// the pseudo-terminal's far end, as fast as it can or at a limited rate, and
// checks every byte against the pattern.
//
// A file up to the port's queue (64 MiB) goes with one port Write; a larger
// one streams from the file piece by piece, so memory should stay bounded
// whatever the file's size. Printed: the file size, the elapsed time from the
// command to the far end's last byte and the rate, whether the far end got
// every byte in order, the Tx figure against the file size, the peak resident
// memory (getrusage) against the file size, the most that waited at the port,
// the longest gap between two ticks of a 10 ms timer on the user-interface
// thread during the send, and CPU seconds per MB. MB is 10^6 bytes; memory
// is in MiB, as the file size is.
//
//   build/bench/bench_sendfile [MiB=256] [echo|noecho=noecho] [rate MB/s, 0 = unlimited]

#include "Afx.h"
#include "BenchClock.h"
#include "CFileSend.h"
#include "CKrCommPort.h"
#include "CStatusBarCtrl.h"
#include "CTerminalDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kReadSize = 64 * 1024;
// The reader gives up after this much silence from the window.
constexpr int kSilenceMs = 10000;
constexpr int kTickMs = 10;
constexpr qint64 kLongGapMs = 50;

// A 64-bit mix of a word's index: every 8-byte word of the file differs from
// its neighbours and from every other word, so a byte lost, repeated or moved
// shows at once.
quint64 Mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// The file's bytes [nOffset, nOffset + n) into p.
void FillPattern(char* p, qint64 nOffset, qint64 n)
{
    qint64 i = 0;
    while (i < n) {
        const qint64 nPos = nOffset + i;
        const quint64 word = Mix(quint64(nPos >> 3));
        for (int nByte = int(nPos & 7); nByte < 8 && i < n; ++nByte, ++i)
            p[i] = char((word >> (8 * nByte)) & 0xFF);
    }
}

char PatternByte(qint64 nPos)
{
    char c = 0;
    FillPattern(&c, nPos, 1);
    return c;
}

// The process's resident high-water mark so far (getrusage), MiB.
double MaxRssMiB()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

// What is resident now, MiB; -1 when /proc cannot be read.
double RssNowMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields[1].toLongLong() * double(sysconf(_SC_PAGESIZE)) / kMiB;
}

QString Figure(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

QString SystemReason(int nError)
{
    return QString::fromLocal8Bit(std::strerror(nError));
}

// Writes nSize bytes of the pattern to strPath, a MiB at a time; false with
// the reason otherwise.
bool WritePatternFile(const QString& strPath, qint64 nSize, QString* pWhy)
{
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly)) {
        *pWhy = QStringLiteral("cannot create %1: %2").arg(strPath, file.errorString());
        return false;
    }
    std::vector<char> piece(static_cast<size_t>(kMiB));
    for (qint64 nDone = 0; nDone < nSize;) {
        const qint64 n = std::min(kMiB, nSize - nDone);
        FillPattern(piece.data(), nDone, n);
        if (file.write(piece.data(), n) != n) {
            *pWhy = QStringLiteral("cannot write %1: %2").arg(strPath, file.errorString());
            return false;
        }
        nDone += n;
    }
    if (!file.flush()) {
        *pWhy = QStringLiteral("cannot write %1: %2").arg(strPath, file.errorString());
        return false;
    }
    return true;
}

// A raw pseudo-terminal: the window opens the slave as its serial device,
// the reader drains the master. Both descriptors close with the object.
// Made and destroyed on the user-interface thread.
class CPty
{
public:
    CPty()
    {
        if (::openpty(&m_nMaster, &m_nSlave, nullptr, nullptr, nullptr) != 0) {
            m_strError =
                QStringLiteral("cannot make a pseudo-terminal: %1").arg(SystemReason(errno));
            m_nMaster = m_nSlave = -1;
            return;
        }
        termios t{};
        if (::tcgetattr(m_nSlave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_nSlave, TCSANOW, &t);
        }
        ::fcntl(m_nMaster, F_SETFL, ::fcntl(m_nMaster, F_GETFL) | O_NONBLOCK);
        ::fcntl(m_nMaster, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_nSlave, F_SETFD, FD_CLOEXEC);
        if (const char* pszName = ::ptsname(m_nMaster))
            m_strSlavePath = QString::fromLocal8Bit(pszName);
        else
            m_strError =
                QStringLiteral("the new pseudo-terminal has no name: %1").arg(SystemReason(errno));
    }
    ~CPty()
    {
        if (m_nSlave >= 0)
            ::close(m_nSlave);
        if (m_nMaster >= 0)
            ::close(m_nMaster);
    }
    CPty(const CPty&) = delete;
    CPty& operator=(const CPty&) = delete;

    // Empty when the pair is usable.
    QString Error() const { return m_strError; }
    QString SlavePath() const { return m_strSlavePath; }
    int MasterFd() const { return m_nMaster; }

private:
    int m_nMaster = -1;
    int m_nSlave = -1; // kept open, so the terminal stays while the port reopens
    QString m_strSlavePath;
    QString m_strError;
};

// Drains the master of the pseudo-terminal on a thread of its own ("pty
// drain") until the file's size arrived, a read failed or the window was
// silent for kSilenceMs, and checks every byte against the pattern. With a
// rate (MB/s, > 0) it reads no faster than that, counted from the first byte.
// Constructed, asked and destroyed on the user-interface thread; the figures
// it publishes are atomics, the rest is read after Join.
class CDrain
{
public:
    CDrain(int nFd, qint64 nExpected, double dRate, const QElapsedTimer& clock)
        : m_nFd(nFd), m_nExpected(nExpected), m_dRate(dRate), m_clock(clock),
          m_thread([this] { Run(); })
    {
    }
    ~CDrain()
    {
        Stop();
        Join();
    }
    CDrain(const CDrain&) = delete;
    CDrain& operator=(const CDrain&) = delete;

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Ends the drain at its next look, whatever has arrived.
    void Stop() { m_bStop = true; }
    bool Done() const { return m_bDone.load(); }
    qint64 Received() const { return m_nGot.load(); }

    // After Join.
    qint64 LastByteNs() const { return m_nLastNs; }
    qint64 FirstByteNs() const { return m_nFirstNs; }
    qint64 FirstBad() const { return m_nFirstBad; } // -1: every byte matched
    char BadGot() const { return m_cGot; }
    double CpuSeconds() const { return m_dCpu; }
    QString EndReason() const { return m_strEnd; }

private:
    void Run()
    {
        pthread_setname_np(pthread_self(), "pty drain");
        const double dCpu0 = ::CpuSeconds(RUSAGE_THREAD);
        std::vector<char> got(static_cast<size_t>(kReadSize));
        std::vector<char> want(static_cast<size_t>(kReadSize));
        qint64 nGot = 0;
        int nSilentMs = 0;
        while (nGot < m_nExpected && !m_bStop.load()) {
            if (m_dRate > 0 && m_nFirstNs >= 0) {
                // No faster than the rate: wait until the schedule reaches
                // what has arrived so far.
                const qint64 nDueNs = m_nFirstNs + qint64(nGot / (m_dRate * 1e6) * 1e9);
                const qint64 nNowNs = m_clock.nsecsElapsed();
                if (nDueNs > nNowNs)
                    std::this_thread::sleep_for(std::chrono::nanoseconds(nDueNs - nNowNs));
            }
            pollfd pfd{m_nFd, POLLIN, 0};
            const int nReady = ::poll(&pfd, 1, 100);
            if (nReady < 0 && errno != EINTR) {
                m_strEnd = QStringLiteral("waiting on the pseudo-terminal failed: %1")
                               .arg(SystemReason(errno));
                break;
            }
            if (nReady <= 0) {
                nSilentMs += 100;
                if (nSilentMs >= kSilenceMs) {
                    m_strEnd = QStringLiteral("%1 s of silence").arg(kSilenceMs / 1000);
                    break;
                }
                continue;
            }
            const ssize_t n = ::read(m_nFd, got.data(), size_t(kReadSize));
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                m_strEnd = QStringLiteral("reading the pseudo-terminal failed: %1")
                               .arg(SystemReason(errno));
                break;
            }
            if (n == 0)
                continue;
            nSilentMs = 0;
            if (m_nFirstNs < 0)
                m_nFirstNs = m_clock.nsecsElapsed();
            if (m_nFirstBad < 0)
                Check(got.data(), want.data(), nGot, n);
            nGot += n;
            m_nGot = nGot;
        }
        m_nLastNs = m_clock.nsecsElapsed();
        m_dCpu = ::CpuSeconds(RUSAGE_THREAD) - dCpu0;
        m_bDone = true;
    }

    // Bytes [nAt, nAt + n) of the stream against the pattern; the first
    // difference (or a byte beyond the file's end) is kept.
    void Check(const char* pGot, char* pWant, qint64 nAt, qint64 n)
    {
        const qint64 nInFile = std::max<qint64>(0, std::min(n, m_nExpected - nAt));
        FillPattern(pWant, nAt, nInFile);
        if (std::memcmp(pGot, pWant, size_t(nInFile)) != 0) {
            for (qint64 i = 0; i < nInFile; ++i) {
                if (pGot[i] != pWant[i]) {
                    m_nFirstBad = nAt + i;
                    m_cGot = pGot[i];
                    return;
                }
            }
        }
        if (nInFile < n) {
            m_nFirstBad = nAt + nInFile;
            m_cGot = pGot[nInFile];
        }
    }

    const int m_nFd;
    const qint64 m_nExpected;
    const double m_dRate;
    const QElapsedTimer& m_clock;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::atomic<qint64> m_nGot{0};
    qint64 m_nFirstNs = -1;
    qint64 m_nLastNs = 0;
    qint64 m_nFirstBad = -1;
    char m_cGot = 0;
    double m_dCpu = 0;
    QString m_strEnd;
    std::thread m_thread; // last: starts once the rest is set
};

int Usage(const char* pszWhy)
{
    std::fprintf(stderr,
                 "%s\nusage: bench_sendfile [MiB] [echo|noecho] [rate]\n"
                 "  MiB: the file's size, a whole number 1 to 4096 (default 256)\n"
                 "  echo or noecho: \"Local Echo\" checked or not (default noecho)\n"
                 "  rate: how fast the far end reads, MB/s, a number 0 to 10000; 0 = as fast as "
                 "it can (default 0)\n",
                 pszWhy);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    if (argc > 4)
        return Usage("Too many arguments.");
    bool bOk = true;
    const qint64 nMiBs = argc > 1 ? QByteArray(argv[1]).toLongLong(&bOk) : 256;
    if (!bOk || nMiBs < 1 || nMiBs > 4096)
        return Usage("The size is a whole number of MiB, 1 to 4096.");
    const QByteArray echo = argc > 2 ? QByteArray(argv[2]) : QByteArray("noecho");
    if (echo != "echo" && echo != "noecho")
        return Usage("The echo setting is \"echo\" or \"noecho\".");
    const bool bEcho = echo == "echo";
    const double dRate = argc > 3 ? QByteArray(argv[3]).toDouble(&bOk) : 0.0;
    if (!bOk || !(dRate >= 0 && dRate <= 10000))
        return Usage("The rate is a number of MB/s, 0 to 10000 (0 = as fast as it can).");
    const qint64 nSize = nMiBs * kMiB;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder: %s\n", qPrintable(dir.errorString()));
        return 1;
    }
    // The window's settings file goes there too.
    QDir::setCurrent(dir.path());
    const QString strFile = dir.filePath(QStringLiteral("send.bin"));
    QString why;
    QElapsedTimer made;
    made.start();
    if (!WritePatternFile(strFile, nSize, &why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const double dMadeS = made.nsecsElapsed() / 1e9;

    QStringList messages;
    int nBeeps = 0;
    AfxScopedHooks hooks(AfxHooks{[&](const QString& text, int) {
                                      messages << text;
                                      return IDOK;
                                  },
                                  [](QDialog&) { return IDCANCEL; },
                                  [&] { ++nBeeps; },
                                  [&](QWidget*) { return strFile; },
                                  [](const QString&) { return false; },
                                  {}});

    CPty pty;
    if (!pty.Error().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(pty.Error()));
        return 1;
    }
    auto pDlg = std::make_unique<CTerminalDlg>();
    pDlg->Create();
    CKrCommConfig config;
    config.strPort = pty.SlavePath();
    config.nBaud = 115200;
    pDlg->Port().SetConfig(config);
    if (!pDlg->Port().Open()) {
        std::fprintf(stderr, "the window could not open %s: %s\n", qPrintable(pty.SlavePath()),
                     qPrintable(pDlg->Port().GetDescription()));
        return 1;
    }
    pDlg->LocalEchoCheck()->setChecked(bEcho);
    pDlg->show();
    app.processEvents();

    const bool bStreams = nSize > CKrCommPort::kMaxQueued;
    std::printf("file          %s bytes (%lld MiB, written in %.2f s), %s\n",
                qPrintable(Figure(nSize)), nMiBs, dMadeS,
                bStreams ? "larger than the port's queue: streamed from the file"
                         : "fits the port's queue: one port Write");
    std::printf("window        offscreen, port %s, \"Local Echo\" %s\n",
                qPrintable(pDlg->Port().GetDescription()), bEcho ? "checked" : "unchecked");
    if (dRate > 0)
        std::printf("far end       read at most %.1f MB/s\n", dRate);
    else
        std::printf("far end       read as fast as it can\n");
    std::fflush(stdout);

    // The send, from the command until the far end has every byte and the
    // window says it is done. The user-interface thread waits in its event
    // loop meanwhile; a 10 ms timer records how long each turn took.
    const double dRss0 = MaxRssMiB();
    const double dCpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    CDrain drain(pty.MasterFd(), nSize, dRate, clock);

    qint64 nCommandNs = -1;
    qint64 nLastTickNs = 0;
    qint64 nLongestGapNs = 0;
    qint64 nLongestGapAtNs = 0;
    int nTicks = 0;
    int nLongGaps = 0;
    qint64 nMaxPending = 0;
    double dRssAtQuarter[4] = {-1, -1, -1, -1};
    double dRssSampled = 0; // the most resident at a tick
    QStringList progress;
    bool bTimedOut = false;
    const qint64 nDeadlineMs =
        600000 + (dRate > 0 ? qint64(3 * MB(nSize) / dRate * 1000) : qint64(0));

    QEventLoop loop;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 nNow = clock.nsecsElapsed();
        const qint64 nGap = nNow - nLastTickNs;
        if (nGap > nLongestGapNs) {
            nLongestGapNs = nGap;
            nLongestGapAtNs = nNow;
        }
        if (nGap >= kLongGapMs * 1000000)
            ++nLongGaps;
        nLastTickNs = nNow;
        ++nTicks;

        nMaxPending = std::max(nMaxPending, pDlg->Port().GetPendingCount());
        dRssSampled = std::max(dRssSampled, RssNowMiB());
        const qint64 nGot = drain.Received();
        for (int i = 0; i < 4; ++i) {
            if (dRssAtQuarter[i] < 0 && nGot >= nSize / 4 * (i + 1))
                dRssAtQuarter[i] = RssNowMiB();
        }
        const QString status = pDlg->StatusBar()->GetText(3);
        if (!status.isEmpty() && (progress.isEmpty() || progress.last() != status))
            progress << status;
        const bool bWindowDone =
            nCommandNs >= 0 && !pDlg->FileSend()->IsStreaming() && status.isEmpty();
        bTimedOut = clock.elapsed() >= nDeadlineMs;
        if ((drain.Done() && bWindowDone) || bTimedOut)
            loop.quit();
    });
    QTimer::singleShot(0, &loop, [&] {
        const qint64 nStart = clock.nsecsElapsed();
        pDlg->OnSendTextFile();
        nCommandNs = clock.nsecsElapsed() - nStart;
    });
    nLastTickNs = clock.nsecsElapsed();
    tick.start(kTickMs);
    loop.exec();
    tick.stop();
    const double dLoopS = clock.nsecsElapsed() / 1e9;
    if (bTimedOut)
        drain.Stop();
    drain.Join();
    const double dCpu = CpuSeconds(RUSAGE_SELF) - dCpu0;
    const double dRss1 = MaxRssMiB();

    // Anything beyond the file shows up here.
    QThread::msleep(200);
    qint64 nExtra = 0;
    char extra[4096];
    for (ssize_t n; (n = ::read(pty.MasterFd(), extra, sizeof extra)) > 0;)
        nExtra += n;

    const qint64 nGot = drain.Received();
    const bool bExact = drain.FirstBad() < 0 && nGot == nSize && nExtra == 0;
    const qint64 nTx = pDlg->GetTxCount();
    const double dElapsedS = drain.LastByteNs() / 1e9;

    std::printf("elapsed       %.2f s from the command to the far end's last byte: %.1f MB/s\n",
                dElapsedS, MB(nGot) / dElapsedS);
    if (dRate > 0 && drain.LastByteNs() > drain.FirstByteNs() && drain.FirstByteNs() >= 0)
        std::printf("              (%.1f MB/s from the first byte on, against the far end's "
                    "%.1f)\n",
                    MB(nGot) / ((drain.LastByteNs() - drain.FirstByteNs()) / 1e9), dRate);
    if (bExact) {
        std::printf("far end       every byte, in order (%s bytes)\n", qPrintable(Figure(nGot)));
    } else {
        std::printf("far end       MISMATCH: %s of %s bytes arrived", qPrintable(Figure(nGot)),
                    qPrintable(Figure(nSize)));
        if (drain.FirstBad() >= nSize)
            std::printf("; bytes beyond the file's end");
        else if (drain.FirstBad() >= 0)
            std::printf("; first wrong byte at offset %lld: 0x%02X where the file has 0x%02X",
                        drain.FirstBad(), unsigned(quint8(drain.BadGot())),
                        unsigned(quint8(PatternByte(drain.FirstBad()))));
        if (nExtra > 0)
            std::printf("; %lld more bytes after the end", nExtra);
        if (!drain.EndReason().isEmpty())
            std::printf("; the reader stopped: %s", qPrintable(drain.EndReason()));
        std::printf("\n");
    }
    std::printf("Tx            %s, the file %s bytes: %s\n", qPrintable(Figure(nTx)),
                qPrintable(Figure(nSize)),
                nTx == nSize
                    ? "equal"
                    : qPrintable(QStringLiteral("differs by %1").arg(Figure(nTx - nSize))));
    if (bEcho) {
        // The echo shows the file as it went: the window's buffer holds its
        // last part.
        const QByteArray shown = pDlg->GetData();
        bool bTail = shown.size() <= nSize && !shown.isEmpty();
        std::vector<char> want(size_t(shown.size()));
        if (bTail) {
            FillPattern(want.data(), nSize - shown.size(), shown.size());
            bTail = std::memcmp(want.data(), shown.constData(), size_t(shown.size())) == 0;
        }
        std::printf("echo          %s (Rx %s)\n",
                    bTail ? qPrintable(QStringLiteral("the window's buffer holds the file's last "
                                                      "%1 bytes")
                                           .arg(Figure(shown.size())))
                          : qPrintable(QStringLiteral("MISMATCH: the window's buffer (%1 bytes) is "
                                                      "not the end of the file")
                                           .arg(Figure(shown.size()))),
                    qPrintable(pDlg->StatusBar()->GetText(0)));
    }
    std::printf("progress      %lld texts shown, the last \"%s\"; at the end \"%s\"\n",
                qint64(progress.size()), qPrintable(progress.value(progress.size() - 1)),
                qPrintable(pDlg->StatusBar()->GetText(3)));
    std::printf("queue         at most %.1f MiB waited at the port (ticks of 10 ms)\n",
                nMaxPending / double(kMiB));
    std::printf("peak RSS      %.1f MiB (getrusage), %.1f %% of the file; %.1f MiB before the "
                "send, %+.1f MiB during it\n",
                dRss1, 100.0 * dRss1 / nMiBs, dRss0, dRss1 - dRss0);
    std::printf("resident      at 1/4, 1/2, 3/4 and all of the file: %.1f, %.1f, %.1f, %.1f MiB; "
                "the most at a tick %.1f MiB\n",
                dRssAtQuarter[0], dRssAtQuarter[1], dRssAtQuarter[2], dRssAtQuarter[3],
                dRssSampled);
    std::printf("event loop    longest gap between two ticks of the 10 ms timer %.1f ms (at %.2f "
                "s); %d of %d gaps %lld ms or longer; the command took %.1f ms\n",
                nLongestGapNs / 1e6, nLongestGapAtNs / 1e9, nLongGaps, nTicks, kLongGapMs,
                nCommandNs / 1e6);
    std::printf("cpu           %.4f s/MB, this process over %.2f s (the reader's own %.4f, the "
                "window and the rest %.4f)\n",
                dCpu / MB(nSize), dLoopS, drain.CpuSeconds() / MB(nSize),
                (dCpu - drain.CpuSeconds()) / MB(nSize));
    if (!messages.isEmpty() || nBeeps > 0)
        std::printf("window said   %s%s\n", qPrintable(messages.join(QStringLiteral(" | "))),
                    nBeeps > 0 ? qPrintable(QStringLiteral(" (%1 beeps)").arg(nBeeps)) : "");
    if (bTimedOut)
        std::printf("timed out     after %lld s\n", nDeadlineMs / 1000);

    pDlg->Port().Close();
    pDlg.reset();
    return bExact && nTx == nSize ? 0 : 1;
}
