#pragma once
// The texts of the System Information dialog. Each text has a query half,
// which asks the platform for a few facts (CSysInfoSource), and a text half
// below, which depends on nothing but the facts handed to it. Texts are 8-bit
// strings whose lines end in "\r\n".
// User-interface thread (the dialog asks as it opens).

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// Drive holding the current directory.
struct DiskFacts
{
    bool bQueried = false; // false: the drive could not be asked
    quint64 totalBytes = 0;
    quint64 freeBytes = 0;
};

// Byte counts; 64-bit so that machines beyond 4 GiB are shown in full.
struct MemoryFacts
{
    quint64 totalPhys = 0;
    quint64 availPhys = 0;
    quint64 totalVirtual = 0;
    quint64 availVirtual = 0;
};

constexpr quint32 VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr quint32 VER_PLATFORM_WIN32_NT = 2;

struct VersionFacts
{
    quint32 platformId = 0;
    quint32 major = 0;
    quint32 minor = 0;
    QByteArray csdVersion; // service-pack text; on Linux the kernel's name and release
    bool bFromLinux = false;
    QByteArray prettyName; // Linux: PRETTY_NAME of os-release, empty when it has none
};

// One call of the sub-key enumeration, in index order.
struct RegSubKey
{
    bool bOk = false;
    QByteArray name;
};

struct RegKeyListing
{
    bool bOpened = false;
    QList<RegSubKey> calls; // the enumeration, up to and including its first failing call
};

struct ProtocolFacts
{
    RegKeyListing network9x;  // HKLM\Enum\Network
    RegKeyListing servicesNt; // HKLM\SYSTEM\CurrentControlSet\Services
    bool bFromLinux = false;
    bool bTcpIpv4 = false; // Linux: the kernel offers IPv4 TCP
};

struct RegTextValue
{
    bool bRead = false;
    QByteArray value;
};

struct ProcessorFacts
{
    quint16 level = 0; // wProcessorLevel
    bool bKeyOpened = false;
    RegTextValue identifier;
    RegTextValue vendorIdentifier;
    RegTextValue processorName;
    RegTextValue processorNameString;
    bool bFromLinux = false;
    QByteArray modelName; // Linux: "model name" of /proc/cpuinfo as read
};

struct UserFacts
{
    bool bOk = false;
    QByteArray name;
};

// Registry keys under HKEY_LOCAL_MACHINE that the texts are read from.
extern const char* const kProtocolKey9x;
extern const char* const kProtocolKeyNt;
extern const char* const kProcessorKey;

// The digits of a share (0 to 1) as a whole percentage: "05", "37", "100".
QByteArray GetPercentText(double share);

QByteArray BuildDiskText(const DiskFacts& facts);
QByteArray BuildMemoryText(const MemoryFacts& facts);
QByteArray GetServicePackText(const VersionFacts& facts);
QByteArray GetOsName(const VersionFacts& facts);
// The key whose sub-keys name the protocols on the system called osName.
const char* ProtocolKeyFor(const QByteArray& osName);
QByteArray BuildProtocolsText(const QByteArray& osName, const ProtocolFacts& facts);
// True when the processor text for osName needs the processor key; false
// for NT 4 unless the level is 6.
bool ProcessorTextReadsRegistry(const QByteArray& osName, quint16 level);
QByteArray BuildProcessorText(const QByteArray& osName, const ProcessorFacts& facts);
QByteArray BuildUserText(const UserFacts& facts);
QByteArray BuildSummaryText(const QByteArray& user, const QByteArray& processor,
                            const QByteArray& osName, const QByteArray& servicePack,
                            const QByteArray& protocols);

// The query halves: the facts of one running system, asked for each time a
// query is called.
class CSysInfoSource
{
public:
    virtual ~CSysInfoSource() = default;
    virtual DiskFacts QueryDisk() = 0;
    virtual MemoryFacts QueryMemory() = 0;
    virtual VersionFacts QueryVersion() = 0;
    virtual ProtocolFacts QueryProtocols(const QByteArray& osName) = 0;
    virtual ProcessorFacts QueryProcessor(const QByteArray& osName) = 0;
    virtual UserFacts QueryUser() = 0;
};

// The source for the system the program runs on.
CSysInfoSource& PlatformSysInfoSource();
