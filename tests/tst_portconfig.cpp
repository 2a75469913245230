// The port configuration: its text forms, field parsing and validation, and
// the port object's stored layout.

#include "CArchive.h"
#include "CKrCommBackend.h"
#include "CKrCommPort.h"
#include "PortHelpers.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

namespace {

CKrCommConfig Sample()
{
    return MakeConfig(QStringLiteral("/dev/ttyUSB0"), 115200, 7, KrParity::Even, KrStopBits::Two,
                      KrFlow::XonXoff);
}

// Loads `bytes` into a port preset with Sample(); true when it threw.
bool LoadThrows(const QByteArray& bytes, CKrCommConfig* after, QString* reason = nullptr)
{
    CKrCommPort port;
    port.SetConfig(Sample());
    QByteArray copy = bytes;
    QBuffer file(&copy);
    file.open(QIODevice::ReadOnly);
    CArchive ar(&file, CArchive::load);
    bool threw = false;
    try {
        port.Serialize(ar);
    } catch (const CArchiveException& e) {
        threw = true;
        if (reason)
            *reason = e.Reason();
    }
    *after = port.GetConfig();
    return threw;
}

QByteArray Le32(quint32 v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xff);
    return b;
}

// The stored form written out by hand: magic, version, port, baud, data,
// parity, stop, flow.
QByteArray Record(const QByteArray& port, qint32 baud, int data, int parity, int stop, int flow,
                  quint32 magic = 0x4350524B, quint32 version = 1)
{
    return Le32(magic) + Le32(version) + Le32(quint32(port.size())) + port + Le32(quint32(baud)) +
           char(data) + char(parity) + char(stop) + char(flow);
}

} // namespace

class TestPortConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsText_data();
    void settingsText();
    void setField_data();
    void setField();
    void isValid_data();
    void isValid();
    void equality();
    void description_data();
    void description();

    void serializeRoundTrip_data();
    void serializeRoundTrip();
    void storedLayout();
    void loadOfZeroLengthFileThrows();
    void loadTruncatedAtEveryByteThrows();
    void loadRejectsBadRecord_data();
    void loadRejectsBadRecord();
    void filesOfTheVersionBeforeTheLineFields_data();
    void filesOfTheVersionBeforeTheLineFields();
    void loadLeavesBytesAfterTheRecord_data();
    void loadLeavesBytesAfterTheRecord();
    void checkedRecordRefusesDamage_data();
    void checkedRecordRefusesDamage();
};

void TestPortConfig::settingsText_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* field, const char* value, const char* text) {
        QTest::newRow(name) << QString(field) << QString(value) << QString(text);
    };
    row("default", "", "", "loop:// 9600,8,N,1");
    row("rts/cts", "flow", "rtscts", "loop:// 9600,8,N,1,RTS/CTS");
    row("xon/xoff", "flow", "xonxoff", "loop:// 9600,8,N,1,XON/XOFF");
    row("odd", "parity", "O", "loop:// 9600,8,O,1");
    row("mark", "parity", "m", "loop:// 9600,8,M,1");
    row("space", "parity", "space", "loop:// 9600,8,S,1");
    row("1.5 stop", "stop", "1.5", "loop:// 9600,8,N,1.5");
    row("5 data", "data", "5", "loop:// 9600,5,N,1");
    row("odd baud", "baud", "12345", "loop:// 12345,8,N,1");
    row("device", "port", "/dev/ttyUSB0", "/dev/ttyUSB0 9600,8,N,1");
}

void TestPortConfig::settingsText()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, text);
    CKrCommConfig c;
    QString error;
    if (!field.isEmpty())
        QVERIFY2(c.SetField(field, value, &error), qPrintable(error));
    QCOMPARE(c.Text(), text);
}

void TestPortConfig::setField_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected"); // the new Text(), or the message

    const auto row = [](const char* name, const char* key, const QString& value, bool ok,
                        const char* expected) {
        QTest::newRow(name) << QString(key) << value << ok << QString(expected);
    };
    row("port device", "port", "/dev/ttyACM0", true, "/dev/ttyACM0 9600,8,N,1");
    row("port COM", "port", "COM3", true, "COM3 9600,8,N,1");
    row("port trimmed", "port", "  /dev/ttyS0 ", true, "/dev/ttyS0 9600,8,N,1");
    row("port loop upper case", "port", "LOOP://", true, "LOOP:// 9600,8,N,1");
    row("port empty", "port", "", false, "port: no port named");
    row("port unknown scheme", "port", "telnet://x:23", false,
        "port: 'telnet://x:23' is not a serial device or a known port type (accepted: a "
        "device such as /dev/ttyUSB0 or COM1, loop://, socket://HOST:PORT, rfc2217://HOST:PORT)");
    row("port control char", "port", "/dev/tty\x01", false,
        "port: '/dev/tty\x01' contains a control character");
    row("socket URL", "port", "socket://127.0.0.1:7001", true,
        "socket://127.0.0.1:7001 9600,8,N,1");
    row("rfc2217 host name", "port", "RFC2217://lab-pi.local:2217", true,
        "RFC2217://lab-pi.local:2217 9600,8,N,1");
    row("rfc2217 IPv6", "port", "rfc2217://[::1]:7001", true, "rfc2217://[::1]:7001 9600,8,N,1");
    const QString socketForm =
        QStringLiteral("(accepted: socket://HOST:PORT, for example socket://192.168.1.20:4001, "
                       "socket://lab-server:4001 or socket://[::1]:4001)");
    const auto bad = [&](const char* name, const char* url, const char* what) {
        QTest::newRow(name) << "port" << QString(url) << false
                            << QStringLiteral("port: '%1' %2 %3").arg(url, what, socketForm);
    };
    bad("URL without port", "socket://lab-pi", "has no ':PORT'");
    bad("URL port zero", "socket://lab-pi:0", "has no port number from 1 to 65535");
    bad("URL port too large", "socket://lab-pi:65536", "has no port number from 1 to 65535");
    bad("URL port not a number", "socket://lab-pi:telnet", "has no port number from 1 to 65535");
    bad("URL without host", "socket://:7001", "names no host");
    bad("URL bare IPv6", "socket://::1:7001", "has an IPv6 address outside brackets");
    bad("URL bad IPv6", "socket://[::g]:7001", "has no IPv6 address in the brackets");
    bad("URL with a path", "socket://lab-pi:7001/x", "has no port number from 1 to 65535");
    bad("URL space in host", "socket://lab pi:7001", "has ' ' in the host name");
    row("port too long", "port", QString(1025, QLatin1Char('a')), false,
        "port: the name is longer than 1024 bytes");
    row("baud 115200", "baud", "115200", true, "loop:// 115200,8,N,1");
    row("baud odd value", "baud", " 31250 ", true, "loop:// 31250,8,N,1");
    row("baud largest", "baud", "2147483647", true, "loop:// 2147483647,8,N,1");
    row("baud letters", "baud", "12x", false, "baud: '12x' is not a positive whole number");
    row("baud zero", "baud", "0", false, "baud: '0' is not a positive whole number");
    row("baud negative", "baud", "-9600", false, "baud: '-9600' is not a positive whole number");
    row("baud fraction", "baud", "9600.5", false, "baud: '9600.5' is not a positive whole number");
    row("baud empty", "baud", "", false, "baud: '' is not a positive whole number");
    row("baud too large", "baud", "2147483648", false,
        "baud: '2147483648' is too large (at most 2147483647)");
    row("data 5", "data", "5", true, "loop:// 9600,5,N,1");
    row("data 4", "data", "4", false, "data: '4' is not one of 5, 6, 7, 8");
    row("data 9", "data", "9", false, "data: '9' is not one of 5, 6, 7, 8");
    row("data 07", "data", "07", false, "data: '07' is not one of 5, 6, 7, 8");
    row("parity E", "parity", "E", true, "loop:// 9600,8,E,1");
    row("parity odd word", "parity", "Odd", true, "loop:// 9600,8,O,1");
    row("parity X", "parity", "X", false, "parity: 'X' is not one of N, O, E, M, S");
    row("stop 2", "stop", "2", true, "loop:// 9600,8,N,2");
    row("stop 1.5", "stop", "1.5", true, "loop:// 9600,8,N,1.5");
    row("stop 3", "stop", "3", false, "stop: '3' is not one of 1, 1.5, 2");
    row("stop 1,5", "stop", "1,5", false, "stop: '1,5' is not one of 1, 1.5, 2");
    row("flow rtscts", "flow", "RTSCTS", true, "loop:// 9600,8,N,1,RTS/CTS");
    row("flow RTS/CTS as shown", "flow", "RTS/CTS", true, "loop:// 9600,8,N,1,RTS/CTS");
    row("flow xonxoff", "flow", "xonxoff", true, "loop:// 9600,8,N,1,XON/XOFF");
    row("flow none", "flow", "none", true, "loop:// 9600,8,N,1");
    row("flow dtr", "flow", "dtrdsr", false, "flow: 'dtrdsr' is not one of none, rtscts, xonxoff");
    row("DTR off", "dtr", "off", true, "loop:// 9600,8,N,1");
    row("RTS keep", "rts", " KEEP", true, "loop:// 9600,8,N,1");
    row("DTR low", "dtr", "low", false, "dtr: 'low' is not one of on, off, keep");
    row("unknown key", "speed", "9600", false,
        "'speed' is not a setting (accepted: port, baud, data, "
        "parity, stop, flow, dtr, rts)");
}

void TestPortConfig::setField()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, ok);
    QFETCH(QString, expected);
    CKrCommConfig c;
    QString error;
    QCOMPARE(c.SetField(key, value, &error), ok);
    if (ok) {
        QCOMPARE(c.Text(), expected);
        QVERIFY(c.IsValid());
    } else {
        QCOMPARE(error, expected);
        QCOMPARE(c, CKrCommConfig());              // unchanged
        QVERIFY(!c.SetField(key, value, nullptr)); // no message wanted is fine too
    }
}

void TestPortConfig::description_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("description");
    QTest::newRow("device") << "/dev/ttyUSB0"
                            << "/dev/ttyUSB0 9600,8,N,1";
    QTest::newRow("loopback") << "loop://"
                              << "loop:// 9600,8,N,1";
    QTest::newRow("raw TCP: no line settings") << "socket://h:1"
                                               << "socket://h:1";
    QTest::newRow("RFC 2217: line settings") << "rfc2217://h:1"
                                             << "rfc2217://h:1 9600,8,N,1";
}

void TestPortConfig::description()
{
    QFETCH(QString, port);
    QFETCH(QString, description);
    CKrCommConfig c;
    c.strPort = port;
    QCOMPARE(KrDescribeConfig(c), description);
    CKrCommPort closed;
    closed.SetConfig(c);
    QCOMPARE(closed.GetDescription(), description + QStringLiteral(" - not open: port closed"));
}

void TestPortConfig::isValid_data()
{
    QTest::addColumn<CKrCommConfig>("config");
    QTest::addColumn<QString>("why");
    auto with = [](auto change) {
        CKrCommConfig c;
        change(c);
        return c;
    };
    QTest::newRow("default") << CKrCommConfig() << "";
    QTest::newRow("sample") << Sample() << "";
    QTest::newRow("baud 0") << with([](CKrCommConfig& c) { c.nBaud = 0; })
                            << "baud: '0' is not a positive whole number";
    QTest::newRow("baud negative") << with([](CKrCommConfig& c) { c.nBaud = -1; })
                                   << "baud: '-1' is not a positive whole number";
    QTest::newRow("data 4") << with([](CKrCommConfig& c) { c.nDataBits = 4; })
                            << "data: '4' is not one of 5, 6, 7, 8";
    QTest::newRow("parity 5") << with([](CKrCommConfig& c) { c.parity = KrParity(5); })
                              << "parity: '5' is not one of N, O, E, M, S";
    QTest::newRow("stop 3") << with([](CKrCommConfig& c) { c.stopBits = KrStopBits(3); })
                            << "stop: '3' is not one of 1, 1.5, 2";
    QTest::newRow("flow -1") << with([](CKrCommConfig& c) { c.flow = KrFlow(-1); })
                             << "flow: '-1' is not one of none, rtscts, xonxoff";
    QTest::newRow("port empty") << with([](CKrCommConfig& c) { c.strPort.clear(); })
                                << "port: no port named";
    QTest::newRow("port scheme only")
        << with([](CKrCommConfig& c) { c.strPort = QStringLiteral("://x"); })
        << "port: '://x' is not a serial device or a known port type (accepted: a device such "
           "as /dev/ttyUSB0 or COM1, loop://, socket://HOST:PORT, rfc2217://HOST:PORT)";
}

void TestPortConfig::isValid()
{
    QFETCH(CKrCommConfig, config);
    QFETCH(QString, why);
    QString reason = QStringLiteral("untouched");
    QCOMPARE(config.IsValid(&reason), why.isEmpty());
    QCOMPARE(reason, why.isEmpty() ? QStringLiteral("untouched") : why);
}

void TestPortConfig::equality()
{
    const CKrCommConfig a = Sample();
    CKrCommConfig b = a;
    QVERIFY(a == b);
    QVERIFY(!(a != b));
    const char* const keys[][2] = {{"port", "/dev/ttyUSB1"}, {"baud", "9600"}, {"data", "8"},
                                   {"parity", "N"},          {"stop", "1"},    {"flow", "none"},
                                   {"dtr", "off"},           {"rts", "keep"}};
    for (const auto& kv : keys) {
        b = a;
        QVERIFY(b.SetField(QLatin1String(kv[0]), QLatin1String(kv[1]), nullptr));
        QVERIFY2(a != b, kv[0]);
    }
}

void TestPortConfig::serializeRoundTrip_data()
{
    QTest::addColumn<CKrCommConfig>("config");
    QTest::newRow("default") << CKrCommConfig();
    QTest::newRow("sample") << Sample();
    CKrCommConfig c =
        MakeConfig(QStringLiteral("/dev/serial/by-id/usb-Ünïcode_Gerät-if00"), 2147483647, 5,
                   KrParity::Space, KrStopBits::OneAndHalf, KrFlow::RtsCts);
    QTest::newRow("extremes, non-ASCII path") << c;
    c.strPort = QString(1024, QLatin1Char('p'));
    QTest::newRow("longest name") << c;
    c = Sample();
    c.dtrAtOpen = KrLineAtOpen::Off;
    QTest::newRow("DTR off at open") << c;
    c.rtsAtOpen = KrLineAtOpen::Keep;
    QTest::newRow("DTR off, RTS kept") << c;
}

void TestPortConfig::serializeRoundTrip()
{
    QFETCH(CKrCommConfig, config);
    const QByteArray bytes = StoredConfig(config);
    CKrCommPort port;
    QBuffer file;
    file.setData(bytes);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CArchive ar(&file, CArchive::load);
    port.Serialize(ar);
    QCOMPARE(port.GetConfig(), config);
    QVERIFY(ar.AtEnd());
}

void TestPortConfig::storedLayout()
{
    QCOMPARE(StoredConfig(Sample()), Record("/dev/ttyUSB0", 115200, 7, 2, 2, 2));
    QCOMPARE(StoredConfig(CKrCommConfig()).toHex(), QByteArray("4b525043"       // "KRPC"
                                                               "01000000"       // version 1
                                                               "07000000"       // name length
                                                               "6c6f6f703a2f2f" // loop://
                                                               "80250000"       // 9600
                                                               "08000000"));    // 8, N, 1, none
    // Any other lines at open: version 2, the lines' tag always, and a
    // check value (CRC-16/X-25 of the bytes before it, worked out apart).
    CKrCommConfig lines;
    lines.dtrAtOpen = KrLineAtOpen::Off;
    lines.rtsAtOpen = KrLineAtOpen::Keep;
    QCOMPARE(StoredConfig(lines).toHex(), QByteArray("4b525043"       // "KRPC"
                                                     "02000000"       // version 2
                                                     "07000000"       // name length
                                                     "6c6f6f703a2f2f" // loop://
                                                     "80250000"       // 9600
                                                     "08000000"       // 8, N, 1, none
                                                     "4b524c4e"       // "KRLN"
                                                     "0102"           // DTR off, RTS kept
                                                     "f213"));        // check
}

void TestPortConfig::loadOfZeroLengthFileThrows()
{
    CKrCommConfig after;
    QVERIFY(LoadThrows(QByteArray(), &after));
    QCOMPARE(after, Sample());
}

void TestPortConfig::loadTruncatedAtEveryByteThrows()
{
    CKrCommConfig other;
    other.nBaud = 57600;
    const QByteArray full = StoredConfig(other);
    for (int n = 0; n < full.size(); ++n) {
        CKrCommConfig after;
        QVERIFY2(LoadThrows(full.left(n), &after), qPrintable(QString::number(n)));
        QCOMPARE(after, Sample());
    }
    CKrCommConfig after;
    QVERIFY(!LoadThrows(full, &after));
    QCOMPARE(after, other);
}

void TestPortConfig::loadRejectsBadRecord_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reasonContains");
    const QByteArray dev("/dev/ttyS1");
    QTest::newRow("good record for reference") << Record(dev, 9600, 8, 0, 0, 0) << "";
    QTest::newRow("wrong magic") << Record(dev, 9600, 8, 0, 0, 0, 0x12345678)
                                 << "not a port configuration";
    QTest::newRow("text file") << QByteArray("[port]\nbaud=9600\n") << "not a port configuration";
    QTest::newRow("version 0") << Record(dev, 9600, 8, 0, 0, 0, 0x4350524B, 0) << "version 0";
    QTest::newRow("version 2") << Record(dev, 9600, 8, 0, 0, 0, 0x4350524B, 2) << "version 2";
    QTest::newRow("version 2 without its check")
        << Record(dev, 9600, 8, 0, 0, 0, 0x4350524B, 2) + QByteArray("KRLN\x01\x00", 6)
        << "version 2 is cut short in its DTR and RTS settings (unexpected end of file)";
    QTest::newRow("version 3") << Record(dev, 9600, 8, 0, 0, 0, 0x4350524B, 3)
                               << "port configuration version 3 is not known";
    QTest::newRow("baud 0") << Record(dev, 0, 8, 0, 0, 0) << "baud";
    QTest::newRow("baud negative") << Record(dev, -9600, 8, 0, 0, 0) << "baud";
    QTest::newRow("data 4") << Record(dev, 9600, 4, 0, 0, 0) << "data";
    QTest::newRow("data 9") << Record(dev, 9600, 9, 0, 0, 0) << "data";
    QTest::newRow("parity 5") << Record(dev, 9600, 8, 5, 0, 0) << "parity";
    QTest::newRow("parity 255") << Record(dev, 9600, 8, 255, 0, 0) << "parity";
    QTest::newRow("stop 3") << Record(dev, 9600, 8, 0, 3, 0) << "stop";
    QTest::newRow("flow 3") << Record(dev, 9600, 8, 0, 0, 3) << "flow";
    QTest::newRow("empty port name") << Record("", 9600, 8, 0, 0, 0) << "port";
    QTest::newRow("unknown scheme") << Record("zz://a", 9600, 8, 0, 0, 0) << "port";
    QTest::newRow("control character") << Record("/dev/tty\n", 9600, 8, 0, 0, 0) << "port";
    QTest::newRow("invalid UTF-8") << Record("/dev/\xff\xfe", 9600, 8, 0, 0, 0) << "text";
    QTest::newRow("name length over maximum")
        << Record(QByteArray(1025, 'a'), 9600, 8, 0, 0, 0) << "1024";
    QByteArray huge = Record(dev, 9600, 8, 0, 0, 0);
    huge.replace(8, 4, Le32(0xFFFFFFF0));
    QTest::newRow("name length 4 GiB") << huge << "1024";
    QTest::newRow("DTR at open 3")
        << Record(dev, 9600, 8, 0, 0, 0) + QByteArray("KRLN\x03\x00", 6) << "DTR or RTS at open";
    QTest::newRow("lines tag cut short") << Record(dev, 9600, 8, 0, 0, 0) + "KRLN\x01"
                                         << "end of file";
}

void TestPortConfig::loadRejectsBadRecord()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reasonContains);
    CKrCommConfig after;
    QString reason;
    const bool threw = LoadThrows(bytes, &after, &reason);
    if (reasonContains.isEmpty()) {
        QVERIFY(!threw);
        QCOMPARE(after.strPort, QStringLiteral("/dev/ttyS1"));
        return;
    }
    QVERIFY(threw);
    QVERIFY2(reason.contains(reasonContains), qPrintable(reason));
    QCOMPARE(after, Sample());
}

void TestPortConfig::filesOfTheVersionBeforeTheLineFields_data()
{
    QTest::addColumn<QString>("file"); // in tests/data/settings, written by that version
    QTest::addColumn<QString>("text");
    QTest::newRow("loopback") << "before-lines-loop.cfg"
                              << "loop:// 9600,8,N,1";
    QTest::newRow("serial, even, RTS/CTS") << "before-lines-ttyUSB0.cfg"
                                           << "/dev/ttyUSB0 115200,7,E,2,RTS/CTS";
}

void TestPortConfig::filesOfTheVersionBeforeTheLineFields()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    QFile f(QStringLiteral(VORNTERM_TEST_DATA "/settings/") + file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    // Read by this version: the lines at open are what that version did.
    CKrCommConfig read;
    QVERIFY(!LoadThrows(before, &read));
    QCOMPARE(read.Text(), text);
    QCOMPARE(read.dtrAtOpen, KrLineAtOpen::On);
    QCOMPARE(read.rtsAtOpen, KrLineAtOpen::On);
    // Stored again unchanged, byte for byte.
    QCOMPARE(StoredConfig(read), before);
    // With DTR off, the file of the version that brought the fields is that
    // file with the tag after it, which the version before leaves unread (see
    // loadLeavesBytesAfterTheRecord); this version still reads it.
    const QByteArray tagged = before + QByteArray("KRLN\x01\x00", 6);
    read.dtrAtOpen = KrLineAtOpen::Off;
    CKrCommConfig readTagged;
    QVERIFY(!LoadThrows(tagged, &readTagged));
    QCOMPARE(readTagged, read);
    // It writes them as version 2: the same record and tag, and a check.
    QByteArray versionTwo = tagged;
    versionTwo.replace(4, 4, Le32(2));
    const QByteArray stored = StoredConfig(read);
    QCOMPARE(stored.size(), tagged.size() + 2);
    QCOMPARE(stored.left(tagged.size()), versionTwo);
}

void TestPortConfig::loadLeavesBytesAfterTheRecord_data()
{
    QTest::addColumn<CKrCommConfig>("config");
    QTest::newRow("version 1") << Sample();
    CKrCommConfig lines = Sample();
    lines.rtsAtOpen = KrLineAtOpen::Off;
    QTest::newRow("version 2") << lines;
}

void TestPortConfig::loadLeavesBytesAfterTheRecord()
{
    QFETCH(CKrCommConfig, config);
    // The record ends where its last field ends: a caller may store more
    // after it in the same archive.
    QByteArray bytes = StoredConfig(config) + "tail";
    CKrCommPort port;
    QBuffer file(&bytes);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CArchive ar(&file, CArchive::load);
    port.Serialize(ar);
    QCOMPARE(port.GetConfig(), config);
    QByteArray rest(4, 0);
    ar.Read(rest.data(), 4);
    QCOMPARE(rest, QByteArray("tail"));
    QVERIFY(ar.AtEnd());
}

void TestPortConfig::checkedRecordRefusesDamage_data()
{
    QTest::addColumn<int>("flip"); // each byte XOR this; 0: cut short at each length instead
    QTest::newRow("every byte inverted") << 0xFF;
    QTest::newRow("every byte's lowest bit") << 0x01;
    QTest::newRow("every byte's highest bit") << 0x80;
    QTest::newRow("cut anywhere") << 0;
}

void TestPortConfig::checkedRecordRefusesDamage()
{
    // DTR off for a board that resets on it: no damage may turn it on.
    QFETCH(int, flip);
    CKrCommConfig lines = Sample();
    lines.dtrAtOpen = KrLineAtOpen::Off;
    lines.rtsAtOpen = KrLineAtOpen::Keep;
    const QByteArray good = StoredConfig(lines) + "tail";
    const int nRecord = int(good.size()) - 4;
    for (int i = 0; i < nRecord; ++i) {
        QByteArray bad = good;
        if (flip)
            bad[i] = char(bad[i] ^ flip);
        else
            bad.truncate(i);
        CKrCommConfig after;
        QString reason;
        QVERIFY2(LoadThrows(bad, &after, &reason), qPrintable(QStringLiteral("byte %1").arg(i)));
        QVERIFY(!reason.isEmpty());
        QCOMPARE(after, Sample());
    }
    CKrCommConfig after;
    QVERIFY(!LoadThrows(good, &after));
    QCOMPARE(after, lines);
}

QTEST_GUILESS_MAIN(TestPortConfig)
#include "tst_portconfig.moc"
