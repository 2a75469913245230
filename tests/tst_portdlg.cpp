// The port configuration dialog and the port list it offers.

#include "Afx.h"
#include "CKrCommDlgPortCfg.h"
#include "CKrCommPort.h"
#include "KrPortList.h"
#include "PortHelpers.h"

#include <QComboBox>
#include <QLabel>
#include <QSerialPortInfo>
#include <QTest>

namespace {

CKrCommConfig Sample()
{
    return MakeConfig(QStringLiteral("/dev/ttyUSB0"), 19200, 7, KrParity::Odd, KrStopBits::Two,
                      KrFlow::RtsCts);
}

// Collects the message boxes shown while it lives.
struct MessageBoxes
{
    QStringList texts;
    AfxScopedHooks hooks{AfxHooks{[this](const QString& text, int) {
                                      texts << text;
                                      return IDOK;
                                  },
                                  {},
                                  {},
                                  {},
                                  {},
                                  {}}};
};

} // namespace

class TestPortDlg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portInfoText_data();
    void portInfoText();
    void availablePortsEndWithTheLoopback();

    void opensWithThePortsConfiguration();
    void offersPortsAndStandardRates();
    void fieldsRoundTrip_data();
    void fieldsRoundTrip();
    void portInfoFollowsThePortField();
    void okWithBadInputIsRefused_data();
    void okWithBadInputIsRefused();
    void okWithGoodInputApplies();
    void doModalRetriesAfterRefusal();
    void cancelChangesNothing();
};

void TestPortDlg::portInfoText_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("text");
    QTest::newRow("everything") << "FT232R USB UART"
                                << "FTDI"
                                << "A50285BI" << true << 0x0403 << 0x6001
                                << "FT232R USB UART - FTDI - USB 0403:6001 - serial A50285BI";
    QTest::newRow("hex ids padded") << ""
                                    << ""
                                    << "" << true << 0x2a << 0xb << "USB 002a:000b";
    QTest::newRow("hex ids high") << ""
                                  << ""
                                  << "" << true << 0xFFFF << 0xABCD << "USB ffff:abcd";
    QTest::newRow("built-in port") << "ttyS0"
                                   << ""
                                   << "" << false << 0 << 0 << "ttyS0";
    QTest::newRow("nothing known") << ""
                                   << " "
                                   << "" << false << 0 << 0 << "";
}

void TestPortDlg::portInfoText()
{
    QFETCH(QString, description);
    QFETCH(QString, manufacturer);
    QFETCH(QString, serial);
    QFETCH(bool, usb);
    QFETCH(int, vid);
    QFETCH(int, pid);
    QFETCH(QString, text);
    KrPortInfo info;
    info.strName = QStringLiteral("/dev/ttyUSB0");
    info.strDescription = description;
    info.strManufacturer = manufacturer;
    info.strSerialNumber = serial;
    info.bHasUsbIds = usb;
    info.nVendorId = quint16(vid);
    info.nProductId = quint16(pid);
    QCOMPARE(KrPortInfoText(info), text);
}

void TestPortDlg::availablePortsEndWithTheLoopback()
{
    // The system's devices in its order (each may be followed by its stable
    // names), then the loopback.
    QList<KrPortInfo> ports = KrAvailablePorts();
    ports.removeIf([](const KrPortInfo& info) { return info.IsStableName(); });
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    QCOMPARE(ports.size(), system.size() + 1);
    for (int i = 0; i < system.size(); ++i)
        QCOMPARE(ports.at(i).strName, system.at(i).systemLocation());
    QCOMPARE(ports.last().strName, QStringLiteral("loop://"));
    QVERIFY(!KrPortInfoText(ports.last()).isEmpty());
}

void TestPortDlg::opensWithThePortsConfiguration()
{
    CKrCommPortEx port;
    port.SetConfig(Sample());
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    QCOMPARE(dlg.FieldsConfig(), Sample());
    QCOMPARE(dlg.PortBox()->currentText(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(dlg.BaudBox()->currentText(), QStringLiteral("19200"));
    QCOMPARE(dlg.ParityBox()->currentText(), QStringLiteral("Odd"));
    QCOMPARE(dlg.FlowBox()->currentText(), QStringLiteral("RTS/CTS"));
    QCOMPARE(dlg.DtrAtOpenBox()->currentText(), QStringLiteral("On"));
    QCOMPARE(dlg.RtsAtOpenBox()->currentText(), QStringLiteral("On"));

    CKrCommPortEx fresh;
    CKrCommDlgPortCfg dlg2(&fresh, 0, nullptr);
    QCOMPARE(dlg2.FieldsConfig(), CKrCommConfig());
}

void TestPortDlg::offersPortsAndStandardRates()
{
    CKrCommPortEx port;
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    QVERIFY(dlg.PortBox()->isEditable());
    QVERIFY(dlg.BaudBox()->isEditable());
    QVERIFY(!dlg.DataBitsBox()->isEditable());
    QVERIFY(dlg.PortBox()->findText(QStringLiteral("loop://")) >= 0);
    for (const QSerialPortInfo& sp : QSerialPortInfo::availablePorts())
        QVERIFY(dlg.PortBox()->findText(sp.systemLocation()) >= 0);

    QStringList rates;
    for (int i = 0; i < dlg.BaudBox()->count(); ++i)
        rates << dlg.BaudBox()->itemText(i);
    QCOMPARE(rates.first(), QStringLiteral("110"));
    QCOMPARE(rates.last(), QStringLiteral("921600"));
    QVERIFY(rates.contains(QStringLiteral("9600")));
    QVERIFY(rates.contains(QStringLiteral("115200")));
    QCOMPARE(dlg.DataBitsBox()->count(), 4);
    QCOMPARE(dlg.ParityBox()->count(), 5);
    QCOMPARE(dlg.StopBitsBox()->count(), 3);
    QCOMPARE(dlg.FlowBox()->count(), 3);
}

void TestPortDlg::fieldsRoundTrip_data()
{
    QTest::addColumn<CKrCommConfig>("config");
    QTest::newRow("default") << CKrCommConfig();
    QTest::newRow("sample") << Sample();
    CKrCommConfig c = MakeConfig(QStringLiteral("/dev/serial/by-id/usb-My_Device-if00"), 31250, 5,
                                 KrParity::Space, KrStopBits::OneAndHalf, KrFlow::XonXoff);
    QTest::newRow("typed path, odd rate") << c;
    c.parity = KrParity::Mark;
    c.nDataBits = 6;
    c.strPort = QStringLiteral("loop://");
    QTest::newRow("mark parity on loop") << c;
    c.dtrAtOpen = KrLineAtOpen::Off;
    c.rtsAtOpen = KrLineAtOpen::Keep;
    QTest::newRow("DTR off, RTS as the system leaves it") << c;
}

void TestPortDlg::fieldsRoundTrip()
{
    QFETCH(CKrCommConfig, config);
    CKrCommPortEx port;
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    dlg.SetFields(config);
    QCOMPARE(dlg.FieldsConfig(), config);
    CKrCommConfig read;
    QString error;
    QVERIFY2(dlg.ReadFields(&read, &error), qPrintable(error));
    QCOMPARE(read, config);
}

void TestPortDlg::portInfoFollowsThePortField()
{
    CKrCommPortEx port;
    port.SetConfig(Sample());
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    dlg.PortBox()->setEditText(QStringLiteral("loop://"));
    QCOMPARE(dlg.PortInfoLabel()->text(), QStringLiteral("loopback: what is sent comes back"));
    dlg.PortBox()->setEditText(QStringLiteral("/dev/no-such-thing"));
    QVERIFY(dlg.PortInfoLabel()->text().isEmpty());
}

void TestPortDlg::okWithBadInputIsRefused_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, const char* port, const char* baud, const char* message) {
        QTest::newRow(name) << QString(port) << QString(baud) << QString(message);
    };
    row("letters in baud", "loop://", "12x", "baud: '12x' is not a positive whole number");
    row("zero baud", "loop://", "0", "baud: '0' is not a positive whole number");
    row("empty baud", "loop://", "", "baud: '' is not a positive whole number");
    row("empty port", "", "9600", "port: no port named");
    row("URL without port", "rfc2217://lab-pi", "9600",
        "port: 'rfc2217://lab-pi' has no ':PORT' (accepted: rfc2217://HOST:PORT, for example "
        "rfc2217://192.168.1.20:4001, rfc2217://lab-server:4001 or rfc2217://[::1]:4001)");
    row("unknown URL", "zz://host:1", "9600",
        "port: 'zz://host:1' is not a serial device or a known port type (accepted: a device such "
        "as /dev/ttyUSB0 or COM1, loop://, socket://HOST:PORT, rfc2217://HOST:PORT)");
}

void TestPortDlg::okWithBadInputIsRefused()
{
    QFETCH(QString, port);
    QFETCH(QString, baud);
    QFETCH(QString, message);
    MessageBoxes boxes;
    CKrCommPortEx portObject;
    portObject.SetConfig(Sample());
    CKrCommDlgPortCfg dlg(&portObject, 0, nullptr);
    dlg.show();
    dlg.PortBox()->setEditText(port);
    dlg.BaudBox()->setEditText(baud);
    dlg.accept();
    QCOMPARE(boxes.texts, QStringList{message});
    QVERIFY(dlg.isVisible()); // stays open
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(portObject.GetConfig(), Sample());
}

void TestPortDlg::okWithGoodInputApplies()
{
    MessageBoxes boxes;
    CKrCommPortEx port;
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    dlg.show();
    dlg.PortBox()->setEditText(QStringLiteral("/dev/ttyACM0"));
    dlg.BaudBox()->setEditText(QStringLiteral("250000"));
    dlg.DataBitsBox()->setCurrentText(QStringLiteral("7"));
    dlg.ParityBox()->setCurrentText(QStringLiteral("Even"));
    dlg.StopBitsBox()->setCurrentText(QStringLiteral("2"));
    dlg.FlowBox()->setCurrentText(QStringLiteral("XON/XOFF"));
    dlg.accept();
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(port.GetConfig().Text(), QStringLiteral("/dev/ttyACM0 250000,7,E,2,XON/XOFF"));
    QVERIFY(!port.IsOpen()); // the caller opens it
}

void TestPortDlg::doModalRetriesAfterRefusal()
{
    MessageBoxes boxes;
    CKrCommPortEx port;
    int refusedResult = -1;
    AfxHooks modal;
    modal.doModal = [&](QDialog& d) {
        auto& dlg = static_cast<CKrCommDlgPortCfg&>(d);
        dlg.BaudBox()->setEditText(QStringLiteral("fast"));
        dlg.accept();
        refusedResult = dlg.result();
        dlg.BaudBox()->setEditText(QStringLiteral("57600"));
        dlg.accept();
        return dlg.result() == QDialog::Accepted ? IDOK : IDCANCEL;
    };
    AfxScopedHooks scoped(modal);
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    QCOMPARE(dlg.DoModal(), IDOK);
    QCOMPARE(refusedResult, int(QDialog::Rejected));
    QCOMPARE(boxes.texts,
             QStringList{QStringLiteral("baud: 'fast' is not a positive whole number")});
    QCOMPARE(port.GetConfig().Text(), QStringLiteral("loop:// 57600,8,N,1"));
}

void TestPortDlg::cancelChangesNothing()
{
    MessageBoxes boxes;
    CKrCommPortEx port;
    port.SetConfig(Sample());
    AfxHooks modal;
    modal.doModal = [](QDialog& d) {
        auto& dlg = static_cast<CKrCommDlgPortCfg&>(d);
        CKrCommConfig other;
        other.nBaud = 300;
        dlg.SetFields(other);
        dlg.reject();
        return dlg.result() == QDialog::Accepted ? IDOK : IDCANCEL;
    };
    AfxScopedHooks scoped(modal);
    CKrCommDlgPortCfg dlg(&port, 0, nullptr);
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    QCOMPARE(port.GetConfig(), Sample());
    QVERIFY(boxes.texts.isEmpty());
}

QTEST_MAIN(TestPortDlg)
#include "tst_portdlg.moc"
