// The plot, end to end: the Terminal window and "Plot Numbers" in a process
// of their own on the X server that DISPLAY names, the window's port a
// pseudo-terminal (openpty, raw) fed as a device sends, the CPU of the
// window's process (all threads) and of the X server read from /proc.
//
// Parts (--part, repeatable; default all three):
// rate     10 series at 1,000 lines a second ("t:12.345 a:-3.21 ... j:0.25",
//          about 87 bytes a line: what a device at 921600 baud can send),
//          written every 10 ms, for S seconds (default 60), in three cases
//          alternated within each round: the terminal alone (the plot never
//          opened), the plot open, and the plot opened, fed and closed
//          again before the measured feeding. Each run first feeds 2 s that
//          are not measured. Per run: the CPU of the window's process and of
//          the X server as % of one core, and each thread's share; with the
//          plot open, the lines and values its store holds against those
//          sent, and its frames while the data came (paint events of the
//          plot itself, and flushes of its window to the X server), on
//          average and the most in any one second.
// csv      N lines "a:K b:2K", K counting up from 1, one write each, I ms
//          apart (default 2000 lines 5 ms apart) into the open plot; then
//          Export CSV: each row's time against the wall clock just before
//          its line was written (median, p90, largest), and whether the rows
//          are exactly the values sent, in order.
// million  100,000 lines of the 10 series (1,000,000 points) at R lines a
//          second (default 1,000) into a window whose plot is closed, and
//          into one whose plot is open: the resident memory of each once
//          the points are in, and of the second after the plot closed (and
//          once the allocator gave back what it kept). Before that, repaints
//          of the whole plot window over the million points, each followed
//          by a round trip to the X server, so that it has drawn it: wall
//          time and the user-interface thread's CPU per repaint, and the X
//          server's CPU per repaint, at the window's first size and at
//          1600 x 900, showing everything and the last minute.
//
//   bench/pacedrate.sh build/bench/bench_plotpaced [--part rate|csv|million]...
//       [--seconds S] [--rounds R] [--log] [--fill-rate LINES_PER_S]
//       [--csv-lines N] [--csv-interval-ms I] [--repaints N] [--a11y] [--smoke]
//   (PACEDRATE_SCREEN=1920x1080x24 gives room for both windows side by side)
//   bench_plotpaced --window PORT BAUD log|nolog
//       the window's process, driven by commands on its standard input
//
// --log checks "Log Input Data" in every window (default: as a fresh
// installation has it, unchecked). --a11y runs every window with
// QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, so that the plot's texts go to the
// accessibility bus as they change (the window says whether it was active).
// --smoke: a few seconds of each part, to check the benchmark itself.

#include "Afx.h"
#include "BenchProc.h"
#include "CEndOnSignal.h"
#include "CKrCommConfig.h"
#include "CPlotCommand.h"
#include "CPlotView.h"
#include "CPlotWindow.h"
#include "CTerminalDlg.h"
#include "FileSizeSignal.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace BenchProc;

constexpr int kSeries = 10;

// Line i of the 10-series device, sent at 1,000 lines a second.
std::string DeviceLine(long long i)
{
    const double t = double(i) / 1000.0;
    char buf[192];
    std::snprintf(buf, sizeof buf,
                  "t:%.3f a:%.2f b:%.3f c:%lld d:%.4f e:%.1f f:%.2f g:%lld h:%.3f j:%.2f\r\n", t,
                  20 * std::sin(t * 0.7), std::cos(t * 3.1), i % 1024, 0.001 * std::sin(t * 11),
                  50 + 40 * std::sin(t * 0.05), -12.5 + 3 * std::sin(t * 1.3),
                  (i * 37) % 2000 - 1000, 2.5 * std::sin(t * 0.2 + 1), (i % 200) / 100.0 - 1);
    return buf;
}

// ---------------------------------------------------------------------------
// The window's process

double ThreadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The shortest time between two of `times` (ms, in order); -1 for fewer than two.
qint64 ShortestGap(const std::vector<qint64>& times)
{
    qint64 nShortest = -1;
    for (size_t i = 1; i < times.size(); ++i) {
        if (nShortest < 0 || times[i] - times[i - 1] < nShortest)
            nShortest = times[i] - times[i - 1];
    }
    return nShortest;
}

// The most of `times` (ms, in order) within any one second.
int MostInASecond(const std::vector<qint64>& times)
{
    int nMost = 0;
    size_t nFirst = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        while (times[i] - times[nFirst] >= 1000)
            ++nFirst;
        nMost = std::max(nMost, int(i - nFirst + 1));
    }
    return nMost;
}

// Runs the commands the driver writes to standard input, a line each, and
// answers each with a line on standard output: "ok ..." or "error ...".
//   open             "Plot Numbers": the plot window, placed beside the terminal
//   close            closes the plot window
//   reset            forgets the frames counted so far
//   stats            what the plot holds and the frames since reset
//   export PATH      Export CSV, answered once the file is written
//   span all|1min    the time shown
//   resize [W H]     the plot window's size (without W H: only tells it)
//   repaint N window|plot
//                    N repaints (after 3 not timed) of the whole plot window,
//                    or of the plot alone
//   trim             the allocator gives back what it keeps
class CControl : public QObject
{
public:
    CControl(CTerminalDlg& dlg, CPlotCommand& plot) : m_dlg(dlg), m_plot(plot)
    {
        m_clock.start();
        connect(&m_notifier, &QSocketNotifier::activated, this, &CControl::OnReadable);
    }

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        CPlotWindow* pWindow = m_plot.Window();
        if (pWindow && pObject == pWindow->View() && pEvent->type() == QEvent::Paint)
            m_paints.push_back(m_clock.elapsed());
        else if (pObject == pWindow && pEvent->type() == QEvent::UpdateRequest)
            m_flushes.push_back(m_clock.elapsed());
        return false;
    }

private:
    void OnReadable()
    {
        char buf[1024];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0) {
            m_notifier.setEnabled(false);
            return;
        }
        m_input.append(buf, n);
        for (qsizetype nl; (nl = m_input.indexOf('\n')) >= 0;) {
            const QByteArray line = m_input.left(nl);
            m_input.remove(0, nl + 1);
            Run(QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
    }

    static void Reply(const QString& text)
    {
        std::printf("%s\n", text.toUtf8().constData());
        std::fflush(stdout);
    }

    void Run(const QStringList& args)
    {
        if (args.isEmpty())
            return;
        const QString& cmd = args[0];
        CPlotWindow* pWindow = m_plot.Window();
        if (cmd == QLatin1String("open")) {
            m_plot.Open();
            pWindow = m_plot.Window();
            pWindow->View()->installEventFilter(this);
            pWindow->installEventFilter(this);
            const QRect term = m_dlg.frameGeometry();
            pWindow->move(term.right() + 8, term.top());
            QCoreApplication::processEvents();
            const QRect g = pWindow->geometry();
            Reply(QStringLiteral("ok plot %1x%2+%3+%4 terminal %5x%6+%7+%8")
                      .arg(g.width())
                      .arg(g.height())
                      .arg(g.x())
                      .arg(g.y())
                      .arg(term.width())
                      .arg(term.height())
                      .arg(term.x())
                      .arg(term.y()));
        } else if (cmd == QLatin1String("stats")) {
            Stats(pWindow);
        } else if (cmd == QLatin1String("reset")) {
            m_paints.clear();
            m_flushes.clear();
            Reply(QStringLiteral("ok"));
        } else if (cmd == QLatin1String("trim")) {
            ::malloc_trim(0);
            Reply(QStringLiteral("ok"));
        } else if (!pWindow) {
            Reply(QStringLiteral("error the plot window is not open"));
        } else if (cmd == QLatin1String("close")) {
            connect(pWindow, &QObject::destroyed, this, [] { Reply(QStringLiteral("ok")); });
            pWindow->close();
        } else if (cmd == QLatin1String("export") && args.size() == 2) {
            connect(
                pWindow, &CPlotWindow::ExportFinished, this,
                [](const QString&, bool bOk, const QString& message) {
                    Reply(bOk ? QStringLiteral("ok") : QStringLiteral("error ") + message);
                },
                Qt::SingleShotConnection);
            if (!pWindow->ExportCsv(args[1]))
                Reply(QStringLiteral("error another export is under way"));
        } else if (cmd == QLatin1String("span") && args.size() == 2) {
            pWindow->View()->SetSpan(args[1] == QLatin1String("all") ? CPlotView::Span::All
                                                                     : CPlotView::Span::Last1min);
            QCoreApplication::processEvents();
            Reply(QStringLiteral("ok"));
        } else if (cmd == QLatin1String("resize") && (args.size() == 3 || args.size() == 1)) {
            if (args.size() == 3) {
                pWindow->move(0, 0);
                pWindow->resize(args[1].toInt(), args[2].toInt());
                QElapsedTimer wait;
                wait.start();
                while (wait.elapsed() < 300)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            }
            Reply(QStringLiteral("ok window %1x%2 plot %3x%4")
                      .arg(pWindow->width())
                      .arg(pWindow->height())
                      .arg(pWindow->View()->width())
                      .arg(pWindow->View()->height()));
        } else if (cmd == QLatin1String("repaint") && args.size() == 3) {
            Repaint(pWindow, std::max(1, args[1].toInt()), args[2] == QLatin1String("window"));
        } else {
            Reply(QStringLiteral("error unknown command: ") + args.join(QLatin1Char(' ')));
        }
    }

    void Stats(CPlotWindow* pWindow)
    {
        if (!pWindow) {
            Reply(QStringLiteral("ok open=0"));
            return;
        }
        const CPlotStore& store = pWindow->Store();
        const CPlotStore::SCounts& s = store.Counts();
        const CPlotParser::SCounts& p = pWindow->Parser().Counts();
        Reply(QStringLiteral("ok open=1 series=%1 rows=%2 points=%3 noseries=%4 repeated=%5 "
                             "oldpoints=%6 long=%7 untimed=%8 nonfinite=%9 pending=%10 "
                             "storebytes=%11 paints=%12 paintsmost=%13 flushes=%14 "
                             "flushesmost=%15")
                  .arg(store.SeriesCount())
                  .arg(store.RowCount())
                  .arg(store.PointCount())
                  .arg(s.nNoSeries)
                  .arg(s.nRepeated)
                  .arg(s.nOldPoints)
                  .arg(p.nLongLines)
                  .arg(p.nUntimedLines)
                  .arg(p.nNonFinite)
                  .arg(pWindow->Parser().PendingBytes())
                  .arg(store.MemoryBytes())
                  .arg(m_paints.size())
                  .arg(MostInASecond(m_paints))
                  .arg(m_flushes.size())
                  .arg(MostInASecond(m_flushes)) +
              QStringLiteral(" paintsgap=%1 flushesgap=%2")
                  .arg(ShortestGap(m_paints))
                  .arg(ShortestGap(m_flushes)));
    }

    // Each repaint paints the window into its backing store and flushes it
    // to the X server; the round trip after it returns once the server has
    // carried out what was sent, the picture included.
    void Repaint(CPlotWindow* pWindow, int nRounds, bool bWhole)
    {
        auto* pX11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* pConn = pX11 ? pX11->connection() : nullptr;
        if (!pConn) {
            Reply(QStringLiteral("error not on an X server"));
            return;
        }
        std::vector<double> wall, cpu;
        const size_t nPaintsBefore = m_paints.size();
        for (int i = 0; i < nRounds + 3; ++i) {
            QElapsedTimer t;
            t.start();
            const double dCpu = ThreadCpuMs();
            if (bWhole) {
                // Every widget of the window to be drawn again, then the
                // backing store's sync at once (what the queued update
                // request would do): one paint of each, one flush.
                // (QWidget::repaint of this window paints none of its
                // children.)
                for (QWidget* pChild : pWindow->findChildren<QWidget*>())
                    pChild->update();
                pWindow->update();
                QEvent request(QEvent::UpdateRequest);
                QCoreApplication::sendEvent(pWindow, &request);
            } else {
                pWindow->View()->repaint();
            }
            free(xcb_get_input_focus_reply(pConn, xcb_get_input_focus(pConn), nullptr));
            if (i >= 3) {
                wall.push_back(t.nsecsElapsed() / 1e6);
                cpu.push_back(ThreadCpuMs() - dCpu);
            }
        }
        Reply(QStringLiteral("ok wall_median=%1 wall_p90=%2 wall_max=%3 cpu_median=%4 "
                             "cpu_p90=%5 cpu_max=%6 paints=%7")
                  .arg(Percentile(wall, 0.5))
                  .arg(Percentile(wall, 0.9))
                  .arg(Percentile(wall, 1))
                  .arg(Percentile(cpu, 0.5))
                  .arg(Percentile(cpu, 0.9))
                  .arg(Percentile(cpu, 1))
                  .arg(m_paints.size() - nPaintsBefore));
    }

    CTerminalDlg& m_dlg;
    CPlotCommand& m_plot;
    QSocketNotifier m_notifier{0, QSocketNotifier::Read};
    QByteArray m_input;
    QElapsedTimer m_clock;
    std::vector<qint64> m_paints;  // ms on m_clock: paint events of the plot
    std::vector<qint64> m_flushes; // and its window's backing store flushes
};

int RunWindow(int argc, char* argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s --window PORT BAUD log|nolog\n", argv[0]);
        return 2;
    }
    const QString strPort = QString::fromLocal8Bit(argv[2]);
    const int nBaud = std::atoi(argv[3]);
    const bool bLog = std::strcmp(argv[4], "log") == 0;
    char* qtArgv[] = {argv[0], nullptr};
    int qtArgc = 1;

    // As the program starts (CTerminalApp).
    IgnoreFileSizeSignal();
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vorn.VornTerm"));
    CEndOnSignal ender;
    CTerminalDlg dlg;
    ender.SetWindow(&dlg);
    dlg.Create(); // a fresh folder: default settings, the port closed
    dlg.move(0, 0);
    CKrCommConfig config = dlg.Port().GetConfig();
    config.strPort = strPort;
    config.nBaud = nBaud;
    dlg.Port().SetConfig(config);
    dlg.Port().Open();
    dlg.LogInputCheck()->setChecked(bLog);
    CPlotCommand* pPlot = dlg.findChild<CPlotCommand*>();
    if (!pPlot) {
        std::fprintf(stderr, "the Terminal window has no Plot Numbers\n");
        return 1;
    }
    CControl control(dlg, *pPlot);

    // Ready once the port is open and the window has been on screen a moment.
    QTimer ready;
    ready.setInterval(100);
    int nTicks = 0;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!dlg.Port().IsOpen() || !dlg.isVisible() || ++nTicks < 5)
            return;
        ready.stop();
        std::printf(QAccessible::isActive() ? "ready a11y\n" : "ready\n");
        std::fflush(stdout);
    });
    ready.start();
    dlg.DoModal();
    return AfxGetExitCode();
}

// ---------------------------------------------------------------------------
// The driver

struct SOptions
{
    bool bRate = false, bCsv = false, bMillion = false;
    double dSeconds = 60;
    int nRounds = 1;
    bool bLog = false;
    bool bA11y = false;
    int nFillRate = 1000;
    long long nMillionLines = 100000;
    int nCsvLines = 2000;
    double dCsvIntervalMs = 5;
    int nRepaints = 60;
    int nXServer = 0;
    const char* pSelf = nullptr;
};

// A number after "key=" in a reply; -1 when it is not there.
double Field(const std::string& reply, const std::string& key)
{
    const size_t at = reply.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atof(reply.c_str() + at + key.size() + 2);
}

// The Terminal window in a process of its own, its port a pseudo-terminal.
class CWindow
{
public:
    ~CWindow() { End(); }

    bool Start(const SOptions& o)
    {
        char slaveName[256] = {};
        if (::openpty(&m_master, &m_slave, slaveName, nullptr, nullptr) != 0)
            return Fail(std::string("openpty: ") + std::strerror(errno));
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        char dirTemplate[] = "/tmp/vornterm-plotpaced-XXXXXX";
        if (!::mkdtemp(dirTemplate))
            return Fail(std::string("mkdtemp: ") + std::strerror(errno));
        m_dir = dirTemplate;
        m_pid = Spawn({o.pSelf, "--window", slaveName, "921600", o.bLog ? "log" : "nolog"}, m_dir,
                      {"QT_QPA_PLATFORM=xcb", o.bA11y ? "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"
                                                      : "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"},
                      &m_out, &m_in);
        if (m_pid <= 0)
            return Fail("cannot start the window's process");
        const std::string line = ReadLine(m_out, 30, m_buffer);
        if (line.rfind("ready", 0) != 0)
            return Fail("the window did not become ready within 30 s");
        if (o.bA11y && line != "ready a11y")
            return Fail("accessibility is not active in the window");
        return true;
    }

    // A command and its answer; empty (and Error() says why) when it failed.
    std::string Command(const std::string& cmd, double dTimeout = 30)
    {
        const std::string line = cmd + "\n";
        if (!WriteAll(m_in, line.data(), line.size())) {
            Fail("the window's process took no command: " + std::string(std::strerror(errno)));
            return std::string();
        }
        const std::string reply = ReadLine(m_out, dTimeout, m_buffer);
        if (reply.rfind("ok", 0) != 0) {
            Fail(cmd + ": " + (reply.empty() ? "no answer" : reply));
            return std::string();
        }
        return reply;
    }

    // Writes lines [nFirst, nFirst + nLines) at nRate lines a second, those
    // due every 10 ms in one write, as a serial line delivers them. Returns
    // the pacing's worst lateness in seconds, or -1 when a write failed.
    double Feed(long long nFirst, long long nLines, int nRate)
    {
        std::string chunk;
        double dLate = 0;
        long long nSent = 0;
        const double t0 = Now();
        for (long long slice = 1; nSent < nLines; ++slice) {
            const double due = t0 + double(slice) * 0.01;
            SleepUntil(due);
            dLate = std::max(dLate, Now() - due);
            const long long nDue = std::min(nLines, slice * nRate / 100);
            chunk.clear();
            for (; nSent < nDue; ++nSent)
                chunk += DeviceLine(nFirst + nSent);
            if (!WriteAll(m_master, chunk.data(), chunk.size())) {
                Fail(std::string("write to the line: ") + std::strerror(errno));
                return -1;
            }
            if (slice % 50 == 0)
                DrainMaster();
        }
        return dLate;
    }

    bool Write(const std::string& text)
    {
        return WriteAll(m_master, text.data(), text.size()) ||
               Fail(std::string("write to the line: ") + std::strerror(errno));
    }

    // Whatever the window writes to the line goes.
    void DrainMaster()
    {
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        char buf[4096];
        while (::read(m_master, buf, sizeof buf) > 0) {
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) & ~O_NONBLOCK);
    }

    void End()
    {
        if (m_pid > 0)
            Stop(m_pid);
        m_pid = -1;
        for (int* pFd : {&m_in, &m_out, &m_master, &m_slave}) {
            if (*pFd >= 0)
                ::close(*pFd);
            *pFd = -1;
        }
        if (!m_dir.empty()) {
            const std::string err = ReadText(m_dir + "/stderr.txt");
            if (!err.empty() && !m_strError.empty())
                m_strError += "\n  its standard error: " + err.substr(0, 2000);
            std::system(("rm -rf '" + m_dir + "'").c_str());
            m_dir.clear();
        }
    }

    int Pid() const { return m_pid; }
    const std::string& Dir() const { return m_dir; }
    const std::string& Error() const { return m_strError; }

private:
    bool Fail(const std::string& why)
    {
        if (m_strError.empty())
            m_strError = why;
        return false;
    }

    int m_pid = -1;
    int m_master = -1, m_slave = -1, m_in = -1, m_out = -1;
    std::string m_dir, m_buffer, m_strError;
};

std::string Range(std::vector<double> v, const char* fmt)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, Percentile(v, 0.5));
    std::string s = buf;
    if (v.size() > 1) {
        std::snprintf(buf, sizeof buf, fmt, *std::min_element(v.begin(), v.end()));
        s += std::string(" (") + buf;
        std::snprintf(buf, sizeof buf, fmt, *std::max_element(v.begin(), v.end()));
        s += std::string("-") + buf + ")";
    }
    return s;
}

void PrintThreads(const std::map<std::string, SThread>& taken, double dSeconds)
{
    std::vector<SThread> threads;
    for (const auto& [name, t] : taken)
        threads.push_back(t);
    std::sort(threads.begin(), threads.end(),
              [](const SThread& a, const SThread& b) { return a.dCpu > b.dCpu; });
    std::printf("    threads, %% of a core:");
    for (const SThread& t : threads)
        if (t.dCpu >= 0.005 || t.nSwitch >= 30)
            std::printf(" [%s %.2f, %lld switches]", t.name.c_str(), 100 * t.dCpu / dSeconds,
                        t.nSwitch);
    std::printf("\n");
}

// ---------------------------------------------------------------------------
// rate

enum class Plot
{
    Alone,
    Open,
    Closed
};
const char* PlotName(Plot p)
{
    return p == Plot::Alone ? "terminal alone" : p == Plot::Open ? "plot open" : "plot closed";
}

struct SRateRun
{
    bool bOk = false;
    double dProgram = 0, dX = 0; // % of a core
    double dLoad = 0;            // the load average at the end
    bool bComplete = true;       // the store holds every line and value sent
};

SRateRun RunRate(const SOptions& o, Plot plot, int nRound)
{
    SRateRun run;
    CWindow w;
    const long long nWarm = 2000;
    const long long nLines = (long long)(o.dSeconds * 1000);
    std::string reply;
    std::printf("round %d  %-15s ", nRound, PlotName(plot));
    std::fflush(stdout);
    const auto failed = [&] {
        std::printf("FAILED: %s\n", w.Error().c_str());
        return run;
    };
    if (!w.Start(o))
        return failed();
    if (plot != Plot::Alone && w.Command("open").empty())
        return failed();
    if (w.Feed(0, nWarm, 1000) < 0)
        return failed();
    if (plot == Plot::Closed && w.Command("close").empty())
        return failed();
    ::usleep(500000);
    if (w.Command("reset").empty())
        return failed();

    const double dLoad0 = LoadAverage();
    const std::map<int, SThread> threads0 = Threads(w.Pid());
    const double cpu0 = TreeCpu(w.Pid());
    const double x0 = o.nXServer > 0 ? ProcessCpu(o.nXServer) : -1;
    const double t0 = Now();
    const double dLate = w.Feed(nWarm, nLines, 1000);
    if (dLate < 0)
        return failed();
    const double dElapsed = Now() - t0;
    const double cpu1 = TreeCpu(w.Pid());
    const double x1 = o.nXServer > 0 ? ProcessCpu(o.nXServer) : -1;
    const std::map<int, SThread> threads1 = Threads(w.Pid());
    run.dLoad = LoadAverage();
    run.dProgram = 100 * (cpu1 - cpu0) / dElapsed;
    run.dX = o.nXServer > 0 ? 100 * (x1 - x0) / dElapsed : 0;

    ::usleep(1000000); // what is on its way
    reply = w.Command("stats");
    if (reply.empty())
        return failed();
    std::printf("program %.2f %% + X %.2f %% = %.2f %% of a core over %.1f s (load average %.1f "
                "to %.1f; pacing late by at most %.1f ms)\n",
                run.dProgram, run.dX, run.dProgram + run.dX, dElapsed, dLoad0, run.dLoad,
                dLate * 1e3);
    PrintThreads(ThreadsTaken(threads0, threads1), dElapsed);
    if (plot == Plot::Open) {
        const long long nSent = nWarm + nLines;
        const double rows = Field(reply, "rows"), points = Field(reply, "points");
        run.bComplete = rows == double(nSent) && points == double(nSent * kSeries) &&
                        Field(reply, "series") == kSeries;
        std::printf("    plot: %.0f lines and %.0f values held of %lld and %lld sent (%s); "
                    "dropped: unknown series %.0f, repeated %.0f, oldest %.0f; cut lines %.0f, "
                    "untimed %.0f, nan/inf %.0f\n",
                    rows, points, nSent, nSent * kSeries, run.bComplete ? "all" : "NOT ALL",
                    Field(reply, "noseries"), Field(reply, "repeated"), Field(reply, "oldpoints"),
                    Field(reply, "long"), Field(reply, "untimed"), Field(reply, "nonfinite"));
        std::printf("    frames while fed: %.0f paints of the plot (%.2f a second, at most %.0f "
                    "in one second, %.0f ms apart at the least), %.0f flushes of its window "
                    "(%.2f a second, at most %.0f, %.0f ms apart at the least)\n",
                    Field(reply, "paints"), Field(reply, "paints") / dElapsed,
                    Field(reply, "paintsmost"), Field(reply, "paintsgap"), Field(reply, "flushes"),
                    Field(reply, "flushes") / dElapsed, Field(reply, "flushesmost"),
                    Field(reply, "flushesgap"));
    } else {
        std::printf("    plot window: %s\n",
                    Field(reply, "open") == 0 ? "none (no store)" : "OPEN (unexpected)");
    }
    run.bOk = true;
    return run;
}

int PartRate(const SOptions& o)
{
    std::string sample = DeviceLine(123456);
    double dBytes = 0;
    for (long long i = 0; i < 60000; ++i)
        dBytes += double(DeviceLine(i).size());
    std::printf("\n== rate: 10 series at 1,000 lines a second for %.0f s, %d round%s; "
                "%.1f bytes a line on average, %.0f bytes a second (921600 baud carries "
                "92,160); \"Log Input Data\" %s; accessibility %s\n   a line: %s",
                o.dSeconds, o.nRounds, o.nRounds == 1 ? "" : "s", dBytes / 60000, dBytes / 60,
                o.bLog ? "checked" : "unchecked", o.bA11y ? "active" : "not active",
                sample.c_str());
    std::map<Plot, std::vector<SRateRun>> runs;
    int nFailed = 0;
    for (int r = 1; r <= o.nRounds; ++r) {
        for (const Plot p : {Plot::Alone, Plot::Open, Plot::Closed}) {
            const SRateRun run = RunRate(o, p, r);
            if (run.bOk)
                runs[p].push_back(run);
            nFailed += !run.bOk || !run.bComplete;
        }
    }
    std::printf("\n| case | program + X, %% of a core: median (range) | program | X server | "
                "load average at the end |\n|---|---|---|---|---|\n");
    for (const Plot p : {Plot::Alone, Plot::Open, Plot::Closed}) {
        std::vector<double> total, program, x, load;
        for (const SRateRun& run : runs[p]) {
            total.push_back(run.dProgram + run.dX);
            program.push_back(run.dProgram);
            x.push_back(run.dX);
            load.push_back(run.dLoad);
        }
        if (!total.empty())
            std::printf("| %s | %s | %s | %s | %s |\n", PlotName(p), Range(total, "%.2f").c_str(),
                        Range(program, "%.2f").c_str(), Range(x, "%.2f").c_str(),
                        Range(load, "%.1f").c_str());
    }
    return nFailed;
}

// ---------------------------------------------------------------------------
// csv

// "2026-12-08T14:03:10.123456Z" as microseconds since 1970; -1 when it is not.
long long ParseIsoUs(const std::string& s)
{
    tm t{};
    int nMicro = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6dZ", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &nMicro) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return (long long)::timegm(&t) * 1000000 + nMicro;
}

int PartCsv(const SOptions& o)
{
    std::printf("\n== csv: %d lines \"a:K b:2K\", one write each, %.1f ms apart, into the open "
                "plot; then Export CSV\n",
                o.nCsvLines, o.dCsvIntervalMs);
    CWindow w;
    if (!w.Start(o) || w.Command("open").empty()) {
        std::printf("FAILED: %s\n", w.Error().c_str());
        return 1;
    }
    ::usleep(500000);
    const double dLoad0 = LoadAverage();
    std::vector<long long> written(size_t(o.nCsvLines));
    double dLate = 0;
    const double t0 = Now() + 0.01;
    for (int k = 0; k < o.nCsvLines; ++k) {
        const double due = t0 + k * o.dCsvIntervalMs / 1000;
        SleepUntil(due);
        dLate = std::max(dLate, Now() - due);
        const std::string line =
            "a:" + std::to_string(k + 1) + " b:" + std::to_string(2LL * (k + 1)) + "\r\n";
        written[size_t(k)] = WallUs();
        if (!w.Write(line)) {
            std::printf("FAILED: %s\n", w.Error().c_str());
            return 1;
        }
        if (k % 500 == 499)
            w.DrainMaster();
    }
    const double dLoad1 = LoadAverage();
    ::usleep(1000000);
    const std::string path = w.Dir() + "/plot.csv";
    if (w.Command("export " + path).empty()) {
        std::printf("FAILED: %s\n", w.Error().c_str());
        return 1;
    }
    const std::string csv = ReadText(path);
    std::vector<std::string> rows;
    for (size_t pos = 0; pos < csv.size();) {
        const size_t end = csv.find('\n', pos);
        rows.push_back(csv.substr(pos, end == std::string::npos ? end : end - pos));
        pos = end == std::string::npos ? csv.size() : end + 1;
    }
    int nWrong = 0;
    std::vector<double> late; // ms
    const bool bHeader = !rows.empty() && rows[0] == "time,a,b";
    for (size_t i = 1; i < rows.size(); ++i) {
        const size_t k = i - 1;
        const std::string& row = rows[i];
        const size_t c1 = row.find(','), c2 = row.find(',', c1 + 1);
        const long long us = ParseIsoUs(row.substr(0, c1));
        const bool bValues = c1 != std::string::npos && c2 != std::string::npos &&
                             row.substr(c1 + 1, c2 - c1 - 1) == std::to_string(k + 1) &&
                             row.substr(c2 + 1) == std::to_string(2LL * (k + 1));
        if (k >= written.size() || us < 0 || !bValues) {
            if (++nWrong <= 5)
                std::printf("   row %zu is not what was sent: %s\n", i, row.c_str());
            continue;
        }
        late.push_back((us - written[k]) / 1000.0);
    }
    const bool bOk = bHeader && nWrong == 0 && rows.size() == size_t(o.nCsvLines) + 1;
    std::printf("header %s; %zu rows for %d lines sent, %d not the values sent: %s\n",
                bHeader ? "time,a,b" : ("WRONG: " + (rows.empty() ? "" : rows[0])).c_str(),
                rows.empty() ? size_t(0) : rows.size() - 1, o.nCsvLines, nWrong,
                bOk ? "every value, in order" : "NOT every value in order");
    if (!late.empty()) {
        std::printf("row time minus write time, ms: median %.3f, p90 %.3f, p99 %.3f, largest "
                    "%.3f, smallest %.3f (load average %.1f to %.1f; pacing late by at most "
                    "%.1f ms)\n",
                    Percentile(late, 0.5), Percentile(late, 0.9), Percentile(late, 0.99),
                    *std::max_element(late.begin(), late.end()),
                    *std::min_element(late.begin(), late.end()), dLoad0, dLoad1, dLate * 1e3);
    }
    return bOk ? 0 : 1;
}

// ---------------------------------------------------------------------------
// million

int PartMillion(const SOptions& o)
{
    const long long nLines = o.nMillionLines;
    std::printf("\n== million: %lld lines of 10 values at %d lines a second, plot closed and "
                "plot open\n",
                nLines, o.nFillRate);
    int nFailed = 0;
    long long nClosedRss = -1;
    {
        CWindow w;
        if (!w.Start(o) || w.Feed(0, nLines, o.nFillRate) < 0) {
            std::printf("FAILED: %s\n", w.Error().c_str());
            return 1;
        }
        ::usleep(1000000);
        const std::string reply = w.Command("stats");
        nClosedRss = ResidentBytes(w.Pid());
        std::printf("plot closed: resident memory %.1f MB (plot window %s; load average %.1f)\n",
                    nClosedRss / 1e6, Field(reply, "open") == 0 ? "none" : "OPEN (unexpected)",
                    LoadAverage());
    }
    CWindow w;
    std::string reply;
    const auto failed = [&] {
        std::printf("FAILED: %s\n", w.Error().c_str());
        return nFailed + 1;
    };
    if (!w.Start(o) || (reply = w.Command("open")).empty())
        return failed();
    std::printf("plot window: %s\n", reply.c_str() + 3);
    if (w.Feed(0, nLines, o.nFillRate) < 0)
        return failed();
    for (int i = 0; i < 50; ++i) {
        ::usleep(200000);
        reply = w.Command("stats");
        if (reply.empty())
            return failed();
        if (Field(reply, "rows") >= double(nLines))
            break;
    }
    const long long nOpenRss = ResidentBytes(w.Pid());
    const bool bAll = Field(reply, "rows") == double(nLines) &&
                      Field(reply, "points") == double(nLines * kSeries);
    nFailed += !bAll;
    std::printf("plot open: %.0f lines and %.0f values held (%s); store arrays %.1f MB; "
                "resident memory %.1f MB: %.1f MB more than with the plot closed (load average "
                "%.1f)\n",
                Field(reply, "rows"), Field(reply, "points"), bAll ? "all sent" : "NOT ALL SENT",
                Field(reply, "storebytes") / 1e6, nOpenRss / 1e6, (nOpenRss - nClosedRss) / 1e6,
                LoadAverage());

    std::printf("repaints of the whole plot window and of the plot alone, %d each after 3 not "
                "timed, ms per repaint (the program's and the X server's CPU from /proc, in "
                "ticks of 10 ms over all repaints):\n",
                o.nRepaints);
    std::printf("| window | sizes | repainted | time shown | wall median / p90 / largest | "
                "user-interface thread CPU median / p90 / largest | program CPU, mean | X server "
                "CPU, mean | paints of the plot | load average |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const char* size : {"", "1600 900"}) {
        reply = w.Command(std::string("resize ") + size);
        if (reply.empty())
            return failed();
        const std::string geometry = reply.substr(3);
        for (const char* span : {"all", "1min"}) {
            for (const char* what : {"window", "plot"}) {
                if (w.Command(std::string("span ") + span).empty())
                    return failed();
                const double x0 = o.nXServer > 0 ? ProcessCpu(o.nXServer) : -1;
                const double p0 = ProcessCpu(w.Pid());
                reply = w.Command("repaint " + std::to_string(o.nRepaints) + " " + what, 600);
                if (reply.empty())
                    return failed();
                const double p1 = ProcessCpu(w.Pid());
                const double x1 = o.nXServer > 0 ? ProcessCpu(o.nXServer) : -1;
                const double dRounds = o.nRepaints + 3;
                std::printf(
                    "| %s | %s | %s | %s | %.2f / %.2f / %.2f | %.2f / %.2f / %.2f | %.2f | %.2f | "
                    "%.0f | %.1f |\n",
                    *size ? "1600 x 900" : "as opened", geometry.c_str(),
                    *what == 'w' ? "whole window" : "plot alone",
                    *span == 'a' ? "everything" : "last minute", Field(reply, "wall_median"),
                    Field(reply, "wall_p90"), Field(reply, "wall_max"), Field(reply, "cpu_median"),
                    Field(reply, "cpu_p90"), Field(reply, "cpu_max"), (p1 - p0) * 1e3 / dRounds,
                    o.nXServer > 0 ? (x1 - x0) * 1e3 / dRounds : -1.0, Field(reply, "paints"),
                    LoadAverage());
            }
        }
    }
    if (w.Command("close").empty())
        return failed();
    ::usleep(500000);
    const long long nAfterClose = ResidentBytes(w.Pid());
    if (w.Command("trim").empty())
        return failed();
    std::printf("after the plot closed: resident memory %.1f MB, %.1f MB once the allocator "
                "gave back what it kept\n",
                nAfterClose / 1e6, ResidentBytes(w.Pid()) / 1e6);
    return nFailed;
}

int Usage(const char* argv0, const std::string& why)
{
    std::fprintf(stderr,
                 "%s\nusage: %s [--part rate|csv|million]... [--seconds S] [--rounds R] [--log] "
                 "[--fill-rate LINES_PER_S] [--million-lines N] [--csv-lines N] "
                 "[--csv-interval-ms I] [--repaints N] [--a11y] [--xserver PID] [--smoke]\n",
                 why.c_str(), argv0);
    return 2;
}

int RunBench(int argc, char* argv[])
{
    SOptions o;
    bool bSmoke = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool bValue = i + 1 < argc;
        if (a == "--part" && bValue) {
            const std::string part = argv[++i];
            if (part == "rate")
                o.bRate = true;
            else if (part == "csv")
                o.bCsv = true;
            else if (part == "million")
                o.bMillion = true;
            else
                return Usage(argv[0], "a part is rate, csv or million");
        } else if (a == "--seconds" && bValue) {
            o.dSeconds = std::atof(argv[++i]);
        } else if (a == "--rounds" && bValue) {
            o.nRounds = std::atoi(argv[++i]);
        } else if (a == "--log") {
            o.bLog = true;
        } else if (a == "--a11y") {
            o.bA11y = true;
        } else if (a == "--fill-rate" && bValue) {
            o.nFillRate = std::atoi(argv[++i]);
        } else if (a == "--million-lines" && bValue) {
            o.nMillionLines = std::atoll(argv[++i]);
        } else if (a == "--csv-lines" && bValue) {
            o.nCsvLines = std::atoi(argv[++i]);
        } else if (a == "--csv-interval-ms" && bValue) {
            o.dCsvIntervalMs = std::atof(argv[++i]);
        } else if (a == "--repaints" && bValue) {
            o.nRepaints = std::atoi(argv[++i]);
        } else if (a == "--xserver" && bValue) {
            o.nXServer = std::atoi(argv[++i]);
        } else if (a == "--smoke") {
            bSmoke = true;
        } else {
            return Usage(argv[0], "unknown argument: " + a);
        }
    }
    if (o.dSeconds <= 0 || o.nRounds < 1 || o.nFillRate < 100 || o.nMillionLines < 1 ||
        o.nCsvLines < 1 || o.dCsvIntervalMs < 0 || o.nRepaints < 1)
        return Usage(argv[0], "the counts, rates and times must be positive (a fill rate of at "
                              "least 100 lines a second)");
    if (!o.bRate && !o.bCsv && !o.bMillion)
        o.bRate = o.bCsv = o.bMillion = true;
    if (bSmoke) {
        o.dSeconds = std::min(o.dSeconds, 3.0);
        o.nRounds = 1;
        o.nCsvLines = std::min(o.nCsvLines, 200);
        o.nMillionLines = std::min(o.nMillionLines, 5000LL);
        o.nFillRate = std::max(o.nFillRate, 5000);
        o.nRepaints = std::min(o.nRepaints, 5);
    }
    if (o.nXServer <= 0)
        std::printf("no --xserver: the X server's CPU is not measured\n");
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it comes, also into a file
    char* pSelf = ::realpath("/proc/self/exe", nullptr);
    o.pSelf = pSelf;
    std::printf("load average at the start: %s", ReadText("/proc/loadavg").c_str());
    int nFailed = 0;
    if (o.bRate)
        nFailed += PartRate(o);
    if (o.bCsv)
        nFailed += PartCsv(o);
    if (o.bMillion)
        nFailed += PartMillion(o);
    std::printf("\nload average at the end: %s%d check%s failed\n",
                ReadText("/proc/loadavg").c_str(), nFailed, nFailed == 1 ? "" : "s");
    free(pSelf);
    return nFailed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
        return RunWindow(argc, argv);
    return RunBench(argc, argv);
}
