#pragma once
// What the system tells of a process, for suites that run the program itself
// (Linux /proc).

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QString>

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

// The ids of this process's threads.
inline QSet<QString> OwnThreads()
{
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(tasks.begin(), tasks.end());
}
