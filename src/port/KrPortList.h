#pragma once
// The ports a user can choose from, with what the system knows of each.

#include <QList>
#include <QString>

struct KrPortInfo
{
    QString strName; // what goes in the configuration: a device path or a URL
    QString strDescription;
    QString strManufacturer;
    QString strSerialNumber;
    bool bHasUsbIds = false;
    quint16 nVendorId = 0;
    quint16 nProductId = 0;
};

// The serial devices found on the system, then the ports that need no
// hardware ("loop://").
QList<KrPortInfo> KrAvailablePorts();

// One line of what is known besides the name, for example
// "USB Serial - FTDI - USB 0403:6001 - serial A50285BI"; empty when nothing is.
QString KrPortInfoText(const KrPortInfo& info);
