#include "KrSerialSystem.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_lockDirsMutex;
QStringList g_lockDirs; // empty: the system's own

} // namespace

QString KrOpenFailureText(KrOpenFailure failure, const QString& systemText)
{
    switch (failure) {
    case KrOpenFailure::NoSuchDevice:
        return QStringLiteral("no such device");
    case KrOpenFailure::PermissionDenied:
        return QStringLiteral("permission denied - is the user in the dialout group?");
    case KrOpenFailure::InUse:
        return QStringLiteral("the device is in use by another program");
    case KrOpenFailure::NotSerialDevice:
        return QStringLiteral("not a serial device");
    case KrOpenFailure::IsFolder:
        return QStringLiteral("is a folder");
    case KrOpenFailure::Other:
        break;
    }
    return systemText.isEmpty() ? QStringLiteral("the device could not be opened") : systemText;
}

KrPortFailure KrOpenPortFailure(KrOpenFailure failure, const QString& systemText)
{
    KrPortError code = KrPortError::Other;
    switch (failure) {
    case KrOpenFailure::NoSuchDevice:
        code = KrPortError::NoSuchDevice;
        break;
    case KrOpenFailure::PermissionDenied:
        code = KrPortError::PermissionDenied;
        break;
    case KrOpenFailure::InUse:
        code = KrPortError::InUse;
        break;
    case KrOpenFailure::NotSerialDevice:
    case KrOpenFailure::IsFolder:
        code = KrPortError::NotSerialDevice;
        break;
    case KrOpenFailure::Other:
        break;
    }
    return KrPortFailure{code, KrOpenFailureText(failure, systemText)};
}

KrPortFailure KrLockedPortFailure(qint64 nPid)
{
    const QString strWhy = nPid == KrLockBeingWritten
                               ? QStringLiteral(" (its lock file names no process yet)")
                               : QStringLiteral(" (process %1 holds its lock file)").arg(nPid);
    return KrPortFailure{KrPortError::InUse,
                         KrOpenFailureText(KrOpenFailure::InUse, QString()) + strWhy};
}

QStringList KrSerialLockDirs()
{
    QMutexLocker lock(&g_lockDirsMutex);
    if (!g_lockDirs.isEmpty())
        return g_lockDirs;
    return {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
}

void KrSetSerialLockDirs(const QStringList& dirs)
{
    QMutexLocker lock(&g_lockDirsMutex);
    g_lockDirs = dirs;
}

KrPortFailure KrLostDeviceFailure(const QString& portName, const QString& systemText)
{
    if (!KrDeviceExists(portName))
        return KrPortFailure{KrPortError::Removed, QStringLiteral("the device was removed")};
    QString text = QStringLiteral("the device stopped working");
    if (!systemText.isEmpty())
        text += QStringLiteral(" (") + systemText + QLatin1Char(')');
    return KrPortFailure{KrPortError::DeviceError, text};
}
