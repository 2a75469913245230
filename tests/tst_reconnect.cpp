// Finding a lost serial device again, and the stable names offered beside the
// devices, on recorded port lists and a directory of links made for the test.

#include "KrPortList.h"
#include "KrReconnect.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A recorded port list: entries separated by ';', each "name[>device]
// [vvvv:pppp] [sn=SERIAL]", for example "/dev/by-id/x>/dev/ttyUSB1 0403:6001 sn=A1".
QList<KrPortInfo> Ports(const QString& text)
{
    static const QRegularExpression entry(
        QStringLiteral("^([^> ]+)(?:>(\\S+))?(?: (\\w{4}):(\\w{4}))?(?: sn=(\\S+))?$"));
    QList<KrPortInfo> ports;
    for (const QString& part : text.split(u';', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = entry.match(part);
        if (!m.hasMatch())
            qFatal("not a recorded port entry: %s", qPrintable(part));
        KrPortInfo info;
        info.strName = m.captured(1);
        info.strDevice = m.captured(2);
        info.bHasUsbIds = m.hasCaptured(3);
        info.nVendorId = m.captured(3).toUShort(nullptr, 16);
        info.nProductId = m.captured(4).toUShort(nullptr, 16);
        info.strSerialNumber = m.captured(5);
        ports << info;
    }
    return ports;
}

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findDevice_data();
    void findDevice();
    void stableNamesFromADirectoryOfLinks();
};

void TestReconnect::findDevice_data()
{
    // The device was open under the first name in `before`, which is also the
    // configured one; a path exists when `now` lists it or `alsoExisting` has it.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("alsoExisting");
    QTest::addColumn<QString>("found");
    const auto row = [](const char* name, const char* before, const char* now,
                        const char* alsoExisting, const char* found) {
        QTest::newRow(name) << QString(before) << QString(now) << QString(alsoExisting)
                            << QString(found);
    };
    const char* usb0 = "/dev/ttyUSB0 0403:6001 sn=A1";
    const char* usb1 = "/dev/ttyUSB1 0403:6001 sn=A1";
    const char* acm0 = "/dev/ttyACM0 2341:0043";
    row("same name back", usb0, usb0, "", "/dev/ttyUSB0 by name");
    row("renamed", usb0, usb1, "", "/dev/ttyUSB1 by serial number");
    row("another unit took the name", usb0,
        "/dev/ttyUSB0 0403:6001 sn=B2;/dev/ttyUSB1 0403:6001 sn=A1", "",
        "/dev/ttyUSB1 by serial number");
    row("exists, not listed yet", usb0, "", "/dev/ttyUSB0", "/dev/ttyUSB0 by name");
    row("two with the serial", usb0, "/dev/ttyUSB1 0403:6001 sn=A1;/dev/ttyUSB2 0403:6001 sn=A1",
        "", "");
    row("same ids, other serial", usb0, "/dev/ttyUSB1 0403:6001 sn=B2", "", "");
    row("same serial, other ids", usb0, "/dev/ttyUSB1 1a86:7523 sn=A1", "", "");
    row("serial, stable name counted once", usb0,
        "/dev/by-id/a1>/dev/ttyUSB1 0403:6001 sn=A1;/dev/ttyUSB1 0403:6001 sn=A1", "",
        "/dev/ttyUSB1 by serial number");
    row("no serial, ids counted once", acm0,
        "/dev/ttyUSB0 0403:6001;/dev/by-id/uno>/dev/ttyACM1 2341:0043;/dev/ttyACM1 2341:0043", "",
        "/dev/ttyACM1 by USB VID:PID");
    row("no serial, two with the ids", acm0, "/dev/ttyACM1 2341:0043;/dev/ttyACM2 2341:0043", "",
        "");
    row("stable name configured", "/dev/by-id/a1>/dev/ttyUSB0 0403:6001 sn=A1;/dev/ttyUSB0",
        "/dev/ttyUSB1 0403:6001 sn=A1;/dev/by-id/a1>/dev/ttyUSB1 0403:6001 sn=A1", "",
        "/dev/by-id/a1 by name");
    row("pseudo-terminal, not listed", "/dev/pts/7", "/dev/ttyS0", "/dev/pts/7",
        "/dev/pts/7 by name");
}

void TestReconnect::findDevice()
{
    QFETCH(QString, before);
    QFETCH(QString, now);
    QFETCH(QString, alsoExisting);
    QFETCH(QString, found);
    const QList<KrPortInfo> listedNow = Ports(now);
    QStringList existing = alsoExisting.split(u' ');
    for (const KrPortInfo& info : listedNow)
        existing << info.strName;
    const QString configured = Ports(before).value(0).strName;
    const KrFollowResult result =
        KrFindDevice(configured, KrIdentityOf(configured, Ports(before)), listedNow,
                     [&existing](const QString& path) { return existing.contains(path); });
    QCOMPARE(result.IsFound() ? result.strPath + " by " + KrFollowByText(result.by) : QString(),
             found);
}

void TestReconnect::stableNamesFromADirectoryOfLinks()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir root(QFileInfo(tmp.path()).canonicalFilePath());
    QVERIFY(root.mkpath(QStringLiteral("dev")) && root.mkpath(QStringLiteral("by-id")));
    const QString dev0 = root.filePath(QStringLiteral("dev/tty0"));
    const QString dev1 = root.filePath(QStringLiteral("dev/tty1"));
    const QString dir = root.filePath(QStringLiteral("by-id"));
    const auto touch = [](const QString& path) { return QFile(path).open(QIODevice::WriteOnly); };
    QVERIFY(touch(dev0) && touch(dev1)); // plain files stand in for device nodes
    const auto link = [&dir](const QString& target, const char* name) {
        return QFile::link(target, dir + u'/' + QLatin1String(name));
    };
    QVERIFY(link(dev0, "usb-B-if00") && link(dev0, "usb-A-if00") && link(dev1, "usb-C") &&
            link(root.filePath("dev/gone"), "dangling") && link(root.path(), "dirlink") &&
            touch(dir + "/plain"));

    const QMap<QString, QStringList> names = KrStableNames(dir);
    const QMap<QString, QStringList> expected{{dev0, {dir + "/usb-A-if00", dir + "/usb-B-if00"}},
                                              {dev1, {dir + "/usb-C"}}};
    QCOMPARE(names, expected);
    QVERIFY(KrStableNames(root.filePath(QStringLiteral("missing"))).isEmpty());

    // Each device is followed by its stable names, which carry its details.
    QList<KrPortInfo> devices = Ports("/dev/ttyS0;/dev/ttyUSB7 0403:6001 sn=A1");
    devices[1].strName = dev0;
    const QList<KrPortInfo> ports = KrWithStableNames(devices, names);
    QStringList listed;
    for (const KrPortInfo& info : ports)
        listed << info.strName + u'>' + info.Device();
    QCOMPARE(listed, (QStringList{"/dev/ttyS0>/dev/ttyS0", dev0 + '>' + dev0,
                                  dir + "/usb-A-if00>" + dev0, dir + "/usb-B-if00>" + dev0}));
    // A link the list does not name is known by the device it leads to.
    QCOMPARE(KrIdentityOf(dir + "/usb-B-if00", devices).strSerialNumber, QStringLiteral("A1"));
    QCOMPARE(KrPortInfoText(ports.at(2)), "USB 0403:6001 - serial A1 - stable name of " + dev0);
}

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
