#pragma once
// The real vornterm program, started by a suite as a user starts it: in a
// folder, headless unless an environment for a display is given, with the
// limits a shell's "ulimit -f" would set. Linux (/proc).

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <csignal>
#include <sys/resource.h>

inline QString ProgramPath()
{
    return QStringLiteral(VORNTERM_BINARY_DIR "/vornterm");
}

// Whether process `pid` holds `path` open.
inline bool ProcessHasOpen(qint64 pid, const QString& path)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == path)
            return true;
    }
    return false;
}

// Starts the program in `dir` with `env` (the test's own environment on the
// offscreen platform when empty); a positive `nFileSizeLimit` is its
// RLIMIT_FSIZE, with the signal's action left as the program sets it.
inline void StartProgram(QProcess& proc, const QString& dir = QDir::currentPath(),
                         QProcessEnvironment env = {}, qint64 nFileSizeLimit = -1)
{
    if (env.isEmpty()) {
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }
    proc.setWorkingDirectory(dir);
    proc.setProcessEnvironment(env);
    if (nFileSizeLimit > 0) {
        proc.setChildProcessModifier([nFileSizeLimit] {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = rlim_t(nFileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    proc.start(ProgramPath(), {});
}

// Sends `nSignal` to the program while it runs. Never to process 0, which
// QProcess reports once the program has ended: that would signal the test's
// own process group.
inline bool SignalProgram(const QProcess& proc, int nSignal)
{
    const qint64 pid = proc.processId();
    return pid > 0 && ::kill(pid_t(pid), nSignal) == 0;
}
