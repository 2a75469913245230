// The plot window's costs, offscreen:
// 1. 1,000,000 points held (10 series, 100,000 lines a millisecond apart):
//    the process's resident memory before the window was made, with it
//    holding them, and after it was closed; the store's own arrays.
// 2. A repaint of the whole plot (the view rendered into a QImage) over
//    those points: showing everything, and the last minute; median and
//    largest of the rounds in milliseconds, and the median of the thread's
//    processor time (the same work without the time other processes took
//    the core meanwhile), with the decimation's share of it.
//    Then what an export of them costs: the copy of the store the window
//    makes, and writing the CSV into memory.
// 3. Reading 10 series at 1,000 lines a second: the processor time to parse
//    and store 60 s of such lines (fed in 10 ms blocks) without a window, as
//    a share of one core; then the same lines paced in real time into a
//    shown window for a while, with the frames it drew and the process's
//    processor time (painting included, no X server: offscreen).
//
//   QT_QPA_PLATFORM=offscreen bench_plot [paced seconds=10] [repaint rounds=30]

#include "BenchClock.h"
#include "CPlotParser.h"
#include "CPlotStore.h"
#include "CPlotView.h"
#include "CPlotWindow.h"
#include "PlotCsv.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSeries = 10;

// Resident memory of this process in bytes.
qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
}

// Line i of a 10-series device: "ch0:12.345 ch1:... ch9:...\r\n".
QByteArray Line(qint64 i)
{
    QByteArray line;
    for (int s = 0; s < kSeries; ++s) {
        line += "ch" + QByteArray::number(s) + ':' +
                QByteArray::number(double((i * (s + 3)) % 2000) / 100 - 10 + s * 25, 'f', 2) + ' ';
    }
    line.chop(1);
    return line + "\r\n";
}

// nLines lines, one a millisecond from nStartUs, fed in blocks of nPerBlock.
void FeedLines(CPlotFeed& feed, qint64 nFirst, qint64 nLines, qint64 nStartUs, int nPerBlock)
{
    QByteArray block;
    for (qint64 i = nFirst; i < nFirst + nLines; i += nPerBlock) {
        block.resize(0);
        for (qint64 j = i; j < std::min(nFirst + nLines, i + nPerBlock); ++j)
            block += Line(j);
        feed.Feed(block.constData(), block.size(), PlotTimesAt(nStartUs + i * 1000));
    }
}

// Processor time of the calling thread, in milliseconds.
double ThreadCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct SRepaint
{
    double dMedianMs;
    double dMaxMs;
    double dCpuMedianMs; // the thread's processor time: without time lost to other processes
};

SRepaint TimeRepaints(CPlotView& view, int nRounds)
{
    QImage image(view.size(), QImage::Format_RGB32);
    std::vector<double> ms, cpu;
    for (int i = 0; i < nRounds + 3; ++i) {
        QElapsedTimer t;
        t.start();
        const double dCpu = ThreadCpuMs();
        {
            QPainter painter(&image);
            view.Draw(painter, view.rect());
        }
        if (i >= 3) { // three warm-up rounds
            ms.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back(ThreadCpuMs() - dCpu);
        }
    }
    return SRepaint{Median(ms), *std::max_element(ms.begin(), ms.end()), Median(cpu)};
}

// Counts the view's paint events.
class CPaintCounter : public QObject
{
public:
    int nPaints = 0;
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            ++nPaints;
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int nPacedSeconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int nRounds = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    const qint64 nStartUs = QDateTime::currentMSecsSinceEpoch() * 1000 - 200LL * 1000000;

    // 1 and 2: a million points.
    {
        // The toolkit's own first-use costs (fonts, styles) before the
        // baseline: a window made, shown and closed.
        auto* pWarm = new CPlotWindow;
        pWarm->show();
        app.processEvents();
        pWarm->close();
        app.processEvents();
    }
    const qint64 nBefore = ResidentBytes();
    auto* pWindow = new CPlotWindow;
    pWindow->resize(1000, 560);
    pWindow->show();
    app.processEvents();
    const double dCpu0 = CpuSeconds(RUSAGE_SELF);
    FeedLines(*pWindow, 0, 100000, nStartUs, 10);
    const double dFeedCpu = CpuSeconds(RUSAGE_SELF) - dCpu0;
    app.processEvents();
    const qint64 nWith = ResidentBytes();
    const CPlotStore& store = pWindow->Store();
    std::printf("points held: %lld in %d series, %lld lines (fed in %.2f s of processor time)\n",
                static_cast<long long>(store.PointCount()), store.SeriesCount(),
                static_cast<long long>(store.RowCount()), dFeedCpu);
    std::printf("resident memory: %.1f MB before the window, %.1f MB with it: %.1f MB more\n",
                MB(nBefore), MB(nWith), MB(nWith - nBefore));
    std::printf("store arrays: %.1f MB, %.1f bytes a point\n", MB(store.MemoryBytes()),
                double(store.MemoryBytes()) / double(store.PointCount()));

    CPlotView& view = *pWindow->View();
    std::printf("repaint of the whole plot (%d x %d pixels), %d rounds:\n", view.width(),
                view.height(), nRounds);
    for (const CPlotView::Span span : {CPlotView::Span::All, CPlotView::Span::Last1min}) {
        view.SetSpan(span);
        qint64 nFrom = 0, nTo = 0;
        view.Window(&nFrom, &nTo);
        qint64 nShown = 0;
        CPlotStore::SDecimated d;
        for (int s = 0; s < store.SeriesCount(); ++s) {
            store.Decimate(s, nFrom, nTo, 1, d);
            nShown += d.columns[0].nPoints;
        }
        // The decimation alone, every series once per round.
        std::vector<double> decimateMs;
        for (int i = 0; i < nRounds; ++i) {
            QElapsedTimer t;
            t.start();
            for (int s = 0; s < store.SeriesCount(); ++s)
                store.Decimate(s, nFrom, nTo, view.width(), d);
            decimateMs.push_back(t.nsecsElapsed() / 1e6);
        }
        const SRepaint r = TimeRepaints(view, nRounds);
        std::printf("  %-12s %8lld points shown: median %.2f ms, largest %.2f ms; processor "
                    "time median %.2f ms, of which decimation %.2f ms\n",
                    span == CPlotView::Span::All ? "everything" : "last minute",
                    static_cast<long long>(nShown), r.dMedianMs, r.dMaxMs, r.dCpuMedianMs,
                    Median(decimateMs));
    }
    {
        // What an export does on its own thread: copy the store (on the
        // user-interface thread) and write the CSV (here into memory).
        const double dCopyStart = ThreadCpuMs();
        const CPlotStore copy(store);
        const double dCopyMs = ThreadCpuMs() - dCopyStart;
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        const double dCpu = ThreadCpuMs();
        PlotCsv::Write(copy, csv, nullptr);
        std::printf("export, processor time: copying the store %.1f ms; writing the CSV "
                    "(%.1f MB) %.0f ms\n",
                    dCopyMs, MB(csv.size()), ThreadCpuMs() - dCpu);
    }
    pWindow->close(); // deletes it
    app.processEvents();
    const qint64 nClosed = ResidentBytes();
    ::malloc_trim(0); // what the allocator keeps for later is not the window's
    std::printf("resident memory after the window closed: %.1f MB, %.1f MB once the allocator "
                "gave back what it kept\n",
                MB(nClosed), MB(ResidentBytes()));

    // 3. 10 series at 1,000 lines a second.
    {
        CPlotStore plain;
        CPlotParser parser(plain);
        const double dStart = CpuSeconds(RUSAGE_SELF);
        FeedLines(parser, 0, 60000, nStartUs, 10);
        const double dCpu = CpuSeconds(RUSAGE_SELF) - dStart;
        std::printf("parse and store 60 s of 10 series at 1,000 lines/s: %.3f s of processor "
                    "time, %.2f %% of a core\n",
                    dCpu, 100 * dCpu / 60);
    }
    {
        auto* pPaced = new CPlotWindow;
        pPaced->resize(1000, 560);
        pPaced->show();
        app.processEvents();
        CPaintCounter paints;
        pPaced->View()->installEventFilter(&paints);
        const qint64 nPacedStart = QDateTime::currentMSecsSinceEpoch() * 1000;
        QElapsedTimer clock;
        clock.start();
        qint64 nFed = 0;
        QTimer tick;
        // A loop of its own: the application's quit() would close the window.
        QEventLoop loop;
        // Every 10 ms the lines due by then, as a serial line with a short
        // latency delivers them.
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 nDue = clock.elapsed();
            if (nDue > nFed) {
                FeedLines(*pPaced, nFed, nDue - nFed, nPacedStart, int(nDue - nFed));
                nFed = nDue;
            }
            if (clock.elapsed() >= nPacedSeconds * 1000LL)
                loop.quit();
        });
        const double dStart = CpuSeconds(RUSAGE_SELF);
        tick.start(10);
        loop.exec();
        const double dCpu = CpuSeconds(RUSAGE_SELF) - dStart;
        const double dWall = clock.elapsed() / 1000.0;
        std::printf("paced into a shown window (last minute, 1000 x 560) for %.1f s: %lld lines, "
                    "%d frames (%.1f a second), %.1f %% of a core\n",
                    dWall, static_cast<long long>(nFed), paints.nPaints, paints.nPaints / dWall,
                    100 * dCpu / dWall);
        delete pPaced;
    }
    return 0;
}
