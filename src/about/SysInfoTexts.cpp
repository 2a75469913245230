#include "SysInfoTexts.h"

#include <cmath>

const char* const kProtocolKey9x = "Enum\\Network";
const char* const kProtocolKeyNt = "SYSTEM\\CurrentControlSet\\Services";
const char* const kProcessorKey = "Hardware\\Description\\System\\CentralProcessor\\0";

namespace {

bool Is9xFamily(const QByteArray& osName)
{
    return osName == "Win95" || osName == "Win98" || osName == "WinME";
}

bool IsNt5Family(const QByteArray& osName)
{
    return osName == "Win2000" || osName == "WinXP" || osName == "Win2003 Server";
}

bool IsWindowsName(const QByteArray& osName)
{
    return Is9xFamily(osName) || IsNt5Family(osName) || osName == "WinNT4.0" ||
           osName == "WinNT3.51";
}

// Linux facts fill the names outside the table; the table's names and the
// empty one keep their own rules whatever the facts came from.
bool IsLinuxBranch(const QByteArray& osName, bool bFromLinux)
{
    return bFromLinux && !osName.isEmpty() && !IsWindowsName(osName);
}

constexpr int kMbShift = 20;

QByteArray Num(quint64 n)
{
    return QByteArray::number(n);
}

} // namespace

QByteArray GetPercentText(double share)
{
    // A share outside 0..1 (an undefined share of an empty drive, or
    // inconsistent figures) is held to the nearest end.
    if (!(share > 0.0))
        share = 0.0;
    if (share > 1.0)
        share = 1.0;

    // Hundredths rounded half up, computed exactly on the binary value:
    // share = m / 2^k with a 53-bit integer m. printf would round exact halves
    // (0.125) to even and depends on the locale's decimal point.
    int exp = 0;
    const double frac = std::frexp(share, &exp);
    const quint64 m = quint64(std::ldexp(frac, 53));
    const int k = 53 - exp; // at least 52, since share <= 1
    quint64 hundredths = 0;
    if (k < 63)
        hundredths = (m * 100 + (quint64(1) << (k - 1))) >> k;
    if (hundredths >= 100)
        return QByteArrayLiteral("100");
    QByteArray text = QByteArray::number(hundredths);
    return text.size() < 2 ? '0' + text : text;
}

QByteArray BuildDiskText(const DiskFacts& facts)
{
    quint64 totalMb = 0;
    quint64 freeMb = 0;
    if (facts.bQueried) {
        totalMb = facts.totalBytes >> kMbShift;
        freeMb = facts.freeBytes >> kMbShift;
    }
    if (freeMb > totalMb)
        freeMb = totalMb;
    const quint64 usedMb = totalMb - freeMb;
    const double share = totalMb ? double(usedMb) / double(totalMb) : 0.0;

    QByteArray text = "\tDisk Space:\r\n\r\n";
    text += "Disk Space Available: \t" + Num(freeMb) + " MB";
    text += "\r\nTotal Disk Size: \t\t" + Num(totalMb) + " MB";
    text += "\r\nPercent Used: \t\t" + GetPercentText(share) + '%';
    text += "\r\nDisk Space Used: \t\t" + Num(usedMb) + " MB";
    return text;
}

QByteArray BuildMemoryText(const MemoryFacts& facts)
{
    const double share = facts.totalPhys ? (double(facts.totalPhys) - double(facts.availPhys)) /
                                               double(facts.totalPhys)
                                         : 0.0;

    QByteArray text = "\tRAM Status:\r\n\r\n";
    text += "Total Physical RAM: \t" + Num(facts.totalPhys >> kMbShift) + "\r\n";
    text += "Total Available RAM: \t" + Num(facts.availPhys >> kMbShift) + "\r\n";
    text += "Percent Used: \t\t" + GetPercentText(share) + "%\r\n";
    text += "Total Virtual RAM: \t\t" + Num(facts.totalVirtual >> kMbShift) + "\r\n";
    text += "Available Virtual RAM: \t" + Num(facts.availVirtual >> kMbShift) + "\r\n";
    return text;
}

QByteArray GetServicePackText(const VersionFacts& facts)
{
    return facts.csdVersion;
}

QByteArray GetOsName(const VersionFacts& facts)
{
    if (facts.bFromLinux)
        return facts.prettyName.isEmpty() ? QByteArrayLiteral("Linux") : facts.prettyName;

    if (facts.platformId == VER_PLATFORM_WIN32_NT) {
        if (facts.major == 5 && facts.minor == 0)
            return "Win2000";
        if (facts.major == 5 && facts.minor == 1)
            return "WinXP";
        if (facts.major == 5 && facts.minor == 2)
            return "Win2003 Server";
        if (facts.major == 4 && facts.minor == 0)
            return "WinNT4.0";
        if (facts.major == 3 && facts.minor == 51)
            return "WinNT3.51";
    } else if (facts.platformId == VER_PLATFORM_WIN32_WINDOWS && facts.major == 4) {
        if (facts.minor == 0)
            return "Win95";
        if (facts.minor == 10)
            return "Win98";
        if (facts.minor == 90)
            return "WinME";
    }
    return QByteArray();
}

const char* ProtocolKeyFor(const QByteArray& osName)
{
    return Is9xFamily(osName) ? kProtocolKey9x : kProtocolKeyNt;
}

QByteArray BuildProtocolsText(const QByteArray& osName, const ProtocolFacts& facts)
{
    QByteArray text = "\r\nProtocols Installed:\r\n";

    if (IsLinuxBranch(osName, facts.bFromLinux)) {
        if (facts.bTcpIpv4)
            text += "TCP\\IP\r\n";
        return text;
    }

    static const struct
    {
        const char* subKey;
        const char* line;
    } kProtocols[] = {
        {"NBF", "NetBEUI\r\n"},
        {"TCPIP", "TCP\\IP\r\n"},
        {"DECDNP", "DECNet\r\n"},
        {"NWSIPX32", "IPX\\SPX\r\n"},
    };

    const RegKeyListing& key = Is9xFamily(osName) ? facts.network9x : facts.servicesNt;
    if (!key.bOpened)
        return text;
    for (const RegSubKey& call : key.calls) {
        if (!call.bOk)
            break;
        for (const auto& protocol : kProtocols) {
            if (call.name.compare(protocol.subKey, Qt::CaseInsensitive) == 0) {
                text += protocol.line;
                break;
            }
        }
    }
    return text;
}

bool ProcessorTextReadsRegistry(const QByteArray& osName, quint16 level)
{
    return Is9xFamily(osName) || IsNt5Family(osName) || (osName == "WinNT4.0" && level == 6);
}

QByteArray BuildProcessorText(const QByteArray& osName, const ProcessorFacts& facts)
{
    const auto identifierOrVendor = [&facts]() -> const RegTextValue* {
        if (facts.identifier.bRead)
            return &facts.identifier;
        if (facts.vendorIdentifier.bRead)
            return &facts.vendorIdentifier;
        return nullptr;
    };

    if (Is9xFamily(osName)) {
        if (!facts.bKeyOpened)
            return QByteArray();
        const RegTextValue* value = identifierOrVendor();
        return value ? value->value + "\r\n" : QByteArray();
    }

    if (IsNt5Family(osName)) {
        if (!facts.bKeyOpened)
            return QByteArray();
        if (facts.processorName.bRead)
            return facts.processorName.value + "\r\n";
        if (facts.processorNameString.bRead)
            return facts.processorNameString.value.trimmed() + "\r\n";
        return QByteArray();
    }

    if (osName == "WinNT4.0") {
        switch (facts.level) {
        case 3:
            return "386 Processor\r\n";
        case 4:
            return "486 Processor\r\n";
        case 5:
            return "Pentium 1 Processor\r\n";
        case 15:
            return "Pentium 4 Processor\r\n";
        case 6:
            break;
        default:
            return "Unknown processor\r\n";
        }
        if (!facts.bKeyOpened)
            return QByteArray();
        const RegTextValue* value = identifierOrVendor();
        if (!value)
            return QByteArray();
        if (value->value.contains('5'))
            return "Pentium Pro or Pentium 2 CPU\r\n";
        if (value->value.contains('8'))
            return "Pentium 3 Processor\r\n";
        return QByteArray();
    }

    if (IsLinuxBranch(osName, facts.bFromLinux)) {
        const QByteArray model = facts.modelName.trimmed();
        return model.isEmpty() ? QByteArray() : model + "\r\n";
    }
    return QByteArray();
}

QByteArray BuildUserText(const UserFacts& facts)
{
    // A name that cannot be read still gives a readable line.
    if (!facts.bOk || facts.name.isEmpty())
        return "User: unknown";
    return "User: " + facts.name;
}

QByteArray BuildSummaryText(const QByteArray& user, const QByteArray& processor,
                            const QByteArray& osName, const QByteArray& servicePack,
                            const QByteArray& protocols)
{
    return user + "\r\n" + processor + "\r\n" + osName + "\r\n" + servicePack + "\r\n" + protocols;
}
