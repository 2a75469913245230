// The plot window, offscreen: fed lines draw each series in its colour and
// the legend hides and shows them; frames come at most once per interval
// while data comes and the timer stops after; lines a device writes are
// exported with the time they were written; an export goes only to a new
// name or over a regular file, and leaves anything else as it was.

#include "CDataView.h"
#include "CPlotCommand.h"
#include "CPlotFramePacer.h"
#include "CPlotLegend.h"
#include "CPlotView.h"
#include "CPlotWindow.h"
#include "FileFaults.h"
#include "KrTimeStamp.h"
#include "PlotCsv.h"
#include "PlotHelpers.h"
#include "TerminalFixture.h"
#include "TryTimeout.h"

#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <memory>

namespace {

const qint64 kT0 = UtcUs(2026, 12, 8, 14, 3, 10, 123456);
const qint64 kAnyFrom = std::numeric_limits<qint64>::min();

int CountPixels(const QImage& image, const QColor& colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* pLine = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            n += (pLine[x] & 0xffffff) == (colour.rgb() & 0xffffff);
    }
    return n;
}

// 200 lines over 10 s: a rises from 0 to 199, b falls from 100.
QList<QByteArray> TwoSeries()
{
    QList<QByteArray> lines;
    for (int i = 0; i < 200; ++i)
        lines << "a:" + QByteArray::number(i) + " b:" + QByteArray::number(100 - i) + "\r\n";
    return lines;
}

// The clock the port stamps received bytes with, set by the test.
std::atomic<qint64> g_nClockUs{0};
KrTimeStamp TestClock()
{
    const qint64 nUs = g_nClockUs.load();
    return KrTimeStamp{nUs, nUs};
}

} // namespace

class TestPlotWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachSeriesInItsColourAndTheLegendHidesIt();
    void timeWindowByKeysMouseAndPause_data();
    void timeWindowByKeysMouseAndPause();
    void valueAxisCursorAndKeyboard();
    void framesWhileDataComes_data();
    void framesWhileDataComes();
    void plotNumbersFollowsTheReceiveBuffer();
    void pacedLinesCarryTheTimeTheyWereWritten();
    void exportOnlyToANewNameOrARegularFile_data();
    void exportOnlyToANewNameOrARegularFile();
};

void TestPlotWindow::eachSeriesInItsColourAndTheLegendHidesIt()
{
    std::unique_ptr<CPlotWindow> pWindow(new CPlotWindow);
    pWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow.get()));
    FeedLines(*pWindow, TwoSeries(), kT0, 50000);

    // The frames catch up with the last line within an interval or two.
    CPlotLegend* pLegend = pWindow->Legend();
    QTRY_COMPARE(pLegend->EntryCount(), 2);
    QTRY_COMPARE(pLegend->Entry(0)->text(), QStringLiteral("a: 199"));
    QCOMPARE(pLegend->Entry(1)->text(), QStringLiteral("b: -99"));
    QCOMPARE(pWindow->View()->accessibleDescription(), QStringLiteral("a 199, b -99"));
    QVERIFY(pWindow->StatusText().startsWith(
        QStringLiteral("Series: 2, values: 400, from lines: 200.")));

    const QColor a = CPlotView::SeriesColour(0), b = CPlotView::SeriesColour(1);
    QImage image = pWindow->View()->grab().toImage();
    QVERIFY2(CountPixels(image, a) > 50, qPrintable(QString::number(CountPixels(image, a))));
    QVERIFY(CountPixels(image, b) > 50);

    pLegend->Entry(0)->click();
    QVERIFY(!pWindow->View()->IsShown(0));
    image = pWindow->View()->grab().toImage();
    QCOMPARE(CountPixels(image, a), 0);
    QVERIFY(CountPixels(image, b) > 50);
    pLegend->Entry(0)->click();
    QVERIFY(CountPixels(pWindow->View()->grab().toImage(), a) > 50);

    // Emptied, it draws no series and forgets the legend.
    pWindow->Clear();
    QCOMPARE(pLegend->EntryCount(), 0);
    image = pWindow->View()->grab().toImage();
    QCOMPARE(CountPixels(image, a) + CountPixels(image, b), 0);
}

void TestPlotWindow::timeWindowByKeysMouseAndPause_data()
{
    // The 200 lines of TwoSeries 50 ms apart: the last at 9.95 s; while
    // following, the window ends 1 us after it. Times in us from the first.
    QTest::addColumn<QString>("actions");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<qint64>("from"); // kAnyFrom: only the span is known
    QTest::addColumn<qint64>("span");

    QTest::newRow("a minute by default") << "" << true << qint64(-50049999) << qint64(60000000);
    QTest::newRow("10 s") << "10s" << true << qint64(-49999) << qint64(10000000);
    QTest::newRow("10 min") << "10min" << true << qint64(-590049999) << qint64(600000000);
    QTest::newRow("everything") << "all" << true << qint64(0) << qint64(9950001);
    QTest::newRow("Left pans back a tenth")
        << "10s Left" << false << qint64(-1049999) << qint64(10000000);
    QTest::newRow("Right pans on") << "10s Right" << false << qint64(950001) << qint64(10000000);
    QTest::newRow("Up zooms in") << "10s Up" << false << qint64(950001) << qint64(8000000);
    QTest::newRow("Down zooms out") << "10s Down" << false << qint64(-1299999) << qint64(12500000);
    QTest::newRow("Home: the first value")
        << "10s Left Home" << false << qint64(0) << qint64(10000000);
    QTest::newRow("End follows") << "10s Left End" << true << qint64(-49999) << qint64(10000000);
    QTest::newRow("double-click follows")
        << "10s Left dbl" << true << qint64(-49999) << qint64(10000000);
    QTest::newRow("wheel zooms") << "10s wheel" << false << kAnyFrom << qint64(8000000);
    QTest::newRow("drag pans") << "10s drag" << false << kAnyFrom << qint64(10000000);
    // Paused, new values are collected but the window stays; unpaused, it
    // follows them.
    QTest::newRow("pause") << "10s pause feed" << false << qint64(-49999) << qint64(10000000);
    QTest::newRow("pause and go on")
        << "10s pause feed pause" << true << qint64(450001) << qint64(10000000);
}

void TestPlotWindow::timeWindowByKeysMouseAndPause()
{
    QFETCH(QString, actions);
    QFETCH(bool, follow);
    QFETCH(qint64, from);
    QFETCH(qint64, span);

    CPlotWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(800, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    FeedLines(window, TwoSeries(), kT0, 50000);
    CPlotView* pView = window.View();
    pView->grab(); // a frame, so that the mouse finds the plot's area
    QPushButton* pPause = window.findChild<QPushButton*>(QStringLiteral("pause"));
    QComboBox* pSpan = window.findChild<QComboBox*>(QStringLiteral("span"));
    QVERIFY(pPause && pSpan);
    const QPoint middle = pView->rect().center();
    for (const QString& action : actions.split(' ', Qt::SkipEmptyParts)) {
        if (action == "10s" || action == "10min" || action == "all") {
            // The time's box by keys: its first choice, the third, the last.
            QTest::keyClick(pSpan, action == "all" ? Qt::Key_End : Qt::Key_Home);
            for (int i = 0; action == "10min" && i < 2; ++i)
                QTest::keyClick(pSpan, Qt::Key_Down);
        } else if (action == "dbl") {
            QTest::mouseDClick(pView, Qt::LeftButton, {}, middle);
        } else if (action == "drag") {
            QTest::mousePress(pView, Qt::LeftButton, {}, middle);
            QTest::mouseMove(pView, middle + QPoint(100, 0));
            QTest::mouseRelease(pView, Qt::LeftButton, {}, middle + QPoint(100, 0));
        } else if (action == "wheel") {
            QWheelEvent wheel(middle, pView->mapToGlobal(middle), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(pView, &wheel);
        } else if (action == "pause") {
            pPause->click();
        } else if (action == "feed") {
            FeedLines(window, TwoSeries().mid(0, 10), kT0 + 10000000, 50000);
        } else {
            const QKeySequence key(action);
            QVERIFY2(!key.isEmpty(), qPrintable(action));
            QTest::keyClick(pView, key[0].key());
        }
    }
    qint64 nFrom = 0, nTo = 0;
    QVERIFY(pView->Window(&nFrom, &nTo));
    QCOMPARE(pView->IsFollowing(), follow);
    QCOMPARE(pPause->isChecked(), !follow);
    QCOMPARE(nTo - nFrom, span);
    if (from != kAnyFrom)
        QCOMPARE(nFrom - kT0, from);
    else if (actions.endsWith("drag")) // dragged right: earlier times come into view
        QVERIFY(nFrom - kT0 < -49999);
    QCOMPARE(window.Store().RowCount(), actions.contains("feed") ? 210 : 200);
}

void TestPlotWindow::valueAxisCursorAndKeyboard()
{
    CPlotWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(800, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    FeedLines(window, TwoSeries(), kT0, 50000);
    QTRY_COMPARE(window.Legend()->Entry(1)->text(), QStringLiteral("b: -99"));
    CPlotView* pView = window.View();
    pView->SetSpan(CPlotView::Span::All);

    // The value axis fits the values shown (a: 0 to 199, b: 100 to -99)
    // with a twentieth of their range on each side, or takes a fixed range.
    double dLo = 0, dHi = 0;
    pView->grab();
    pView->ShownRange(&dLo, &dHi);
    QCOMPARE(dLo, -99 - 298 * 0.05);
    QCOMPARE(dHi, 199 + 298 * 0.05);
    pView->SetFixedRange(true, -1000, 1000);
    pView->grab();
    pView->ShownRange(&dLo, &dHi);
    QCOMPARE(dLo, -1000.0);
    QCOMPARE(dHi, 1000.0);

    // The cursor at the plot's right edge: the time and each shown series'
    // value there; a hidden series is left out.
    QSignalSpy cursor(pView, &CPlotView::CursorChanged);
    const int x = pView->width() - 80;
    QTest::mouseMove(pView, QPoint(x, pView->height() / 2));
    QTRY_VERIFY(!cursor.isEmpty());
    const QString text = cursor.last().at(0).toString();
    QVERIFY2(text.contains(QRegularExpression(
                 QStringLiteral("^14:03:\\d\\d\\.\\d{6}  a 1\\d\\d  b -\\d\\d$"))),
             qPrintable(text));
    window.Legend()->Entry(0)->click();
    QVERIFY(!pView->CursorTextAt(x).contains(QStringLiteral(" a ")));

    // Tab reaches every control, the plot and the legend, and comes round;
    // each has a name that assistive technology reads (the time's box its
    // choice, beside its label).
    QStringList reached;
    QWidget* pFirst = window.findChild<QWidget*>(QStringLiteral("span"));
    QVERIFY(pFirst);
    pFirst->setFocus();
    for (int i = 0; i < 9 && (reached.isEmpty() || QApplication::focusWidget() != pFirst); ++i) {
        reached << QAccessible::queryAccessibleInterface(QApplication::focusWidget())
                       ->text(QAccessible::Name);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(reached.join(", "),
             QStringLiteral("Last minute, Pause, Fixed value range, Export CSV, "
                            "Save Picture, Plot, Series, a: 199, b: -99"));
    QCOMPARE(QApplication::focusWidget(), pFirst);
}

void TestPlotWindow::framesWhileDataComes_data()
{
    // d: values came, t: the timer ran out. P: a frame drawn, .: none.
    QTest::addColumn<QByteArray>("events");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<bool>("timerRuns");

    QTest::newRow("first data at once") << QByteArray("d") << QByteArray("P") << true;
    QTest::newRow("more within the interval wait")
        << QByteArray("ddd") << QByteArray("P..") << true;
    QTest::newRow("then one frame") << QByteArray("dddt") << QByteArray("P..P") << true;
    QTest::newRow("quiet: the timer stops") << QByteArray("dddtt") << QByteArray("P..P.") << false;
    QTest::newRow("alone: no second frame") << QByteArray("dt") << QByteArray("P.") << false;
    QTest::newRow("a stream") << QByteArray("dddtdtdt") << QByteArray("P..P.P.P") << true;
    QTest::newRow("after a quiet spell at once")
        << QByteArray("dttd") << QByteArray("P..P") << true;
}

void TestPlotWindow::framesWhileDataComes()
{
    QFETCH(QByteArray, events);
    QFETCH(QByteArray, frames);
    QFETCH(bool, timerRuns);

    CPlotFramePacer pacer;
    QByteArray drawn;
    for (const char event : events) {
        // The owner's timer: it runs out only while it runs.
        const bool bFrame =
            event == 'd' ? pacer.DataCame() : pacer.IsTimerRunning() && pacer.TimerFired();
        drawn += bFrame ? 'P' : '.';
    }
    QCOMPARE(drawn, frames);
    QCOMPARE(pacer.IsTimerRunning(), timerRuns);
}

void TestPlotWindow::exportOnlyToANewNameOrARegularFile_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("reason");

    QTest::newRow("csv, new name") << "new" << true << "";
    QTest::newRow("csv over a regular file") << "file" << true << "";
    QTest::newRow("png, new name") << "png" << true << "";
    QTest::newRow("FIFO") << "fifo" << false << "not a regular file";
    QTest::newRow("device") << "device" << false << "not a regular file";
    QTest::newRow("folder") << "folder" << false << "it is a folder";
    QTest::newRow("link to a file") << "link" << false << "symbolic link";
    QTest::newRow("dangling link") << "dangling" << false << "symbolic link";
    QTest::newRow("full disk") << "full" << false << qt_error_string(ENOSPC);
}

void TestPlotWindow::exportOnlyToANewNameOrARegularFile()
{
    QFETCH(QString, what);
    QFETCH(bool, ok);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("plot.csv"));
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    std::unique_ptr<CNoRoomFolder> pNoRoom;
    QString made;
    if (what == QLatin1String("file")) {
        QFile old(path);
        if (!old.open(QIODevice::WriteOnly) || old.write("old bytes") != 9)
            made = old.errorString();
    } else if (what == QLatin1String("fifo"))
        made = MakeNode(NodeKind::Fifo, path, QString(), QByteArray());
    else if (what == QLatin1String("device"))
        made = MakeNode(NodeKind::Device, path, QString(), QByteArray());
    else if (what == QLatin1String("folder"))
        made = MakeNode(NodeKind::Folder, path, QString(), QByteArray());
    else if (what == QLatin1String("link"))
        made = MakeNode(NodeKind::LinkToFile, path, target, "old bytes");
    else if (what == QLatin1String("dangling"))
        made = MakeNode(NodeKind::DanglingLink, path, target, QByteArray());
    else if (what == QLatin1String("png"))
        path = dir.filePath(QStringLiteral("plot.png"));
    QVERIFY2(made.isEmpty(), qPrintable(made));
    if (what == QLatin1String("full")) {
        path = dir.filePath(QStringLiteral("full/plot.csv"));
        pNoRoom = std::make_unique<CNoRoomFolder>(CNoRoomFolder::FullDisk, dir.filePath("full"));
        if (!pNoRoom->WhyNot().isEmpty())
            QSKIP(qPrintable(pNoRoom->WhyNot()));
        QVERIFY(pNoRoom->Arm());
    }
    const QString before = Describe(path);
    const QString targetBefore = Describe(target);

    CPlotWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(640, 400);
    FeedLines(window, TwoSeries(), kT0, 50000);
    QSignalSpy finished(&window, &CPlotWindow::ExportFinished);
    const CHangGuard guard(60); // a FIFO opened by mistake would wait for a reader
    QVERIFY(what == QLatin1String("png") ? window.SavePicture(path) : window.ExportCsv(path));
    QVERIFY(!window.ExportCsv(path)); // one at a time
    QTRY_COMPARE(finished.count(), 1);
    const QList<QVariant> args = finished.takeFirst();
    QCOMPARE(args.at(1).toBool(), ok);
    const QString message = args.at(2).toString();
    QVERIFY2(message.contains(path), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QVERIFY(window.StatusText().isEmpty() || !window.StatusText().contains("Writing"));

    // Nothing beside the target is left behind.
    QDir folder(QFileInfo(path).absolutePath());
    QStringList left = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    left.removeAll(QStringLiteral("filler"));
    left.removeAll(QStringLiteral("full"));
    left.removeAll(QStringLiteral("elsewhere"));
    left.removeAll(QFileInfo(path).fileName());
    QCOMPARE(left, QStringList());

    if (!ok) {
        QCOMPARE(Describe(path), before);
        QCOMPARE(Describe(target), targetBefore);
        return;
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (what == QLatin1String("png")) {
        QImage image;
        QVERIFY(image.load(&file, "PNG"));
        QCOMPARE(image.size(), window.View()->size() * window.View()->devicePixelRatio());
        return;
    }
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    QVERIFY(PlotCsv::Write(window.Store(), expected, nullptr));
    const QByteArray csv = file.readAll();
    QCOMPARE(csv, expected.data());
    QVERIFY(csv.startsWith("time,a,b\n2026-12-08T14:03:10.123456Z,0,100\n"));
    QCOMPARE(csv.count('\n'), 201);
}

QTEST_MAIN(TestPlotWindow)
void TestPlotWindow::pacedLinesCarryTheTimeTheyWereWritten()
{
    // A device writes "a:K b:2K" on a pseudo-terminal, a line every 20 ms of
    // a clock the test moves as it writes each: every value comes back in
    // order, each row at the time its line was written, whatever the load.
    g_nClockUs = kT0;
    KrTimeStamp::SetClock(TestClock);
    const auto restore = qScopeGuard([] { KrTimeStamp::SetClock(nullptr); });
    TerminalFixture fx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QVERIFY(fx.WriteSettings(ConfigFor(pty.SlavePath())));
    auto dlg = fx.Start();
    QVERIFY(SettledOpen(dlg->Port()));
    auto* pCommand = dlg->DataView()->findChild<CPlotCommand*>();
    QVERIFY(pCommand);
    pCommand->Open();
    QByteArray expected = "time,a,b\n";
    for (int k = 1; k <= 50; ++k) {
        const qint64 nWrittenUs = kT0 + k * 20000;
        const QByteArray a = QByteArray::number(k), b = QByteArray::number(2 * k);
        g_nClockUs = nWrittenUs;
        QVERIFY(pty.WriteMaster("a:" + a + " b:" + b + "\r\n"));
        // The next line is written once this one is plotted.
        QTRY_COMPARE(pCommand->Window()->Store().RowCount(), k);
        expected += PlotCsv::IsoTime(nWrittenUs) + ',' + a + ',' + b + '\n';
    }
    QCOMPARE(CsvOf(pCommand->Window()->Store()), expected);
}

void TestPlotWindow::plotNumbersFollowsTheReceiveBuffer()
{
    // Lines received before and after the plot opened, paused or not, with
    // the times the port stamped them with: the CSV holds every value in
    // order, each at its line's first byte; the echo has no time.
    TerminalFixture fx;
    auto dlg = fx.Start();
    auto* pCommand = dlg->DataView()->findChild<CPlotCommand*>();
    QVERIFY(pCommand);
    const qint64 t0 = UtcUs(2026, 12, 8, 14, 3, 10, 123456);
    const auto received = [&](const QByteArray& bytes, qint64 nWallUs) {
        const KrBlockTimes times(KrTimeStamp{nWallUs, nWallUs});
        dlg->AppendText(bytes, &times);
    };
    received("a:1 b:2\r\n", t0);
    received("a:1.5 ", t0 + 40000); // a line split over two reads
    received("b:-3e2\r\n", t0 + 41000);
    pCommand->Open();
    QVERIFY(pCommand->Window());
    dlg->OnPauseScrolling();
    received("a:4\r\n", t0 + 80000);
    dlg->AppendText("a:99\r\n"); // an echo: no time, no value
    pCommand->Read();
    QCOMPARE(CsvOf(pCommand->Window()->Store()), QByteArray("time,a,b\n"
                                                            "2026-12-08T14:03:10.123456Z,1,2\n"
                                                            "2026-12-08T14:03:10.163456Z,1.5,-300\n"
                                                            "2026-12-08T14:03:10.203456Z,4,\n"));

    // Closed, it is gone and reads nothing more; opened again it starts with
    // what the buffer holds; cleared with the buffer.
    pCommand->Window()->close();
    QTRY_VERIFY(!pCommand->Window());
    received("a:5\r\n", t0 + 120000);
    pCommand->Open();
    QCOMPARE(pCommand->Window()->Store().RowCount(), 4);
    dlg->OnClearData();
    received("b:6\r\n", t0 + 160000);
    pCommand->Read();
    const QByteArray csv("time,b\n2026-12-08T14:03:10.283456Z,6\n");
    QCOMPARE(CsvOf(pCommand->Window()->Store()), csv);

    // The buffer trims its first 250,000 bytes before the plot read the
    // spaces after "c:12": they are counted, and the line they cut is not
    // plotted as c = 12.
    received("c:12", t0 + 200000);
    pCommand->Read();
    received(QByteArray(600000, ' '), t0 + 210000);
    received("\r\n", t0 + 220000);
    pCommand->Read();
    QCOMPARE(CsvOf(pCommand->Window()->Store()), csv);
    QCOMPARE(pCommand->Window()->Parser().Counts().nLostBytes, 250000 - 9);
}

#include "tst_plotwindow.moc"
