// The receive path: buffer, echo gate, pause, hex, status bar and log, as the
// port's thread drives it.

#include "CArrivalColumn.h"
#include "CDataTools.h"
#include "CDataView.h"
#include "CFindBar.h"
#include "CInputLog.h"
#include "CKrCommDlgPortCfg.h"
#include "CStatusBarCtrl.h"
#include "LogObstacle.h"
#include "OwnThreads.h"
#include "ReceiveBuffer.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <thread>

namespace {

QByteArray Bytes(int n, char fill = 'x')
{
    return QByteArray(n, fill);
}

} // namespace

class TestReceivePath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trimEdges_data();
    void trimEdges();
    void hexText();
    void echoGate_data();
    void echoGate();
    void zeroLengthBlockClearsTheGate();
    void counterRunningBlocksAreOnlyLogged();
    void pauseFreezesTheViewNotTheBuffer();
    void toggleHexShowsFromTheNextBlock();
    void clearKeepsRxUntilTheNextAppend();
    void blocksFromThePortThreadReachTheView();
    void commandsKeepPendingRefreshesAsAppended();
    void pausedViewIsWhatFindAndSaveRead();
    void portEventsMoveNothing_data();
    void portEventsMoveNothing();
    void unwritableLogShowsOnTheCheckbox_data();
    void unwritableLogShowsOnTheCheckbox();
    void lostLogBytesStayOnShow();
    void exitWritesOrReportsWaitingLogBytes_data();
    void exitWritesOrReportsWaitingLogBytes();
    void exitStartsNothingWhileAMessageShows();
    void ptyEndToEnd();
};

void TestReceivePath::trimEdges_data()
{
    QTest::addColumn<QList<int>>("blocks");
    QTest::addColumn<int>("expected");
    QTest::newRow("exactly 500,000 stays") << QList<int>{499999, 1} << 500000;
    QTest::newRow("500,001 drops to 250,001") << QList<int>{500000, 1} << 250001;
    QTest::newRow("600,000 in one block leaves 350,000") << QList<int>{600000} << 350000;
    QTest::newRow("trims once per append") << QList<int>{400000, 700000} << 850000;
}

void TestReceivePath::trimEdges()
{
    QFETCH(QList<int>, blocks);
    QFETCH(int, expected);
    QByteArray buffer;
    for (int n : blocks)
        ReceiveBuffer::AppendAndTrim(buffer, Bytes(n));
    QCOMPARE(buffer.size(), expected);

    // The window keeps the same rule, the front is what goes.
    TerminalFixture fx;
    auto dlg = fx.Start();
    char c = 'a';
    QByteArray all;
    for (int n : blocks) {
        dlg->AppendText(Bytes(n, c));
        all += Bytes(n, c++);
    }
    QCOMPARE(dlg->GetData().size(), expected);
    QCOMPARE(RxShown(*dlg), Rx(expected));
    QVERIFY(all.endsWith(dlg->GetData()));
}

void TestReceivePath::hexText()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    QCOMPARE(dlg->FormatHexData(), QByteArray());
    dlg->AppendText(QByteArray("\x41\x0D\xFF\0", 4));
    QCOMPARE(dlg->FormatHexData(), QByteArray("[41] [0D] [FF] [00] "));
    dlg->OnClearData();
    dlg->AppendText(QByteArray("\x41\x0D\xFF", 3));
    QCOMPARE(dlg->FormatHexData(), QByteArray("[41] [0D] [FF] "));
}

void TestReceivePath::echoGate_data()
{
    QTest::addColumn<bool>("localEcho");
    QTest::newRow("Local Echo unchecked") << false;
    QTest::newRow("Local Echo checked") << true;
}

void TestReceivePath::echoGate()
{
    QFETCH(bool, localEcho);
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->LocalEchoCheck()->setChecked(localEcho);

    // A typed character sets the gate ...
    QTest::keyClick(fx.dlg.get(), Qt::Key_A);
    QVERIFY(fx.dlg->IsEchoPending());
    // ... so the next block is dropped unless Local Echo is checked ...
    fx.dlg->ReceiveSink().OnReceive("first", 5);
    QCOMPARE(fx.dlg->GetData(), localEcho ? QByteArray("first") : QByteArray());
    QVERIFY(!fx.dlg->IsEchoPending());
    // ... and the one after it always shows.
    fx.dlg->ReceiveSink().OnReceive("second", 6);
    QCOMPARE(fx.dlg->GetData(), localEcho ? QByteArray("firstsecond") : QByteArray("second"));
}

void TestReceivePath::zeroLengthBlockClearsTheGate()
{
    PtyTerminal fx;
    QVERIFY(fx.opened);
    fx.dlg->AppendText("abc");
    fx.dlg->FlushRefresh();
    const QStringList rows = fx.dlg->DataView()->VisibleRows();
    QTest::keyClick(fx.dlg.get(), Qt::Key_B);
    QVERIFY(fx.dlg->IsEchoPending());
    fx.dlg->ReceiveSink().OnReceive("", 0);
    QVERIFY(!fx.dlg->IsEchoPending());
    QCOMPARE(fx.dlg->GetData(), QByteArray("abc"));
    fx.dlg->FlushRefresh();
    QCOMPARE(fx.dlg->DataView()->VisibleRows(), rows);
    QCOMPARE(fx.dlg->StatusBar()->GetText(0), QStringLiteral("Rx:3"));
    QCOMPARE(fx.dlg->StatusBar()->GetText(1), QStringLiteral("Tx:1"));
}

void TestReceivePath::counterRunningBlocksAreOnlyLogged()
{
    TerminalFixture fx;
    const QDateTime started = QDateTime::currentDateTime();
    auto dlg = fx.Start();
    dlg->LogInputCheck()->setChecked(true);
    dlg->AppendText("seen");
    dlg->OnSendCounter();
    QVERIFY(dlg->IsCounterRunning());
    dlg->ReceiveSink().OnReceive("hidden", 6);
    QCOMPARE(dlg->GetData(), QByteArray("seen"));
    QCOMPARE(RxShown(*dlg), Rx(4));
    dlg->OnSendCounter();
    QTRY_COMPARE(fx.LoggedSince(started), QByteArray("hidden"));
}

void TestReceivePath::pauseFreezesTheViewNotTheBuffer()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->AppendText("line one\r\n");
    dlg->FlushRefresh();
    const QStringList before = dlg->DataView()->VisibleRows();
    const int topBefore = dlg->DataView()->TopRow();

    dlg->OnPauseScrolling();
    for (int i = 0; i < 200; ++i)
        dlg->ReceiveSink().OnReceive("more data\r\n", 11);
    dlg->FlushRefresh();
    QCOMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:%1").arg(10 + 200 * 11));
    QCOMPARE(dlg->DataView()->VisibleRows(), before);
    QCOMPARE(dlg->DataView()->TopRow(), topBefore);

    // Resuming alone changes nothing; the next block shows everything.
    dlg->OnPauseScrolling();
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows(), before);
    dlg->ReceiveSink().OnReceive("last", 4);
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().last(), QStringLiteral("last"));
    QCOMPARE(dlg->DataView()->TotalRows(), 202);
}

void TestReceivePath::toggleHexShowsFromTheNextBlock()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->AppendText("AB");
    dlg->FlushRefresh();
    const QStringList text = dlg->DataView()->VisibleRows();
    dlg->OnToggleHex();
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows(), text);
    dlg->OnToggleHex();
    dlg->OnToggleHex();
    dlg->AppendText("\r");
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().join(QString()), QStringLiteral("[41] [42] [0D] "));
}

void TestReceivePath::clearKeepsRxUntilTheNextAppend()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    dlg->AppendText("12345");
    dlg->FlushRefresh();
    dlg->OnClearData();
    dlg->FlushRefresh();
    QCOMPARE(dlg->GetData(), QByteArray());
    QCOMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:5"));
    QCOMPARE(dlg->DataView()->TotalRows() <= 1, true);
    QVERIFY(dlg->DataView()->VisibleRows().join(QString()).isEmpty());
    dlg->AppendText("ab");
    dlg->FlushRefresh();
    QCOMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:2"));
    QCOMPARE(dlg->DataView()->VisibleRows(), QStringList{QStringLiteral("ab")});
}

void TestReceivePath::blocksFromThePortThreadReachTheView()
{
    TerminalFixture fx;
    fx.Start().reset(); // writes the default settings: the loopback
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    dlg->LocalEchoCheck()->setChecked(true);
    const QByteArray text("hello\0world", 11);
    QCOMPARE(dlg->Port().Write(text.constData(), int(text.size())), 11);
    // The loopback hands the bytes back on the port's thread; the view and
    // the status bar follow through the queued refresh.
    QTRY_COMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:11"));
    QTRY_VERIFY(!dlg->DataView()->VisibleRows().isEmpty() &&
                dlg->DataView()->VisibleRows().last().endsWith(QStringLiteral("world")));
    QCOMPARE(dlg->GetData(), text);
}

void TestReceivePath::unwritableLogShowsOnTheCheckbox_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("folder") << int(LogObstacle::Folder);
    QTest::newRow("FIFO") << int(LogObstacle::Fifo);
    QTest::newRow("symbolic link") << int(LogObstacle::Link);
    QTest::newRow("read-only, ordinary user") << int(LogObstacle::ReadOnlyForUser);
    QTest::newRow("file-size limit") << int(LogObstacle::SizeLimit);
}

void TestReceivePath::unwritableLogShowsOnTheCheckbox()
{
    QFETCH(int, kind);
    TerminalFixture fx;
    auto dlg = fx.Start();
    const QString name = TodaysLogName();
    const QDateTime started = QDateTime::currentDateTime();
    LogObstacle obstacle(LogObstacle::Kind(kind), fx.Path(name));
    QVERIFY(obstacle.Place());
    dlg->LogInputCheck()->setChecked(true);
    const QByteArray first(19, 'a');
    const QByteArray second(38, 'b');
    dlg->ReceiveSink().OnReceive(first.constData(), int(first.size()));
    // Checking the box already names the obstacle (the session's start
    // cannot be written); the block's count follows once it is queued.
    QTRY_VERIFY2(
        dlg->LogInputCheck()->toolTip().contains(obstacle.Reason() + " \u2014 19 bytes waiting"),
        qPrintable(dlg->LogInputCheck()->toolTip()));
    QVERIFY(dlg->LogInputCheck()->toolTip().contains(name));
    QVERIFY(!dlg->LogInputCheck()->styleSheet().isEmpty());
    // The count follows every block that joins the queue.
    dlg->ReceiveSink().OnReceive(second.constData(), int(second.size()));
    QTRY_VERIFY(dlg->LogInputCheck()->toolTip().contains("57 bytes waiting"));
    QVERIFY(fx.messages.isEmpty());
    QCOMPARE(dlg->GetData(), first + second);

    // Once the log can be written, the waiting bytes go out without a new
    // block and the checkbox looks as before.
    QVERIFY(obstacle.Remove());
    QTRY_COMPARE(ReadFile(fx.Path(name)), first + second);
    QTRY_VERIFY(dlg->LogInputCheck()->toolTip().isEmpty());
    QVERIFY(dlg->LogInputCheck()->styleSheet().isEmpty());
    dlg->ReceiveSink().OnReceive("more", 4);
    QTRY_COMPARE(fx.LoggedSince(started), first + second + "more");
}

void TestReceivePath::commandsKeepPendingRefreshesAsAppended()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    // Appended before the pause, refresh still pending: it shows; what comes
    // after the pause does not.
    dlg->AppendText("abc");
    dlg->OnPauseScrolling();
    dlg->AppendText("def");
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().join(QString()), QStringLiteral("abc"));
    dlg->OnPauseScrolling();
    dlg->OnClearData();

    // Appended before the toggle: shown in the old mode until the next block.
    dlg->AppendText("A");
    dlg->OnToggleHex();
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().join(QString()), QStringLiteral("A"));
    dlg->AppendText("B");
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().join(QString()), QStringLiteral("[41] [42] "));
}

void TestReceivePath::lostLogBytesStayOnShow()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    const QString name = TodaysLogName();
    QVERIFY(QDir().mkdir(fx.Path(name)));
    dlg->LogInputCheck()->setChecked(true);
    // More than the log can keep waiting: the oldest 1,000 bytes are lost.
    const QByteArray big(int(CInputLog::kDefaultQueueCap), 'a');
    dlg->ReceiveSink().OnReceive(big.constData(), int(big.size()));
    dlg->ReceiveSink().OnReceive(QByteArray(1000, 'b').constData(), 1000);
    QTRY_VERIFY(dlg->LogInputCheck()->toolTip().contains(QStringLiteral("1,000 bytes lost")));

    // Writing works again: the loss is still told until the box is unchecked.
    QVERIFY(QDir().rmdir(fx.Path(name)));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(fx.Path(name)).size() == big.size(), 30000);
    QTRY_VERIFY(dlg->LogInputCheck()->toolTip().contains(QStringLiteral("1,000 received bytes")));
    QVERIFY(!dlg->LogInputCheck()->styleSheet().isEmpty());
    dlg->LogInputCheck()->setChecked(false);
    dlg->LogInputCheck()->setChecked(true);
    QVERIFY(dlg->LogInputCheck()->toolTip().isEmpty());
    QVERIFY(dlg->LogInputCheck()->styleSheet().isEmpty());
}

void TestReceivePath::exitWritesOrReportsWaitingLogBytes_data()
{
    QTest::addColumn<bool>("clears");
    QTest::newRow("the log clears during the wait") << true;
    QTest::newRow("a FIFO stays in the way") << false;
}

void TestReceivePath::exitWritesOrReportsWaitingLogBytes()
{
    QFETCH(bool, clears);
    TerminalFixture fx;
    auto dlg = fx.Start();
    const QString name = TodaysLogName();
    LogObstacle obstacle(clears ? LogObstacle::Locked : LogObstacle::Fifo, fx.Path(name));
    QVERIFY(obstacle.Place());
    dlg->LogInputCheck()->setChecked(true);
    dlg->ReceiveSink().OnReceive("waiting at exit", 15);
    QTRY_VERIFY(dlg->LogInputCheck()->toolTip().contains("15 bytes waiting"));

    // The other program lets go while the window is being destroyed.
    std::thread release;
    if (clears)
        release = std::thread([&obstacle] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            obstacle.Remove();
        });
    QElapsedTimer exit;
    exit.start();
    dlg.reset();
    const qint64 nExitMs = exit.elapsed();
    if (release.joinable())
        release.join();
    // A FIFO holds nothing up: the wait ends at its bound (the margin is for
    // a loaded machine).
    QVERIFY2(nExitMs < CTerminalDlg::kLogExitWaitMs + 10000, qPrintable(QString::number(nExitMs)));
    if (clears) {
        QCOMPARE(ReadFile(fx.Path(name)), QByteArray("waiting at exit"));
        QCOMPARE(fx.messages, QStringList());
    } else {
        QCOMPARE(fx.messages,
                 QStringList{"15 received bytes could not be written to the log file '" +
                             fx.Path(name) + "': not a regular file."});
    }
}

void TestReceivePath::exitStartsNothingWhileAMessageShows()
{
    TerminalFixture fx;
    fx.Start().reset(); // writes the default settings: the loopback
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    const QString name = TodaysLogName();
    LogObstacle fifo(LogObstacle::Fifo, fx.Path(name));
    QVERIFY(fifo.Place());
    dlg->LogInputCheck()->setChecked(true);
    dlg->ReceiveSink().OnReceive("x", 1);
    QTRY_VERIFY(!dlg->LogInputCheck()->toolTip().isEmpty());
    // With Local Echo checked a tick would show its text in the buffer.
    dlg->LocalEchoCheck()->setChecked(true);
    dlg->OnSendCounter();
    QVERIFY(dlg->IsCounterRunning());

    // Every message the destructor shows (the log's, and the settings
    // write's, which a file-size limit makes fail) runs the event loop for
    // longer than any period of the window's timers.
    CTerminalDlg* pDlg = dlg.get();
    int nShown = 0;
    QStringList started;
    fx.messageHook = [&] {
        const QSet<QString> threads = OwnThreads();
        const QByteArray buffer = pDlg->GetData();
        QTest::qWait(1500);
        if (!OwnThreads().subtract(threads).isEmpty())
            started << QStringLiteral("a thread");
        if (pDlg->GetData() != buffer)
            started << QStringLiteral("the counter data");
        ++nShown;
    };
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit noBytes = saved;
    noBytes.rlim_cur = 0;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &noBytes) == 0);
    dlg.reset();
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(nShown >= 1);
    QVERIFY2(started.isEmpty(), qPrintable(started.join(", ")));
    // The settings are written first, then the log is given its time.
    QCOMPARE(fx.messages.size(), 2);
    QVERIFY(fx.messages[0].startsWith(QStringLiteral("Error writing the configuration file.\n")));
    QVERIFY(fx.messages[1].contains(name));
}

void TestReceivePath::ptyEndToEnd()
{
    TerminalFixture fx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    const QDateTime started = QDateTime::currentDateTime();
    auto dlg = fx.Start();
    QVERIFY2(OpenOnPty(*dlg, pty), qPrintable(dlg->Port().GetDescription()));
    dlg->LogInputCheck()->setChecked(true);
    dlg->OnToggleHex();

    QByteArray sent;
    for (int i = 0; i < 4096; ++i)
        sent.append(char((i * 7) % 256));
    QVERIFY(pty.WriteMaster(sent));
    QTRY_COMPARE(dlg->GetData(), sent);
    dlg->FlushRefresh();
    QCOMPARE(dlg->DataView()->VisibleRows().join(QString()).toLatin1(),
             dlg->FormatHexData().right(dlg->DataView()->VisibleRows().join(QString()).size()));
    QTRY_COMPARE(fx.LoggedSince(started), sent);
}

void TestReceivePath::pausedViewIsWhatFindAndSaveRead()
{
    // Paused, the window keeps what it showed even when the buffer trims
    // those bytes away; Find searches and Save writes what it shows, the
    // buffer (and Rx) goes on.
    TerminalFixture fx;
    auto dlg = fx.Start();
    auto* pTools = dlg->findChild<CDataTools*>();
    QVERIFY(pTools);
    dlg->AppendText("needle at the start\r\n");
    dlg->FlushRefresh();
    const QStringList shown = dlg->DataView()->VisibleRows();
    dlg->OnPauseScrolling();
    dlg->AppendText(Bytes(ReceiveBuffer::kLimit) + "needle later");
    dlg->FlushRefresh();
    QVERIFY(!dlg->GetData().startsWith("needle at"));
    QCOMPARE(dlg->DataView()->VisibleRows(), shown);
    QCOMPARE(dlg->ShownData(), QByteArray("needle at the start\r\n"));
    pTools->OpenFind();
    pTools->FindBar()->findChild<QLineEdit*>()->setText(QStringLiteral("needle"));
    QCOMPARE(pTools->Matches().Count(), 1);
    fx.saveFileName = fx.Path(QStringLiteral("saved.bin"));
    pTools->SaveReceivedData();
    QCOMPARE(ReadFile(fx.saveFileName), QByteArray("needle at the start\r\n"));

    // Resumed, the next block shows the buffer, and Find follows it.
    dlg->OnPauseScrolling();
    dlg->AppendText("\r\n");
    dlg->FlushRefresh();
    QCOMPARE(dlg->ShownData(), dlg->GetData());
    QCOMPARE(pTools->Matches().Count(), 1);
    QCOMPARE(pTools->Matches().CurrentPosition(), dlg->DataView()->Layout().StreamEnd() - 14);
}

void TestReceivePath::portEventsMoveNothing_data()
{
    QTest::addColumn<bool>("bPaused");
    QTest::addColumn<bool>("bShowTimes");
    QTest::newRow("paused") << true << false;
    QTest::newRow("hex toggled") << false << false;
    QTest::newRow("paused, arrival times shown") << true << true;
}

void TestReceivePath::portEventsMoveNothing()
{
    // Line changes, a reopen and Configure Port send the port's events; they
    // neither show a new hex mode, nor let a paused window catch up, nor
    // scroll. With arrival times shown, only the time column's event line
    // appears.
    QFETCH(bool, bPaused);
    QFETCH(bool, bShowTimes);
    TerminalFixture fx;
    fx.Start().reset(); // the default settings: the loopback, a null-modem cable
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    dlg->resize(500, 300);
    auto* pColumn = dlg->DataView()->findChild<CArrivalColumn*>();
    pColumn->SetShown(bShowTimes);
    // The events a row's edges carry that tell of an opened port; the open's
    // own events come from the port's thread, so they are waited for on the
    // first row, far out of sight.
    const auto opened = [&](int nRow) {
        CDataLayout::Cells cells;
        dlg->DataView()->Layout().RowCells(nRow, cells);
        const QStringList texts =
            pColumn->EventTexts(cells, true) + pColumn->EventTexts(cells, false);
        return int(texts.filter(QStringLiteral(" opened: ")).size());
    };
    dlg->AppendText("row 0\r\n");
    dlg->FlushRefresh();
    QTRY_COMPARE(opened(0), 1);
    for (int i = 1; i < 40; ++i)
        dlg->AppendText(QByteArray("row ") + QByteArray::number(i) + "\r\n");
    dlg->FlushRefresh();
    // The user reads above the end; with the times shown, the end is in
    // sight, where the events' line comes.
    const int nTop = bShowTimes ? dlg->DataView()->TopRow() : 3;
    dlg->DataView()->verticalScrollBar()->setValue(nTop);
    if (bPaused)
        dlg->OnPauseScrolling();
    else
        dlg->OnToggleHex();
    dlg->FlushRefresh();
    const QImage before = dlg->DataView()->viewport()->grab().toImage();
    const QStringList rows = dlg->DataView()->VisibleRows();

    QTRY_VERIFY(dlg->Port().GetLines().Has(KrLine::Dtr)); // told just after the open
    QVERIFY(dlg->Port().SetLine(KrLine::Dtr, false));
    QTRY_VERIFY(!dlg->Port().GetLines().IsOn(KrLine::Dsr));
    dlg->Port().Close();
    QVERIFY(OpenSettled(dlg->Port()));
    fx.onModal = [](QDialog& d) {
        d.accept();
        return qobject_cast<CKrCommDlgPortCfg*>(&d) ? IDOK : IDCANCEL;
    };
    dlg->OnConfigurePort();
    QVERIFY(SettledOpen(dlg->Port()));
    QTRY_COMPARE(opened(39), 2); // the reopen's and Configure Port's
    dlg->FlushRefresh();

    QCOMPARE(dlg->DataView()->VisibleRows(), rows);
    QCOMPARE(dlg->DataView()->TopRow(), nTop);
    const QImage after = dlg->DataView()->viewport()->grab().toImage();
    QCOMPARE(after == before, !bShowTimes);
}

QTEST_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
