// The receive path under load from another thread while the user works the
// window: nothing is lost or torn, and nothing deadlocks. Run under
// ThreadSanitizer by the test command.

#include "CDataView.h"
#include "CStatusBarCtrl.h"
#include "CViewRefresh.h"
#include "PortHelpers.h"
#include "PtyPair.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>
#include <utility>

class TestReceiveThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodWhileTheUserWorks();
    void destroyWhileReceiving();
    void refreshRequestsAreCoalesced();
    void refreshWaitsForTheFrameWhileDataComes();
    void refreshKeepsAReadersPaceWhileAStreamLasts();
    void dataWaitingAtStartUp();
};

void TestReceiveThreads::floodWhileTheUserWorks()
{
    TerminalFixture fx;
    fx.Start().reset();
    const QDateTime started = QDateTime::currentDateTime();
    auto dlg = fx.Start(); // on the loopback
    QVERIFY(SettledOpen(dlg->Port()));
    dlg->LogInputCheck()->setChecked(true);
    dlg->show();

    constexpr int kBlocks = 20000;
    std::atomic<int> nDelivered{0};
    std::thread flood([&] {
        for (int i = 0; i < kBlocks; ++i) {
            const QByteArray block = QByteArray::number(i) + "\r\n";
            dlg->ReceiveSink().OnReceive(block.constData(), int(block.size()));
            nDelivered.store(i + 1);
        }
    });

    // The user clears, pauses, toggles hex and sends while blocks arrive.
    int nRound = 0;
    bool bPaused = false;
    while (nDelivered.load() < kBlocks && nRound < 100000) {
        switch (nRound++ % 6) {
        case 0:
            dlg->OnClearData();
            break;
        case 1:
            dlg->OnPauseScrolling();
            bPaused = !bPaused;
            break;
        case 2:
            dlg->OnToggleHex();
            break;
        case 3:
            QTest::keyClick(dlg.get(), Qt::Key_X);
            break;
        case 4:
            dlg->LocalEchoCheck()->setChecked(!dlg->LocalEchoCheck()->isChecked());
            break;
        default:
            QCoreApplication::processEvents();
            break;
        }
    }
    flood.join();
    QCOMPARE(nDelivered.load(), kBlocks);

    // Whatever survived the clears is whole, in order, and matches Rx. The
    // loopback is closed first, and what it read before is delivered, so no
    // late echo of a typed x follows "end".
    dlg->Port().Close();
    QVERIFY(dlg->Port().WaitSettled(20000));
    dlg->OnClearData();
    if (bPaused)
        dlg->OnPauseScrolling();
    dlg->LocalEchoCheck()->setChecked(true);
    dlg->ReceiveSink().OnReceive("end\r\n", 5);
    QTRY_COMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:%1").arg(dlg->GetData().size()));
    QVERIFY(dlg->GetData().endsWith("end\r\n"));
    dlg->FlushRefresh();
    QVERIFY(dlg->DataView()->TotalRows() >= 1);

    // The log got every block, in order, whatever the window did.
    QByteArray expected;
    for (int i = 0; i < kBlocks; ++i)
        expected += QByteArray::number(i) + "\r\n";
    QVERIFY(dlg->ReceiveSink().InputLog().Flush(10000));
    // The typed x's come back from the loopback between the blocks.
    const QByteArray logged = fx.LoggedSince(started).replace('x', QByteArray());
    QCOMPARE(logged, expected + "end\r\n");
}

void TestReceiveThreads::destroyWhileReceiving()
{
    TerminalFixture fx;
    fx.Start().reset();
    for (int round = 0; round < 5; ++round) {
        auto dlg = fx.Start();
        QVERIFY(SettledOpen(dlg->Port()));
        dlg->LocalEchoCheck()->setChecked(true);
        // The loopback keeps the port's thread delivering while the window
        // goes away.
        QByteArray chunk(4096, 'z');
        for (int i = 0; i < 64; ++i)
            dlg->Port().Write(chunk.constData(), int(chunk.size()));
        QCoreApplication::processEvents();
        dlg.reset();
    }
    QVERIFY(fx.messages.isEmpty());
}

void TestReceiveThreads::refreshRequestsAreCoalesced()
{
    int nRefreshes = 0;
    CViewRefresh scheduler(
        [&] {
            ++nRefreshes;
            return false;
        },
        16);
    QElapsedTimer elapsed;
    elapsed.start();
    std::thread flood([&] {
        for (int i = 0; i < 200000; ++i)
            scheduler.Request();
    });
    flood.join();
    // However many requests, one is pending ...
    QVERIFY(scheduler.IsPending());
    QTRY_COMPARE(nRefreshes, 1);
    QVERIFY(!scheduler.IsPending());
    // ... and refreshes keep at least the interval between them.
    for (int i = 0; i < 50; ++i) {
        scheduler.Request();
        QTest::qWait(2);
    }
    QTRY_VERIFY(!scheduler.IsPending());
    QVERIFY2(
        nRefreshes <= elapsed.elapsed() / 16 + 2,
        qPrintable(QStringLiteral("%1 refreshes in %2 ms").arg(nRefreshes).arg(elapsed.elapsed())));
    QVERIFY(nRefreshes >= 2);
}

void TestReceiveThreads::refreshWaitsForTheFrameWhileDataComes()
{
    // A frame far longer than the test: only the first refresh and the
    // flushes can run.
    int nRefreshes = 0;
    bool bChanged = false;
    CViewRefresh refresh(
        [&] {
            ++nRefreshes;
            return std::exchange(bChanged, false);
        },
        600000);
    bChanged = true;
    refresh.Changed();
    std::thread([&] { refresh.Request(); }).join();
    QTRY_COMPARE(nRefreshes, 1); // the first change is shown at once
    // It showed something: the next refresh waits for the next frame, and
    // requests meanwhile bring none sooner.
    QVERIFY(refresh.IsPending());
    bChanged = true;
    refresh.Changed();
    std::thread([&] {
        for (int i = 0; i < 1000; ++i)
            refresh.Request();
    }).join();
    QTest::qWait(100);
    QCOMPARE(nRefreshes, 1);
    refresh.Flush(); // the frame's end, early
    QCOMPARE(nRefreshes, 2);
    QVERIFY(refresh.IsPending());
    refresh.Flush();
    QCOMPARE(nRefreshes, 3);
    QVERIFY(!refresh.IsPending()); // it found nothing: the spell is over
}

void TestReceiveThreads::refreshKeepsAReadersPaceWhileAStreamLasts()
{
    // A frame, and a stream's pace far longer than the test. Each
    // refresh that shows something finds the next block arriving while it
    // runs, as long as nMore says so.
    int nShown = 0;
    int nMore = 0;
    bool bLate = false;
    bool bChanged = false;
    CViewRefresh refresh(
        [&] {
            if (!std::exchange(bChanged, false))
                return false;
            ++nShown;
            if (std::exchange(bLate, false)) {
                // The next block comes after more than a frame, while the
                // thread is still busy: its refresh comes late.
                QThread::msleep(80);
                bChanged = true;
                refresh.Changed();
            } else if (nMore > 0) {
                --nMore;
                bChanged = true;
                refresh.Changed();
            }
            return true;
        },
        50, nullptr, 600000);
    for (int spell = 0; spell < 2; ++spell) {
        // After a quiet spell (longer than a frame): at once, and what came
        // meanwhile with the next frame.
        QTest::qWait(150);
        nMore = 2;
        bChanged = true;
        std::thread([&] { refresh.Changed(); }).join();
        QTRY_COMPARE(nShown, 2 + 3 * spell);
        // That data began to come within a frame of the last refresh: a
        // stream, whose next refresh keeps the stream's pace, not the frame's.
        QTest::qWait(300);
        QCOMPARE(nShown, 2 + 3 * spell);
        QVERIFY(refresh.IsPending());
        refresh.Flush();
        QCOMPARE(nShown, 3 + 3 * spell);
        // A look that finds nothing ends the stream.
        refresh.Flush();
        QCOMPARE(nShown, 3 + 3 * spell);
        QVERIFY(!refresh.IsPending());
    }
    // Data that began to come more than a frame after the last refresh is
    // no stream, however late the refresh that shows it: what follows comes
    // with the next frame.
    QTest::qWait(150);
    bLate = true;
    nMore = 1;
    bChanged = true;
    std::thread([&] { refresh.Changed(); }).join();
    QTRY_COMPARE(nShown, 9);
}

void TestReceiveThreads::dataWaitingAtStartUp()
{
    // The device has sent before the window exists: the port's thread
    // delivers while the window is still building its bars.
    TerminalFixture fx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QVERIFY(fx.WriteSettings(ConfigFor(pty.SlavePath(), 115200)));
    const QByteArray waiting(4000, 'w');
    QVERIFY(pty.WriteMaster(waiting));
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    QTRY_COMPARE(dlg->GetData(), waiting);
    QTRY_COMPARE(dlg->StatusBar()->GetText(0), QStringLiteral("Rx:4000"));
}

QTEST_MAIN(TestReceiveThreads)
#include "tst_receivethreads.moc"
