// The Windows source of the System Information facts: the Win32 queries of
// SysInfoFacts_win.cpp, handed over in the texts' own records.

#include "SysInfoFactsWin.h"
#include "SysInfoTexts.h"

namespace {

QByteArray Bytes(const std::string& s)
{
    return QByteArray(s.data(), int(s.size()));
}

RegTextValue Convert(const winfacts::TextValue& v)
{
    RegTextValue r;
    r.bRead = v.bRead;
    r.value = Bytes(v.value);
    return r;
}

RegKeyListing Convert(const winfacts::KeyListing& listing)
{
    RegKeyListing r;
    r.bOpened = listing.bOpened;
    for (const winfacts::SubKey& call : listing.calls)
        r.calls.append(RegSubKey{call.bOk, Bytes(call.name)});
    return r;
}

class CWinSysInfoSource : public CSysInfoSource
{
public:
    DiskFacts QueryDisk() override
    {
        const winfacts::Disk d = winfacts::QueryDisk();
        DiskFacts facts;
        facts.bQueried = d.bQueried;
        facts.totalBytes = d.totalBytes;
        facts.freeBytes = d.freeBytes;
        return facts;
    }

    MemoryFacts QueryMemory() override
    {
        const winfacts::Memory m = winfacts::QueryMemory();
        MemoryFacts facts;
        facts.totalPhys = m.totalPhys;
        facts.availPhys = m.availPhys;
        facts.totalVirtual = m.totalVirtual;
        facts.availVirtual = m.availVirtual;
        return facts;
    }

    VersionFacts QueryVersion() override
    {
        const winfacts::Version v = winfacts::QueryVersion();
        VersionFacts facts;
        facts.platformId = v.platformId;
        facts.major = v.major;
        facts.minor = v.minor;
        facts.csdVersion = Bytes(v.csdVersion);
        return facts;
    }

    ProtocolFacts QueryProtocols(const QByteArray& osName) override
    {
        // Only the key that the OS name selects is read.
        ProtocolFacts facts;
        const char* key = ProtocolKeyFor(osName);
        RegKeyListing& listing = key == kProtocolKey9x ? facts.network9x : facts.servicesNt;
        listing = Convert(winfacts::QuerySubKeys(key));
        return facts;
    }

    ProcessorFacts QueryProcessor(const QByteArray& osName) override
    {
        winfacts::Processor p = winfacts::QueryProcessor(kProcessorKey, false);
        if (ProcessorTextReadsRegistry(osName, p.level))
            p = winfacts::QueryProcessor(kProcessorKey, true);
        ProcessorFacts facts;
        facts.level = p.level;
        facts.bKeyOpened = p.bKeyOpened;
        facts.identifier = Convert(p.identifier);
        facts.vendorIdentifier = Convert(p.vendorIdentifier);
        facts.processorName = Convert(p.processorName);
        facts.processorNameString = Convert(p.processorNameString);
        return facts;
    }

    UserFacts QueryUser() override
    {
        const winfacts::User u = winfacts::QueryUser();
        UserFacts facts;
        facts.bOk = u.bOk;
        facts.name = Bytes(u.name);
        return facts;
    }
};

} // namespace

CSysInfoSource& PlatformSysInfoSource()
{
    static CWinSysInfoSource source;
    return source;
}
