#pragma once
// A system-facts source that replays a machine recorded in an INI file
// (tests/data/sysinfo/*.ini) and counts the queries made of it, in order.

#include "SysInfoTexts.h"

#include <QSettings>
#include <QStringList>

class CRecordedSysInfoSource : public CSysInfoSource
{
public:
    explicit CRecordedSysInfoSource(const QString& iniPath) : m_ini(iniPath, QSettings::IniFormat)
    {
    }

    QStringList calls; // "disk", "memory", "version", "protocols:<os>", "processor:<os>", "user"

    DiskFacts QueryDisk() override
    {
        calls << QStringLiteral("disk");
        DiskFacts f;
        f.bQueried = m_ini.value("disk/queried").toBool();
        f.totalBytes = m_ini.value("disk/totalBytes").toULongLong();
        f.freeBytes = m_ini.value("disk/freeBytes").toULongLong() + m_extraFree;
        return f;
    }

    MemoryFacts QueryMemory() override
    {
        calls << QStringLiteral("memory");
        MemoryFacts f;
        f.totalPhys = m_ini.value("memory/totalPhys").toULongLong();
        f.availPhys = m_ini.value("memory/availPhys").toULongLong();
        f.totalVirtual = m_ini.value("memory/totalVirtual").toULongLong();
        f.availVirtual = m_ini.value("memory/availVirtual").toULongLong();
        return f;
    }

    VersionFacts QueryVersion() override
    {
        calls << QStringLiteral("version");
        VersionFacts f;
        f.platformId = m_ini.value("version/platformId").toUInt();
        f.major = m_ini.value("version/major").toUInt();
        f.minor = m_ini.value("version/minor").toUInt();
        f.csdVersion = m_ini.value("version/csdVersion").toString().toLatin1();
        return f;
    }

    ProtocolFacts QueryProtocols(const QByteArray& osName) override
    {
        calls << QStringLiteral("protocols:") + QString::fromLatin1(osName);
        ProtocolFacts f;
        f.network9x = Listing("network9x");
        f.servicesNt = Listing("servicesNt");
        return f;
    }

    ProcessorFacts QueryProcessor(const QByteArray& osName) override
    {
        calls << QStringLiteral("processor:") + QString::fromLatin1(osName);
        ProcessorFacts f;
        f.level = quint16(m_ini.value("processor/level").toUInt());
        f.bKeyOpened = m_ini.value("processor/keyOpened").toBool();
        f.identifier = Text("processor/Identifier");
        f.vendorIdentifier = Text("processor/VendorIdentifier");
        f.processorName = Text("processor/ProcessorName");
        f.processorNameString = Text("processor/ProcessorNameString");
        return f;
    }

    UserFacts QueryUser() override
    {
        calls << QStringLiteral("user");
        UserFacts f;
        f.bOk = m_ini.value("user/ok").toBool();
        f.name = m_ini.value("user/name").toString().toLatin1();
        return f;
    }

    // Lets a test change the drive between two openings.
    void AddFreeBytes(quint64 n) { m_extraFree += n; }

private:
    // failedAt=N: the call at index N fails; the names from N on are what
    // the registry would have returned after it.
    RegKeyListing Listing(const QString& group)
    {
        RegKeyListing listing;
        listing.bOpened = m_ini.value(group + "/opened").toBool();
        const QStringList names = m_ini.value(group + "/subKeys").toStringList();
        const int failedAt = m_ini.value(group + "/failedAt", -1).toInt();
        for (int i = 0; i < names.size(); ++i) {
            if (i == failedAt)
                listing.calls.append(RegSubKey{false, QByteArray()});
            listing.calls.append(RegSubKey{true, names[i].trimmed().toLatin1()});
        }
        if (failedAt >= names.size())
            listing.calls.append(RegSubKey{false, QByteArray()});
        return listing;
    }

    RegTextValue Text(const QString& key)
    {
        RegTextValue v;
        v.bRead = m_ini.contains(key);
        v.value = m_ini.value(key).toString().toLatin1();
        return v;
    }

    QSettings m_ini;
    quint64 m_extraFree = 0;
};
