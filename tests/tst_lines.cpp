// The control lines through every kind of port: the loopback's null-modem
// wiring, the SET-CONTROL bytes and modem-state notices of rfc2217://, the
// serial back end's modem-control calls through a fake, a pseudo-terminal's
// refusal, and the status bar's labels as assistive technology sees them.

#include "CDataView.h"
#include "CKrCommBackend.h"
#include "CLineLamps.h"
#include "KrModemControl.h"
#include "PortHelpers.h"
#include "PtyPair.h"
#include "ScriptedServer.h"
#include "TerminalFixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QMenu>
#include <QTest>

#include <sys/resource.h>
#include <thread>

namespace {

QString Text(const KrLines& lines)
{
    return LinesText(lines);
}

QString ChangedText(quint8 nChanged)
{
    KrLines lines;
    for (KrLine line : kKrWires) {
        if (nChanged & KrLineBit(line))
            lines.Set(line, true);
    }
    return Text(lines);
}

// Every line event a port tells, in order.
class LinesListener : public RecordingListener
{
public:
    QList<KrLineEvent> Events() const { return LineEvents(); }
    QString LastLines() const
    {
        const QList<KrLineEvent> events = LineEvents();
        return events.isEmpty() ? QString() : Text(events.last().lines);
    }
};

// A port with a lines listener, opened on `config`.
struct LinesPort
{
    LinesListener lines;
    CKrCommPortEx port;
    bool opened = false;

    explicit LinesPort(const CKrCommConfig& config)
    {
        port.AddListener(&lines);
        opened = OpenPort(port, config);
    }
};

CKrCommConfig WithLines(const QString& path, KrLineAtOpen dtr, KrLineAtOpen rts)
{
    CKrCommConfig c = ConfigFor(path);
    c.dtrAtOpen = dtr;
    c.rtsAtOpen = rts;
    return c;
}

// The status bar's labels as assistive technology reads them, in Text()'s
// form; the lines' accessible description when no label shows.
QString LabelsSeen(CTerminalDlg& dlg)
{
    QAccessibleInterface* pLines =
        QAccessible::queryAccessibleInterface(dlg.StatusBar()->findChild<CLineLamps*>());
    if (!pLines)
        return QStringLiteral("no accessible lines");
    QStringList words;
    for (int i = 0; i < pLines->childCount(); ++i) {
        QAccessibleInterface* pLamp = pLines->child(i);
        const QAccessible::Role role = pLamp->role();
        const QAccessible::State s = pLamp->state();
        if ((role != QAccessible::CheckBox && role != QAccessible::Indicator) || s.invisible)
            continue;
        const QString name = pLamp->text(QAccessible::Name);
        words << (s.checkStateMixed ? QLatin1Char('?') + name : s.checked ? name : name.toLower());
    }
    return words.isEmpty() ? pLines->text(QAccessible::Description) : words.join(QLatin1Char(' '));
}

QAccessibleInterface* Label(CTerminalDlg& dlg, const QString& name)
{
    QAccessibleInterface* pLines =
        QAccessible::queryAccessibleInterface(dlg.StatusBar()->findChild<CLineLamps*>());
    for (int i = 0; pLines && i < pLines->childCount(); ++i) {
        if (pLines->child(i)->text(QAccessible::Name) == name)
            return pLines->child(i);
    }
    return nullptr;
}

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

// A telnet server that takes the Com Port option and tells of its modem
// lines: DCD, DSR and CTS on.
ScriptedServer* ComPortServer()
{
    return new ScriptedServer({Hex("fffd2c"), Hex("fffa2c6bb0fff0")});
}

QString Url(const char* scheme, quint16 port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

// The modem-control calls the serial back end makes, and what they answer.
struct FakeModemState
{
    quint8 nOn = kKrWireLines; // every line on
    bool bReadRefused = false;
    bool bSetRefused = false;
    bool bCanWatch = true;
    std::atomic<int> nReads{0};
    QList<QPair<int, int>> outputs; // SetOutputs(nLines, nOn) calls
    std::function<void()> changed;  // while watched
};

class FakeModem : public CKrModemControl
{
public:
    explicit FakeModem(FakeModemState& s) : m_s(s) {}
    bool Read(KrLines* pLines, QString* pWhy) override
    {
        ++m_s.nReads;
        if (m_s.bReadRefused)
            return Refused(pWhy);
        for (KrLine line : kKrWires)
            pLines->Set(line, m_s.nOn & KrLineBit(line));
        return true;
    }
    bool SetOutputs(quint8 nLines, quint8 nOn, QString* pWhy) override
    {
        m_s.outputs.append({nLines, nOn});
        if (m_s.bSetRefused)
            return Refused(pWhy);
        m_s.nOn = quint8((m_s.nOn & ~nLines) | (nOn & nLines));
        return true;
    }
    bool SetBreak(bool, QString* pWhy) override { return !m_s.bSetRefused || Refused(pWhy); }
    bool StartWatching(std::function<void()> changed) override
    {
        if (m_s.bCanWatch)
            m_s.changed = std::move(changed);
        return m_s.bCanWatch;
    }
    bool IsWatching() const override { return bool(m_s.changed); }
    void StopWatching() override { m_s.changed = nullptr; }

private:
    static bool Refused(QString* pWhy)
    {
        *pWhy = QStringLiteral("refused by the fake");
        return false;
    }
    FakeModemState& m_s;
};

// Hears the serial back end on the test's own thread.
class CountingSink : public CKrCommBackendSink
{
public:
    int nLinesChanged = 0;
    void BackendOpened() override {}
    void BackendReceived(const QByteArray&) override {}
    void BackendWritten(qint64) override {}
    void BackendReady() override {}
    void BackendFailed(const KrPortFailure&) override {}
    void BackendNoteChanged() override {}
    void BackendLinesChanged() override { ++nLinesChanged; }
};

// A serial back end on a pseudo-terminal whose modem control is the fake.
struct FakeSerial
{
    PtyPair pty;
    FakeModemState modem;
    CountingSink sink;
    std::unique_ptr<CKrCommBackend> backend = KrCreateSerialBackendWith(
        sink, [this](qintptr) { return std::make_unique<FakeModem>(modem); });

    bool Open(KrLineAtOpen dtr = KrLineAtOpen::On, KrLineAtOpen rts = KrLineAtOpen::On)
    {
        KrPortFailure failure;
        return pty.IsValid() && backend->Open(WithLines(pty.SlavePath(), dtr, rts), &failure) ==
                                    CKrCommBackend::OpenResult::Opened;
    }
};

double CpuSeconds()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace

Q_DECLARE_METATYPE(KrLineAtOpen)

class TestLines : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loopIsANullModem_data();
    void loopIsANullModem();
    void pulseAndBreakLastWhatWasAsked_data();
    void pulseAndBreakLastWhatWasAsked();
    void rfc2217SetControlBytes_data();
    void rfc2217SetControlBytes();
    void labelsFollowThePort_data();
    void labelsFollowThePort();
    void clickingALabelTogglesItsLine();
    void serialLinesAtOpen_data();
    void serialLinesAtOpen();
    void serialInputChangesAreSeen_data();
    void serialInputChangesAreSeen();
    void serialRefusalsAreToldOnce();
    void pseudoTerminalRefusesOnceAndRests();
};

void TestLines::loopIsANullModem_data()
{
    QTest::addColumn<KrLineAtOpen>("dtr");
    QTest::addColumn<KrLineAtOpen>("rts");
    QTest::addColumn<int>("set"); // -1 nothing, else the line set to the other state
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("changed"); // by the set
    const auto on = KrLineAtOpen::On, off = KrLineAtOpen::Off, keep = KrLineAtOpen::Keep;
    QTest::newRow("both on at open") << on << on << -1 << "DTR RTS CTS DSR DCD ri"
                                     << "";
    QTest::newRow("DTR off at open") << off << on << -1 << "dtr RTS CTS dsr dcd ri"
                                     << "";
    QTest::newRow("RTS off at open") << on << off << -1 << "DTR rts cts DSR DCD ri"
                                     << "";
    QTest::newRow("kept as an open leaves them") << keep << keep << -1 << "DTR RTS CTS DSR DCD ri"
                                                 << "";
    QTest::newRow("DTR turned off") << on << on << int(KrLine::Dtr) << "dtr RTS CTS dsr dcd ri"
                                    << "DTR DSR DCD";
    QTest::newRow("RTS turned off") << on << on << int(KrLine::Rts) << "DTR rts cts DSR DCD ri"
                                    << "RTS CTS";
    QTest::newRow("DTR turned on") << off << on << int(KrLine::Dtr) << "DTR RTS CTS DSR DCD ri"
                                   << "DTR DSR DCD";
}

void TestLines::loopIsANullModem()
{
    QFETCH(KrLineAtOpen, dtr);
    QFETCH(KrLineAtOpen, rts);
    QFETCH(int, set);
    QFETCH(QString, lines);
    QFETCH(QString, changed);
    LinesPort p(WithLines(QStringLiteral("loop://"), dtr, rts));
    QVERIFY(p.opened);
    if (set >= 0) {
        const KrLine line = KrLine(set);
        QTRY_VERIFY_WITH_TIMEOUT(p.port.GetLines().IsKnown(line), 20000);
        QVERIFY(p.port.SetLine(line, !p.port.GetLines().IsOn(line)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(p.lines.LastLines(), lines, 20000);
    if (set >= 0)
        QCOMPARE(ChangedText(p.lines.Events().last().nChanged).toUpper(), changed);
    // Closed, the port has no lines, and says why.
    p.port.Close();
    QTRY_COMPARE_WITH_TIMEOUT(p.port.GetLines().strNote, QStringLiteral("port not open"), 20000);
    QCOMPARE(p.port.GetLines().nHave, quint8(0));
    QVERIFY(!p.port.SetLine(KrLine::Dtr, true));
}

void TestLines::pulseAndBreakLastWhatWasAsked_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("during");
    QTest::newRow("pulse DTR, default") << int(KrLine::Dtr) << 0 << "dtr RTS CTS dsr dcd ri";
    QTest::newRow("pulse RTS, 40 ms") << int(KrLine::Rts) << 40 << "DTR rts cts DSR DCD ri";
    QTest::newRow("break, default") << int(KrLine::Break) << 0 << "DTR RTS CTS DSR DCD ri BREAK";
}

void TestLines::pulseAndBreakLastWhatWasAsked()
{
    QFETCH(int, line);
    QFETCH(int, ms);
    QFETCH(QString, during);
    LinesPort p(ConfigFor(QStringLiteral("loop://")));
    QVERIFY(p.opened);
    QTRY_COMPARE_WITH_TIMEOUT(p.lines.LastLines(), QStringLiteral("DTR RTS CTS DSR DCD ri"), 20000);
    const qsizetype nBefore = p.lines.Events().size();
    const bool bBreak = KrLine(line) == KrLine::Break;
    const int nExpectedMs = ms       ? ms
                            : bBreak ? CKrCommPort::kDefaultBreakMs
                                     : CKrCommPort::kDefaultPulseMs;
    QVERIFY(bBreak ? (ms ? p.port.SendBreak(ms) : p.port.SendBreak())
                   : (ms ? p.port.PulseLine(KrLine(line), ms) : p.port.PulseLine(KrLine(line))));
    QTRY_COMPARE_WITH_TIMEOUT(p.lines.Events().size(), nBefore + 2, 20000);
    const QList<KrLineEvent> events = p.lines.Events().mid(nBefore);
    QCOMPARE(Text(events[0].lines), during);
    QCOMPARE(Text(events[1].lines), QStringLiteral("DTR RTS CTS DSR DCD ri"));
    // Never shorter than asked (the timer does not end early); the longest
    // is left to the machine's load.
    const qint64 nUs = events[1].nTimeUs - events[0].nTimeUs;
    QVERIFY2(nUs >= (nExpectedMs - 1) * 1000, qPrintable(QString::number(nUs)));
}

void TestLines::rfc2217SetControlBytes_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("wire"); // after the settings, in hex
    const auto row = [](const char* action, const char* values) {
        QByteArray wire;
        for (const QByteArray& v : QByteArray(values).split(' '))
            wire += "fffa2c05" + v + "fff0";
        QTest::newRow(action) << QString(action) << wire;
    };
    row("DTR off", "09");
    row("DTR on", "08");
    row("RTS off", "0c");
    row("RTS on", "0b");
    row("break", "05 06");
    row("pulse DTR", "09 08");
    row("pulse RTS", "0c 0b");
}

void TestLines::rfc2217SetControlBytes()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, wire);
    std::unique_ptr<ScriptedServer> server(ComPortServer());
    QVERIFY2(server->IsValid(), qPrintable(server->ErrorString()));
    LinesPort p(ConfigFor(Url("rfc2217", server->Port())));
    QVERIFY(p.opened);
    // At open, after the line settings: DTR on, RTS on, every modem change.
    const QByteArray atOpen = "fffa2c0508fff0fffa2c050bfff0fffa2c0bfffffff0";
    QTRY_VERIFY_WITH_TIMEOUT(server->Received().toHex().endsWith(atOpen), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(p.lines.LastLines(), QStringLiteral("DTR RTS CTS DSR DCD ri"), 20000);

    const KrLine line = action.contains(QLatin1String("DTR")) ? KrLine::Dtr : KrLine::Rts;
    if (action.startsWith(QLatin1String("pulse")))
        QVERIFY(p.port.PulseLine(line));
    else if (action == QLatin1String("break"))
        QVERIFY(p.port.SendBreak());
    else
        QVERIFY(p.port.SetLine(line, action.endsWith(QLatin1String("on"))));
    QTRY_VERIFY_WITH_TIMEOUT(server->Received().toHex().endsWith(atOpen + wire), 20000);
    if (action.startsWith(QLatin1String("pulse")))
        QCOMPARE(p.lines.LastLines(), QStringLiteral("DTR RTS CTS DSR DCD ri"));
}

void TestLines::labelsFollowThePort_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QList<QByteArray>>("script"); // of a server, for a network port
    QTest::addColumn<QString>("labels");
    QTest::addColumn<bool>("commands"); // the menu's line commands enabled
    QTest::newRow("loopback") << "loop" << QList<QByteArray>() << "DTR RTS CTS DSR DCD ri" << true;
    QTest::newRow("RFC 2217, the server's modem lines")
        << "rfc2217" << QList<QByteArray>{Hex("fffd2c"), Hex("fffa2c6b30fff0")}
        << "DTR RTS CTS DSR dcd ri" << true;
    QTest::newRow("RFC 2217, modem lines never told")
        << "rfc2217" << QList<QByteArray>{Hex("fffd2c")} << "DTR RTS ?CTS ?DSR ?DCD ?RI" << true;
    QTest::newRow("RFC 2217, the option never answered")
        << "rfc2217" << QList<QByteArray>() << "not available: the server does not support RFC 2217"
        << false;
    QTest::newRow("raw TCP") << "socket" << QList<QByteArray>() << "not available on a raw TCP port"
                             << false;
}

void TestLines::labelsFollowThePort()
{
    QFETCH(QString, scheme);
    QFETCH(QList<QByteArray>, script);
    QFETCH(QString, labels);
    QFETCH(bool, commands);
    ScriptedServer server(script);
    QVERIFY2(server.IsValid(), qPrintable(server.ErrorString()));
    TerminalFixture fx;
    QVERIFY(fx.WriteSettings(ConfigFor(scheme == QLatin1String("loop")
                                           ? QStringLiteral("loop://")
                                           : Url(qPrintable(scheme), server.Port()))));
    auto dlg = fx.Start();
    // The option's answer is waited for 3 s; a loaded machine may take longer.
    QTRY_COMPARE_WITH_TIMEOUT(LabelsSeen(*dlg), labels, 20000);
    std::unique_ptr<QMenu> menu(dlg->DataView()->CreateContextMenu(nullptr));
    const QStringList lineCommands{"Pulse DTR", "Pulse RTS", "Send Break"};
    QStringList entries;
    for (QAction* pAction : menu->actions()) {
        if (!lineCommands.contains(pAction->text()))
            continue;
        entries << pAction->text();
        QCOMPARE(pAction->isEnabled(), commands);
    }
    QCOMPARE(entries, lineCommands);
    // Closed, no stale labels.
    dlg->Port().Close();
    QTRY_COMPARE_WITH_TIMEOUT(LabelsSeen(*dlg), QStringLiteral("port not open"), 20000);
}

void TestLines::clickingALabelTogglesItsLine()
{
    TerminalFixture fx;
    LinesListener events; // outlives the window's port
    QVERIFY(fx.WriteSettings(ConfigFor(QStringLiteral("loop://"))));
    auto dlg = fx.Start();
    QTRY_COMPARE_WITH_TIMEOUT(LabelsSeen(*dlg), QStringLiteral("DTR RTS CTS DSR DCD ri"), 20000);
    QAccessibleInterface* pDtr = Label(*dlg, QStringLiteral("DTR"));
    QVERIFY(pDtr);
    QCOMPARE(pDtr->text(QAccessible::Description),
             QStringLiteral("DTR (Data Terminal Ready): on - click to turn it off"));
    QTest::mouseClick(qobject_cast<QWidget*>(pDtr->object()), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(LabelsSeen(*dlg), QStringLiteral("dtr RTS CTS dsr dcd ri"), 20000);
    QCOMPARE(Label(*dlg, QStringLiteral("DSR"))->text(QAccessible::Description),
             QStringLiteral("DSR (Data Set Ready): off"));
    // An input line has no action; a click on it changes nothing.
    QVERIFY(Label(*dlg, QStringLiteral("CTS"))->actionInterface()->actionNames().isEmpty());
    QAccessibleInterface* pRts = Label(*dlg, QStringLiteral("RTS"));
    pRts->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QTRY_COMPARE_WITH_TIMEOUT(LabelsSeen(*dlg), QStringLiteral("dtr rts cts dsr dcd ri"), 20000);
    // The menu's pulse turns DTR on and off again.
    dlg->Port().AddListener(&events);
    const QDateTime logged = QDateTime::currentDateTime();
    dlg->LogInputCheck()->setChecked(true);
    std::unique_ptr<QMenu> menu(dlg->DataView()->CreateContextMenu(nullptr));
    for (QAction* pAction : menu->actions()) {
        if (pAction->text() == QLatin1String("Pulse DTR"))
            pAction->trigger();
    }
    QTRY_COMPARE_WITH_TIMEOUT(events.Events().size(), 2, 20000);
    QCOMPARE(Text(events.Events().first().lines), QStringLiteral("DTR rts cts DSR DCD ri"));
    QCOMPARE(events.LastLines(), QStringLiteral("dtr rts cts dsr dcd ri"));
    // The pulse and a break are in the log's timing index, in order.
    for (QAction* pAction : menu->actions()) {
        if (pAction->text() == QLatin1String("Send Break"))
            pAction->trigger();
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        fx.LoggedEvents(logged),
        (QStringList{"log started: " + dlg->Port().GetConfig().Text(),
                     "line change: DTR on, DSR on, DCD on",
                     "line change: DTR off, DSR off, DCD off", "break: begun", "break: ended"}),
        20000);
}

void TestLines::serialLinesAtOpen_data()
{
    QTest::addColumn<KrLineAtOpen>("dtr");
    QTest::addColumn<KrLineAtOpen>("rts");
    QTest::addColumn<QString>("calls"); // SetOutputs(lines, on), in Text() form
    const auto on = KrLineAtOpen::On, off = KrLineAtOpen::Off, keep = KrLineAtOpen::Keep;
    QTest::newRow("on, on") << on << on << "DTR RTS";
    QTest::newRow("off, off: in one call") << off << off << "dtr rts";
    QTest::newRow("on, off: in one call") << on << off << "DTR rts";
    QTest::newRow("keep, off") << keep << off << "rts";
    QTest::newRow("keep, keep: not touched") << keep << keep << "";
}

void TestLines::serialLinesAtOpen()
{
    QFETCH(KrLineAtOpen, dtr);
    QFETCH(KrLineAtOpen, rts);
    QFETCH(QString, calls);
    FakeSerial s;
    QVERIFY(s.Open(dtr, rts));
    QStringList made;
    for (const auto& [nLines, nOn] : s.modem.outputs) {
        KrLines l;
        for (KrLine line : {KrLine::Dtr, KrLine::Rts}) {
            if (nLines & KrLineBit(line))
                l.Set(line, nOn & KrLineBit(line));
        }
        made << Text(l);
    }
    QCOMPARE(made.join(QLatin1Char('|')), calls);
    QVERIFY(s.backend->Lines().Has(KrLine::Break));
}

void TestLines::serialInputChangesAreSeen_data()
{
    QTest::addColumn<bool>("canWatch");
    QTest::newRow("the system tells of changes") << true;
    QTest::newRow("the lines are read on a timer") << false;
}

void TestLines::serialInputChangesAreSeen()
{
    QFETCH(bool, canWatch);
    FakeSerial s;
    s.modem.bCanWatch = canWatch;
    QVERIFY(s.Open());
    QCOMPARE(Text(s.backend->Lines()), QStringLiteral("DTR RTS CTS DSR DCD RI"));
    if (canWatch) {
        // Watched, an idle port is not read again.
        const int nReads = s.modem.nReads;
        QTest::qWait(300);
        QCOMPARE(s.modem.nReads.load(), nReads);
    }
    s.modem.nOn &= quint8(~(KrLineBit(KrLine::Cts) | KrLineBit(KrLine::Ri)));
    if (canWatch)
        std::thread([&] { s.modem.changed(); }).join(); // as the waiting thread does
    QTRY_COMPARE_WITH_TIMEOUT(Text(s.backend->Lines()), QStringLiteral("DTR RTS cts DSR DCD ri"),
                              20000);
    QCOMPARE(s.sink.nLinesChanged, 1);
    s.backend->Close();
    QVERIFY(!s.modem.changed);
}

void TestLines::serialRefusalsAreToldOnce()
{
    FakeSerial refusesAll;
    refusesAll.modem.bReadRefused = true;
    QVERIFY(refusesAll.Open());
    const KrLines none = refusesAll.backend->Lines();
    QCOMPARE(none.nHave, quint8(0));
    QCOMPARE(none.strNote, QStringLiteral("not available: %1 refuses the modem-control calls "
                                          "(refused by the fake)")
                               .arg(refusesAll.pty.SlavePath()));
    QTest::qWait(300);
    QCOMPARE(refusesAll.modem.nReads.load(), 1); // not asked again
    QVERIFY(!refusesAll.modem.changed);

    FakeSerial refusesSets;
    QVERIFY(refusesSets.Open(KrLineAtOpen::Keep, KrLineAtOpen::Keep));
    refusesSets.modem.bSetRefused = true;
    QVERIFY(!refusesSets.backend->SetLine(KrLine::Dtr, false));
    QCOMPARE(refusesSets.backend->Lines().strNote,
             QStringLiteral("%1 refused to lower DTR (refused by the fake)")
                 .arg(refusesSets.pty.SlavePath()));
    QVERIFY(!refusesSets.backend->SetLine(KrLine::Break, true));
    QVERIFY(refusesSets.backend->Lines().strNote.contains(QLatin1String("send a break")));
    QCOMPARE(Text(refusesSets.backend->Lines()), QStringLiteral("DTR RTS CTS DSR DCD RI"));
}

void TestLines::pseudoTerminalRefusesOnceAndRests()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    LinesPort p(ConfigFor(pty.SlavePath()));
    QVERIFY2(p.opened, qPrintable(p.port.GetLastError()));
    QTRY_VERIFY_WITH_TIMEOUT(!p.lines.Events().isEmpty(), 20000);
    const KrLines none = p.lines.Events().last().lines;
    QCOMPARE(none.nHave, quint8(0));
    QCOMPARE(none.strNote, QStringLiteral("not available: %1 refuses the modem-control calls "
                                          "(Inappropriate ioctl for device)")
                               .arg(pty.SlavePath()));
    const double cpuBefore = CpuSeconds();
    QVERIFY(!p.port.SetLine(KrLine::Dtr, false));
    QVERIFY(!p.port.PulseLine(KrLine::Rts));
    QVERIFY(!p.port.SendBreak());
    QTest::qWait(2000);
    const double cpu = CpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(cpu)));
    QCOMPARE(p.lines.Events().size(), 1); // told once

    // The system's own waiting on a terminal that cannot wait ends at once,
    // and says so once.
    std::atomic<int> nTold{0};
    const std::unique_ptr<CKrModemControl> pModem = KrSystemModemControl(pty.SlaveFd());
    QVERIFY(pModem->StartWatching([&nTold] { ++nTold; }));
    QTRY_VERIFY_WITH_TIMEOUT(!pModem->IsWatching(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(nTold.load(), 1, 20000);
    pModem->StopWatching();
}

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
