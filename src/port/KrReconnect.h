#pragma once
// Finding a serial device again after it went away, under its old name or, for
// a USB adapter that came back under another one, by what identifies the unit.
// Plain functions without shared state, called on the port's I/O thread when it
// reopens a lost device.

#include "KrPortList.h"

#include <QList>
#include <QString>
#include <functional>

// What is known of a device that was open.
struct KrDeviceIdentity
{
    QString strPath;         // the path it was open under
    QString strSerialNumber; // empty when unknown
    bool bHasUsbIds = false;
    quint16 nVendorId = 0, nProductId = 0;

    bool HasSerialNumber() const { return !strSerialNumber.trimmed().isEmpty(); }
    // Something beyond the path: a serial number or a VID:PID.
    bool IsKnown() const { return HasSerialNumber() || bHasUsbIds; }
    // Whether `info` may be this unit: the same serial number when this one has
    // one, and the same VID:PID where both sides know it.
    bool Matches(const KrPortInfo& info) const;
};

// The identity of the device at `path` according to `ports` (compared by the
// device each name stands for, so a /dev/serial/by-id link and /dev/ttyUSB0 are
// the same device). Only strPath is set when the list does not know the device
// (a pseudo-terminal, say).
KrDeviceIdentity KrIdentityOf(const QString& path, const QList<KrPortInfo>& ports);

// The ways of finding a device again, tried in this order.
enum class KrFollowBy
{
    Name,         // the configured path, then the path it was open under
    SerialNumber, // the one device with its serial number
    UsbIds        // without a serial number: the one device with its VID:PID
};

struct KrFollowResult
{
    QString strPath; // what to open; empty when not found
    KrFollowBy by = KrFollowBy::Name;
    bool IsFound() const { return !strPath.isEmpty(); }
};

// Where the device is now: tries the ways in their order and returns the first
// hit; not found when none applies. A device found by its identity is given by
// its device path (/dev/ttyUSB1), not a stable name. `exists` tells whether a
// path exists now.
KrFollowResult KrFindDevice(const QString& configuredPath, const KrDeviceIdentity& was,
                            const QList<KrPortInfo>& now,
                            const std::function<bool(const QString&)>& exists);

// For messages: "name", "serial number", "USB VID:PID".
QString KrFollowByText(KrFollowBy by);
