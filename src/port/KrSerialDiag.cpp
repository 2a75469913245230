#include "KrSerialDiag.h"

QString KrOpenFailureText(KrOpenFailure failure, const QString& systemText)
{
    switch (failure) {
    case KrOpenFailure::NoSuchDevice:
        return QStringLiteral("no such device");
    case KrOpenFailure::PermissionDenied:
        return QStringLiteral("permission denied - is the user in the dialout group?");
    case KrOpenFailure::InUse:
        return QStringLiteral("the device is in use by another program");
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
    case KrOpenFailure::Other:
        break;
    }
    return KrPortFailure{code, KrOpenFailureText(failure, systemText)};
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
