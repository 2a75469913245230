#include "KrPortList.h"

#include "CKrCommBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

QString KrStableNamesDir()
{
    return QStringLiteral("/dev/serial/by-id");
}

QString KrCanonicalPath(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QMap<QString, QStringList> KrStableNames(const QString& dir)
{
    QMap<QString, QStringList> names;
    const QDir d(dir);
    if (dir.isEmpty() || !d.exists())
        return names;
    // System: a link to a device node counts as a system file; Hidden and
    // NoDotAndDotDot keep every real entry and nothing else. Sorted by name, so
    // each device's links come out sorted.
    const QFileInfoList entries = d.entryInfoList(
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : entries) {
        if (!fi.isSymLink())
            continue;
        const QString target = fi.canonicalFilePath(); // empty for a link that leads nowhere
        if (target.isEmpty() || fi.isDir())
            continue;
        names[target] << d.filePath(fi.fileName());
    }
    return names;
}

QList<KrPortInfo> KrWithStableNames(const QList<KrPortInfo>& devices,
                                    const QMap<QString, QStringList>& stableNames)
{
    QList<KrPortInfo> ports;
    for (const KrPortInfo& device : devices) {
        ports << device;
        const auto it = stableNames.constFind(KrCanonicalPath(device.Device()));
        if (it == stableNames.constEnd())
            continue;
        for (const QString& link : *it) {
            KrPortInfo info = device;
            info.strName = link;
            info.strDevice = device.Device();
            ports << info;
        }
    }
    return ports;
}

QList<KrPortInfo> KrAvailablePorts()
{
    QList<KrPortInfo> devices;
    for (const QSerialPortInfo& sp : QSerialPortInfo::availablePorts()) {
        KrPortInfo info;
        info.strName = sp.systemLocation();
        info.strDevice = info.strName;
        info.strDescription = sp.description();
        info.strManufacturer = sp.manufacturer();
        info.strSerialNumber = sp.serialNumber();
        info.bHasUsbIds = sp.hasVendorIdentifier() && sp.hasProductIdentifier();
        info.nVendorId = sp.vendorIdentifier();
        info.nProductId = sp.productIdentifier();
        devices << info;
    }
    QList<KrPortInfo> ports = KrWithStableNames(devices, KrStableNames());
    for (const QString& name : KrFixedPortNames()) {
        KrPortInfo info;
        info.strName = name;
        info.strDevice = name;
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
    if (info.IsStableName())
        parts << QStringLiteral("stable name of ") + info.strDevice;
    return parts.join(QStringLiteral(" - "));
}
