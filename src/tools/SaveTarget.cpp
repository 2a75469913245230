#include "SaveTarget.h"

#include <QFileInfo>

namespace SaveTarget {

QString Refusal(const QString& path)
{
    // QFileInfo follows links, except for isSymLink and symLinkTarget.
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!info.exists())
            return QStringLiteral("a link to '%1', which does not exist").arg(target);
        if (info.isFile())
            return QString();
        return QStringLiteral("a link to %1 ('%2'), not to a regular file")
            .arg(KindOf(path), info.canonicalFilePath());
    }
    if (!info.exists() || info.isFile())
        return QString();
    return KindOf(path) + QStringLiteral(", not a regular file");
}

} // namespace SaveTarget
