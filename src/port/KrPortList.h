#pragma once
// The ports a user can choose from, with what the system knows of each.
// Plain functions without shared state: the configuration dialog calls them on
// the UI thread, a port's I/O thread when it looks for a device that went away.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

struct KrPortInfo
{
    QString strName;   // what goes in the configuration: a device path or a URL
    QString strDevice; // the device the name stands for; equal to strName but for a stable name
    QString strDescription;
    QString strManufacturer;
    QString strSerialNumber;
    bool bHasUsbIds = false;
    quint16 nVendorId = 0;
    quint16 nProductId = 0;

    // strDevice, or strName when strDevice is not set.
    QString Device() const { return strDevice.isEmpty() ? strName : strDevice; }
    // A stable name: a link that stands for another entry's device.
    bool IsStableName() const { return !strDevice.isEmpty() && strDevice != strName; }
};

// Where the system keeps a name for each USB serial device that survives
// unplugging and a new device number.
QString KrStableNamesDir();

// The links in `dir` by the device each points at: canonical device path ->
// link paths (dir + "/" + link name), sorted. Links that lead nowhere and
// anything not a link are left out; a missing directory gives an empty map.
QMap<QString, QStringList> KrStableNames(const QString& dir = KrStableNamesDir());

// `devices`, each followed by an entry for every stable name of it: the same
// details, strName the link path, strDevice the device's strName.
QList<KrPortInfo> KrWithStableNames(const QList<KrPortInfo>& devices,
                                    const QMap<QString, QStringList>& stableNames);

// The serial devices found on the system, each followed by its stable names,
// then the ports that need no hardware ("loop://").
QList<KrPortInfo> KrAvailablePorts();

// The path with links resolved when it exists, else the path itself.
QString KrCanonicalPath(const QString& path);

// One line of what is known besides the name, for example
// "USB Serial - FTDI - USB 0403:6001 - serial A50285BI"; a stable name adds
// "stable name of /dev/ttyUSB0". Empty when nothing is known.
QString KrPortInfoText(const KrPortInfo& info);
