// A device that goes away and comes back: the Terminal window shows it at
// once, uses no processor meanwhile, and picks the device up again by itself.
// A socat pty pair under fixed link names stands in for the device.

#include "SocatPty.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QCheckBox>
#include <QDateTime>
#include <QTest>

#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A started window whose settings name the socat device.
struct SocatTerminal : TerminalFixture
{
    SocatPty pty{Dir()};
    QString description = pty.DevicePath() + QStringLiteral(" 115200,8,N,1");
    QDateTime started = QDateTime::currentDateTime(); // before anything is logged

    std::unique_ptr<CTerminalDlg> StartOnDevice()
    {
        WriteSettings(ConfigFor(pty.DevicePath()));
        auto dlg = Start();
        dlg->LogInputCheck()->setChecked(true);
        return dlg;
    }
};

} // namespace

class TestReopen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lostDeviceIsShownAndReopened();
    void absentDeviceIsOpenedWhenItAppears();
};

void TestReopen::lostDeviceIsShownAndReopened()
{
    SocatTerminal fx;
    QVERIFY2(fx.pty.Start(), qPrintable(fx.pty.Error()));
    auto dlg = fx.StartOnDevice();
    QVERIFY(SettledOpen(dlg->Port()));
    QTRY_COMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + fx.description);

    const QByteArray before = Pattern(64 * 1024);
    QVERIFY(fx.pty.WritePeer(before));
    QTRY_COMPARE(dlg->GetData(), before);
    // More is on its way when the device goes.
    QVERIFY(fx.pty.WritePeer(Pattern(2048)));
    fx.pty.Stop();
    // Told at once, not by a poll; the bound leaves a loaded machine a margin.
    QTRY_COMPARE_WITH_TIMEOUT(dlg->windowTitle(),
                              QStringLiteral("VornTerm - ") + fx.description +
                                  QStringLiteral(" - disconnected: the device was removed"),
                              10000);
    QTest::keyClick(dlg.get(), Qt::Key_A);
    QCOMPARE(fx.beeps, 1); // nothing to send to

    // While it is away the program waits; it does not spin.
    const double cpuBefore = CpuSeconds();
    QTest::qWait(2000);
    const double cpu = CpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(cpu)));

    // Back under the same name: opened again, with everything received kept.
    QVERIFY2(fx.pty.Start(), qPrintable(fx.pty.Error()));
    QTRY_COMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + fx.description);
    QVERIFY(fx.pty.WritePeer("after"));
    QTRY_VERIFY(dlg->GetData().endsWith("after"));
    QVERIFY(dlg->GetData().startsWith(before));
    QTRY_VERIFY(fx.LoggedSince(fx.started).endsWith("after"));
    QVERIFY(fx.LoggedSince(fx.started).startsWith(before));
    QTest::keyClick(dlg.get(), Qt::Key_B);
    QCOMPARE(fx.pty.ReadPeerFor(1), QByteArray("b"));
    // The timing index beside the log tells what happened since the log
    // was on (the port opened before), in order, after the log's start.
    QTRY_COMPARE(fx.LoggedEvents(fx.started),
                 (QStringList{QStringLiteral("log started: ") + fx.description,
                              QStringLiteral("disconnected: the device was removed"),
                              QStringLiteral("reopened: ") + fx.description}));
}

void TestReopen::absentDeviceIsOpenedWhenItAppears()
{
    SocatTerminal fx;
    auto dlg = fx.StartOnDevice();
    QVERIFY(!SettledOpen(dlg->Port()));
    QTRY_COMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + fx.description +
                                         QStringLiteral(" - not open: no such device"));

    QVERIFY2(fx.pty.Start(), qPrintable(fx.pty.Error()));
    QTRY_COMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + fx.description);
    QVERIFY(fx.pty.WritePeer("hello"));
    QTRY_COMPARE(dlg->GetData(), QByteArray("hello"));

    // Cancel in Configure Port leaves the port closed: it is not reopened,
    // even with the device there.
    dlg->OnConfigurePort();
    QVERIFY(!dlg->Port().IsOpen());
    QTest::qWait(1500);
    QVERIFY(!dlg->Port().IsOpen());
    QCOMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + fx.description +
                                     QStringLiteral(" - not open: port closed"));
}

QTEST_MAIN(TestReopen)
#include "tst_reopen.moc"
