// Paced rate: what the Terminal window costs at the rates serial lines run,
// and how soon a byte that arrives on a quiet line is on the screen.
//
// A pseudo-terminal (openpty, raw) is fed at a given baud rate (baud / 10
// bytes a second, 8N1, in 10 ms slices) with text lines of 60 to 80
// printable characters ending in CR LF, or with random bytes, for a given
// time, while the window reads the other end in a process of its own on the
// X server that DISPLAY names. Then single bytes are written into the quiet
// line, each timed from its write until the X server reports the window
// damaged (the DAMAGE extension, raw rectangles): the echo latency.
//
// The window's process is this program run with --window: the program's own
// start (the application, the signal handling, the Terminal window reading
// VornTerm.cfg in a fresh folder), then the port set to the pseudo-terminal,
// hex display toggled and "Log Input Data" checked as a user would, all
// before the window shows. Another build's window is measured by giving its
// bench_pacedrate; peers by a command line (--peer).
//
// Per run: the CPU seconds of the window's process (all threads, and any
// processes a peer starts) and of the X server (--xserver PID), from
// /proc/PID/stat, scaled to 30 s of feeding; each thread's CPU seconds and
// context switches; whether accessibility was active; the echo latency's
// median, p90 and p99. Programs alternate within a case and cases within a
// round, so that the load on a shared machine drifts over all alike. The
// summary gives each case and program the median and range over the rounds,
// and the latency over the samples of all rounds together.
//
//   bench_pacedrate [options] NAME=BENCH_PACEDRATE ...
//     --case MODE:BAUD:LOG[:a11y]  text|hex, baud, log|nolog; a11y runs the
//                                  window with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
//                                  (repeatable; default: text:115200:log,
//                                  hex:115200:log, hex:921600:log, text:115200:log:a11y)
//     --seconds S        feeding time per run (default 30)
//     --echoes N         single bytes timed per run (default 200)
//     --rounds R         rounds (default 3)
//     --xserver PID      the X server's process, for its CPU time
//     --peer NAME=CMD    a peer's command line, {port} and {baud} filled in;
//                        run only when its program is installed
//     --smoke            one short run per program: fails unless the window
//                        took every byte's damage and the figures were read
//   bench_pacedrate --window PORT BAUD text|hex log|nolog
//
// bench/pacedrate.sh starts a private X server (and the accessibility bus)
// and runs this program there.

#include "Afx.h"
#include "BenchProc.h"
#include "CCheckBox.h"
#include "CEndOnSignal.h"
#include "CKrCommConfig.h"
#include "CTerminalDlg.h"
#include "FileSizeSignal.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QTimer>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace BenchProc;

// ---------------------------------------------------------------------------
// The window's process

int RunWindow(int argc, char* argv[])
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s --window PORT BAUD text|hex log|nolog\n", argv[0]);
        return 2;
    }
    const QString strPort = QString::fromLocal8Bit(argv[2]);
    const int nBaud = std::atoi(argv[3]);
    const bool bHex = std::strcmp(argv[4], "hex") == 0;
    const bool bLog = std::strcmp(argv[5], "log") == 0;
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
    CKrCommConfig config = dlg.Port().GetConfig();
    config.strPort = strPort;
    config.nBaud = nBaud;
    dlg.Port().SetConfig(config);
    dlg.Port().Open();
    if (bHex)
        dlg.OnToggleHex();
    dlg.LogInputCheck()->setChecked(bLog);

    // Ready once the port is open and the window has been on screen a moment.
    QTimer ready;
    ready.setInterval(100);
    int nTicks = 0;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (!dlg.Port().IsOpen() || !dlg.isVisible() || ++nTicks < 5)
            return;
        ready.stop();
        std::printf("ready a11y=%d\n", QAccessible::isActive() ? 1 : 0);
        std::fflush(stdout);
    });
    ready.start();
    dlg.DoModal();
    std::printf("end a11y=%d\n", QAccessible::isActive() ? 1 : 0);
    std::fflush(stdout);
    return AfxGetExitCode();
}

// ---------------------------------------------------------------------------
// The X server: the window and its damage

class CDamageWatch
{
public:
    bool Connect()
    {
        // A busy server may refuse a moment: three tries.
        int nError = 0;
        for (int i = 0; i < 3; ++i) {
            m_pConn = xcb_connect(nullptr, nullptr);
            nError = xcb_connection_has_error(m_pConn);
            if (nError == 0)
                break;
            xcb_disconnect(m_pConn);
            m_pConn = nullptr;
            ::usleep(200000);
        }
        if (!m_pConn) {
            m_strError =
                "cannot connect to the X server (DISPLAY), xcb error " + std::to_string(nError);
            return false;
        }
        const xcb_query_extension_reply_t* pExt = xcb_get_extension_data(m_pConn, &xcb_damage_id);
        if (!pExt || !pExt->present)
            return Fail("the X server has no DAMAGE extension");
        m_nFirstEvent = pExt->first_event;
        free(xcb_damage_query_version_reply(
            m_pConn,
            xcb_damage_query_version(m_pConn, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
            nullptr));
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_pConn)).data->root;
        m_pidAtom = Atom("_NET_WM_PID");
        return true;
    }
    ~CDamageWatch()
    {
        if (m_pConn)
            xcb_disconnect(m_pConn);
    }

    // The largest viewable top-level window of one of the processes.
    xcb_window_t FindWindow(const std::vector<int>& pids)
    {
        xcb_window_t best = XCB_WINDOW_NONE;
        long area = 0;
        xcb_query_tree_reply_t* pTree =
            xcb_query_tree_reply(m_pConn, xcb_query_tree(m_pConn, m_root), nullptr);
        if (!pTree)
            return best;
        const xcb_window_t* pKids = xcb_query_tree_children(pTree);
        for (int i = 0; i < xcb_query_tree_children_length(pTree); ++i) {
            const xcb_window_t w = pKids[i];
            xcb_get_property_reply_t* pProp = xcb_get_property_reply(
                m_pConn, xcb_get_property(m_pConn, 0, w, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr);
            const bool bOurs =
                pProp && xcb_get_property_value_length(pProp) == 4 &&
                std::count(pids.begin(), pids.end(),
                           int(*static_cast<uint32_t*>(xcb_get_property_value(pProp)))) > 0;
            free(pProp);
            if (!bOurs)
                continue;
            xcb_get_window_attributes_reply_t* pAttr = xcb_get_window_attributes_reply(
                m_pConn, xcb_get_window_attributes(m_pConn, w), nullptr);
            xcb_get_geometry_reply_t* pGeo =
                xcb_get_geometry_reply(m_pConn, xcb_get_geometry(m_pConn, w), nullptr);
            if (pAttr && pGeo && pAttr->map_state == XCB_MAP_STATE_VIEWABLE &&
                long(pGeo->width) * pGeo->height > area) {
                area = long(pGeo->width) * pGeo->height;
                best = w;
            }
            free(pAttr);
            free(pGeo);
        }
        free(pTree);
        return best;
    }

    void Watch(xcb_window_t window)
    {
        m_damage = xcb_generate_id(m_pConn);
        xcb_damage_create(m_pConn, m_damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        xcb_flush(m_pConn);
        Drain();
    }

    // Throws away what the server has reported so far.
    void Drain() { WaitDamage(0); }

    // Waits up to dTimeout seconds for a damage report; true when one came.
    bool WaitDamage(double dTimeout)
    {
        const double deadline = Now() + dTimeout;
        for (;;) {
            while (xcb_generic_event_t* pEvent = xcb_poll_for_event(m_pConn)) {
                const bool bDamage =
                    (pEvent->response_type & 0x7f) == m_nFirstEvent + XCB_DAMAGE_NOTIFY;
                free(pEvent);
                if (bDamage && dTimeout > 0)
                    return true;
            }
            if (xcb_connection_has_error(m_pConn))
                return false;
            const double left = deadline - Now();
            if (left <= 0)
                return false;
            pollfd pfd{xcb_get_file_descriptor(m_pConn), POLLIN, 0};
            ::poll(&pfd, 1, std::max(1, int(left * 1000)));
        }
    }

    const std::string& Error() const { return m_strError; }

private:
    bool Fail(const char* text)
    {
        m_strError = text;
        return false;
    }
    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* p = xcb_intern_atom_reply(
            m_pConn, xcb_intern_atom(m_pConn, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = p ? p->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(p);
        return atom;
    }

    xcb_connection_t* m_pConn = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    xcb_damage_damage_t m_damage = 0;
    uint8_t m_nFirstEvent = 0;
    std::string m_strError;
};

// ---------------------------------------------------------------------------
// Runs

struct SCase
{
    bool bHex = false;
    int nBaud = 115200;
    bool bLog = true;
    bool bA11y = false;
    std::string Name() const
    {
        return std::string(bHex ? "hex" : "text") + " " + std::to_string(nBaud) +
               (bLog ? " log" : " nolog") + (bA11y ? " a11y" : "");
    }
};

struct SProgram
{
    std::string name;
    std::string path; // a bench_pacedrate, or empty for a peer
    std::string peer; // a peer's command line
};

struct SRun
{
    bool bOk = false;
    std::string strError;
    double dWindowCpu = 0; // per 30 s of feeding
    double dXCpu = -1;
    double dMaxLate = 0;        // the pacing's worst lateness, seconds
    double dLogOpens = -1;      // openings of the log file a second, while fed
    int nA11y = -1;             // accessibility active at the start (window only)
    std::vector<double> echoes; // seconds
    int nEchoesLost = 0;
    std::map<std::string, SThread> threads; // per 30 s
};

struct SOptions
{
    std::vector<SCase> cases;
    std::vector<SProgram> programs;
    double dSeconds = 30;
    int nEchoes = 200;
    int nRounds = 3;
    int nXServer = 0;
    bool bSmoke = false;
};

// Text lines of 60 to 80 printable characters and CR LF, or random bytes.
class CFeed
{
public:
    explicit CFeed(bool bHex) : m_bHex(bHex), m_rng(12345) {}
    void Next(char* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            if (m_bHex) {
                p[i] = char(m_rng() & 0xff);
                continue;
            }
            if (m_nLeft == 0)
                m_nLeft = 60 + int(m_rng() % 21) + 2;
            --m_nLeft;
            p[i] = m_nLeft == 1 ? '\r' : m_nLeft == 0 ? '\n' : char(' ' + m_rng() % 95);
        }
    }

private:
    bool m_bHex;
    std::mt19937 m_rng;
    int m_nLeft = 0;
};

// Whatever the window writes to the line goes.
void DrainMaster(int fd)
{
    char buf[4096];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}

std::string Replace(std::string s, const std::string& key, const std::string& value)
{
    for (size_t at; (at = s.find(key)) != std::string::npos;)
        s.replace(at, key.size(), value);
    return s;
}

std::vector<std::string> SplitWords(const std::string& s)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < s.size()) {
        const size_t start = s.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        const size_t end = s.find(' ', start);
        out.push_back(s.substr(start, end == std::string::npos ? end : end - start));
        pos = end == std::string::npos ? s.size() : end;
    }
    return out;
}

SRun RunOnce(const SOptions& o, const SCase& c, const SProgram& p)
{
    SRun run;
    int master = -1, slave = -1;
    char slaveName[256] = {};
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        run.strError = std::string("openpty: ") + std::strerror(errno);
        return run;
    }
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    char dirTemplate[] = "/tmp/vornterm-paced-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate) ? dirTemplate : "";
    std::vector<std::string> args;
    if (p.peer.empty())
        args = {p.path,
                "--window",
                slaveName,
                std::to_string(c.nBaud),
                c.bHex ? "hex" : "text",
                c.bLog ? "log" : "nolog"};
    else
        args = SplitWords(
            Replace(Replace(p.peer, "{port}", slaveName), "{baud}", std::to_string(c.nBaud)));
    std::vector<std::string> env = {"QT_QPA_PLATFORM=xcb"};
    env.push_back(c.bA11y ? "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"
                          : "QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    int out = -1;
    const int pid = Spawn(args, dir, env, &out);
    std::string buffer;
    CDamageWatch x;
    bool bReaped = false;
    const auto finish = [&] {
        if (pid > 0 && !bReaped)
            Stop(pid);
        if (out >= 0)
            ::close(out);
        ::close(master);
        ::close(slave);
        if (!run.bOk) {
            const std::string err = ReadText(dir + "/stderr.txt");
            if (!err.empty())
                run.strError += "\n  its standard error: " + err.substr(0, 2000);
        }
        std::system(("rm -rf '" + dir + "'").c_str());
    };
    if (pid <= 0 || dir.empty() || !x.Connect()) {
        run.strError = pid <= 0 ? "cannot start the program" : x.Error();
        finish();
        return run;
    }

    // The window is up: its own word, or for a peer, its window.
    xcb_window_t window = XCB_WINDOW_NONE;
    const double started = Now();
    if (p.peer.empty()) {
        const std::string line = ReadLine(out, 30, buffer);
        if (line.rfind("ready", 0) != 0) {
            int status = 0;
            bReaped = ::waitpid(pid, &status, WNOHANG) == pid;
            run.strError = bReaped ? "the window's process ended with status " +
                                         std::to_string(WIFEXITED(status) ? WEXITSTATUS(status)
                                                                          : 128 + WTERMSIG(status))
                                   : "the window did not become ready within 30 s";
            finish();
            return run;
        }
        run.nA11y = line.find("a11y=1") != std::string::npos ? 1 : 0;
    }
    while (window == XCB_WINDOW_NONE && Now() - started < 30) {
        window = x.FindWindow({pid});
        if (window == XCB_WINDOW_NONE)
            ::usleep(100000);
    }
    if (window == XCB_WINDOW_NONE) {
        run.strError = "no window of the program appeared";
        finish();
        return run;
    }
    if (!p.peer.empty())
        ::usleep(2000000); // a peer opens its port in its own time

    // Feeding, at the line's rate.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    DrainMaster(master);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) & ~O_NONBLOCK);
    CFeed feed(c.bHex);
    const double bytesPerSlice = c.nBaud / 10.0 / 100.0;
    const int nSlices = std::max(1, int(o.dSeconds * 100));
    std::vector<char> chunk(size_t(bytesPerSlice) + 2);
    // Every opening of a file in the window's folder is reported (with the
    // closings, so that no two reports in a row are alike: those the kernel
    // would merge).
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0)
        ::inotify_add_watch(watch, dir.c_str(), IN_OPEN | IN_CLOSE);
    long nLogOpens = 0;
    const auto countOpens = [&] {
        alignas(inotify_event) char buf[16384];
        for (ssize_t n; watch >= 0 && (n = ::read(watch, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                const std::string name = e->len ? e->name : "";
                nLogOpens += (e->mask & IN_OPEN) && name.size() > 4 &&
                             name.compare(name.size() - 4, 4, ".LOG") == 0;
                p += sizeof(inotify_event) + e->len;
            }
        }
    };
    const std::map<int, SThread> threadsBefore = Threads(pid);
    const double cpuBefore = TreeCpu(pid);
    const double xBefore =
        o.nXServer > 0 ? ReadStat("/proc/" + std::to_string(o.nXServer) + "/stat").dCpu : -1;
    const double t0 = Now();
    long long nSent = 0;
    for (int i = 1; i <= nSlices; ++i) {
        const double due = t0 + i * 0.01;
        SleepUntil(due);
        run.dMaxLate = std::max(run.dMaxLate, Now() - due);
        const long long nDue = (long long)(i * bytesPerSlice);
        const size_t n = size_t(nDue - nSent);
        feed.Next(chunk.data(), n);
        if (!WriteAll(master, chunk.data(), n)) {
            run.strError = std::string("write to the line: ") + std::strerror(errno);
            finish();
            return run;
        }
        nSent = nDue;
        if (i % 50 == 0) {
            countOpens();
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
            DrainMaster(master);
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) & ~O_NONBLOCK);
        }
    }
    const double elapsed = Now() - t0;
    const double scale = 30.0 / elapsed;
    if (watch >= 0) {
        countOpens();
        ::close(watch);
        run.dLogOpens = nLogOpens / elapsed;
    }
    run.dWindowCpu = (TreeCpu(pid) - cpuBefore) * scale;
    if (o.nXServer > 0)
        run.dXCpu =
            (ReadStat("/proc/" + std::to_string(o.nXServer) + "/stat").dCpu - xBefore) * scale;
    for (const auto& [tid, t] : Threads(pid)) {
        SThread& sum = run.threads[t.name];
        sum.name = t.name;
        const auto it = threadsBefore.find(tid);
        sum.dCpu += (t.dCpu - (it != threadsBefore.end() ? it->second.dCpu : 0)) * scale;
        sum.nSwitch +=
            (long long)((t.nSwitch - (it != threadsBefore.end() ? it->second.nSwitch : 0)) * scale);
    }

    // Echoes: single bytes into the quiet line.
    ::usleep(500000);
    x.Watch(window);
    std::mt19937 rng(777);
    for (int i = 0; i < o.nEchoes; ++i) {
        ::usleep(40000 + rng() % 40000); // quiet, longer than a display frame
        x.Drain();
        const char byte = c.bHex ? char(rng() & 0xff) : char('a' + rng() % 26);
        const double tWrite = Now();
        if (!WriteAll(master, &byte, 1))
            break;
        if (x.WaitDamage(2.0))
            run.echoes.push_back(Now() - tWrite);
        else
            ++run.nEchoesLost;
    }
    run.bOk = run.nEchoesLost == 0 && !run.echoes.empty() && run.dWindowCpu > 0;
    if (!run.bOk)
        run.strError = std::to_string(run.nEchoesLost) + " of " + std::to_string(o.nEchoes) +
                       " echoes brought no damage report";
    finish();
    return run;
}

std::string Range(const std::vector<double>& v, const char* fmt)
{
    char buf[128];
    std::string s;
    const double med = Percentile(v, 0.5);
    std::snprintf(buf, sizeof buf, fmt, med);
    s = buf;
    if (v.size() > 1) {
        std::snprintf(buf, sizeof buf, fmt, *std::min_element(v.begin(), v.end()));
        s += std::string(" (") + buf;
        std::snprintf(buf, sizeof buf, fmt, *std::max_element(v.begin(), v.end()));
        s += std::string("-") + buf + ")";
    }
    return s;
}

bool ProgramInstalled(const std::string& cmd)
{
    const std::vector<std::string> words = SplitWords(cmd);
    if (words.empty())
        return false;
    if (words[0].find('/') != std::string::npos)
        return ::access(words[0].c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= dirs.size()) {
        const size_t end = dirs.find(':', pos);
        const std::string dir = dirs.substr(pos, end == std::string::npos ? end : end - pos);
        if (::access((dir + "/" + words[0]).c_str(), X_OK) == 0)
            return true;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return false;
}

bool ParseCase(const std::string& s, SCase& c)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        const size_t end = s.find(':', pos);
        parts.push_back(s.substr(pos, end == std::string::npos ? end : end - pos));
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    if (parts.size() < 3 || parts.size() > 4 || (parts[0] != "text" && parts[0] != "hex") ||
        (parts[2] != "log" && parts[2] != "nolog") || (parts.size() == 4 && parts[3] != "a11y"))
        return false;
    c.bHex = parts[0] == "hex";
    c.nBaud = std::atoi(parts[1].c_str());
    c.bLog = parts[2] == "log";
    c.bA11y = parts.size() == 4;
    return c.nBaud >= 300 && c.nBaud <= 4000000;
}

int Usage(const char* argv0, const std::string& why)
{
    std::fprintf(stderr,
                 "%s\nusage: %s [--case text|hex:BAUD:log|nolog[:a11y]]... [--seconds S] "
                 "[--echoes N] [--rounds R] [--xserver PID] [--peer NAME=COMMAND]... [--smoke] "
                 "NAME=BENCH_PACEDRATE...\n",
                 why.c_str(), argv0);
    return 2;
}

int RunBench(int argc, char* argv[])
{
    SOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool bValue = i + 1 < argc;
        if (a == "--case" && bValue) {
            SCase c;
            if (!ParseCase(argv[++i], c))
                return Usage(argv[0], "a case is MODE:BAUD:LOG[:a11y], e.g. hex:921600:log");
            o.cases.push_back(c);
        } else if (a == "--seconds" && bValue) {
            o.dSeconds = std::atof(argv[++i]);
        } else if (a == "--echoes" && bValue) {
            o.nEchoes = std::atoi(argv[++i]);
        } else if (a == "--rounds" && bValue) {
            o.nRounds = std::atoi(argv[++i]);
        } else if (a == "--xserver" && bValue) {
            o.nXServer = std::atoi(argv[++i]);
        } else if (a == "--peer" && bValue) {
            const std::string v = argv[++i];
            const size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0)
                return Usage(argv[0], "a peer is NAME=COMMAND");
            if (ProgramInstalled(v.substr(eq + 1)))
                o.programs.push_back({v.substr(0, eq), "", v.substr(eq + 1)});
            else
                std::printf("peer %s: not installed, not measured\n", v.substr(0, eq).c_str());
        } else if (a == "--smoke") {
            o.bSmoke = true;
        } else if (a.find('=') != std::string::npos && a[0] != '-') {
            // The window starts in a folder of its own: the path must not be relative.
            const size_t eq = a.find('=');
            char* pFull = ::realpath(a.substr(eq + 1).c_str(), nullptr);
            if (!pFull || ::access(pFull, X_OK) != 0)
                return Usage(argv[0], "not a program: " + a.substr(eq + 1));
            o.programs.push_back({a.substr(0, eq), pFull, ""});
            free(pFull);
        } else {
            return Usage(argv[0], "unknown argument: " + a);
        }
    }
    if (o.dSeconds <= 0 || o.nEchoes < 1 || o.nRounds < 1)
        return Usage(argv[0], "seconds, echoes and rounds must be positive");
    if (o.bSmoke) {
        o.dSeconds = std::min(o.dSeconds, 2.0);
        o.nEchoes = std::min(o.nEchoes, 10);
        o.nRounds = 1;
        if (o.cases.empty())
            o.cases.push_back(SCase{false, 115200, true, false});
    }
    if (o.cases.empty()) {
        o.cases = {SCase{false, 115200, true, false}, SCase{true, 115200, true, false},
                   SCase{true, 921600, true, false}, SCase{false, 115200, true, true}};
    }
    if (o.programs.empty())
        return Usage(argv[0], "no program to measure");
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%d rounds, %.0f s of feeding and %d echoes per run; CPU seconds per 30 s of "
                "feeding\n",
                o.nRounds, o.dSeconds, o.nEchoes);
    std::map<std::pair<size_t, size_t>, std::vector<SRun>> results;
    int nFailed = 0;
    for (int r = 1; r <= o.nRounds; ++r) {
        for (size_t ci = 0; ci < o.cases.size(); ++ci) {
            for (size_t pi = 0; pi < o.programs.size(); ++pi) {
                const SCase& c = o.cases[ci];
                const SProgram& p = o.programs[pi];
                const SRun run = RunOnce(o, c, p);
                std::printf("round %d  %-22s %-10s ", r, c.Name().c_str(), p.name.c_str());
                if (!run.bOk) {
                    ++nFailed;
                    std::printf("FAILED: %s\n", run.strError.c_str());
                    std::fflush(stdout);
                    continue;
                }
                std::printf("cpu %.2f + X %.2f = %.2f s; echo median %.2f p90 %.2f p99 %.2f ms; "
                            "log opened %.1f/s; pacing late by at most %.1f ms; accessibility "
                            "%s\n",
                            run.dWindowCpu, run.dXCpu, run.dWindowCpu + std::max(0.0, run.dXCpu),
                            Percentile(run.echoes, 0.5) * 1e3, Percentile(run.echoes, 0.9) * 1e3,
                            Percentile(run.echoes, 0.99) * 1e3, run.dLogOpens, run.dMaxLate * 1e3,
                            run.nA11y < 0 ? "?"
                            : run.nA11y   ? "active"
                                          : "not active");
                std::vector<SThread> threads;
                for (const auto& [name, t] : run.threads)
                    threads.push_back(t);
                std::sort(threads.begin(), threads.end(),
                          [](const SThread& a, const SThread& b) { return a.dCpu > b.dCpu; });
                std::printf("    threads:");
                for (const SThread& t : threads)
                    if (t.dCpu >= 0.005 || t.nSwitch >= 30)
                        std::printf(" [%s %.2f s, %lld switches]", t.name.c_str(), t.dCpu,
                                    t.nSwitch);
                std::printf("\n");
                std::fflush(stdout);
                results[{ci, pi}].push_back(run);
            }
        }
    }

    std::printf("\n| case | program | CPU s per 30 s: program + X, median (range) | program "
                "| X server | echo ms median / p90 / p99 (all samples) | accessibility |\n"
                "|---|---|---|---|---|---|---|\n");
    for (size_t ci = 0; ci < o.cases.size(); ++ci) {
        for (size_t pi = 0; pi < o.programs.size(); ++pi) {
            const std::vector<SRun>& runs = results[{ci, pi}];
            if (runs.empty())
                continue;
            std::vector<double> total, win, xs, echoes;
            int nActive = 0;
            for (const SRun& run : runs) {
                total.push_back(run.dWindowCpu + std::max(0.0, run.dXCpu));
                win.push_back(run.dWindowCpu);
                xs.push_back(run.dXCpu);
                echoes.insert(echoes.end(), run.echoes.begin(), run.echoes.end());
                nActive += run.nA11y == 1;
            }
            std::printf("| %s | %s | %s | %s | %s | %.2f / %.2f / %.2f (%zu) | %s |\n",
                        o.cases[ci].Name().c_str(), o.programs[pi].name.c_str(),
                        Range(total, "%.2f").c_str(), Range(win, "%.2f").c_str(),
                        Range(xs, "%.2f").c_str(), Percentile(echoes, 0.5) * 1e3,
                        Percentile(echoes, 0.9) * 1e3, Percentile(echoes, 0.99) * 1e3,
                        echoes.size(),
                        o.programs[pi].peer.empty() ? (std::to_string(nActive) + " of " +
                                                       std::to_string(runs.size()) + " runs active")
                                                          .c_str()
                                                    : "?");
        }
    }
    std::printf("\n%d run%s failed\n", nFailed, nFailed == 1 ? "" : "s");
    return nFailed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
        return RunWindow(argc, argv);
    return RunBench(argc, argv);
}
