#include "SaveTarget.h"

#include <QFile>

#include <sys/stat.h>

namespace SaveTarget {

QString KindOf(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("not a regular file");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(st.st_mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("a regular file");
    return QStringLiteral("not a regular file");
}

} // namespace SaveTarget
