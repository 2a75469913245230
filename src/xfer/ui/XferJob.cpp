#include "XferJob.h"

#include "XferSafeName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

QString Shown(const QString& strPath)
{
    return QDir::toNativeSeparators(strPath);
}

// A file can be made in strFolder: one is created there and removed again.
bool CanWriteIn(const QString& strFolder, QString* pWhy)
{
    QTemporaryFile probe(strFolder + QStringLiteral("/.vornterm-probe-XXXXXX"));
    if (probe.open())
        return true;
    *pWhy = QStringLiteral("no file can be made there: %1").arg(probe.errorString());
    return false;
}

bool CheckSend(const QString& strPath, QString* pWhy)
{
    const QFileInfo info(strPath);
    if (!info.exists()) {
        *pWhy = info.isSymLink() ? QStringLiteral("it is a link to nothing")
                                 : QStringLiteral("there is no such file");
        return false;
    }
    if (info.isDir()) {
        *pWhy = QStringLiteral("it is a folder, not a file");
        return false;
    }
    // A pipe or a device has no size to announce and may never end.
    if (!info.isFile()) {
        *pWhy = QStringLiteral("it is not a regular file");
        return false;
    }
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *pWhy = file.errorString();
        return false;
    }
    return true;
}

bool CheckFolder(const QString& strPath, QString* pWhy)
{
    const QFileInfo info(strPath);
    if (!info.exists()) {
        *pWhy = QStringLiteral("there is no such folder");
        return false;
    }
    if (!info.isDir()) {
        *pWhy = QStringLiteral("it is a file, not a folder (YMODEM's sender names the files: "
                               "give the folder they go into)");
        return false;
    }
    return CanWriteIn(strPath, pWhy);
}

bool CheckXmodemFile(const QString& strPath, QString* pWhy)
{
    const QFileInfo info(strPath);
    if (info.isDir()) {
        *pWhy = QStringLiteral("it is a folder; XMODEM sends no name, so give the file to "
                               "write, such as %1")
                    .arg(Shown(QDir(strPath).filePath(QStringLiteral("received.bin"))));
        return false;
    }
    QString strName;
    if (!XferSafeName::Check(info.fileName().toUtf8(), &strName, pWhy))
        return false;
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir()) {
        *pWhy = QStringLiteral("there is no folder %1").arg(Shown(folder.absoluteFilePath()));
        return false;
    }
    return CanWriteIn(folder.absoluteFilePath(), pWhy);
}

} // namespace

QString SXferJob::ProtocolName() const
{
    if (!bSend && eProtocol != XferProtocol::Ymodem)
        return QStringLiteral("XMODEM");
    return XferProtocolName(eProtocol);
}

namespace XferJobCheck {

QString Resolve(const QString& strTyped, const QString& strBase)
{
    QString path = strTyped.trimmed();
    if (path.isEmpty())
        return path;
    if (path == QLatin1String("~"))
        path = QDir::homePath();
    else if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return QDir::cleanPath(QDir(strBase).absoluteFilePath(QDir::fromNativeSeparators(path)));
}

bool Check(const SXferJob& job, QString* pError)
{
    if (job.strPath.isEmpty()) {
        *pError = job.bSend          ? QStringLiteral("Give the file to send.")
                  : job.IntoFolder() ? QStringLiteral("Give the folder to receive into.")
                                     : QStringLiteral("Give the file to receive into "
                                                      "(XMODEM sends no name).");
        return false;
    }
    QString strWhy;
    bool bOk = false;
    if (job.bSend)
        bOk = CheckSend(job.strPath, &strWhy);
    else if (job.IntoFolder())
        bOk = CheckFolder(job.strPath, &strWhy);
    else
        bOk = CheckXmodemFile(job.strPath, &strWhy);
    if (bOk)
        return true;
    *pError = QStringLiteral("Cannot %1 %2: %3.")
                  .arg(job.bSend ? QStringLiteral("send") : QStringLiteral("receive into"),
                       Shown(job.strPath), strWhy);
    return false;
}

} // namespace XferJobCheck
