// Text halves of the System Information report, fed with facts as the
// platforms report them.

#include "SysInfoTexts.h"

#include <QtTest>

namespace {

constexpr quint64 MiB = quint64(1) << 20;

RegKeyListing Listing(const QList<QByteArray>& names, bool bEndWithFailure = true)
{
    RegKeyListing listing;
    listing.bOpened = true;
    for (const QByteArray& name : names)
        listing.calls.append(RegSubKey{true, name});
    if (bEndWithFailure)
        listing.calls.append(RegSubKey{false, QByteArray()});
    return listing;
}

RegTextValue Value(const QByteArray& text)
{
    return RegTextValue{true, text};
}

VersionFacts Version(quint32 platformId, quint32 major, quint32 minor)
{
    VersionFacts v;
    v.platformId = platformId;
    v.major = major;
    v.minor = minor;
    return v;
}

} // namespace

class TestSysInfoTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void percentText_data();
    void percentText();

    void memoryText_data();
    void memoryText();

    void diskText_data();
    void diskText();

    void osName_data();
    void osName();
    void servicePackIsPassedThrough();
    void linuxOsName();

    void protocolKeyPerOs_data();
    void protocolKeyPerOs();
    void protocolLines_data();
    void protocolLines();
    void protocolsUnopenedKeyKeepsHeading();
    void linuxProtocols();

    void processor9x_data();
    void processor9x();
    void processorNt5_data();
    void processorNt5();
    void processorNt4_data();
    void processorNt4();
    void processorWithoutBranch_data();
    void processorWithoutBranch();
    void linuxProcessorDoesNotDisturbWindowsNames();
    void registryNeededPerOs();

    void userText();
    void summaryLayout();
    void summaryWithEmptyOsName();
};

void TestSysInfoTexts::percentText_data()
{
    QTest::addColumn<double>("share");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("0.054") << 0.054 << QByteArray("05");
    QTest::newRow("zero") << 0.0 << QByteArray("00");
    QTest::newRow("0.3749") << 0.3749 << QByteArray("37");
    QTest::newRow("0.996 rounds to 100") << 0.996 << QByteArray("100");
    QTest::newRow("0.994 stays 99") << 0.994 << QByteArray("99");
    QTest::newRow("one") << 1.0 << QByteArray("100");
    QTest::newRow("quarter") << 0.25 << QByteArray("25");
    QTest::newRow("0.4759") << 0.4759 << QByteArray("48");
    QTest::newRow("exact half 0.125 rounds up") << 0.125 << QByteArray("13");
    QTest::newRow("exact half 0.625 rounds up") << 0.625 << QByteArray("63");
    QTest::newRow("just below a half") << 0.285 << QByteArray("28"); // 0.28499999...
    QTest::newRow("0.005 rounds up") << 0.005 << QByteArray("01");   // 0.005000000000000000104
    QTest::newRow("tiny") << 1e-300 << QByteArray("00");
    QTest::newRow("negative held at 0") << -0.2 << QByteArray("00");
    QTest::newRow("above one held at 100") << 1.5 << QByteArray("100");
    QTest::newRow("NaN") << std::nan("") << QByteArray("00");
}

void TestSysInfoTexts::percentText()
{
    QFETCH(double, share);
    QFETCH(QByteArray, expected);
    QCOMPARE(GetPercentText(share), expected);
}

void TestSysInfoTexts::memoryText_data()
{
    QTest::addColumn<quint64>("totalPhys");
    QTest::addColumn<quint64>("availPhys");
    QTest::addColumn<quint64>("totalVirtual");
    QTest::addColumn<quint64>("availVirtual");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("1 GiB, a quarter available")
        << quint64(1073741824) << quint64(268435456) << quint64(2147352576)
        << quint64(2147352576 - 300 * MiB)
        << QByteArray("\tRAM Status:\r\n\r\n"
                      "Total Physical RAM: \t1024\r\n"
                      "Total Available RAM: \t256\r\n"
                      "Percent Used: \t\t75%\r\n"
                      "Total Virtual RAM: \t\t2047\r\n"
                      "Available Virtual RAM: \t1747\r\n");
    QTest::newRow("a quarter in use") << 4 * 100 * MiB << 3 * 100 * MiB << quint64(0) << quint64(0)
                                      << QByteArray("\tRAM Status:\r\n\r\n"
                                                    "Total Physical RAM: \t400\r\n"
                                                    "Total Available RAM: \t300\r\n"
                                                    "Percent Used: \t\t25%\r\n"
                                                    "Total Virtual RAM: \t\t0\r\n"
                                                    "Available Virtual RAM: \t0\r\n");
    // Figures beyond 4 GiB and beyond 2^31 MB are printed in full.
    QTest::newRow("64 GiB and a 128 TiB address space")
        << 64 * 1024 * MiB << 16 * 1024 * MiB << (quint64(128) << 40) << (quint64(5) << 52)
        << QByteArray("\tRAM Status:\r\n\r\n"
                      "Total Physical RAM: \t65536\r\n"
                      "Total Available RAM: \t16384\r\n"
                      "Percent Used: \t\t75%\r\n"
                      "Total Virtual RAM: \t\t134217728\r\n"
                      "Available Virtual RAM: \t21474836480\r\n");
    QTest::newRow("MB figures round down")
        << (MiB - 1) << quint64(0) << (2 * MiB - 1) << quint64(MiB)
        << QByteArray("\tRAM Status:\r\n\r\n"
                      "Total Physical RAM: \t0\r\n"
                      "Total Available RAM: \t0\r\n"
                      "Percent Used: \t\t100%\r\n"
                      "Total Virtual RAM: \t\t1\r\n"
                      "Available Virtual RAM: \t1\r\n");
    QTest::newRow("nothing known") << quint64(0) << quint64(0) << quint64(0) << quint64(0)
                                   << QByteArray("\tRAM Status:\r\n\r\n"
                                                 "Total Physical RAM: \t0\r\n"
                                                 "Total Available RAM: \t0\r\n"
                                                 "Percent Used: \t\t00%\r\n"
                                                 "Total Virtual RAM: \t\t0\r\n"
                                                 "Available Virtual RAM: \t0\r\n");
}

void TestSysInfoTexts::memoryText()
{
    QFETCH(quint64, totalPhys);
    QFETCH(quint64, availPhys);
    QFETCH(quint64, totalVirtual);
    QFETCH(quint64, availVirtual);
    QFETCH(QByteArray, expected);
    MemoryFacts facts;
    facts.totalPhys = totalPhys;
    facts.availPhys = availPhys;
    facts.totalVirtual = totalVirtual;
    facts.availVirtual = availVirtual;
    QCOMPARE(BuildMemoryText(facts), expected);
}

void TestSysInfoTexts::diskText_data()
{
    QTest::addColumn<bool>("bQueried");
    QTest::addColumn<quint64>("totalBytes");
    QTest::addColumn<quint64>("freeBytes");
    QTest::addColumn<QByteArray>("expected");

    const auto text = [](const char* avail, const char* total, const char* pct, const char* used) {
        return QByteArray("\tDisk Space:\r\n\r\n") + "Disk Space Available: \t" + avail + " MB" +
               "\r\nTotal Disk Size: \t\t" + total + " MB" + "\r\nPercent Used: \t\t" + pct + "%" +
               "\r\nDisk Space Used: \t\t" + used + " MB";
    };

    QTest::newRow("76,316 MB with 40,000 free") << true << 76316 * MiB + 12345 << 40000 * MiB + 999
                                                << text("40000", "76316", "48", "36316");
    QTest::newRow("full drive") << true << 1000 * MiB << quint64(0)
                                << text("0", "1000", "100", "1000");
    QTest::newRow("empty drive") << true << 1000 * MiB << 1000 * MiB
                                 << text("1000", "1000", "00", "0");
    QTest::newRow("5 % full") << true << 1000 * MiB << 950 * MiB << text("950", "1000", "05", "50");
    QTest::newRow("8 TiB, beyond 32-bit MB counts")
        << true << (quint64(8) << 40) << (quint64(2) << 40)
        << text("2097152", "8388608", "75", "6291456");
    QTest::newRow("6 Pi-MB, beyond 4 Gi-MB")
        << true << (quint64(6) << 52) << (quint64(3) << 52)
        << text("12884901888", "25769803776", "50", "12884901888");
    QTest::newRow("size 0") << true << quint64(0) << quint64(0) << text("0", "0", "00", "0");
    QTest::newRow("below one MB") << true << MiB - 1 << quint64(0) << text("0", "0", "00", "0");
    QTest::newRow("query failed") << false << 1000 * MiB << 10 * MiB << text("0", "0", "00", "0");
    QTest::newRow("free above total")
        << true << 10 * MiB << 20 * MiB << text("10", "10", "00", "0");
}

void TestSysInfoTexts::diskText()
{
    QFETCH(bool, bQueried);
    QFETCH(quint64, totalBytes);
    QFETCH(quint64, freeBytes);
    QFETCH(QByteArray, expected);
    DiskFacts facts;
    facts.bQueried = bQueried;
    facts.totalBytes = totalBytes;
    facts.freeBytes = freeBytes;
    QCOMPARE(BuildDiskText(facts), expected);
}

void TestSysInfoTexts::osName_data()
{
    QTest::addColumn<quint32>("platformId");
    QTest::addColumn<quint32>("major");
    QTest::addColumn<quint32>("minor");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("2000") << 2u << 5u << 0u << QByteArray("Win2000");
    QTest::newRow("XP") << 2u << 5u << 1u << QByteArray("WinXP");
    QTest::newRow("2003") << 2u << 5u << 2u << QByteArray("Win2003 Server");
    QTest::newRow("NT 4") << 2u << 4u << 0u << QByteArray("WinNT4.0");
    QTest::newRow("NT 3.51") << 2u << 3u << 51u << QByteArray("WinNT3.51");
    QTest::newRow("95") << 1u << 4u << 0u << QByteArray("Win95");
    QTest::newRow("98") << 1u << 4u << 10u << QByteArray("Win98");
    QTest::newRow("ME") << 1u << 4u << 90u << QByteArray("WinME");
    QTest::newRow("6.0 not in the table") << 2u << 6u << 0u << QByteArray();
    QTest::newRow("5.3") << 2u << 5u << 3u << QByteArray();
    QTest::newRow("NT 3.5") << 2u << 3u << 5u << QByteArray();
    QTest::newRow("9x numbers on NT") << 2u << 4u << 10u << QByteArray();
    QTest::newRow("NT numbers on 9x") << 1u << 5u << 1u << QByteArray();
    QTest::newRow("Win32s") << 0u << 4u << 0u << QByteArray();
    QTest::newRow("CE") << 3u << 5u << 0u << QByteArray();
}

void TestSysInfoTexts::osName()
{
    QFETCH(quint32, platformId);
    QFETCH(quint32, major);
    QFETCH(quint32, minor);
    QFETCH(QByteArray, expected);
    const QByteArray name = GetOsName(Version(platformId, major, minor));
    QCOMPARE(name, expected);
}

void TestSysInfoTexts::servicePackIsPassedThrough()
{
    VersionFacts v = Version(2, 5, 1);
    v.csdVersion = "Service Pack 2";
    QCOMPARE(GetServicePackText(v), QByteArray("Service Pack 2"));
    v.csdVersion.clear();
    QCOMPARE(GetServicePackText(v), QByteArray());
}

void TestSysInfoTexts::linuxOsName()
{
    VersionFacts v;
    v.bFromLinux = true;
    v.prettyName = "Debian GNU/Linux 12 (bookworm)";
    QCOMPARE(GetOsName(v), QByteArray("Debian GNU/Linux 12 (bookworm)"));
    v.prettyName.clear();
    QCOMPARE(GetOsName(v), QByteArray("Linux"));
}

void TestSysInfoTexts::protocolKeyPerOs_data()
{
    QTest::addColumn<QByteArray>("osName");
    QTest::addColumn<bool>("b9xKey");
    QTest::newRow("Win95") << QByteArray("Win95") << true;
    QTest::newRow("Win98") << QByteArray("Win98") << true;
    QTest::newRow("WinME") << QByteArray("WinME") << true;
    QTest::newRow("Win2000") << QByteArray("Win2000") << false;
    QTest::newRow("WinXP") << QByteArray("WinXP") << false;
    QTest::newRow("Win2003 Server") << QByteArray("Win2003 Server") << false;
    QTest::newRow("WinNT4.0") << QByteArray("WinNT4.0") << false;
    QTest::newRow("WinNT3.51") << QByteArray("WinNT3.51") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("case differs: win98") << QByteArray("win98") << false;
    QTest::newRow("case differs: WINME") << QByteArray("WINME") << false;
}

void TestSysInfoTexts::protocolKeyPerOs()
{
    QFETCH(QByteArray, osName);
    QFETCH(bool, b9xKey);
    ProtocolFacts facts;
    facts.network9x = Listing({"NBF"});
    facts.servicesNt = Listing({"Tcpip"});
    const QByteArray heading = "\r\nProtocols Installed:\r\n";
    QCOMPARE(BuildProtocolsText(osName, facts), heading + (b9xKey ? "NetBEUI\r\n" : "TCP\\IP\r\n"));
    QCOMPARE(QByteArray(ProtocolKeyFor(osName)),
             QByteArray(b9xKey ? "Enum\\Network" : "SYSTEM\\CurrentControlSet\\Services"));
}

void TestSysInfoTexts::protocolLines_data()
{
    QTest::addColumn<RegKeyListing>("listing");
    QTest::addColumn<QByteArray>("lines");

    QTest::newRow("all four, enumeration order kept")
        << Listing({"NWSIPX32", "ACPI", "DECDNP", "TCPIP", "NBF"})
        << QByteArray("IPX\\SPX\r\nDECNet\r\nTCP\\IP\r\nNetBEUI\r\n");
    QTest::newRow("TCPIP in any case")
        << Listing({"tcpip", "Tcpip", "TcPiP"}) << QByteArray("TCP\\IP\r\nTCP\\IP\r\nTCP\\IP\r\n");
    QTest::newRow("whole names only")
        << Listing({"TCPIP6", "Tcpip6", "NBF2", "XTCPIP", "TCPI"}) << QByteArray();
    QTest::newRow("unknown names add nothing")
        << Listing({"Afd", "Dhcp", "Tcpip", "Netbios"}) << QByteArray("TCP\\IP\r\n");
    QTest::newRow("no sub-keys") << Listing({}) << QByteArray();
    QTest::newRow("list without a final failing call")
        << Listing({"NBF", "TCPIP"}, false) << QByteArray("NetBEUI\r\nTCP\\IP\r\n");

    RegKeyListing stopped = Listing({"NBF"}, false);
    stopped.calls.append(RegSubKey{false, "TCPIP"});
    stopped.calls.append(RegSubKey{true, "DECDNP"});
    QTest::newRow("stops at the first failing call") << stopped << QByteArray("NetBEUI\r\n");

    RegKeyListing failsFirst;
    failsFirst.bOpened = true;
    failsFirst.calls = {RegSubKey{false, QByteArray()}, RegSubKey{true, "TCPIP"}};
    QTest::newRow("first call fails") << failsFirst << QByteArray();
}

void TestSysInfoTexts::protocolLines()
{
    QFETCH(RegKeyListing, listing);
    QFETCH(QByteArray, lines);
    ProtocolFacts facts;
    facts.servicesNt = listing;
    QCOMPARE(BuildProtocolsText("WinXP", facts), "\r\nProtocols Installed:\r\n" + lines);
}

void TestSysInfoTexts::protocolsUnopenedKeyKeepsHeading()
{
    ProtocolFacts facts;
    facts.servicesNt = Listing({"TCPIP"});
    facts.servicesNt.bOpened = false;
    QCOMPARE(BuildProtocolsText("Win2000", facts), QByteArray("\r\nProtocols Installed:\r\n"));
}

void TestSysInfoTexts::linuxProtocols()
{
    ProtocolFacts facts;
    facts.bFromLinux = true;
    facts.bTcpIpv4 = true;
    const QByteArray heading = "\r\nProtocols Installed:\r\n";
    QCOMPARE(BuildProtocolsText("Debian GNU/Linux 12 (bookworm)", facts), heading + "TCP\\IP\r\n");
    facts.bTcpIpv4 = false;
    QCOMPARE(BuildProtocolsText("Linux", facts), heading);

    // The table's names keep reading their registry key.
    facts.bTcpIpv4 = true;
    QCOMPARE(BuildProtocolsText("WinXP", facts), heading);
    QCOMPARE(BuildProtocolsText(QByteArray(), facts), heading);
    facts.servicesNt = Listing({"NBF"});
    QCOMPARE(BuildProtocolsText("WinNT4.0", facts), heading + "NetBEUI\r\n");
}

void TestSysInfoTexts::processor9x_data()
{
    QTest::addColumn<bool>("bKeyOpened");
    QTest::addColumn<RegTextValue>("identifier");
    QTest::addColumn<RegTextValue>("vendor");
    QTest::addColumn<QByteArray>("expected");
    const RegTextValue none;
    QTest::newRow("Identifier") << true << Value("x86 Family 6 Model 8 Stepping 3")
                                << Value("GenuineIntel")
                                << QByteArray("x86 Family 6 Model 8 Stepping 3\r\n");
    QTest::newRow("Identifier untrimmed")
        << true << Value("  x86 ") << none << QByteArray("  x86 \r\n");
    QTest::newRow("VendorIdentifier when Identifier fails")
        << true << none << Value("AuthenticAMD") << QByteArray("AuthenticAMD\r\n");
    QTest::newRow("empty Identifier still wins")
        << true << Value("") << Value("AuthenticAMD") << QByteArray("\r\n");
    QTest::newRow("neither") << true << none << none << QByteArray();
    QTest::newRow("key not opened")
        << false << Value("x86") << Value("GenuineIntel") << QByteArray();
}

void TestSysInfoTexts::processor9x()
{
    QFETCH(bool, bKeyOpened);
    QFETCH(RegTextValue, identifier);
    QFETCH(RegTextValue, vendor);
    QFETCH(QByteArray, expected);
    ProcessorFacts facts;
    facts.level = 6;
    facts.bKeyOpened = bKeyOpened;
    facts.identifier = identifier;
    facts.vendorIdentifier = vendor;
    facts.processorName = Value("ignored on 9x");
    for (const char* os : {"Win95", "Win98", "WinME"})
        QCOMPARE(BuildProcessorText(os, facts), expected);
}

void TestSysInfoTexts::processorNt5_data()
{
    QTest::addColumn<bool>("bKeyOpened");
    QTest::addColumn<RegTextValue>("name");
    QTest::addColumn<RegTextValue>("nameString");
    QTest::addColumn<QByteArray>("expected");
    const RegTextValue none;
    QTest::newRow("ProcessorName wins, untrimmed")
        << true << Value("  Pentium III ") << Value("Intel(R) Pentium(R) III")
        << QByteArray("  Pentium III \r\n");
    QTest::newRow("ProcessorNameString trimmed")
        << true << none << Value(" \t\r\n\v\f      Intel(R) Pentium(R) 4 CPU 2.80GHz \t\r\n\v\f")
        << QByteArray("Intel(R) Pentium(R) 4 CPU 2.80GHz\r\n");
    QTest::newRow("inner white space kept")
        << true << none << Value("AMD  Athlon\t64") << QByteArray("AMD  Athlon\t64\r\n");
    QTest::newRow("neither") << true << none << none << QByteArray();
    QTest::newRow("key not opened") << false << Value("P3") << Value("P4") << QByteArray();
}

void TestSysInfoTexts::processorNt5()
{
    QFETCH(bool, bKeyOpened);
    QFETCH(RegTextValue, name);
    QFETCH(RegTextValue, nameString);
    QFETCH(QByteArray, expected);
    ProcessorFacts facts;
    facts.level = 15;
    facts.bKeyOpened = bKeyOpened;
    facts.identifier = Value("x86 Family 15 Model 2 Stepping 9");
    facts.processorName = name;
    facts.processorNameString = nameString;
    for (const char* os : {"Win2000", "WinXP", "Win2003 Server"})
        QCOMPARE(BuildProcessorText(os, facts), expected);
}

void TestSysInfoTexts::processorNt4_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("bKeyOpened");
    QTest::addColumn<RegTextValue>("identifier");
    QTest::addColumn<RegTextValue>("vendor");
    QTest::addColumn<QByteArray>("expected");
    const RegTextValue none;
    const RegTextValue any = Value("x86 Family 6 Model 5");

    for (int level : {0, 1, 2, 7, 8, 9, 10, 11, 12, 13, 14, 16, 255, 65535})
        QTest::addRow("level %d", level)
            << level << true << any << none << QByteArray("Unknown processor\r\n");
    QTest::newRow("level 3") << 3 << true << any << none << QByteArray("386 Processor\r\n");
    QTest::newRow("level 4") << 4 << true << any << none << QByteArray("486 Processor\r\n");
    QTest::newRow("level 5") << 5 << true << any << none << QByteArray("Pentium 1 Processor\r\n");
    QTest::newRow("level 15") << 15 << true << any << none << QByteArray("Pentium 4 Processor\r\n");
    QTest::newRow("level 15 needs no key")
        << 15 << false << none << none << QByteArray("Pentium 4 Processor\r\n");

    QTest::newRow("6: a 5 and an 8, the 5 first")
        << 6 << true << Value("x86 Family 6 Model 8 Stepping 5") << none
        << QByteArray("Pentium Pro or Pentium 2 CPU\r\n");
    QTest::newRow("6: an 8 and no 5") << 6 << true << Value("x86 Family 6 Model 8 Stepping 3")
                                      << none << QByteArray("Pentium 3 Processor\r\n");
    QTest::newRow("6: neither digit")
        << 6 << true << Value("Family 6 Model 7 Stepping 3") << none << QByteArray();
    QTest::newRow("6: VendorIdentifier when Identifier fails")
        << 6 << true << none << Value("Vendor 8") << QByteArray("Pentium 3 Processor\r\n");
    QTest::newRow("6: Identifier wins over VendorIdentifier")
        << 6 << true << Value("Family 6 Model 3") << Value("Vendor 5") << QByteArray();
    QTest::newRow("6: no value") << 6 << true << none << none << QByteArray();
    QTest::newRow("6: key not opened") << 6 << false << Value("5") << none << QByteArray();
}

void TestSysInfoTexts::processorNt4()
{
    QFETCH(int, level);
    QFETCH(bool, bKeyOpened);
    QFETCH(RegTextValue, identifier);
    QFETCH(RegTextValue, vendor);
    QFETCH(QByteArray, expected);
    ProcessorFacts facts;
    facts.level = quint16(level);
    facts.bKeyOpened = bKeyOpened;
    facts.identifier = identifier;
    facts.vendorIdentifier = vendor;
    facts.processorNameString = Value("not read on NT 4");
    QCOMPARE(BuildProcessorText("WinNT4.0", facts), expected);
}

void TestSysInfoTexts::processorWithoutBranch_data()
{
    QTest::addColumn<QByteArray>("osName");
    QTest::newRow("WinNT3.51") << QByteArray("WinNT3.51");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("case differs: winxp") << QByteArray("winxp");
    QTest::newRow("case differs: WINNT4.0") << QByteArray("WINNT4.0");
    QTest::newRow("trailing space: Win95 ") << QByteArray("Win95 ");
}

void TestSysInfoTexts::processorWithoutBranch()
{
    QFETCH(QByteArray, osName);
    ProcessorFacts facts;
    facts.level = 6;
    facts.bKeyOpened = true;
    facts.identifier = Value("x86 Family 6 Model 8 Stepping 5");
    facts.processorName = Value("Pentium III");
    QCOMPARE(BuildProcessorText(osName, facts), QByteArray());
    QVERIFY(!ProcessorTextReadsRegistry(osName, 6));
}

void TestSysInfoTexts::linuxProcessorDoesNotDisturbWindowsNames()
{
    ProcessorFacts facts;
    facts.bFromLinux = true;
    facts.modelName = " \tAMD EPYC 7B13 64-Core Processor  ";
    QCOMPARE(BuildProcessorText("Debian GNU/Linux 12 (bookworm)", facts),
             QByteArray("AMD EPYC 7B13 64-Core Processor\r\n"));
    facts.modelName = "   ";
    QCOMPARE(BuildProcessorText("Linux", facts), QByteArray());

    facts.modelName = "AMD EPYC";
    facts.level = 15;
    QCOMPARE(BuildProcessorText("WinNT4.0", facts), QByteArray("Pentium 4 Processor\r\n"));
    QCOMPARE(BuildProcessorText("WinXP", facts), QByteArray());
    QCOMPARE(BuildProcessorText("WinNT3.51", facts), QByteArray());
    QCOMPARE(BuildProcessorText(QByteArray(), facts), QByteArray());
}

void TestSysInfoTexts::registryNeededPerOs()
{
    for (const char* os : {"Win95", "Win98", "WinME", "Win2000", "WinXP", "Win2003 Server"})
        QVERIFY2(ProcessorTextReadsRegistry(os, 3), os);
    QVERIFY(ProcessorTextReadsRegistry("WinNT4.0", 6));
    for (int level : {3, 4, 5, 7, 15})
        QVERIFY(!ProcessorTextReadsRegistry("WinNT4.0", quint16(level)));
}

void TestSysInfoTexts::userText()
{
    QCOMPARE(BuildUserText(UserFacts{true, "technician"}), QByteArray("User: technician"));
    QCOMPARE(BuildUserText(UserFacts{true, "Anna M\xfcller"}), QByteArray("User: Anna M\xfcller"));
    QCOMPARE(BuildUserText(UserFacts{false, "stale"}), QByteArray("User: unknown"));
    QCOMPARE(BuildUserText(UserFacts{true, ""}), QByteArray("User: unknown"));
}

void TestSysInfoTexts::summaryLayout()
{
    const QByteArray summary =
        BuildSummaryText("User: tech", "Intel(R) Pentium(R) 4 CPU 2.80GHz\r\n", "WinXP",
                         "Service Pack 2", "\r\nProtocols Installed:\r\nTCP\\IP\r\nNetBEUI\r\n");
    QCOMPARE(summary, QByteArray("User: tech\r\n"
                                 "Intel(R) Pentium(R) 4 CPU 2.80GHz\r\n"
                                 "\r\n"
                                 "WinXP\r\n"
                                 "Service Pack 2\r\n"
                                 "\r\n"
                                 "Protocols Installed:\r\n"
                                 "TCP\\IP\r\n"
                                 "NetBEUI\r\n"));
}

void TestSysInfoTexts::summaryWithEmptyOsName()
{
    // Version 6.0: no OS name, so no processor line either; the protocols
    // come from the NT services key.
    VersionFacts v = Version(2, 6, 0);
    v.csdVersion = "Service Pack 1";
    const QByteArray osName = GetOsName(v);
    ProcessorFacts p;
    p.level = 6;
    p.bKeyOpened = true;
    p.processorNameString = Value("Intel(R) Core(TM)2 CPU");
    ProtocolFacts protocols;
    protocols.network9x = Listing({"NBF"});
    protocols.servicesNt = Listing({"Tcpip", "Tcpip6"});

    const QByteArray summary =
        BuildSummaryText(BuildUserText(UserFacts{true, "tech"}), BuildProcessorText(osName, p),
                         osName, GetServicePackText(v), BuildProtocolsText(osName, protocols));
    const QList<QByteArray> lines = summary.split('\n');
    QCOMPARE(lines, QList<QByteArray>({"User: tech\r", "\r", "\r", "Service Pack 1\r", "\r",
                                       "Protocols Installed:\r", "TCP\\IP\r", ""}));
}

QTEST_GUILESS_MAIN(TestSysInfoTexts)
#include "tst_sysinfotexts.moc"
