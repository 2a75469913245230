// Start-up, the settings file, layout and exit of the Terminal window.

#include "CEndOnSignal.h"
#include "CLineLamps.h"
#include "CStatusBarCtrl.h"
#include "FileFaults.h"
#include "RealProgram.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <csignal>
#include <cstring>

class TestTerminalStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstStartWritesDefaults();
    void secondStartOpensTheLoopback();
    void damagedSettings_data();
    void damagedSettings();
    void bytesAfterTheConfigurationAreIgnored();
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void onlyARegularFileIsReadOrReplaced_data();
    void onlyARegularFileIsReadOrReplaced();
    void readOnlySettingsAreNeverRewritten();
    void closeAndDestructionWriteTheFile();
    void sigtermWritesTheFile();
    void fileSizeSignalDoesNotEndTheProgram();
    void signalCancelsDialogsOnTop();
    void ptyBytesTravelBothWays();
    void failedOpenIsNamedInTheCaption();
    void layoutFollowsTheClientSize();
    void statusBarStartsWithZeroFigures();
    void statusTextsLookAsTheToolkitDrawsThem_data();
    void statusTextsLookAsTheToolkitDrawsThem();
    void toolbarHoldsTheSevenCommands();
};

void TestTerminalStartup::firstStartWritesDefaults()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    // The port stays closed, and the caption says why and what to do.
    QCOMPARE(dlg->windowTitle(),
             QStringLiteral("VornTerm - not open: new settings; choose Configure Port"));
    QVERIFY(!dlg->Port().IsOpen());
    QVERIFY(QFileInfo::exists(fx.SettingsPath()));
    QVERIFY(fx.messages.isEmpty());
    QCOMPARE(ReadFile(fx.SettingsPath()), StoredConfig(CKrCommConfig()));
}

void TestTerminalStartup::secondStartOpensTheLoopback()
{
    TerminalFixture fx;
    fx.Start().reset();
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    QTRY_COMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - ") + dlg->Port().GetDescription());
    QCOMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - loop:// 9600,8,N,1"));
    QVERIFY(fx.messages.isEmpty());
}

void TestTerminalStartup::damagedSettings_data()
{
    QTest::addColumn<QByteArray>("content");
    const QByteArray good = StoredConfig(CKrCommConfig{
        QStringLiteral("/dev/ttyS7"), 115200, 7, KrParity::Even, KrStopBits::Two, KrFlow::RtsCts});
    QTest::newRow("zero length") << QByteArray();
    QTest::newRow("truncated to one byte") << good.left(1);
    QTest::newRow("truncated by one byte") << good.left(good.size() - 1);
    QTest::newRow("garbage") << QByteArray("this is not a settings file at all\n");
    QTest::newRow("a whole record, then more than 64 KiB") << good + QByteArray(64 * 1024, '\0');
    // A board that resets on DTR: a damaged record must not turn it on.
    CKrCommConfig lines{
        QStringLiteral("/dev/ttyS7"), 115200, 7, KrParity::Even, KrStopBits::Two, KrFlow::RtsCts};
    lines.dtrAtOpen = KrLineAtOpen::Off;
    lines.rtsAtOpen = KrLineAtOpen::Keep;
    const QByteArray checked = StoredConfig(lines);
    const qsizetype nTag = checked.size() - 8; // "KRLN", DTR, RTS, check
    QByteArray marker = checked;
    marker[nTag + 1] = 'X';
    QTest::newRow("DTR and RTS: a byte of the tag changed") << marker;
    QTest::newRow("DTR and RTS: the tag cut to three bytes") << checked.left(nTag + 3);
    QByteArray value = checked;
    value[nTag + 4] = char(KrLineAtOpen::On);
    QTest::newRow("DTR and RTS: DTR turned on") << value + "tail";
}

void TestTerminalStartup::damagedSettings()
{
    QFETCH(QByteArray, content);
    TerminalFixture fx;
    const QString bad = fx.Path(QStringLiteral("VornTerm.cfg.bad"));
    QVERIFY(WriteFile(fx.SettingsPath(), content));
    QVERIFY(WriteFile(bad, "an older damaged file"));
    {
        auto dlg = fx.Start();
        // The specified text first; then which file, why, and where it went.
        QCOMPARE(fx.messages.size(), 1);
        const QStringList lines = fx.messages.first().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Error reading configuration file."));
        QVERIFY2(lines[1].startsWith("'" + fx.SettingsPath() + "': "), qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("It was kept as 'VornTerm.cfg.bad'")),
                 qPrintable(lines[2]));
        // The configuration is left as it was: the embedded default.
        QVERIFY(dlg->Port().GetConfig() == CKrCommConfig());
        QVERIFY(!dlg->Port().IsOpen());
        QCOMPARE(dlg->windowTitle(), QStringLiteral("VornTerm - not open: the settings could not "
                                                    "be read; choose Configure Port"));
        // Rewritten at once with that configuration; what was there is kept.
        QCOMPARE(ReadFile(fx.SettingsPath()), StoredConfig(CKrCommConfig()));
        QCOMPARE(ReadFile(bad), content);
    }
    fx.messages.clear();
    auto again = fx.Start();
    QVERIFY(fx.messages.isEmpty());
    QVERIFY(SettledOpen(again->Port()));
}

void TestTerminalStartup::bytesAfterTheConfigurationAreIgnored()
{
    TerminalFixture fx;
    const CKrCommConfig config{QStringLiteral("loop://"), 2400,        7, KrParity::Odd,
                               KrStopBits::Two,           KrFlow::None};
    QVERIFY(WriteFile(fx.SettingsPath(), StoredConfig(config) + "junk"));
    auto dlg = fx.Start();
    QVERIFY(fx.messages.isEmpty());
    QVERIFY(dlg->Port().GetConfig() == config);
    QVERIFY(SettledOpen(dlg->Port()));
}

void TestTerminalStartup::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("full disk") << int(CNoRoomFolder::FullDisk);
    QTest::newRow("file-size limit") << int(CNoRoomFolder::FileSizeLimit);
}

void TestTerminalStartup::failedSaveKeepsTheOldFile()
{
    QFETCH(int, kind);
    TerminalFixture fx;
    CNoRoomFolder folder(CNoRoomFolder::Kind(kind), fx.Path(QStringLiteral("disk")));
    if (!folder.WhyNot().isEmpty())
        QSKIP(qPrintable(folder.WhyNot()));
    QDir::setCurrent(fx.Path(QStringLiteral("disk")));
    CKrCommConfig config;
    config.nBaud = 19200;
    const QByteArray stored = StoredConfig(config);
    QVERIFY(WriteFile(QStringLiteral("VornTerm.cfg"), stored));
    auto dlg = fx.Start();
    config.nBaud = 38400;
    dlg->Port().SetConfig(config);

    QVERIFY(folder.Arm());
    const bool bSaved = dlg->SaveSettings();
    const QStringList files = QDir().entryList(QDir::Files | QDir::Hidden);
    folder.Lift();
    QVERIFY(!bSaved);
    QCOMPARE(fx.messages.size(), 1);
    const QString reason = kind == int(CNoRoomFolder::FullDisk)
                               ? QStringLiteral("No space left on device")
                               : QStringLiteral("File too large");
    QVERIFY2(fx.messages.first().startsWith(
                 QStringLiteral("Error writing the configuration file.\n'%1/VornTerm.cfg': %2.\n")
                     .arg(QDir::currentPath(), reason)),
             qPrintable(fx.messages.first()));
    QCOMPARE(ReadFile(QStringLiteral("VornTerm.cfg")), stored);
    // Nothing half-written is left beside it.
    QCOMPARE(files.filter(QStringLiteral("VornTerm")), QStringList{"VornTerm.cfg"});
}

void TestTerminalStartup::onlyARegularFileIsReadOrReplaced_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("bReadable");
    QTest::newRow("link to a file outside") << int(NodeKind::LinkToFile) << true;
    QTest::newRow("link to a FIFO outside") << int(NodeKind::LinkToFifo) << false;
    QTest::newRow("link to a device outside") << int(NodeKind::LinkToDevice) << false;
    QTest::newRow("dangling link") << int(NodeKind::DanglingLink) << false;
    QTest::newRow("FIFO") << int(NodeKind::Fifo) << false;
    QTest::newRow("device") << int(NodeKind::Device) << false;
    QTest::newRow("folder") << int(NodeKind::Folder) << false;
}

void TestTerminalStartup::onlyARegularFileIsReadOrReplaced()
{
    QFETCH(int, kind);
    QFETCH(bool, bReadable);
    TerminalFixture fx;
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("target"));
    CKrCommConfig config;
    config.nBaud = 19200;
    const QString why = MakeNode(NodeKind(kind), fx.SettingsPath(), target, StoredConfig(config));
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString before = Describe(fx.SettingsPath()) + QStringLiteral(" | ") + Describe(target);
    {
        CHangGuard guard(20);
        auto dlg = fx.Start();
        QCOMPARE(dlg->LoadSettings(), bReadable);
        QCOMPARE(dlg->Port().GetConfig().nBaud, bReadable ? 19200 : 9600);
        QVERIFY(!dlg->SaveSettings());
    }
    QCOMPARE(fx.messages, QStringList());
    QCOMPARE(Describe(fx.SettingsPath()) + QStringLiteral(" | ") + Describe(target), before);
    QVERIFY(!QFileInfo::exists(fx.Path(QStringLiteral("VornTerm.cfg.bad"))));
}

void TestTerminalStartup::readOnlySettingsAreNeverRewritten()
{
    TerminalFixture fx;
    CKrCommConfig config;
    config.nBaud = 19200;
    const QByteArray stored = StoredConfig(config);
    const QString path = fx.SettingsPath();
    QVERIFY(WriteFile(path, stored));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    {
        auto dlg = fx.Start();
        QCOMPARE(dlg->Port().GetConfig().nBaud, 19200);
        CKrCommConfig changed = dlg->Port().GetConfig();
        changed.nBaud = 38400;
        dlg->Port().SetConfig(changed);
        QVERIFY(!dlg->SaveSettings());
    }
    QVERIFY(fx.messages.isEmpty());
    QCOMPARE(ReadFile(path), stored);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

void TestTerminalStartup::closeAndDestructionWriteTheFile()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    const QString path = fx.SettingsPath();
    QVERIFY(QFile::remove(path));
    dlg->show();
    QSignalSpy rejected(dlg.get(), &QDialog::rejected);
    dlg->close();
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!QFileInfo::exists(path));
    dlg.reset();
    QCOMPARE(ReadFile(path), StoredConfig(CKrCommConfig()));
}

void TestTerminalStartup::sigtermWritesTheFile()
{
    TerminalFixture fx;
    if (!QFileInfo::exists(ProgramPath()))
        QFAIL("the vornterm program is not built");
    for (const int sig : {SIGTERM, SIGINT}) {
        // The program opens this pseudo-terminal once it has read its
        // settings: that is how the test knows it is running.
        PtyPair pty;
        QVERIFY(pty.IsValid());
        const CKrCommConfig config = ConfigFor(pty.SlavePath(), 4800);
        QVERIFY(fx.WriteSettings(config));

        QProcess proc;
        StartProgram(proc);
        QVERIFY(proc.waitForStarted(30000));
        // Once the port is open the file has been read; remove it so that
        // only the write at exit can bring it back.
        QTRY_VERIFY_WITH_TIMEOUT(ProcessHasOpen(proc.processId(), pty.SlavePath()), 30000);
        QVERIFY(QFile::remove(fx.SettingsPath()));
        QVERIFY(SignalProgram(proc, sig));
        QVERIFY2(proc.waitForFinished(30000), strsignal(sig));
        QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proc.exitCode(), 0);
        QCOMPARE(ReadFile(fx.SettingsPath()), StoredConfig(config));
    }
}

void TestTerminalStartup::fileSizeSignalDoesNotEndTheProgram()
{
    // A write beyond "ulimit -f" sends SIGXFSZ, whose default ends the
    // process; the program ignores it and sees the write fail instead.
    TerminalFixture fx;
    if (!QFileInfo::exists(ProgramPath()))
        QFAIL("the vornterm program is not built");
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QVERIFY(fx.WriteSettings(ConfigFor(pty.SlavePath())));

    QProcess proc;
    StartProgram(proc);
    QVERIFY(proc.waitForStarted(30000));
    // Once the port is open the program is up, its handlers in place.
    QTRY_VERIFY_WITH_TIMEOUT(ProcessHasOpen(proc.processId(), pty.SlavePath()), 30000);
    QVERIFY(SignalProgram(proc, SIGXFSZ));
    QVERIFY2(!proc.waitForFinished(300),
             qPrintable(QStringLiteral("ended with status %1 (%2): %3")
                            .arg(proc.exitCode())
                            .arg(proc.exitStatus() == QProcess::CrashExit ? "crashed" : "exited")
                            .arg(QString::fromLocal8Bit(proc.readAllStandardError()))));
    QVERIFY(SignalProgram(proc, SIGTERM));
    QVERIFY(proc.waitForFinished(30000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
}

void TestTerminalStartup::signalCancelsDialogsOnTop()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    CEndOnSignal ender;
    ender.SetWindow(dlg.get());
    bool bInnerEnded = false;
    bool bWatchdog = false;
    // A dialog runs modally on top of the window when SIGTERM arrives: both
    // loops end.
    QTimer::singleShot(0, dlg.get(), [&] {
        QDialog inner(dlg.get());
        QTimer::singleShot(50, [] { ::raise(SIGTERM); });
        inner.exec();
        bInnerEnded = true;
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, dlg.get(), [&] {
        bWatchdog = true;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w))
                d->done(QDialog::Accepted);
    });
    watchdog.start(30000);
    QCOMPARE(dlg->exec(), int(QDialog::Rejected));
    QVERIFY(bInnerEnded);
    QVERIFY(!bWatchdog);
}

void TestTerminalStartup::ptyBytesTravelBothWays()
{
    TerminalFixture fx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QVERIFY(fx.WriteSettings(ConfigFor(pty.SlavePath())));
    auto dlg = fx.Start();
    QVERIFY2(SettledOpen(dlg->Port()), qPrintable(dlg->Port().GetDescription()));
    QTRY_COMPARE(dlg->windowTitle(),
                 QStringLiteral("VornTerm - %1 115200,8,N,1").arg(pty.SlavePath()));

    QByteArray sent;
    for (int i = 0; i < 2000; ++i)
        sent.append(char(i % 256));
    QVERIFY(pty.WriteMaster(sent));
    QTRY_COMPARE(dlg->GetData(), sent);

    const QByteArray out("to the device\r\n\0\xff", 17);
    QCOMPARE(dlg->Port().Write(out.constData(), int(out.size())), int(out.size()));
    QCOMPARE(pty.ReadMasterFor(int(out.size())), out);
}

void TestTerminalStartup::failedOpenIsNamedInTheCaption()
{
    TerminalFixture fx;
    CKrCommConfig config;
    config.strPort = fx.Path("no-such-tty");
    QVERIFY(fx.WriteSettings(config));
    auto dlg = fx.Start();
    QVERIFY(!SettledOpen(dlg->Port()));
    QTRY_COMPARE(
        dlg->windowTitle(),
        QStringLiteral("VornTerm - %1 9600,8,N,1 - not open: no such device").arg(config.strPort));
}

void TestTerminalStartup::layoutFollowsTheClientSize()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    QWidget* data = reinterpret_cast<QWidget*>(dlg->DataView());
    const QPoint dataTopLeft = data->geometry().topLeft();
    const int barLeft = dlg->StatusBar()->geometry().left();

    dlg->OnSize(0, 400, 300);
    QCOMPARE(data->geometry().topLeft(), dataTopLeft);
    QCOMPARE(data->geometry().left() + data->geometry().width(), 395);
    QCOMPARE(data->geometry().top() + data->geometry().height(), 270);
    const QRect bar = dlg->StatusBar()->geometry();
    QCOMPARE(bar.left(), barLeft);
    QCOMPARE(bar.top(), 277);
    QCOMPARE(bar.top() + bar.height(), 295);
    QCOMPARE(bar.left() + bar.width(), 395);

    // A real resize goes through the same arithmetic.
    dlg->show();
    dlg->resize(620, 360);
    QTRY_COMPARE(data->geometry().left() + data->geometry().width(), 615);
    QCOMPARE(data->geometry().top() + data->geometry().height(), 330);

    // A user can make the client area 400 x 300, narrower than the window
    // was made: the control lines give way to a summary inside their part
    // rather than reach into the next one.
    QVERIFY(SettledOpen(dlg->Port()) || OpenSettled(dlg->Port()));
    auto* pLamps = dlg->StatusBar()->findChild<CLineLamps*>();
    QTRY_VERIFY(pLamps->Shown().nHave != 0);
    QVERIFY(!pLamps->IsCompact());
    dlg->resize(400, 300);
    QTRY_COMPARE(dlg->size(), QSize(400, 300));
    QTRY_COMPARE(data->geometry().left() + data->geometry().width(), 395);
    QCOMPARE(data->geometry().top() + data->geometry().height(), 270);
    QCOMPARE(dlg->StatusBar()->geometry().top(), 277);
    QCOMPARE(dlg->StatusBar()->geometry().right(), 394);
    const QRect part3 = dlg->StatusBar()->PartRect(3);
    const QRect lamps = pLamps->geometry();
    QVERIFY2(part3.contains(lamps), qPrintable(QStringLiteral("%1,%2 %3 in part from %4 to %5")
                                                   .arg(lamps.left())
                                                   .arg(lamps.top())
                                                   .arg(lamps.width())
                                                   .arg(part3.left())
                                                   .arg(part3.right())));
    for (const QWidget* pChild : pLamps->findChildren<QWidget*>()) {
        if (pChild->isVisible())
            QVERIFY(pLamps->rect().contains(pChild->geometry()));
    }
    // Narrower still, down to the least size: the summary tells every line.
    dlg->resize(300, 300);
    QTRY_VERIFY(pLamps->IsCompact());
    const QLabel* pSummary = nullptr;
    for (const QLabel* pLabel : pLamps->findChildren<QLabel*>()) {
        if (pLabel->isVisible())
            pSummary = pLabel;
    }
    QVERIFY(pSummary && pLamps->rect().contains(pSummary->geometry()));
    QVERIFY2(pSummary->toolTip().contains(QStringLiteral("DTR (Data Terminal Ready): on")),
             qPrintable(pSummary->toolTip()));

    // Never smaller than its controls need: the toolbar's last button stays
    // above the status bar, which is drawn over the toolbar's empty end.
    dlg->resize(100, 50);
    QTRY_COMPARE(dlg->size(), dlg->minimumSize());
    QVERIFY(dlg->minimumSize().width() <= 400 && dlg->minimumSize().height() <= 300);
    QTRY_COMPARE(dlg->StatusBar()->geometry().top(), dlg->height() - 23);
    QToolBar* tb = dlg->findChild<QToolBar*>();
    const QWidget* about = tb->widgetForAction(tb->actions().last());
    QVERIFY(about->mapTo(dlg.get(), QPoint(0, about->height())).y() <=
            dlg->StatusBar()->geometry().top());
    QVERIFY(dlg->children().indexOf(dlg->StatusBar()) > dlg->children().indexOf(tb));
}

void TestTerminalStartup::statusBarStartsWithZeroFigures()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    CStatusBarCtrl* bar = dlg->StatusBar();
    const int w = bar->rect().width();
    // The Tx part holds a 10-digit figure: 70 pixels, or more for this font.
    const int nTx = bar->PartRect(1).width();
    QVERIFY(nTx >= 70);
    QCOMPARE(bar->GetParts(), (QVector<int>{w - 330 - nTx, w - 330, w - 300, -1}));
    QCOMPARE(bar->PartRect(2).width(), 30);
    QCOMPARE(bar->PartRect(3).width(), 300);
    QCOMPARE(bar->GetText(0), QStringLiteral("Rx:0"));
    QCOMPARE(bar->GetText(1), QStringLiteral("Tx:0"));
    QCOMPARE(bar->GetText(2), QString());
    QCOMPARE(bar->GetText(3), QString());

    // A text fits its part, or is cut at its end, figures first, and shows
    // whole in the part's tooltip.
    const QString tx = QStringLiteral("Tx:2147483647");
    bar->SetText(1, tx);
    QCOMPARE(bar->ShownText(1), tx);
    const QString stopped = QStringLiteral("Stopped: 60,817,408 of 104,857,600 bytes sent - the "
                                           "device was removed while the file was being sent");
    bar->SetText(3, stopped);
    QVERIFY(bar->ShownText(3) != stopped);
    // The control lines' labels share the part: the first figure still shows.
    QVERIFY2(bar->ShownText(3).startsWith(QStringLiteral("Stopped: 60,817,408 ")),
             qPrintable(bar->ShownText(3)));
    const QPoint inPart3 = bar->PartRect(3).center();
    QHelpEvent help(QEvent::ToolTip, inPart3, bar->mapToGlobal(inPart3));
    QApplication::sendEvent(bar, &help);
    QTRY_COMPARE(QToolTip::text(), stopped);

    // Narrower than its parts: only -1 runs to the end, and no part lies on
    // top of another.
    bar->resize(350, bar->height());
    bar->SetParts({350 - 400, 350 - 330, 350 - 300, -1});
    QCOMPARE(bar->PartRect(0), QRect(0, 0, 0, bar->height()));
    QCOMPARE(bar->PartRect(1), QRect(0, 0, 20, bar->height()));
    QCOMPARE(bar->PartRect(2), QRect(20, 0, 30, bar->height()));
    QCOMPARE(bar->PartRect(3), QRect(50, 0, 300, bar->height()));
}

namespace {

// Where the bar's image has ink (pixels off its background) inside `part`,
// and how many such pixels there are.
QRect InkIn(const QImage& image, const QRect& part, int* pCount)
{
    const QRgb background = image.pixel(part.left() + 4, part.top() + 4);
    QRect ink;
    *pCount = 0;
    // Inside the part's frame.
    for (int y = part.top() + 4; y < part.bottom() - 1; ++y)
        for (int x = part.left() + 2; x < part.right() - 3; ++x)
            if (image.pixel(x, y) != background) {
                ink |= QRect(x, y, 1, 1);
                ++*pCount;
            }
    return ink;
}

} // namespace

void TestTerminalStartup::statusTextsLookAsTheToolkitDrawsThem_data()
{
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("text");
    QTest::newRow("figure") << 1 << QStringLiteral("Tx:1,048,576");
    QTest::newRow("progress, cut") << 3
                                   << QStringLiteral("YMODEM: firmware-image-v2.bin 412,160 / "
                                                     "1,048,576 bytes, 11.2 KB/s, 2 retries");
    QTest::newRow("not ASCII") << 3 << QString::fromUtf8("Empf\u00e4nger: 12");
}

void TestTerminalStartup::statusTextsLookAsTheToolkitDrawsThem()
{
    QFETCH(int, part);
    QFETCH(QString, text);
    TerminalFixture fx;
    auto dlg = fx.Start();
    CStatusBarCtrl* bar = dlg->StatusBar();
    bar->SetText(part, text);
    // What is cut is cut where the toolkit's own measure says it fits.
    const QString shown = bar->ShownText(part);
    if (shown != text) {
        QVERIFY2(shown.endsWith(QChar(0x2026)) && text.startsWith(shown.chopped(1)),
                 qPrintable(shown));
        const QRect room = bar->PartRect(part).adjusted(3, 0, -5, 0);
        QVERIFY(bar->fontMetrics().horizontalAdvance(shown) <= room.width());
    }
    // The part left of a widget placed in it (the line labels).
    QRect area = bar->PartRect(part).intersected(bar->rect());
    for (const QWidget* pChild : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (pChild->isVisible() && pChild->geometry().intersects(area))
            area.setRight(pChild->geometry().left() - 1);
    QImage drawn[2];
    for (int nWay = 0; nWay < 2; ++nWay) {
        bar->SetLaysOutEveryText(nWay == 1);
        drawn[nWay] = bar->grab().toImage();
    }
    bar->SetLaysOutEveryText(false);
    int nInk[2] = {0, 0};
    const QRect ink[2] = {InkIn(drawn[0], area, &nInk[0]), InkIn(drawn[1], area, &nInk[1])};
    QVERIFY(!ink[1].isEmpty());
    // Same place, same height, the same glyphs: at most a pixel apart at the
    // start, a few at the end (no kerning), about as much ink.
    const QString where = QStringLiteral("glyphs %1,%2 %3x%4 (%5 px), toolkit %6,%7 %8x%9 (%10 px)")
                              .arg(ink[0].x())
                              .arg(ink[0].y())
                              .arg(ink[0].width())
                              .arg(ink[0].height())
                              .arg(nInk[0])
                              .arg(ink[1].x())
                              .arg(ink[1].y())
                              .arg(ink[1].width())
                              .arg(ink[1].height())
                              .arg(nInk[1]);
    QVERIFY2(qAbs(ink[0].left() - ink[1].left()) <= 1, qPrintable(where));
    QVERIFY2(qAbs(ink[0].top() - ink[1].top()) <= 1, qPrintable(where));
    QVERIFY2(qAbs(ink[0].bottom() - ink[1].bottom()) <= 1, qPrintable(where));
    QVERIFY2(qAbs(ink[0].right() - ink[1].right()) <= 3, qPrintable(where));
    QVERIFY2(qAbs(nInk[0] - nInk[1]) * 10 <= nInk[1], qPrintable(where));
}

void TestTerminalStartup::toolbarHoldsTheSevenCommands()
{
    TerminalFixture fx;
    auto dlg = fx.Start();
    QToolBar* tb = dlg->findChild<QToolBar*>();
    QCOMPARE(tb->orientation(), Qt::Vertical);
    QCOMPARE(tb->geometry().topLeft(), QPoint(0, 0));
    QList<int> ids;
    QStringList names;
    for (QAction* a : tb->actions()) {
        ids.append(a->data().toInt());
        names.append(tb->widgetForAction(a)->accessibleName());
        QVERIFY(!a->icon().isNull());
    }
    QCOMPARE(ids, (QList<int>{32781, 32779, 32782, 32783, 32785, 32786, 32780}));
    QCOMPARE(names, (QStringList{"Configure Port", "Pause Scrolling", "Send Counter Data",
                                 "Clear Data Window", "Toggle Hex Display", "Send Text File",
                                 "About Vornterm"}));
}

QTEST_MAIN(TestTerminalStartup)
#include "tst_terminalstartup.moc"
