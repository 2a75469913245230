#include "KrReconnect.h"

namespace {

using Exists = std::function<bool(const QString&)>;

// The entry for the device `path` stands for: the entry of that name, else one
// whose device is where the path leads. Null when the list does not know it.
const KrPortInfo* EntryFor(const QString& path, const QList<KrPortInfo>& ports)
{
    for (const KrPortInfo& info : ports) {
        if (info.strName == path)
            return &info;
    }
    const QString canonical = KrCanonicalPath(path);
    for (const KrPortInfo& info : ports) {
        if (info.Device() == path || KrCanonicalPath(info.Device()) == canonical)
            return &info;
    }
    return nullptr;
}

// The one device among `ports` that `accepts`; empty when there is none or more
// than one. Entries for the same device count once.
template <typename Pred> QString OnlyDevice(const QList<KrPortInfo>& ports, Pred accepts)
{
    QString found;
    for (const KrPortInfo& info : ports) {
        if (!accepts(info))
            continue;
        if (found.isEmpty())
            found = info.Device();
        else if (found != info.Device())
            return QString();
    }
    return found;
}

QString ByName(const QString& configuredPath, const KrDeviceIdentity& was,
               const QList<KrPortInfo>& now, const Exists& exists)
{
    QStringList candidates{configuredPath};
    if (was.strPath != configuredPath)
        candidates << was.strPath;
    for (const QString& path : candidates) {
        if (path.isEmpty() || !exists(path))
            continue;
        // Not listed (a pseudo-terminal, a link by another name): nothing to
        // hold against it.
        const KrPortInfo* pInfo = was.IsKnown() ? EntryFor(path, now) : nullptr;
        if (!pInfo || was.Matches(*pInfo))
            return path;
    }
    return QString();
}

QString BySerialNumber(const QString&, const KrDeviceIdentity& was, const QList<KrPortInfo>& now,
                       const Exists&)
{
    if (!was.HasSerialNumber())
        return QString();
    return OnlyDevice(now, [&was](const KrPortInfo& info) { return was.Matches(info); });
}

QString ByUsbIds(const QString&, const KrDeviceIdentity& was, const QList<KrPortInfo>& now,
                 const Exists&)
{
    if (was.HasSerialNumber() || !was.bHasUsbIds)
        return QString();
    return OnlyDevice(now, [&was](const KrPortInfo& info) {
        return info.bHasUsbIds && info.nVendorId == was.nVendorId &&
               info.nProductId == was.nProductId;
    });
}

struct Strategy
{
    KrFollowBy by;
    const char* pszText;
    QString (*find)(const QString&, const KrDeviceIdentity&, const QList<KrPortInfo>&,
                    const Exists&);
};

// Every way of following a device, in the order they are tried.
const Strategy kStrategies[] = {
    {KrFollowBy::Name, "name", ByName},
    {KrFollowBy::SerialNumber, "serial number", BySerialNumber},
    {KrFollowBy::UsbIds, "USB VID:PID", ByUsbIds},
};

} // namespace

bool KrDeviceIdentity::Matches(const KrPortInfo& info) const
{
    if (HasSerialNumber() && info.strSerialNumber.trimmed() != strSerialNumber.trimmed())
        return false;
    if (bHasUsbIds && info.bHasUsbIds &&
        (info.nVendorId != nVendorId || info.nProductId != nProductId))
        return false;
    return true;
}

KrDeviceIdentity KrIdentityOf(const QString& path, const QList<KrPortInfo>& ports)
{
    KrDeviceIdentity identity;
    identity.strPath = path;
    if (const KrPortInfo* pInfo = EntryFor(path, ports)) {
        identity.strSerialNumber = pInfo->strSerialNumber.trimmed();
        identity.bHasUsbIds = pInfo->bHasUsbIds;
        identity.nVendorId = pInfo->nVendorId;
        identity.nProductId = pInfo->nProductId;
    }
    return identity;
}

KrFollowResult KrFindDevice(const QString& configuredPath, const KrDeviceIdentity& was,
                            const QList<KrPortInfo>& now, const Exists& exists)
{
    for (const Strategy& s : kStrategies) {
        const QString path = s.find(configuredPath, was, now, exists);
        if (!path.isEmpty())
            return KrFollowResult{path, s.by};
    }
    return KrFollowResult{};
}

QString KrFollowByText(KrFollowBy by)
{
    for (const Strategy& s : kStrategies) {
        if (s.by == by)
            return QString::fromLatin1(s.pszText);
    }
    return QString();
}
