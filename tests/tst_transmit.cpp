// Typed characters, counter data, the toolbar commands and Send Text File.

#include "CAboutDlg.h"
#include "CArchive.h"
#include "CDataView.h"
#include "CFileSend.h"
#include "CKrCommDlgPortCfg.h"
#include "CStatusBarCtrl.h"
#include "CommandIds.h"
#include "KeyToChar.h"
#include "NoNewThreads.h"
#include "ReceiveBuffer.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTest>
#include <QToolBar>
#include <atomic>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void SendKey(QWidget* w, int key, Qt::KeyboardModifiers mods, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &release);
}

// The port side of a file send on its own: a port that takes every byte at
// once and drops nothing.
class OwnLink : public CFileSendLink
{
public:
    explicit OwnLink(std::function<qint64(const QByteArray&)> send) : m_send(std::move(send)) {}
    qint64 SendFilePiece(const QByteArray& bytes, bool, bool) override { return m_send(bytes); }
    qint64 PendingFileBytes() const override { return 0; }
    qint64 DiscardFileBytes() override { return 0; }
    qint64 TakeDroppedFileBytes() override { return 0; }

private:
    std::function<qint64(const QByteArray&)> m_send;
};

} // namespace

class TestTransmit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void charCodes_data();
    void charCodes();
    void typedKeysSendTheirCharacters_data();
    void typedKeysSendTheirCharacters();
    void typingWhileClosedCountsNothing();
    void counterSendsOncePerTick();
    void counterEcho_data();
    void counterEcho();
    void configurePortAccepted();
    void configurePortCancelled();
    void tooltips();
    void aboutShowsTheProduct();
    void sendFile_data();
    void sendFile();
    void sendBigFileEchoTrimsOnce();
    void sendFileFailures_data();
    void sendFileFailures();
    void sendFileWithoutAThreadSaysSo();
    void sendFileCancelled();
    void sendProgressFollowsTheDrain();
    void sendFileMessageLeavesReceivingFree();
    void sendFilePipeIsRefused();
    void fileLargerThanTheQueueStreams();
    void stoppingAStreamSaysHowMuchWent_data();
    void stoppingAStreamSaysHowMuchWent();
    void deviceLostDuringAStream();
    void fileThatChangesWhileSent_data();
    void fileThatChangesWhileSent();
    void receivedDataShowsWhileAStreamRuns();
};

void TestTransmit::charCodes_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::newRow("letter") << int(Qt::Key_A) << 0 << "a" << 0x61;
    QTest::newRow("shifted letter") << int(Qt::Key_A) << int(Qt::ShiftModifier) << "A" << 0x41;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "\b" << 0x08;
    QTest::newRow("enter") << int(Qt::Key_Return) << 0 << "\r" << 0x0D;
    QTest::newRow("keypad enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "\r" << 0x0D;
    QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << "\x1b" << 0x1B;
    QTest::newRow("tab") << int(Qt::Key_Tab) << 0 << "\t" << 0x09;
    QTest::newRow("ctrl+c without text")
        << int(Qt::Key_C) << int(Qt::ControlModifier) << "" << 0x03;
    QTest::newRow("ctrl+z") << int(Qt::Key_Z) << int(Qt::ControlModifier) << "\x1a" << 0x1A;
    QTest::newRow("ctrl+space") << int(Qt::Key_Space) << int(Qt::ControlModifier) << "" << 0x00;
    QTest::newRow("ctrl+@") << int(Qt::Key_At) << int(Qt::ControlModifier) << "" << 0x00;
    QTest::newRow("euro sign") << int(Qt::Key_unknown) << 0 << QString(QChar(0x20AC)) << 0x20AC;
    QTest::newRow("latin-1") << int(Qt::Key_Eacute) << 0 << QString(QChar(0xE9)) << 0xE9;
    QTest::newRow("arrow") << int(Qt::Key_Left) << 0 << "" << -1;
    QTest::newRow("function key") << int(Qt::Key_F1) << 0 << "" << -1;
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << "\x7f" << -1;
    QTest::newRow("alt+letter") << int(Qt::Key_X) << int(Qt::AltModifier) << "x" << -1;
    QTest::newRow("altgr as ctrl+alt")
        << int(Qt::Key_At) << int(Qt::ControlModifier | Qt::AltModifier) << "@" << 0x40;
    QTest::newRow("ctrl+alt without text")
        << int(Qt::Key_X) << int(Qt::ControlModifier | Qt::AltModifier) << "" << -1;
    QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << "" << -1;
}

void TestTransmit::charCodes()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(QString, text);
    QFETCH(int, code);
    QCOMPARE(CharCodeForKey(key, Qt::KeyboardModifiers(mods), text), code);
}

void TestTransmit::typedKeysSendTheirCharacters_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("onLogInput"); // the focus, else on "Local Echo"
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("toggles"); // the key-down reached the checkbox
    QTest::newRow("a") << int(Qt::Key_A) << 0 << "a" << false << QByteArray("\x61") << false;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "\b" << false << QByteArray("\x08")
                               << false;
    QTest::newRow("ctrl+c") << int(Qt::Key_C) << int(Qt::ControlModifier) << "" << false
                            << QByteArray("\x03") << false;
    QTest::newRow("enter") << int(Qt::Key_Return) << 0 << "\r" << false << QByteArray("\x0d")
                           << false;
    QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << "\x1b" << false << QByteArray("\x1b")
                            << false;
    QTest::newRow("tab") << int(Qt::Key_Tab) << 0 << "\t" << false << QByteArray("\x09") << false;
    QTest::newRow("above 0xff") << int(Qt::Key_unknown) << 0 << QString(QChar(0x20AC)) << false
                                << QByteArray("\xac") << false;
    QTest::newRow("space on Local Echo")
        << int(Qt::Key_Space) << 0 << " " << false << QByteArray(" ") << true;
    QTest::newRow("space on Log Input Data")
        << int(Qt::Key_Space) << 0 << " " << true << QByteArray(" ") << true;
    QTest::newRow("ctrl+space") << int(Qt::Key_Space) << int(Qt::ControlModifier) << "" << false
                                << QByteArray("\0", 1) << true;
    QTest::newRow("several characters in one event")
        << int(Qt::Key_unknown) << 0 << QString::fromUtf8("ab\xc3\xa9") << false
        << QByteArray("ab\xe9") << false;
}

void TestTransmit::typedKeysSendTheirCharacters()
{
    QFETCH(int, key);
    QFETCH(int, mods);
    QFETCH(QString, text);
    QFETCH(bool, onLogInput);
    QFETCH(QByteArray, wire);
    QFETCH(bool, toggles);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->AppendText("shown");
    fx.dlg->FlushRefresh();
    const QStringList rows = fx.dlg->DataView()->VisibleRows();

    // Sent to whichever control has the focus, as the keyboard would.
    QCheckBox* box = onLogInput ? fx.dlg->LogInputCheck() : fx.dlg->LocalEchoCheck();
    box->setFocus();
    SendKey(box, key, Qt::KeyboardModifiers(mods), text);
    QCOMPARE(fx.pty.ReadMasterFor(wire.size()), wire);
    QCOMPARE(fx.dlg->GetTxCount(), qint64(wire.size()));
    QCOMPARE(fx.dlg->StatusBar()->GetText(1), QStringLiteral("Tx:%1").arg(wire.size()));
    QVERIFY(fx.dlg->IsEchoPending());
    fx.dlg->FlushRefresh();
    QCOMPARE(fx.dlg->DataView()->VisibleRows(), rows);
    QCOMPARE(fx.dlg->GetData(), QByteArray("shown"));
    // Only Space reaches the checkbox; Esc did not close the window.
    QCOMPARE(box->isChecked(), toggles);
    QVERIFY(fx.dlg->isVisible());
    QCOMPARE(fx.beeps, 0);
}

void TestTransmit::typingWhileClosedCountsNothing()
{
    TerminalFixture fx;
    auto dlg = fx.Start(); // first start: the port is not open
    QVERIFY(!dlg->Port().IsOpen());
    QTest::keyClick(dlg.get(), Qt::Key_A);
    QCOMPARE(dlg->GetTxCount(), qint64(0));
    QVERIFY(!dlg->IsEchoPending());
    QCOMPARE(fx.beeps, 1);
    QCOMPARE(dlg->StatusBar()->GetText(1), QStringLiteral("Tx:0"));
}

void TestTransmit::counterSendsOncePerTick()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);

    fx.dlg->OnSendCounter();
    QVERIFY(fx.dlg->IsCounterRunning());
    QVERIFY(fx.dlg->CounterTimer().isActive());
    QCOMPARE(fx.dlg->CounterTimer().interval(), 1000);
    // Three and a half seconds: ticks at 1, 2 and 3 s.
    for (int i = 0; i < 3; ++i)
        fx.dlg->OnTimer(1);
    fx.dlg->OnTimer(2); // another timer id sends nothing
    fx.dlg->OnSendCounter();
    QVERIFY(!fx.dlg->CounterTimer().isActive());
    QCOMPARE(fx.pty.ReadMasterFor(6), QByteArray("0 1 2 "));
    QCOMPARE(fx.dlg->GetTxCount(), qint64(0));

    fx.dlg->OnSendCounter();
    fx.dlg->OnTimer(1);
    QCOMPARE(fx.pty.ReadMasterFor(2), QByteArray("0 "));
    for (int i = 1; i < 10; ++i)
        fx.dlg->OnTimer(1);
    QCOMPARE(fx.pty.ReadMasterFor(18), QByteArray("1 2 3 4 5 6 7 8 9 "));
    fx.dlg->OnTimer(1);
    QCOMPARE(fx.pty.ReadMasterFor(3), QByteArray("10 "));
    fx.dlg->OnSendCounter();
}

void TestTransmit::counterEcho_data()
{
    QTest::addColumn<bool>("localEcho");
    QTest::newRow("Local Echo checked") << true;
    QTest::newRow("Local Echo unchecked") << false;
}

void TestTransmit::counterEcho()
{
    QFETCH(bool, localEcho);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LocalEchoCheck()->setChecked(localEcho);
    fx.dlg->OnSendCounter();
    for (int i = 0; i < 3; ++i)
        fx.dlg->OnTimer(1);
    fx.dlg->OnSendCounter();
    QCOMPARE(fx.dlg->GetData(), localEcho ? QByteArray("0 1 2 ") : QByteArray());
    QCOMPARE(RxShown(*fx.dlg), Rx(localEcho ? 6 : 0));
    // The last tick left the gate set: the first block after the stop is
    // dropped unless Local Echo is checked.
    QVERIFY(fx.dlg->IsEchoPending());
    fx.dlg->ReceiveSink().OnReceive("R1", 2);
    fx.dlg->ReceiveSink().OnReceive("R2", 2);
    QCOMPARE(fx.dlg->GetData(), localEcho ? QByteArray("0 1 2 R1R2") : QByteArray("R2"));
}

void TestTransmit::configurePortAccepted()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    PtyPair pty;
    CKrCommConfig wanted;
    wanted.strPort = pty.SlavePath();
    wanted.nBaud = 57600;
    wanted.parity = KrParity::Odd;
    fx.onModal = [&](QDialog& d) {
        auto* cfg = qobject_cast<CKrCommDlgPortCfg*>(&d);
        if (!cfg)
            return IDCANCEL;
        cfg->SetFields(wanted);
        cfg->accept();
        return d.result() == QDialog::Accepted ? IDOK : IDCANCEL;
    };
    const QByteArray before = ReadFile(fx.SettingsPath());
    dlg->OnConfigurePort();
    QVERIFY(SettledOpen(dlg->Port()));
    QVERIFY(dlg->Port().GetConfig() == wanted);
    QTRY_COMPARE(dlg->windowTitle(),
                 QStringLiteral("VornTerm - %1 57600,8,O,1").arg(pty.SlavePath()));
    const QByteArray after = ReadFile(fx.SettingsPath());
    QVERIFY(after != before);
    CKrCommPort reread;
    {
        QFile f(fx.SettingsPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        CArchive ar(&f, CArchive::load);
        reread.Serialize(ar);
    }
    QVERIFY(reread.GetConfig() == wanted);
    QTest::keyClick(dlg.get(), Qt::Key_Q);
    QCOMPARE(pty.ReadMasterFor(1), QByteArray("q"));
}

void TestTransmit::configurePortCancelled()
{
    TerminalFixture fx;
    fx.Start().reset();
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    const QByteArray before = ReadFile(fx.SettingsPath());
    fx.onModal = [](QDialog& d) {
        d.reject();
        return IDCANCEL;
    };
    dlg->OnConfigurePort();
    QVERIFY(!dlg->Port().IsOpen());
    QCOMPARE(dlg->windowTitle(),
             QStringLiteral("VornTerm - loop:// 9600,8,N,1 - not open: port closed"));
    QCOMPARE(ReadFile(fx.SettingsPath()), before);
    QTest::keyClick(dlg.get(), Qt::Key_A);
    QCOMPARE(dlg->GetTxCount(), qint64(0));
    QCOMPARE(fx.beeps, 1);
}

void TestTransmit::tooltips()
{
    const QList<QPair<int, QString>> expected = {{32781, "Configure Port"},
                                                 {32779, "Pause Scrolling"},
                                                 {32782, "Send Counter Data"},
                                                 {32783, "Clear Data Window"},
                                                 {32785, "Toggle Hex Display"},
                                                 {32786, "Send Text File"},
                                                 {32780, "About Vornterm"},
                                                 {0, ""},
                                                 {32784, ""},
                                                 {1019, ""}};
    for (const auto& row : expected)
        QCOMPARE(ToolTipForCommand(row.first), row.second);

    TerminalFixture fx;
    auto dlg = fx.Start();
    for (QAction* a : dlg->findChild<QToolBar*>()->actions())
        QCOMPARE(a->toolTip(), ToolTipForCommand(a->data().toInt()));
}

void TestTransmit::aboutShowsTheProduct()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    QStringList lines;
    fx.onModal = [&](QDialog& d) {
        if (auto* about = qobject_cast<CAboutDlg*>(&d))
            lines = QStringList{about->m_strProduct1, about->m_strProduct2, about->m_strProduct3,
                                about->m_strProduct4, about->m_strProduct5};
        return IDOK;
    };
    dlg->OnCommand(ID_SHOW_ABOUT);
    QCOMPARE(lines, (QStringList{"", "1.00", "VornTerm", "", ""}));
}

void TestTransmit::sendFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("localEcho");
    QTest::newRow("five bytes") << QByteArray("\x41\x42\x0D\x0A\x43") << false;
    QTest::newRow("five bytes echoed") << QByteArray("\x41\x42\x0D\x0A\x43") << true;
    QTest::newRow("empty file echoed") << QByteArray() << true;
    QTest::newRow("zero byte in the middle echoed") << QByteArray("AB\0CD", 5) << true;
}

void TestTransmit::sendFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, localEcho);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LocalEchoCheck()->setChecked(localEcho);
    fx.dlg->AppendText("x"); // sets Rx to 1
    QVERIFY(fx.OfferFile("send.bin", content));

    fx.dlg->OnSendTextFile();
    QCOMPARE(fx.pty.ReadMasterFor(int(content.size())), content);
    // The file is read and written on the file send's thread.
    QTRY_COMPARE(fx.dlg->GetTxCount(), qint64(content.size()));
    QTRY_COMPARE(fx.dlg->GetData(), localEcho ? QByteArray("x") + content : QByteArray("x"));
    QTRY_COMPARE(fx.dlg->IsEchoPending(), !localEcho);
    QTRY_COMPARE(fx.dlg->StatusBar()->GetText(1), QStringLiteral("Tx:%1").arg(content.size()));
    QVERIFY(fx.messages.isEmpty());
}

void TestTransmit::sendBigFileEchoTrimsOnce()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LocalEchoCheck()->setChecked(true);
    QByteArray content(600000, 'f');
    QVERIFY(fx.OfferFile("big.bin", content));
    fx.dlg->OnSendTextFile();
    QTRY_COMPARE(fx.dlg->GetTxCount(), qint64(600000));
    // The echo is one block: one trim of 250,000.
    QTRY_COMPARE(fx.dlg->GetData().size(), 350000);
    QCOMPARE(RxShown(*fx.dlg), Rx(350000));
}

void TestTransmit::sendFileFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("makeFolder");
    QTest::newRow("missing file") << "missing.txt" << false;
    QTest::newRow("folder") << "a-folder" << true;
}

void TestTransmit::sendFileFailures()
{
    QFETCH(QString, name);
    QFETCH(bool, makeFolder);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    if (makeFolder)
        QVERIFY(QDir().mkdir(fx.Path(name)));
    fx.openFileName = fx.Path(name);
    fx.dlg->OnSendTextFile();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages.first().contains(name), qPrintable(fx.messages.first()));
    QCOMPARE(fx.dlg->GetTxCount(), qint64(0));
    QVERIFY(!fx.dlg->IsEchoPending());
    QCOMPARE(fx.dlg->Port().GetPendingCount(), qint64(0));
    QCOMPARE(fx.pty.ReadMasterFor(1, 300), QByteArray());
}

void TestTransmit::sendFileWithoutAThreadSaysSo()
{
    // The system refuses the sending thread: the user is told, and a later
    // send starts one.
    QStringList failures;
    std::atomic<qint64> nSent{0}; // counted on the sending thread
    OwnLink link([&](const QByteArray& bytes) {
        nSent += bytes.size();
        return qint64(bytes.size());
    });
    CFileSend send(link, CKrCommPort::kMaxQueued);
    QObject::connect(&send, &CFileSend::Failed,
                     [&](const QString& message) { failures << message; });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("three.txt"));
    QVERIFY(WriteFile(path, "abc"));
    {
        CNoNewThreads noThreads;
        if (!noThreads.WhyNot().isEmpty())
            QSKIP(qPrintable(noThreads.WhyNot()));
        send.Send(path, 3);
    }
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures.first().startsWith(
                 QStringLiteral("Cannot send 'three.txt': cannot start the sending thread: ")),
             qPrintable(failures.first()));
    QCOMPARE(nSent.load(), qint64(0));
    send.Send(path, 3);
    QTRY_COMPARE(nSent.load(), qint64(3));
    QCOMPARE(failures.size(), 1);
}

void TestTransmit::sendFileCancelled()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    QTest::keyClick(fx.dlg.get(), Qt::Key_A);
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray("a"));
    fx.openFileName.clear();
    fx.dlg->OnSendTextFile();
    QVERIFY(fx.dlg->IsEchoPending());
    QCOMPARE(fx.dlg->GetTxCount(), qint64(1));
    QVERIFY(fx.messages.isEmpty());
}

void TestTransmit::sendProgressFollowsTheDrain()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    QByteArray content(600000, 'p');
    QVERIFY(fx.OfferFile("slow.bin", content));
    fx.dlg->OnSendTextFile();
    // Nobody reads the other end yet: the pseudo-terminal fills up and the
    // rest waits in the port's queue.
    const QRegularExpression sending(QStringLiteral("^Sending [0-9,]+ / 600,000$"));
    QTRY_VERIFY2(sending.match(fx.dlg->StatusBar()->GetText(3)).hasMatch(),
                 qPrintable(fx.dlg->StatusBar()->GetText(3)));
    // A second file while the first drains: the progress covers both.
    QVERIFY(fx.OfferFile("more.bin", QByteArray(10, 'q')));
    fx.dlg->OnSendTextFile();
    QTRY_VERIFY(fx.dlg->StatusBar()->GetText(3).endsWith(QStringLiteral(" / 600,010")));
    QCOMPARE(fx.pty.ReadMasterFor(int(content.size()) + 10, 20000), content + QByteArray(10, 'q'));
    QTRY_COMPARE(fx.dlg->StatusBar()->GetText(3), QString());
}

void TestTransmit::sendFileMessageLeavesReceivingFree()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.openFileName = fx.Path("missing.bin");
    bool bReceived = false;
    std::future<void> arrival; // outlives the message, whatever happens
    fx.messageHook = [&] {
        // While the message shows, a block from another thread goes through.
        arrival =
            std::async(std::launch::async, [&] { fx.dlg->ReceiveSink().OnReceive("late", 4); });
        bReceived = arrival.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    fx.dlg->OnSendTextFile();
    arrival.wait();
    QVERIFY(bReceived);
    QCOMPARE(fx.messages.size(), 1);
    QCOMPARE(fx.dlg->GetData(), QByteArray("late"));
}

void TestTransmit::sendFilePipeIsRefused()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QString fifo = fx.Path("a-pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    fx.openFileName = fifo;
    fx.dlg->OnSendTextFile();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY2(fx.messages.first().contains(QStringLiteral("a-pipe")),
             qPrintable(fx.messages.first()));
    QCOMPARE(fx.dlg->GetTxCount(), qint64(0));
}

namespace {

// Reads the far end slowly, as a device at a low rate would, until n bytes
// came or nothing came for a while.
QByteArray ReadSlowly(PtyPair& pty, qsizetype n)
{
    QByteArray got;
    while (got.size() < n) {
        const QByteArray piece =
            pty.ReadMasterFor(qMin<qsizetype>(64 * 1024, n - got.size()), 20000);
        if (piece.isEmpty())
            break;
        got += piece;
        QThread::msleep(1);
    }
    return got;
}

} // namespace

void TestTransmit::fileLargerThanTheQueueStreams()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QByteArray content = Pattern(CKrCommPort::kMaxQueued + 1024 * 1024 + 7);
    QVERIFY(fx.OfferFile("large.bin", content));
    fx.dlg->LocalEchoCheck()->setChecked(true);
    auto reader =
        std::async(std::launch::async, [&] { return ReadSlowly(fx.pty, content.size()); });

    fx.dlg->OnSendTextFile();
    // The command has returned with most of the file still to go; the window
    // goes on meanwhile and the progress moves.
    QTRY_VERIFY(fx.dlg->FileSend()->IsStreaming());
    QStringList progress;
    while (reader.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        QTest::qWait(50);
        const QString text = fx.dlg->StatusBar()->GetText(3);
        if (text.startsWith(QStringLiteral("Sending ")) && !progress.contains(text))
            progress << text;
    }
    QVERIFY2(progress.size() >= 3, qPrintable(progress.join(QLatin1Char('|'))));
    QVERIFY(progress.last().endsWith(QStringLiteral(" / 68,157,447")));
    const QByteArray got = reader.get();
    QCOMPARE(got.size(), content.size());
    QVERIFY(got == content);
    QTRY_COMPARE(fx.dlg->StatusBar()->GetText(3), QString());
    QCOMPARE(fx.dlg->GetTxCount(), qint64(content.size()));
    QVERIFY(!fx.dlg->FileSend()->IsStreaming());
    // The echo keeps the buffer within its limit: it holds the file's end.
    const QByteArray echo = fx.dlg->GetData();
    QVERIFY2(echo.size() <= ReceiveBuffer::kLimit + ReceiveBuffer::kTrim,
             qPrintable(QString::number(echo.size())));
    QVERIFY(!echo.isEmpty() && content.endsWith(echo));
}

void TestTransmit::stoppingAStreamSaysHowMuchWent_data()
{
    QTest::addColumn<bool>("byConfigurePort"); // else by Send Text File again
    QTest::newRow("Send Text File again") << false;
    QTest::newRow("Configure Port") << true;
}

void TestTransmit::stoppingAStreamSaysHowMuchWent()
{
    QFETCH(bool, byConfigurePort);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QByteArray content = Pattern(CKrCommPort::kMaxQueued + 1);
    QVERIFY(fx.OfferFile("large.bin", content));
    fx.dlg->OnSendTextFile();
    QTRY_VERIFY(fx.dlg->FileSend()->IsStreaming());
    QTRY_VERIFY(fx.dlg->GetTxCount() > 0);
    // Behind the file at the port: two typed characters and two counter
    // texts (counted in Tx and not counted).
    QTest::keyClicks(fx.dlg.get(), QStringLiteral("hi"));
    fx.dlg->OnTimer(CTerminalDlg::kCounterTimerId);
    fx.dlg->OnTimer(CTerminalDlg::kCounterTimerId);
    if (byConfigurePort)
        fx.dlg->OnConfigurePort(); // cancelled: the port stays closed
    else
        fx.dlg->OnSendTextFile(); // no prompt: the stream stops
    QVERIFY(!fx.dlg->FileSend()->IsStreaming());
    const QString status = fx.dlg->StatusBar()->GetText(3);
    const QRegularExpression form(QStringLiteral("^Stopped: ([0-9,]+) of 67,108,865 bytes sent$"));
    const QRegularExpressionMatch match = form.match(status);
    QVERIFY2(match.hasMatch(), qPrintable(status));
    const qint64 nSent = match.captured(1).remove(QLatin1Char(',')).toLongLong();
    const QByteArray got = fx.pty.ReadMasterFor(content.size(), 1500);
    QVERIFY2(got.size() <= nSent + 6,
             qPrintable(QStringLiteral("%1 > %2 + 6").arg(got.size()).arg(nSent)));
    if (byConfigurePort) {
        // The close dropped the rest, the device's own queue too: the far
        // end gets no more than the file's start.
        QVERIFY(got.size() >= nSent - 128 * 1024);
        QVERIFY(got == content.left(got.size()));
        QCOMPARE(fx.dlg->GetTxCount(), nSent);
    } else {
        // Only the file's bytes were taken back: the far end gets the file
        // up to the figure shown, then what was queued behind it.
        QCOMPARE(got.size(), nSent + 6);
        QVERIFY(got.left(nSent) == content.left(nSent));
        QCOMPARE(got.mid(nSent), QByteArray("hi0 1 "));
        QCOMPARE(fx.dlg->GetTxCount(), nSent + 2);
    }
}

void TestTransmit::deviceLostDuringAStream()
{
    // The far end reads a while, then goes away: Tx and the figure shown
    // come down to what reached the device, not what sat in the queue.
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QByteArray content = Pattern(CKrCommPort::kMaxQueued + 1);
    QVERIFY(fx.OfferFile("large.bin", content));
    fx.dlg->OnSendTextFile();
    QTRY_VERIFY(fx.dlg->FileSend()->IsStreaming());
    const QByteArray got = fx.pty.ReadMasterFor(3 * CFileSend::kPiece, 20000);
    QCOMPARE(got.size(), 3 * CFileSend::kPiece);
    fx.pty.CloseMaster();
    QTRY_VERIFY_WITH_TIMEOUT(fx.dlg->StatusBar()->GetText(3).startsWith("Stopped: "), 20000);
    const QString status = fx.dlg->StatusBar()->GetText(3);
    const qint64 nShown =
        status.section(QLatin1Char(' '), 1, 1).remove(QLatin1Char(',')).toLongLong();
    QTRY_COMPARE(fx.dlg->GetTxCount(), nShown);
    // What the device took beyond what the far end read lay in the
    // terminal's own buffers.
    QVERIFY2(nShown >= got.size() && nShown <= got.size() + 256 * 1024, qPrintable(status));
}

void TestTransmit::fileThatChangesWhileSent_data()
{
    QTest::addColumn<qint64>("newSize");
    QTest::addColumn<QString>("status");
    QTest::newRow("shrinks") << qint64(1536 * 1024)
                             << "Stopped: 1,572,864 of 3,145,728 bytes sent - the file ended early";
    QTest::newRow("grows") << qint64(4 * 1024 * 1024) << QString();
}

void TestTransmit::fileThatChangesWhileSent()
{
    // The file's size as chosen is what is sent: one that shrinks says so,
    // one that grows sends no more.
    QFETCH(qint64, newSize);
    TerminalFixture fx;
    const QString path = fx.Path(QStringLiteral("changing.bin"));
    QVERIFY(WriteFile(path, Pattern(3 * 1024 * 1024)));
    QByteArray port;
    QSemaphore firstPiece;
    QStringList shown;
    OwnLink link([&](const QByteArray& bytes) {
        if (port.isEmpty())
            firstPiece.tryAcquire(1, 20000);
        port += bytes;
        return qint64(bytes.size());
    });
    CFileSend send(link, 1024);
    QObject::connect(&send, &CFileSend::Status, [&](const QString& text) { shown << text; });
    send.Send(path, 3 * 1024 * 1024);
    QVERIFY(::truncate(QFile::encodeName(path).constData(), off_t(newSize)) == 0);
    firstPiece.release();
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && !shown.last().startsWith("Sending"), 20000);
    QTEST(shown.last(), "status");
    QCOMPARE(port.size(), qMin<qint64>(newSize, 3 * 1024 * 1024));
}

void TestTransmit::receivedDataShowsWhileAStreamRuns()
{
    // "Local Echo" unchecked: the file's first bytes set the echo gate once;
    // what the device sends during the rest of the stream shows.
    PtyTerminal fx;
    QVERIFY(fx.opened);
    QVERIFY(fx.OfferFile("large.bin", Pattern(CKrCommPort::kMaxQueued + 1)));
    fx.dlg->OnSendTextFile();
    QTRY_VERIFY(fx.dlg->GetTxCount() > 2 * CFileSend::kPiece);
    QVERIFY(fx.pty.WriteMaster("dropped by the gate"));
    QTRY_VERIFY(!fx.dlg->IsEchoPending());
    QVERIFY(fx.pty.WriteMaster("shown"));
    QTRY_COMPARE(fx.dlg->GetData(), QByteArray("shown"));
    fx.dlg->OnSendTextFile();
}

QTEST_MAIN(TestTransmit)
#include "tst_transmit.moc"
