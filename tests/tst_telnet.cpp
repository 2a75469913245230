// The Telnet client codec of rfc2217:// ports: negotiation replies, data
// transparency, Com Port commands and notices, and hostile input, each fed in
// every segmentation.

#include "KrTelnet.h"
#include "PortHelpers.h"

#include <QRegularExpression>
#include <QTest>

namespace {

// What differs from a fresh client, e.g. "com=agreed line=60 suspended".
QString Summary(const CKrTelnetClient& c)
{
    const char* const com[] = {"", "com=agreed", "com=refused"};
    QString s = QString::asprintf(
        "%s line=%x modem=%x baud=%d datasize=%d parity=%d stop=%d control=%d held=%d %s "
        "signature=%s",
        com[int(c.ComPortState())], c.LineState(), c.ModemState(), c.AcknowledgedBaud(),
        c.AcknowledgedDataSize(), c.AcknowledgedParity(), c.AcknowledgedStopSize(),
        c.AcknowledgedControl(), int(c.BufferedBytes()), c.IsSuspended() ? "suspended" : "",
        c.ServerSignature().constData());
    return s.remove(QRegularExpression("\\w+=0?(?= |$)")).simplified();
}

// A fresh started client fed `segments` in turn: data, reply and Summary().
std::tuple<QByteArray, QByteArray, QString> Feed(const QList<QByteArray>& segments)
{
    CKrTelnetClient c;
    c.Start();
    QByteArray data, out;
    for (const QByteArray& s : segments)
        c.Receive(s.constData(), s.size(), &data, &out);
    return {data.toHex(' '), out.toHex(' '), Summary(c)};
}

} // namespace

class TestTelnet : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stream_data();
    void stream();
    void allByteValues();
    void lineSettings_data();
    void lineSettings();
    void controlLines_data();
    void controlLines();
    void longSubnegotiation_data();
    void longSubnegotiation();
};

void TestTelnet::stream_data()
{
    // Server bytes in hex, '|' between the segments as they arrive.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("summary");
    const auto row = [](const char* name, const char* in, const char* data, const char* reply,
                        const char* summary) {
        QTest::newRow(name) << QByteArray(in) << QByteArray::fromHex(data).toHex(' ')
                            << QByteArray::fromHex(reply).toHex(' ') << QString(summary);
    };
    row("server greeting, our offers acknowledged", "fffb03 fffd03 fffb01 fffd00 fffd2c fffb00", "",
        "fffd01", "com=agreed");
    row("unknown options and sides we do not take; off needs no reply",
        "fffb63 fffd63 fffb2c fffd01 fffc63 fffe63 fffc01 fffe01", "",
        "fffe63 fffc63 fffe2c fffc01", "");
    row("a repeated request gets one reply", "fffb01 fffb01 fffd2c fffe2c fffe2c", "",
        "fffd01 fffc2c", "com=refused");
    row("options off and on again", "fffb01 fffc01 fffb01 fffd2c fffe2c fffd2c", "",
        "fffd01 fffe01 fffd01 fffc2c fffb2c", "com=agreed");
    row("server refuses our offers", "fffe00 fffc00 fffe2c fffc03 fffe03", "", "", "com=refused");
    row("IAC, verb and option in separate segments", "ff|fb|63 41 ff|fd|01 42", "4142",
        "fffe63 fffc01", "");
    row("lone 0xff ending a segment", "41 ff|ff 42", "41ff42", "", "");
    row("other commands and a stray SE dropped",
        "41 fff1 fff2 fff3 fff4 fff5 fff6 fff7 fff8 fff9 fff0 ff80 42", "4142", "", "");
    row("notices between data bytes", "41 fffa2c6a60fff0 42 fffa2c6bb0fff0 43 fffa2c6c|fff0 44",
        "41424344", "", "line=60 modem=b0 suspended");
    row("resume ends a suspend", "fffa2c6cfff0 41 fffa2c6dfff0", "41", "", "");
    row("replies to the settings, a signature, an empty one ignored",
        "fffa2c650001c200fff0 fffa2c6608fff0 fffa2c6703fff0 fffa2c6803fff0 fffa2c6902fff0 "
        "fffa2c64535256fff0 fffa2c64fff0",
        "", "", "baud=115200 datasize=8 parity=3 stop=3 control=2 signature=SRV");
    row("doubled 0xff inside a subnegotiation", "fffa2c65000000ffff|fff0 fffa2c6affff|fff0", "", "",
        "line=ff baud=255");
    row("malformed, unknown and foreign subnegotiations ignored",
        "fffa2c650001fff0 fffa2c66fff0 fffa2c6a0102fff0 fffa2c6c00fff0 fffa2c0501fff0 "
        "fffa2c7701fff0 fffa186a01fff0 fffa2cfff0 41",
        "41", "", "");
    row("a command inside a subnegotiation ends it; an unfinished one is held",
        "fffa2c6a fffb63 42 fffa2c6a", "6a42", "fffe63", "held=4");
}

void TestTelnet::stream()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, reply);
    QFETCH(QString, summary);
    QList<QByteArray> given;
    for (const QByteArray& s : input.split('|'))
        given << QByteArray::fromHex(s);
    const QByteArray whole = given.join();
    QList<QList<QByteArray>> feeds = {given, {whole}, {}};
    for (qsizetype i = 0; i < whole.size(); ++i) {
        feeds[2].append(whole.mid(i, 1));
        feeds.append({whole.left(i), whole.mid(i)});
    }
    for (const QList<QByteArray>& segments : feeds)
        QCOMPARE(Feed(segments), std::make_tuple(data, reply, summary));
}

void TestTelnet::allByteValues()
{
    QByteArray all = AllByteValues();
    std::reverse(all.begin(), all.end());
    all.prepend(AllByteValues());
    QByteArray wire;
    CKrTelnetClient::Escape(all.constData(), all.size(), &wire);
    QCOMPARE(wire.size(), all.size() + 2);
    QCOMPARE(wire.mid(254, 6).toHex(), "fefffffffffe");
    QCOMPARE(std::get<0>(Feed({wire})), all.toHex(' '));
}

void TestTelnet::lineSettings_data()
{
    QTest::addColumn<QStringList>("settings"); // baud, data, parity, stop, flow, dtr, rts
    QTest::addColumn<QByteArray>("wire");      // in hex, a space for the IAC SE IAC SB 44 between
    const auto row = [](const char* settings, const char* wire) {
        QTest::newRow(settings) << QString(settings).split(',')
                                << QByteArray(wire).replace(" ", "fff0fffa2c");
    };
    row("115200,8,N,1,none", "fffa2c010001c200 0208 0301 0401 0501 0508 050b 0bfffffff0");
    row("255,7,O,2,xonxoff", "fffa2c01000000ffff 0207 0302 0402 0502 0508 050b 0bfffffff0");
    row("16777215,5,E,1.5,rtscts",
        "fffa2c0100ffffffffffff 0205 0303 0403 0503 0508 050b 0bfffffff0");
    row("9600,6,M,1,none", "fffa2c0100002580 0206 0304 0401 0501 0508 050b 0bfffffff0");
    row("300,8,S,1,none", "fffa2c010000012c 0208 0305 0401 0501 0508 050b 0bfffffff0");
    // DTR and RTS off, or asked for when left as the server has them.
    row("9600,8,N,1,none,off,keep", "fffa2c0100002580 0208 0301 0401 0501 0509 050a 0bfffffff0");
    row("9600,8,N,1,none,keep,off", "fffa2c0100002580 0208 0301 0401 0501 0507 050c 0bfffffff0");
}

void TestTelnet::lineSettings()
{
    QFETCH(QStringList, settings);
    QFETCH(QByteArray, wire);
    CKrCommConfig config;
    const char* keys[] = {"baud", "data", "parity", "stop", "flow", "dtr", "rts"};
    for (int i = 0; i < settings.size(); ++i)
        QVERIFY(config.SetField(keys[i], settings.value(i), nullptr));
    CKrTelnetClient c;
    QCOMPARE(c.Start().toHex(), "fffb00fffd00fffb2cfffd03fffb03");
    QByteArray data, out;
    c.SetLineSettings(config, &out);
    QVERIFY2(out.isEmpty(), "sent before the option was agreed");
    c.Receive("\xff\xfd\x2c", 3, &data, &out); // agreed
    c.SetLineSettings(config, &out);           // agreed already: at once
    c.Start();                                 // a new connection keeps them for its own agreement
    c.Receive("\xff\xfd\x2c", 3, &data, &out);
    QCOMPARE(out.toHex(), wire + wire + wire);
    QVERIFY(data.isEmpty());
}

void TestTelnet::controlLines_data()
{
    QTest::addColumn<QByteArray>("input"); // from the server, in hex, after it agreed
    QTest::addColumn<QString>("set");      // what the client then sets: "DTR off" ...
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("nothing told yet") << QByteArray() << ""
                                      << "?DTR ?RTS ?CTS ?DSR ?DCD ?RI" << QByteArray();
    QTest::newRow("modem state: DCD, DSR, CTS") << QByteArray("fffa2c6bb0fff0") << ""
                                                << "?DTR ?RTS CTS DSR DCD ri" << QByteArray();
    QTest::newRow("modem state: RI and a change mark")
        << QByteArray("fffa2c6b44fff0") << ""
        << "?DTR ?RTS cts dsr dcd RI" << QByteArray();
    QTest::newRow("answers: DTR off, RTS on") << QByteArray("fffa2c6909fff0 fffa2c690bfff0") << ""
                                              << "dtr RTS ?CTS ?DSR ?DCD ?RI" << QByteArray();
    QTest::newRow("set DTR off") << QByteArray() << "DTR off"
                                 << "dtr ?RTS ?CTS ?DSR ?DCD ?RI" << QByteArray("fffa2c0509fff0");
    QTest::newRow("set RTS on") << QByteArray() << "RTS on"
                                << "?DTR RTS ?CTS ?DSR ?DCD ?RI" << QByteArray("fffa2c050bfff0");
    QTest::newRow("break on") << QByteArray() << "Break on"
                              << "?DTR ?RTS ?CTS ?DSR ?DCD ?RI BREAK"
                              << QByteArray("fffa2c0505fff0");
    QTest::newRow("the server ends the break")
        << QByteArray("fffa2c6906fff0") << "Break on"
        << "?DTR ?RTS ?CTS ?DSR ?DCD ?RI" << QByteArray("fffa2c0505fff0");
}

void TestTelnet::controlLines()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, set);
    QFETCH(QString, lines);
    QFETCH(QByteArray, sent);
    CKrTelnetClient c;
    c.Start();
    QByteArray data, out;
    const QStringList words = set.split(QLatin1Char(' '));
    const KrLine line = words[0] == QLatin1String("DTR")   ? KrLine::Dtr
                        : words[0] == QLatin1String("RTS") ? KrLine::Rts
                                                           : KrLine::Break;
    QVERIFY(!c.SetControl(line, true, &out)); // not before the option is agreed
    QVERIFY(out.isEmpty());
    c.Receive("\xff\xfd\x2c", 3, &data, &out);
    out.clear();
    if (!set.isEmpty())
        QVERIFY(c.SetControl(line, words.value(1) == QLatin1String("on"), &out));
    const QByteArray wire = QByteArray::fromHex(input.replace(" ", ""));
    c.Receive(wire.constData(), wire.size(), &data, &out);
    QCOMPARE(out.toHex(), sent);
    QCOMPARE(LinesText(c.Lines()), lines);
}

void TestTelnet::longSubnegotiation_data()
{
    QTest::addColumn<int>("payload");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<bool>("kept"); // consumed as a subnegotiation, not data
    QTest::newRow("longest kept") << CKrTelnetClient::kMaxSubnegotiation - 1 << true << true;
    QTest::newRow("one byte more") << CKrTelnetClient::kMaxSubnegotiation << true << false;
    QTest::newRow("1 MiB never ended") << (1 << 20) << false << false;
}

void TestTelnet::longSubnegotiation()
{
    QFETCH(int, payload);
    QFETCH(bool, ended);
    QFETCH(bool, kept);
    const QByteArray body = Pattern(payload); // holds 0xff bytes
    QByteArray wire("\xff\xfa\x2c");
    CKrTelnetClient::Escape(body.constData(), body.size(), &wire);
    if (ended)
        wire += "\xff\xf0";
    wire += "end";
    CKrTelnetClient c;
    c.Start();
    QByteArray data, out;
    qsizetype nMaxHeld = 0;
    for (qsizetype at = 0; at < wire.size(); at += 4093) { // odd size: splits IAC pairs
        c.Receive(wire.constData() + at, qMin<qsizetype>(4093, wire.size() - at), &data, &out);
        nMaxHeld = qMax(nMaxHeld, c.BufferedBytes());
    }
    QVERIFY(nMaxHeld <= CKrTelnetClient::kMaxSubnegotiation + 3);
    QCOMPARE(c.BufferedBytes(), 0);
    QVERIFY(out.isEmpty());
    QVERIFY(data == (kept ? QByteArray() : body) + "end");
}

QTEST_GUILESS_MAIN(TestTelnet)
#include "tst_telnet.moc"
