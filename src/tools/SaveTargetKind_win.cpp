#include "SaveTarget.h"

#include <QFileInfo>

namespace SaveTarget {

QString KindOf(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("a folder");
    if (info.isFile())
        return QStringLiteral("a regular file");
    return QStringLiteral("not a regular file");
}

} // namespace SaveTarget
