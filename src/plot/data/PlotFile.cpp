#include "PlotFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace PlotFile {

bool CanWrite(const QString& path, QString* pError)
{
    const auto fail = [&](const QString& reason) {
        if (pError)
            *pError = reason;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name was given"));
    const QFileInfo info(path);
    // A link, even a dangling one, is refused before anything follows it.
    if (info.isSymLink())
        return fail(QStringLiteral("it is a symbolic link, not a regular file"));
    if (!info.exists())
        return true;
    if (info.isDir())
        return fail(QStringLiteral("it is a folder, not a regular file"));
    if (!info.isFile())
        return fail(QStringLiteral("it is not a regular file (a FIFO, device or socket)"));
    return true;
}

bool Write(const QString& path, const std::function<bool(QIODevice&, QString*)>& write,
           QString* pError)
{
    if (!CanWrite(path, pError))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    QString reason;
    // What is still buffered is written here and its failure taken: commit()
    // writes it too, but reports success when that write fails (Qt 6.4,
    // provoked on a full disk).
    if (!write(file, &reason) || !file.flush()) {
        if (pError)
            *pError = reason.isEmpty() ? file.errorString() : reason;
        file.cancelWriting();
        return false;
    }
    // Looked at again: something put at the name meanwhile is not replaced.
    if (!CanWrite(path, pError)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    return true;
}

} // namespace PlotFile
