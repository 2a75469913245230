#pragma once
// What the benchmarks that run the Terminal window in a process of their own
// share: the clocks, the CPU time of a process, of its children and of each
// of its threads from /proc, starting a program with pipes, reading its
// lines, ending it, and percentiles. Linux only (/proc).
//
// Plain functions of the benchmark's driver; any one thread.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace BenchProc {

// The monotonic clock, in seconds.
inline double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The wall clock, in microseconds since 1970 (what arrival times hold).
inline long long WallUs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

inline void SleepUntil(double t)
{
    timespec ts{};
    ts.tv_sec = time_t(t);
    ts.tv_nsec = long((t - double(ts.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

inline std::string ReadText(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    ::close(fd);
    return text;
}

// A /proc stat file: the name, the parent and the user plus system time.
struct SStat
{
    bool bOk = false;
    std::string name;
    int nParent = 0;
    double dCpu = 0;
};

inline SStat ReadStat(const std::string& path)
{
    SStat st;
    const std::string line = ReadText(path);
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return st;
    st.name = line.substr(open + 1, close - open - 1);
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < line.size()) {
        const size_t end = line.find(' ', pos);
        fields.push_back(line.substr(pos, end == std::string::npos ? end : end - pos));
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    // After the name: state, ppid ... utime and stime are the 12th and 13th.
    if (fields.size() < 13)
        return st;
    static const double tick = double(sysconf(_SC_CLK_TCK));
    st.nParent = std::atoi(fields[1].c_str());
    st.dCpu = (std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str())) / tick;
    st.bOk = true;
    return st;
}

// The CPU seconds of one process (all its threads); -1 when it is gone.
inline double ProcessCpu(int nPid)
{
    const SStat st = ReadStat("/proc/" + std::to_string(nPid) + "/stat");
    return st.bOk ? st.dCpu : -1;
}

inline std::vector<int> ListNumbers(const std::string& dir)
{
    std::vector<int> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] >= '1' && e->d_name[0] <= '9')
                out.push_back(std::atoi(e->d_name));
        }
        ::closedir(d);
    }
    return out;
}

// CPU seconds of a process and of every process below it.
inline double TreeCpu(int nPid)
{
    std::map<int, SStat> all;
    for (int pid : ListNumbers("/proc"))
        all[pid] = ReadStat("/proc/" + std::to_string(pid) + "/stat");
    double dSum = 0;
    std::vector<int> todo{nPid};
    while (!todo.empty()) {
        const int pid = todo.back();
        todo.pop_back();
        const auto it = all.find(pid);
        if (it == all.end() || !it->second.bOk)
            continue;
        dSum += it->second.dCpu;
        for (const auto& [child, st] : all)
            if (st.bOk && st.nParent == pid)
                todo.push_back(child);
    }
    return dSum;
}

inline long long StatusValue(const std::string& text, const char* key)
{
    const size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::atoll(text.c_str() + at + std::strlen(key));
}

// The resident memory of a process in bytes (VmRSS), 0 when it is gone.
inline long long ResidentBytes(int nPid)
{
    return StatusValue(ReadText("/proc/" + std::to_string(nPid) + "/status"), "\nVmRSS:") * 1024;
}

struct SThread
{
    std::string name;
    double dCpu = 0;       // seconds, from schedstat
    long long nSwitch = 0; // voluntary and not
};

// Each thread of a process by its id; the main thread is named so.
inline std::map<int, SThread> Threads(int nPid)
{
    std::map<int, SThread> out;
    const std::string base = "/proc/" + std::to_string(nPid) + "/task/";
    for (int tid : ListNumbers(base)) {
        const std::string dir = base + std::to_string(tid);
        SThread t;
        t.name = ReadStat(dir + "/stat").name;
        t.dCpu = std::atoll(ReadText(dir + "/schedstat").c_str()) / 1e9;
        const std::string status = ReadText(dir + "/status");
        t.nSwitch = StatusValue(status, "\nvoluntary_ctxt_switches:") +
                    StatusValue(status, "\nnonvoluntary_ctxt_switches:");
        out[tid] = t;
    }
    if (out.count(nPid))
        out[nPid].name = "main (user interface)";
    return out;
}

// What each thread (by name, threads of one name summed) took between two
// readings of Threads, scaled by dScale.
inline std::map<std::string, SThread> ThreadsTaken(const std::map<int, SThread>& before,
                                                   const std::map<int, SThread>& after,
                                                   double dScale = 1)
{
    std::map<std::string, SThread> out;
    for (const auto& [tid, t] : after) {
        SThread& sum = out[t.name];
        sum.name = t.name;
        const auto it = before.find(tid);
        sum.dCpu += (t.dCpu - (it != before.end() ? it->second.dCpu : 0)) * dScale;
        sum.nSwitch +=
            (long long)((t.nSwitch - (it != before.end() ? it->second.nSwitch : 0)) * dScale);
    }
    return out;
}

// The load average over the last minute.
inline double LoadAverage()
{
    return std::atof(ReadText("/proc/loadavg").c_str());
}

inline bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Starts a program in a folder, in a process group of its own; its standard
// output comes back through a pipe (*pOut), its standard error goes to
// DIR/stderr.txt, and with pIn its standard input is a pipe written there.
// `env`: NAME=VALUE sets, NAME alone unsets. The process id, or -1.
inline int Spawn(const std::vector<std::string>& args, const std::string& dir,
                 const std::vector<std::string>& env, int* pOut, int* pIn = nullptr)
{
    int fds[2];
    int ins[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    if (pIn && ::pipe2(ins, O_CLOEXEC) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    const std::string errPath = dir + "/stderr.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[1], 1);
        if (pIn)
            ::dup2(ins[0], 0);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0)
            ::dup2(err, 2);
        if (::chdir(dir.c_str()) != 0)
            _exit(127);
        for (const std::string& e : env) {
            const size_t eq = e.find('=');
            if (eq == std::string::npos)
                ::unsetenv(e.c_str());
            else
                ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    ::close(fds[1]);
    if (pIn)
        ::close(ins[0]);
    if (pid < 0) {
        ::close(fds[0]);
        if (pIn)
            ::close(ins[1]);
        return -1;
    }
    *pOut = fds[0];
    if (pIn)
        *pIn = ins[1];
    return pid;
}

// A line from the child's output, or empty after the timeout.
inline std::string ReadLine(int fd, double dTimeout, std::string& buffer)
{
    const double deadline = Now() + dTimeout;
    for (;;) {
        const size_t nl = buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            return line;
        }
        const double left = deadline - Now();
        if (left <= 0)
            return std::string();
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(left * 1000) + 1) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return std::string();
        buffer.append(buf, size_t(n));
    }
}

// Ends the program started (its process group), politely first.
inline int Stop(int pid)
{
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        ::usleep(50000);
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return status;
}

// The q-quantile (0..1) by rank: the smallest value with at least q of the
// values at or below it; 0 for none.
inline double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = size_t(std::ceil(q * double(v.size())));
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

} // namespace BenchProc
