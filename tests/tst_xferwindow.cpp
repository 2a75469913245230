// XMODEM and YMODEM in the Terminal window: a real window on a
// pseudo-terminal, each transfer started through its context menu entry with
// the dialog answered as a user would (the protocol chosen, the path typed,
// Enter), then left alone until it ends. The other side is lrzsz (sx, sb, rx,
// rb) behind a proxy with a line's latency (XferPeer.h), or an engine of
// ours where a test needs a sender lrzsz will not be (a hostile name). Needs
// lrzsz for the transfers with it (skipped without it).

#include "CDataView.h"
#include "CFileSend.h"
#include "CStatusBarCtrl.h"
#include "CXferCommand.h"
#include "CXferDialog.h"
#include "NoNewThreads.h"
#include "OwnThreads.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"
#include "XferPeer.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

// The bound of a transfer: a guard against a hang, never a measure.
constexpr int kLimitMs = 60000;
constexpr qsizetype kMiB = 1024 * 1024;

QByteArray RandomBytes(qsizetype n)
{
    QRandomGenerator random{quint32(n)};
    QByteArray data(n, Qt::Uninitialized);
    for (char& c : data)
        c = char(random.generate());
    return data;
}

CXferCommand* Command(CTerminalDlg& dlg)
{
    return dlg.DataView()->findChild<CXferCommand*>();
}

CXferSession::Phase Phase(CTerminalDlg& dlg)
{
    CXferSession* pSession = Command(dlg)->Session();
    return pSession ? pSession->GetPhase() : CXferSession::Phase::Idle;
}

// The entry of the data window's context menu with this text, as it is
// built when the menu opens; its enabled state and text are the menu's.
struct SMenuEntry
{
    bool bFound = false;
    bool bEnabled = false;
};
SMenuEntry Entry(CTerminalDlg& dlg, const QString& text, bool bTrigger = false)
{
    std::unique_ptr<QMenu> menu(dlg.DataView()->CreateContextMenu(nullptr));
    for (QAction* pAction : menu->actions()) {
        if (pAction->text() != text)
            continue;
        if (bTrigger)
            pAction->trigger();
        return {true, pAction->isEnabled()};
    }
    return {};
}

// Answers the transfer dialog as a user would: the protocol chosen, the path
// typed over what is offered, Enter in the path field.
int TypeIntoDialog(QDialog& d, XferProtocol eProtocol, const QString& path, QString* pError)
{
    auto* pDialog = qobject_cast<CXferDialog*>(&d);
    if (!pDialog)
        return IDCANCEL;
    d.show();
    pDialog->ProtocolBox()->setCurrentIndex(pDialog->ProtocolBox()->findData(int(eProtocol)));
    QWidget* pFocus = d.focusWidget();
    if (pFocus != pDialog->PathEdit() || !pDialog->OkButton()->isDefault())
        return IDCANCEL;
    pDialog->PathEdit()->selectAll();
    QTest::keyClicks(pFocus, path);
    QTest::keyClick(pFocus, Qt::Key_Return);
    if (pError)
        *pError = pDialog->Error();
    d.hide();
    return d.result() == QDialog::Accepted ? IDOK : IDCANCEL;
}

// Chooses "Send File..." or "Receive Files..." and answers its dialog.
void StartFromMenu(TerminalFixture& fx, CTerminalDlg& dlg, bool bSend, XferProtocol eProtocol,
                   const QString& path, QString* pError = nullptr)
{
    fx.onModal = [=](QDialog& d) { return TypeIntoDialog(d, eProtocol, path, pError); };
    Entry(dlg, bSend ? CXferCommand::SendText() : CXferCommand::ReceiveText(), true);
    fx.onModal = nullptr;
}

// Lets the transfer run to its end (bounded), keeping every text the
// status bar's progress part (and, given pTx, its Tx figure) showed meanwhile.
QStringList RunToEnd(CTerminalDlg& dlg, QStringList* pTx = nullptr)
{
    QStringList shown;
    QElapsedTimer clock;
    clock.start();
    const auto keep = [](QStringList& texts, const QString& text) {
        if (texts.isEmpty() || texts.last() != text)
            texts << text;
    };
    while (Command(dlg)->Session()->IsActive() && clock.elapsed() < kLimitMs) {
        QTest::qWait(10);
        keep(shown, dlg.StatusBar()->GetText(3));
        if (pTx)
            keep(*pTx, dlg.StatusBar()->GetText(1));
    }
    return shown;
}

bool HasThread(const char* name)
{
    for (const QString& id : OwnThreads()) {
        if (ReadFile(QStringLiteral("/proc/self/task/%1/comm").arg(id)).trimmed() == name)
            return true;
    }
    return false;
}

QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot |
                               QDir::System);
}

// A 128-byte block with its number and CRC, as a sender frames it.
QByteArray Block(int nNumber, QByteArray data)
{
    data += QByteArray(128 - data.size(), '\0');
    const quint16 crc = XferCrc16(data.constData(), data.size());
    return QByteArray(1, Xfer::kSoh) + char(nNumber) + char(255 - nNumber) + data + char(crc >> 8) +
           char(crc & 0xFF);
}

// Block 0 of a YMODEM batch naming a file of nSize bytes.
QByteArray HeaderBlock(const QByteArray& name, qint64 nSize)
{
    return Block(0, name + '\0' + QByteArray::number(nSize));
}

QStringList Lines(const QByteArray& data)
{
    return QString::fromLocal8Bit(data).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// A window on a pty whose far end the proxy joins to lrzsz, with a folder
// to send from and one to receive into.
struct SLrzszWindow : PtyTerminal
{
    explicit SLrzszWindow(const QStringList& toPeer = {}, const QStringList& toNear = {})
        : line(pty.MasterFd(), toPeer, toNear)
    {
        QDir().mkpath(from);
        QDir().mkpath(to);
    }
    const QString from = Path(QStringLiteral("from"));
    const QString to = Path(QStringLiteral("to"));
    CXferPeerLine line;
    CXferPeer peer; // last: ends before the line closes
};

} // namespace

class TestXferWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withLrzsz_data();
    void withLrzsz();
    void hostileNameStaysInTheFolder_data();
    void hostileNameStaysInTheFolder();
    void dialogNamesItsControls();
    void badPathIsRefused_data();
    void badPathIsRefused();
    void refusedWhileAFileIsSentOrThePortIsClosed();
    void keysAreHeldAndEscapeCancels();
    void portClosingEndsTheTransfer();
    void closingTheWindowEndsTheTransfer();
    void whatFollowsTheLastAnswerIsShown();
    void noThreadNoTransfer();
};

void TestXferWindow::withLrzsz_data()
{
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QStringList>("peer");
    QTest::addColumn<QString>("name");       // as the window names the protocol
    QTest::addColumn<QStringList>("faults"); // to the peer, then "|", then to us (XferLine.h)
    QTest::newRow("YMODEM to rb") << true << int(XferProtocol::Ymodem)
                                  << QStringList{"rb", "-q", "-t", "10"} << "YMODEM"
                                  << QStringList{};
    // A NAK and a timeout while blocks are answered ahead.
    QTest::newRow("YMODEM to rb, a damaged block, a lost ACK")
        << true << int(XferProtocol::Ymodem) << QStringList{"rb", "-q", "-t", "10"} << "YMODEM"
        << QStringList{"flip@300000", "|", "drop#06@500"};
    QTest::newRow("YMODEM from sb")
        << false << int(XferProtocol::Ymodem) << QStringList{"sb", "-q", "-k", "data.bin"}
        << "YMODEM" << QStringList{};
    QTest::newRow("XMODEM-1K to rx -c")
        << true << int(XferProtocol::Xmodem1k)
        << QStringList{"rx", "-q", "-c", "-t", "10", "data.bin"} << "XMODEM-1K" << QStringList{};
    QTest::newRow("XMODEM from sx -k")
        << false << int(XferProtocol::XmodemCrc) << QStringList{"sx", "-q", "-k", "data.bin"}
        << "XMODEM" << QStringList{};
}

void TestXferWindow::withLrzsz()
{
    QFETCH(bool, send);
    QFETCH(int, protocol);
    QFETCH(QStringList, peer);
    QFETCH(QString, name);
    QFETCH(QStringList, faults);
    if (!LrzszInstalled())
        QSKIP("lrzsz is not installed (sx, sb, rx, rb)");
    const qsizetype nBar = faults.indexOf(QStringLiteral("|"));
    SLrzszWindow fx(faults.mid(0, nBar), nBar < 0 ? QStringList() : faults.mid(nBar + 1));
    QVERIFY(fx.opened && fx.line.IsValid());
    const QByteArray data = RandomBytes(kMiB);
    QVERIFY(WriteFile(fx.from + QStringLiteral("/data.bin"), data));
    const QDateTime logged = QDateTime::currentDateTime();
    fx.dlg->LogInputCheck()->setChecked(true);
    Command(*fx.dlg)->SetTimings(XferQuickTimings(send));

    // Ours first; lrzsz then finds it waiting.
    const auto eProtocol = XferProtocol(protocol);
    const QString ours = send                                ? QStringLiteral("from/data.bin")
                         : eProtocol == XferProtocol::Ymodem ? fx.to
                                                             : fx.to + QStringLiteral("/data.bin");
    StartFromMenu(fx, *fx.dlg, send, eProtocol, ours);
    QCOMPARE(Phase(*fx.dlg), CXferSession::Phase::Running);
    QVERIFY(fx.peer.Start(peer, send ? fx.to : fx.from, fx.line.PeerInput(), fx.line.PeerOutput()));
    QStringList tx;
    const QStringList shown = RunToEnd(*fx.dlg, &tx);
    const int nPeerExit = fx.peer.End(20000);
    CXferSession& session = *Command(*fx.dlg)->Session();
    const QString context =
        session.EndNote() + QStringLiteral("; lrzsz: %1 %2").arg(nPeerExit).arg(fx.peer.Stderr());

    QVERIFY2(session.End() == XferEnd::Ok, qPrintable(context));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^%1: %2 data\\.bin, 1,048,576 bytes in \\d+\\.\\d s")
                               .arg(name, send ? "sent" : "received"))
            .match(session.EndNote())
            .hasMatch(),
        qPrintable(context));
    QVERIFY2(nPeerExit == 0, qPrintable(context));
    // The damaged block and the lost ACK each cost a send again.
    if (!faults.isEmpty())
        QVERIFY2(session.EndNote().contains(QStringLiteral(", 2 retries")), qPrintable(context));
    QVERIFY2(ReadFile(fx.to + QStringLiteral("/data.bin")) == data, qPrintable(context));
    QCOMPARE(Entries(fx.to), QStringList{"data.bin"});
    // It showed how far it was while it ran, and nothing once it ended.
    const QRegularExpression progress(
        QStringLiteral("^%1: data\\.bin [1-9][\\d,]* (/ 1,048,576 )?bytes, [\\d.]+ KB/s")
            .arg(name));
    QVERIFY2(shown.filter(progress).size() >= 1, qPrintable(shown.join(QLatin1Char('\n'))));
    QCOMPARE(fx.dlg->StatusBar()->GetText(3), QString());
    // Tx, shown with the progress rather than once a block, rose while it
    // ran and is the whole count as it ends.
    QVERIFY2(tx.size() >= 3, qPrintable(tx.join(QLatin1Char(' '))));
    QCOMPARE(fx.dlg->StatusBar()->GetText(1), QStringLiteral("Tx:%1").arg(fx.dlg->GetTxCount()));
    // The data window has a line before and after, and no protocol bytes.
    const QStringList lines = Lines(fx.dlg->GetData());
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith(name + (send ? QStringLiteral(": sending ")
                                              : QStringLiteral(": receiving into "))),
             qPrintable(lines[0]));
    QCOMPARE(lines[1], session.EndNote());
    if (send) {
        QVERIFY(fx.dlg->GetTxCount() > data.size());
    } else {
        // The raw log has every byte the sender sent.
        QVERIFY(fx.dlg->LogInputCheck()->isChecked());
        fx.dlg->ReceiveSink().InputLog().Flush(20000);
        const QByteArray log = fx.LoggedSince(logged);
        QVERIFY(log.size() > data.size());
        QVERIFY(log.contains(data.mid(kMiB / 2, 1024)));
    }
    QTRY_VERIFY(!HasThread("VornTransfer")); // its system thread ends just after the join
}

void TestXferWindow::hostileNameStaysInTheFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("why");
    QTest::newRow("climbs out") << "../../etc/x"
                                << "it climbs out of the folder (..)";
    QTest::newRow("absolute") << "/etc/x"
                              << "it is an absolute path";
}

void TestXferWindow::hostileNameStaysInTheFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, why);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/etc/x")));
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QString to = fx.Path(QStringLiteral("a/b/to"));
    QVERIFY(QDir().mkpath(to));
    Command(*fx.dlg)->SetTimings(XferQuickTimings(false));
    StartFromMenu(fx, *fx.dlg, false, XferProtocol::Ymodem, to);
    QCOMPARE(Phase(*fx.dlg), CXferSession::Phase::Running);

    // The sender's first block names the file so (our engines never would).
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray("C"));
    QVERIFY(fx.pty.WriteMaster(HeaderBlock(name.toUtf8(), 11)));
    RunToEnd(*fx.dlg);
    CXferSession& session = *Command(*fx.dlg)->Session();
    QCOMPARE(session.EndNote(),
             QStringLiteral("YMODEM: failed: refused the file name \"%1\": %2").arg(name, why));
    // ... and the sender is told.
    QVERIFY(fx.pty.ReadMasterFor(2).startsWith(QByteArray(2, Xfer::kCan)));
    QVERIFY(Entries(to).isEmpty());
    QVERIFY(!QFileInfo::exists(QStringLiteral("/etc/x")));
    QDirIterator files(fx.Dir(), QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        QVERIFY2(files.next().section(QLatin1Char('/'), -1) != QLatin1String("x"),
                 qPrintable(files.filePath()));
}

void TestXferWindow::dialogNamesItsControls()
{
    SXferJob job;
    job.bSend = false;
    job.strPath = QDir::tempPath();
    CXferDialog dlg(job, QDir::tempPath());
    // Every control is named for assistive technology; the path's label
    // leads to it.
    for (QWidget* pWidget : dlg.findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(pWidget) && !qobject_cast<QComboBox*>(pWidget) &&
            !qobject_cast<QAbstractButton*>(pWidget))
            continue;
        QVERIFY2(!QAccessible::queryAccessibleInterface(pWidget)->text(QAccessible::Name).isEmpty(),
                 pWidget->metaObject()->className());
    }
    QCOMPARE(dlg.PathLabel()->buddy(), dlg.PathEdit());
    QCOMPARE(dlg.focusWidget(), dlg.PathEdit());
    QVERIFY(dlg.OkButton()->isDefault());
    // YMODEM receives into a folder, XMODEM into a file: the path, its
    // label and its name follow the protocol.
    const auto shows = [&](const char* label, const char* name, const QString& path) {
        return dlg.PathLabel()->text() == QLatin1String(label) &&
               dlg.PathEdit()->accessibleName() == QLatin1String(name) &&
               dlg.PathEdit()->text() == QDir::toNativeSeparators(path);
    };
    QVERIFY(shows("&Folder:", "Folder to receive into", QDir::tempPath()));
    dlg.ProtocolBox()->setCurrentIndex(dlg.ProtocolBox()->findData(int(XferProtocol::XmodemCrc)));
    QVERIFY(shows("&File:", "File to receive into", QDir::tempPath() + "/received.bin"));
    QCOMPARE(dlg.PathEdit()->selectedText(), QStringLiteral("received.bin"));
    dlg.ProtocolBox()->setCurrentIndex(dlg.ProtocolBox()->findData(int(XferProtocol::Ymodem)));
    QVERIFY(shows("&Folder:", "Folder to receive into", QDir::tempPath()));
}

void TestXferWindow::badPathIsRefused_data()
{
    // %D: the window's folder, where a relative path starts.
    QTest::addColumn<bool>("send");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message"); // a pattern
    const int y = int(XferProtocol::Ymodem);
    const int x = int(XferProtocol::XmodemCrc);
    QTest::newRow("nothing to send") << true << y << ""
                                     << "^Give the file to send\\.$";
    QTest::newRow("no such file") << true << y << "missing.bin"
                                  << "^Cannot send %D/missing\\.bin: there is no such file\\.$";
    QTest::newRow("a folder to send") << true << y << "%D"
                                      << "^Cannot send %D: it is a folder, not a file\\.$";
    QTest::newRow("a device to send") << true << y << "/dev/null"
                                      << "^Cannot send /dev/null: it is not a regular file\\.$";
    QTest::newRow("no such folder")
        << false << y << "%D/nowhere"
        << "^Cannot receive into %D/nowhere: there is no such folder\\.$";
    QTest::newRow("a file as the folder")
        << false << y << "%D/file.txt"
        << "^Cannot receive into %D/file\\.txt: it is a file, not a folder \\(YMODEM's";
    QTest::newRow("a folder nothing can be made in")
        << false << y << "/proc"
        << "^Cannot receive into /proc: no file can be made there: .+\\.$";
    QTest::newRow("a folder for XMODEM")
        << false << x << "%D"
        << "^Cannot receive into %D: it is a folder; XMODEM sends no name, so give the file to "
           "write, such as %D/received\\.bin\\.$";
    QTest::newRow("XMODEM into no folder")
        << false << x << "%D/nowhere/x.bin"
        << "^Cannot receive into %D/nowhere/x\\.bin: there is no folder %D/nowhere\\.$";
}

void TestXferWindow::badPathIsRefused()
{
    QFETCH(bool, send);
    QFETCH(int, protocol);
    QFETCH(QString, path);
    QFETCH(QString, message);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    const QString dir = QDir::currentPath();
    QVERIFY(WriteFile(fx.Path(QStringLiteral("file.txt")), "text"));
    path.replace(QLatin1String("%D"), dir);
    const QRegularExpression wanted(
        message.replace(QLatin1String("%D"), QRegularExpression::escape(dir)));

    // The dialog says why beneath the path and stays open.
    QString error = QStringLiteral("(no dialog)");
    StartFromMenu(fx, *fx.dlg, send, XferProtocol(protocol), path, &error);
    QVERIFY2(wanted.match(error).hasMatch(), qPrintable(error));
    QVERIFY(!Command(*fx.dlg)->Session());
    // Started otherwise, it is refused with a message.
    SXferJob job;
    job.bSend = send;
    job.eProtocol = XferProtocol(protocol);
    job.strPath = XferJobCheck::Resolve(path, dir);
    QVERIFY(!Command(*fx.dlg)->Start(job));
    QVERIFY2(wanted.match(fx.messages.value(0)).hasMatch(), qPrintable(fx.messages.value(0)));
    QVERIFY(!Command(*fx.dlg)->Session());
    QCOMPARE(fx.pty.ReadMasterAvailable(), QByteArray());
}

void TestXferWindow::refusedWhileAFileIsSentOrThePortIsClosed()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    // Nobody reads the far end: the file's bytes wait at the port.
    QVERIFY(fx.OfferFile(QStringLiteral("big.txt"), QByteArray(kMiB, 'x')));
    fx.dlg->OnSendTextFile();
    QVERIFY(fx.dlg->IsSendingFile());
    int nDialogs = 0;
    fx.onModal = [&](QDialog&) {
        ++nDialogs;
        return IDCANCEL;
    };
    Entry(*fx.dlg, CXferCommand::SendText(), true);
    fx.dlg->FileSend()->Stop();
    fx.dlg->Port().Close();
    QVERIFY(fx.dlg->Port().WaitSettled(20000));
    Entry(*fx.dlg, CXferCommand::ReceiveText(), true);
    QCOMPARE(fx.messages,
             QStringList({"Cannot start an XMODEM or YMODEM transfer while Send Text File sends a "
                          "file: wait for it to end, or stop it first.",
                          "Cannot start an XMODEM or YMODEM transfer: the port is not open."}));
    QCOMPARE(nDialogs, 0);
    QVERIFY(!Command(*fx.dlg)->Session());
}

void TestXferWindow::keysAreHeldAndEscapeCancels()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    CXferTimings timings;
    timings.nRequestMs = 1000;
    timings.nAnswerMs = 60000; // the cancel is listened for long after
    Command(*fx.dlg)->SetTimings(timings);
    StartFromMenu(fx, *fx.dlg, false, XferProtocol::Ymodem, fx.Dir());
    QByteArray far = fx.pty.ReadMasterFor(1);
    QCOMPARE(far, QByteArray("C"));
    QVERIFY(HasThread("VornTransfer"));
    // One at a time: its entry cancels it, the other waits; no raw send.
    QVERIFY(Entry(*fx.dlg, QStringLiteral("Cancel the YMODEM Receive")).bEnabled);
    QVERIFY(!Entry(*fx.dlg, CXferCommand::SendText()).bEnabled);
    fx.dlg->OnSendTextFile();
    QCOMPARE(fx.messages.size(), 1);
    QVERIFY(fx.messages[0].startsWith(QStringLiteral("Cannot send a file while an XMODEM")));

    // A typed key would break a block: refused with a beep.
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_A);
    QCOMPARE(fx.beeps, 1);
    // Escape cancels: the other side is told, the data window says so.
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_Escape);
    const QByteArray cancel = QByteArray(8, Xfer::kCan) + QByteArray(8, Xfer::kBs);
    QTRY_VERIFY((far += fx.pty.ReadMasterAvailable()).contains(cancel));
    QTRY_COMPARE(Phase(*fx.dlg), CXferSession::Phase::Cancelling);
    QCOMPARE(Lines(fx.dlg->GetData()).value(1), QStringLiteral("YMODEM: cancelled"));
    QVERIFY(Entry(*fx.dlg, QStringLiteral("Stop the Cancelled YMODEM Receive Now")).bFound);
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_B);
    QCOMPARE(fx.beeps, 2);
    // A second Escape stops listening at once: keys go to the device again.
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_Escape);
    QTRY_COMPARE(Phase(*fx.dlg), CXferSession::Phase::Ended);
    QTRY_VERIFY(!HasThread("VornTransfer")); // its system thread ends just after the join
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_C, Qt::NoModifier);
    far += fx.pty.ReadMasterFor(1);
    QVERIFY2(far.endsWith('c'), far.toHex().constData());
    // Neither the held keys nor Escape went out.
    QVERIFY(!far.contains('a') && !far.contains('b') && !far.contains('\x1b'));
    QCOMPARE(fx.dlg->StatusBar()->GetText(3), QString());
    QVERIFY(Entries(fx.Dir()).filter(QStringLiteral("partial")).isEmpty());
}

void TestXferWindow::portClosingEndsTheTransfer()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    Command(*fx.dlg)->SetTimings(XferQuickTimings(false));
    StartFromMenu(fx, *fx.dlg, false, XferProtocol::Ymodem, fx.Dir());
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray("C"));
    fx.dlg->Port().Close();
    QTRY_COMPARE(Phase(*fx.dlg), CXferSession::Phase::Ended);
    QCOMPARE(Command(*fx.dlg)->Session()->EndNote(),
             QStringLiteral("YMODEM: failed: the port is not open any more"));
    QCOMPARE(Lines(fx.dlg->GetData()).value(1), Command(*fx.dlg)->Session()->EndNote());
}

void TestXferWindow::closingTheWindowEndsTheTransfer()
{
    if (!LrzszInstalled())
        QSKIP("lrzsz is not installed (sx, sb, rx, rb)");
    SLrzszWindow fx;
    QVERIFY(fx.opened && fx.line.IsValid());
    // Long enough to be still under way when the window closes.
    QVERIFY(WriteFile(fx.from + QStringLiteral("/data.bin"), RandomBytes(4 * kMiB)));
    Command(*fx.dlg)->SetTimings(XferQuickTimings(false));
    StartFromMenu(fx, *fx.dlg, false, XferProtocol::Ymodem, fx.to);
    QVERIFY(fx.peer.Start({"sb", "-q", "-k", "data.bin"}, fx.from, fx.line.PeerInput(),
                          fx.line.PeerOutput()));
    // Closed half-way: part of the file is in the folder, under another name.
    QTRY_VERIFY(!Entries(fx.to).isEmpty());
    QTRY_VERIFY(fx.dlg->StatusBar()->GetText(3).contains(QStringLiteral(" / 4,194,304 bytes")));
    CXferSession* pSession = Command(*fx.dlg)->Session();
    QVERIFY(pSession->IsActive());
    fx.dlg->close();
    QCOMPARE(pSession->GetPhase(), CXferSession::Phase::Ended);
    QTRY_VERIFY(!HasThread("VornTransfer")); // its system thread ends just after the join
    QCOMPARE(Entries(fx.to), QStringList());
    // sb heard the cancel.
    QVERIFY(fx.peer.End(20000) != 0);
    fx.dlg.reset();
    QCOMPARE(Entries(fx.to), QStringList());
}

void TestXferWindow::whatFollowsTheLastAnswerIsShown()
{
    // A device's sender ends and its prompt comes back at once, right after
    // our last ACK: it belongs in the data window.
    PtyTerminal fx;
    QVERIFY(fx.opened);
    Command(*fx.dlg)->SetTimings(XferQuickTimings(false));
    StartFromMenu(fx, *fx.dlg, false, XferProtocol::XmodemCrc, fx.Path(QStringLiteral("x.bin")));
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray("C"));
    QVERIFY(fx.pty.WriteMaster(Block(1, "firmware")));
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray(1, Xfer::kAck));
    QVERIFY(fx.pty.WriteMaster(QByteArray(1, Xfer::kEot)));
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray(1, Xfer::kNak));
    QVERIFY(fx.pty.WriteMaster(QByteArray(1, Xfer::kEot)));
    // The last ACK waits until the window has let go of the line, which it
    // does on its own thread (not running here meanwhile) ...
    QCOMPARE(fx.pty.ReadMasterFor(1, 300), QByteArray());
    // ... and goes once it has.
    QByteArray last;
    QTRY_VERIFY(!(last += fx.pty.ReadMasterAvailable()).isEmpty());
    QCOMPARE(last, QByteArray(1, Xfer::kAck));
    QCOMPARE(Phase(*fx.dlg), CXferSession::Phase::Ended);
    QVERIFY(fx.pty.WriteMaster("\r\nboot> "));
    QTRY_VERIFY(fx.dlg->GetData().endsWith("\r\nboot> "));
    QCOMPARE(ReadFile(fx.Path(QStringLiteral("x.bin"))),
             QByteArray("firmware") + QByteArray(120, '\0'));
}

void TestXferWindow::noThreadNoTransfer()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    // A folder the user the limit may switch to can write in.
    QTemporaryDir open;
    QVERIFY(QFile::setPermissions(open.path(), QFileDevice::Permissions(0x7777)));
    {
        CNoNewThreads noThreads;
        if (!noThreads.WhyNot().isEmpty())
            QSKIP(qPrintable(noThreads.WhyNot()));
        StartFromMenu(fx, *fx.dlg, false, XferProtocol::Ymodem, open.path());
    }
    QCOMPARE(fx.messages, QStringList{"Cannot start the YMODEM transfer: the system started no "
                                      "thread for it."});
    QVERIFY(!Command(*fx.dlg)->Session());
    // Nothing was taken over: no line in the data window, keys go out.
    QVERIFY(fx.dlg->GetData().isEmpty());
    QTest::keyClick(fx.dlg->DataView(), Qt::Key_A);
    QCOMPARE(fx.pty.ReadMasterFor(1), QByteArray("a"));
}

QTEST_MAIN(TestXferWindow)
#include "tst_xferwindow.moc"
