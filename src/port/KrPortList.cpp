#include "KrPortList.h"

#include "CKrCommBackend.h"

#include <QSerialPortInfo>
#include <QStringList>

QList<KrPortInfo> KrAvailablePorts()
{
    QList<KrPortInfo> ports;
    for (const QSerialPortInfo& sp : QSerialPortInfo::availablePorts()) {
        KrPortInfo info;
        info.strName = sp.systemLocation();
        info.strDescription = sp.description();
        info.strManufacturer = sp.manufacturer();
        info.strSerialNumber = sp.serialNumber();
        info.bHasUsbIds = sp.hasVendorIdentifier() && sp.hasProductIdentifier();
        info.nVendorId = sp.vendorIdentifier();
        info.nProductId = sp.productIdentifier();
        ports << info;
    }
    for (const QString& name : KrFixedPortNames()) {
        KrPortInfo info;
        info.strName = name;
        info.strDescription = KrFixedPortDescription(name);
        ports << info;
    }
    return ports;
}

QString KrPortInfoText(const KrPortInfo& info)
{
    QStringList parts;
    if (!info.strDescription.trimmed().isEmpty())
        parts << info.strDescription.trimmed();
    if (!info.strManufacturer.trimmed().isEmpty())
        parts << info.strManufacturer.trimmed();
    if (info.bHasUsbIds)
        parts << QStringLiteral("USB %1:%2")
                     .arg(info.nVendorId, 4, 16, QLatin1Char('0'))
                     .arg(info.nProductId, 4, 16, QLatin1Char('0'));
    if (!info.strSerialNumber.trimmed().isEmpty())
        parts << QStringLiteral("serial ") + info.strSerialNumber.trimmed();
    return parts.join(QStringLiteral(" - "));
}
