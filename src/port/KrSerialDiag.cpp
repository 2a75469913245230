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
