#include "KrSerialSystem.h"

#include <QSerialPortInfo>

#include <windows.h>

KrOpenFailure KrOpenFailureFromSystemError(int code)
{
    switch (DWORD(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
        return KrOpenFailure::NoSuchDevice;
    // Windows answers a COM port that another program holds with "access
    // denied"; there are no per-user rights on COM ports to lack.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return KrOpenFailure::InUse;
    default:
        return KrOpenFailure::Other;
    }
}

KrOpenFailure KrDiagnosePermissionFailure(const QString&)
{
    return KrOpenFailure::InUse;
}

// COM ports are kept exclusive by the system: no lock files, and every name
// is a device's.
KrOpenFailure KrDiagnoseDeviceKind(const QString&)
{
    return KrOpenFailure::Other;
}

qint64 KrForeignLockHolder(const QString&)
{
    return 0;
}

bool KrIsPseudoTerminal(const QString&)
{
    return false;
}

bool KrDeviceExists(const QString& portName)
{
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(portName, Qt::CaseInsensitive) == 0 ||
            info.systemLocation().compare(portName, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool KrReadWaiting(qintptr, QByteArray&, qsizetype, QString*)
{
    return true;
}

qint64 KrWriteNow(qintptr, const char*, qint64)
{
    return 0;
}
