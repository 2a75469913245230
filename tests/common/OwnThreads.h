#pragma once
// The threads of this process, for suites that check that nothing was
// started behind their back (Linux /proc).

#include <QDir>
#include <QSet>
#include <QString>
#include <QStringList>

// The ids of this process's threads.
inline QSet<QString> OwnThreads()
{
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(tasks.begin(), tasks.end());
}
