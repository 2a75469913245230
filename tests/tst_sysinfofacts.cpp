// Query halves of the System Information report: the Linux file readers on
// recorded files, recorded Windows machines replayed through the text
// builders, and the live machine.

#include "RecordedSysInfoSource.h"
#include "SysInfoLinuxParsers.h"
#include "SysInfoTexts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

QByteArray ReadData(const QString& name)
{
    QFile file(QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

constexpr quint64 KiB = 1024;

// The summary as the dialog builds it, in its order of queries.
QByteArray Summary(CSysInfoSource& source)
{
    const QByteArray servicePack = GetServicePackText(source.QueryVersion());
    const QByteArray osName = GetOsName(source.QueryVersion());
    const QByteArray protocols = BuildProtocolsText(osName, source.QueryProtocols(osName));
    const QByteArray processor = BuildProcessorText(osName, source.QueryProcessor(osName));
    const QByteArray user = BuildUserText(source.QueryUser());
    return BuildSummaryText(user, processor, osName, servicePack, protocols);
}

} // namespace

class TestSysInfoFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void memInfo_data();
    void memInfo();
    void memInfoFeedsMemoryText();
    void cpuModelName_data();
    void cpuModelName();
    void osReleasePrettyName_data();
    void osReleasePrettyName();

    void recordedWindowsSummary_data();
    void recordedWindowsSummary();
    void recordedWindowsDiskAndMemory();

    void liveMachine();
    void windowsQueriesCompile();
};

void TestSysInfoFacts::memInfo_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<quint64>("totalPhys");
    QTest::addColumn<quint64>("availPhys");
    QTest::addColumn<quint64>("totalVirtual");
    QTest::addColumn<quint64>("availVirtual");

    QTest::newRow("Debian 12, 24 GB") << "meminfo-debian12.txt" << 24683784 * KiB << 24063940 * KiB
                                      << 12341892 * KiB << (12341892 - 260652) * KiB;
    QTest::newRow("more committed than the limit") << "meminfo-overcommitted.txt" << 8041940 * KiB
                                                   << 3120448 * KiB << 6118116 * KiB << quint64(0);
    QTest::newRow("kernel without MemAvailable")
        << "meminfo-old-kernel.txt" << 1035324 * KiB << 262144 * KiB << 1566812 * KiB
        << (1566812 - 520000) * KiB;
    QTest::newRow("64 GB") << "meminfo-64g.txt" << 65849416 * KiB << 16462354 * KiB
                           << 66479132 * KiB << (66479132 - 21033400) * KiB;
}

void TestSysInfoFacts::memInfo()
{
    QFETCH(QString, file);
    QFETCH(quint64, totalPhys);
    QFETCH(quint64, availPhys);
    QFETCH(quint64, totalVirtual);
    QFETCH(quint64, availVirtual);
    const MemoryFacts facts = ParseMemInfo(ReadData(file));
    QCOMPARE(facts.totalPhys, totalPhys);
    QCOMPARE(facts.availPhys, availPhys);
    QCOMPARE(facts.totalVirtual, totalVirtual);
    QCOMPARE(facts.availVirtual, availVirtual);
}

void TestSysInfoFacts::memInfoFeedsMemoryText()
{
    QCOMPARE(BuildMemoryText(ParseMemInfo(ReadData("meminfo-64g.txt"))),
             QByteArray("\tRAM Status:\r\n\r\n"
                        "Total Physical RAM: \t64306\r\n"
                        "Total Available RAM: \t16076\r\n"
                        "Percent Used: \t\t75%\r\n"
                        "Total Virtual RAM: \t\t64921\r\n"
                        "Available Virtual RAM: \t44380\r\n"));
    QCOMPARE(ParseMemInfo(QByteArray()).totalPhys, quint64(0));
}

void TestSysInfoFacts::cpuModelName_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("processorLine");
    QTest::newRow("x86, first processor, blanks removed")
        << ReadData("cpuinfo-x86.txt") << QByteArray("AMD EPYC 7B13 64-Core Processor\r\n");
    QTest::newRow("arm64 without model name") << ReadData("cpuinfo-arm64.txt") << QByteArray();
    QTest::newRow("empty file") << QByteArray() << QByteArray();
    QTest::newRow("colon inside the name")
        << QByteArray("model name\t: Vorn CPU: rev 2\n") << QByteArray("Vorn CPU: rev 2\r\n");
}

void TestSysInfoFacts::cpuModelName()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, processorLine);
    ProcessorFacts facts;
    facts.bFromLinux = true;
    facts.modelName = ParseCpuModelName(text);
    QCOMPARE(BuildProcessorText("Debian GNU/Linux 12 (bookworm)", facts), processorLine);
}

void TestSysInfoFacts::osReleasePrettyName_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("osName");
    QTest::newRow("Debian 12") << "os-release-debian12.txt"
                               << QByteArray("Debian GNU/Linux 12 (bookworm)");
    QTest::newRow("escapes, last assignment wins")
        << "os-release-quoting.txt" << QByteArray("Vorn \"Edge\" Linux 2026 $HOME \\ \\n");
    QTest::newRow("single quotes") << "os-release-single.txt" << QByteArray("Alpine Linux v3.19");
    QTest::newRow("bare word") << "os-release-bare.txt" << QByteArray("Minimal");
    QTest::newRow("no PRETTY_NAME") << "os-release-none.txt" << QByteArray("Linux");
}

void TestSysInfoFacts::osReleasePrettyName()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, osName);
    VersionFacts facts;
    facts.bFromLinux = true;
    facts.prettyName = ParseOsReleasePrettyName(ReadData(file));
    QCOMPARE(GetOsName(facts), osName);
}

void TestSysInfoFacts::recordedWindowsSummary_data()
{
    QTest::addColumn<QString>("machine");
    QTest::newRow("XP SP2: NT 5 name string, TCPIP6 left out") << "winxp-sp2";
    QTest::newRow("NT 4 level 6: enumeration stopped part-way") << "nt4-sp6";
    QTest::newRow("98 SE: Enum\\Network, vendor, unknown user") << "win98-se";
}

void TestSysInfoFacts::recordedWindowsSummary()
{
    QFETCH(QString, machine);
    CRecordedSysInfoSource source(QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/") + machine +
                                  ".ini");
    QCOMPARE(Summary(source), ReadData(machine + ".summary.txt"));
}

void TestSysInfoFacts::recordedWindowsDiskAndMemory()
{
    CRecordedSysInfoSource nt4(QStringLiteral(VORNTERM_TEST_DATA "/sysinfo/nt4-sp6.ini"));
    QCOMPARE(BuildDiskText(nt4.QueryDisk()), QByteArray("\tDisk Space:\r\n\r\n"
                                                        "Disk Space Available: \t204 MB\r\n"
                                                        "Total Disk Size: \t\t4096 MB\r\n"
                                                        "Percent Used: \t\t95%\r\n"
                                                        "Disk Space Used: \t\t3892 MB"));
    QCOMPARE(BuildMemoryText(nt4.QueryMemory()), QByteArray("\tRAM Status:\r\n\r\n"
                                                            "Total Physical RAM: \t128\r\n"
                                                            "Total Available RAM: \t32\r\n"
                                                            "Percent Used: \t\t75%\r\n"
                                                            "Total Virtual RAM: \t\t2047\r\n"
                                                            "Available Virtual RAM: \t1920\r\n"));
}

void TestSysInfoFacts::liveMachine()
{
#ifndef Q_OS_LINUX
    QSKIP("the live checks are written for Linux");
#else
    CSysInfoSource& source = PlatformSysInfoSource();

    const DiskFacts disk = source.QueryDisk();
    QVERIFY(disk.bQueried);
    QVERIFY(disk.totalBytes > 0);
    QVERIFY(disk.freeBytes <= disk.totalBytes);
    QVERIFY(BuildDiskText(disk).startsWith("\tDisk Space:\r\n\r\nDisk Space Available: \t"));

    const MemoryFacts memory = source.QueryMemory();
    QVERIFY(memory.totalPhys > 0);
    QVERIFY(memory.availPhys <= memory.totalPhys);
    QVERIFY(memory.totalVirtual > 0);
    QVERIFY(!BuildMemoryText(memory).contains("Total Physical RAM: \t0\r\n"));

    const VersionFacts version = source.QueryVersion();
    const QByteArray osName = GetOsName(version);
    QVERIFY(!osName.isEmpty());
    QVERIFY2(GetServicePackText(version).startsWith("Linux "), GetServicePackText(version));

    const QByteArray processor = BuildProcessorText(osName, source.QueryProcessor(osName));
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    QVERIFY(cpuinfo.open(QIODevice::ReadOnly));
    if (cpuinfo.readAll().contains("model name")) {
        QVERIFY(processor.endsWith("\r\n"));
        QVERIFY(processor.trimmed().size() > 0);
    }

    const QByteArray protocols = BuildProtocolsText(osName, source.QueryProtocols(osName));
    if (QFile::exists(QStringLiteral("/proc/net/tcp")))
        QCOMPARE(protocols, QByteArray("\r\nProtocols Installed:\r\nTCP\\IP\r\n"));

    const QByteArray user = BuildUserText(source.QueryUser());
    QVERIFY(user.startsWith("User: ") && user.size() > 6);

    const QList<QByteArray> lines =
        BuildSummaryText(user, processor, osName, GetServicePackText(version), protocols)
            .split('\n');
    QVERIFY(lines.size() >= 7);
    QCOMPARE(lines[0], user + '\r');
    if (!processor.isEmpty())
        QCOMPARE(lines[1], processor.chopped(1));
    QCOMPARE(lines[3], osName + '\r');
#endif
}

void TestSysInfoFacts::windowsQueriesCompile()
{
    // The quick test run leaves the cross compiler (a minute and more of a
    // core) to scripts/test.sh --full, which runs the same script itself.
    if (qEnvironmentVariableIsSet("VORNTERM_QUICK"))
        QSKIP("the Windows sources are cross-compiled by scripts/test.sh --full");
    QProcess check;
    check.start(QStringLiteral("/bin/sh"),
                {QStringLiteral(VORNTERM_SOURCE_DIR "/scripts/check-win-facts.sh")});
    // Ten files through a cross compiler: minutes on a loaded machine. The
    // bound stays within ctest's 300 s for the suite.
    QVERIFY2(check.waitForFinished(240000), "the check did not end within 4 minutes");
    if (check.exitCode() == 2)
        QSKIP("no 32-bit MinGW compiler on this machine");
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
}

QTEST_GUILESS_MAIN(TestSysInfoFacts)
#include "tst_sysinfofacts.moc"
