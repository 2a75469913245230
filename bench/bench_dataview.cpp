// What one refresh of the data window costs: handing it the buffer grown by a
// block and painting it, at several buffer sizes, in text and hex mode; plus
// the refresh after the owner's front trim and the one-off relayouts after a
// width or mode change. Prints a table of medians.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_dataview [repetitions]

#include "CDataView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kBlock = 256; // about one 60 Hz refresh of data at 115200 baud
constexpr int kWidth = 800;
constexpr int kHeight = 480;

// Serial text as devices send it: lines of 20 to 79 printable characters.
QByteArray TextStream(qsizetype nSize)
{
    QRandomGenerator rng(1234);
    QByteArray data;
    data.reserve(nSize + 100);
    while (data.size() < nSize) {
        const int n = static_cast<int>(rng.bounded(20, 80));
        for (int i = 0; i < n; ++i)
            data.append(static_cast<char>(rng.bounded(0x20, 0x7F)));
        data.append("\r\n");
    }
    data.truncate(nSize);
    return data;
}

// Any byte value: control bytes, CR and LF at random.
QByteArray BinaryStream(qsizetype nSize)
{
    QRandomGenerator rng(99);
    QByteArray data(nSize, Qt::Uninitialized);
    for (char& c : data)
        c = static_cast<char>(rng.bounded(256));
    return data;
}

// One long line: no line end at all.
QByteArray NoLineEnds(qsizetype nSize)
{
    QByteArray data(nSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < nSize; ++i)
        data[i] = static_cast<char>('a' + i % 26);
    return data;
}

struct Sample
{
    double setUs;
    double paintUs;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Percentile90(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 9 / 10)];
}

void Report(const char* pScenario, const char* pMode, qsizetype nBuffered,
            const std::vector<Sample>& samples)
{
    std::vector<double> set, paint, total;
    for (const Sample& s : samples) {
        set.push_back(s.setUs);
        paint.push_back(s.paintUs);
        total.push_back(s.setUs + s.paintUs);
    }
    std::printf("| %-24s | %-4s | %9lld | %9.1f | %9.1f | %9.1f | %9.1f |\n", pScenario, pMode,
                static_cast<long long>(nBuffered), Median(set), Median(paint), Median(total),
                Percentile90(total));
    std::fflush(stdout);
}

// Runs `prepare` untimed, then `change` timed, then a repaint of the whole
// view timed.
std::vector<Sample> Measure(CDataView& view, int nReps, const std::function<void()>& prepare,
                            const std::function<void()>& change)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<Sample> samples;
    QElapsedTimer timer;
    for (int rep = -3; rep < nReps; ++rep) { // three to warm the caches
        prepare();
        timer.start();
        change();
        const qint64 set = timer.nsecsElapsed();
        timer.start();
        view.render(&image);
        const qint64 paint = timer.nsecsElapsed();
        if (rep >= 0)
            samples.push_back(Sample{set / 1000.0, paint / 1000.0});
    }
    return samples;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int nReps = argc > 1 ? std::max(1, atoi(argv[1])) : 101;

    CDataView view;
    view.resize(kWidth, kHeight);
    view.show();
    QApplication::processEvents();

    const QByteArray text = TextStream(600000);
    const QByteArray binary = BinaryStream(600000);
    const QByteArray longLine = NoLineEnds(600000);

    std::printf("Data window refresh, %d x %d view (%d columns x %d rows), %s %d px, "
                "block %d bytes, %d repetitions, microseconds\n\n",
                kWidth, kHeight, view.Columns(), view.VisibleRowCount(),
                qPrintable(QFontInfo(view.font()).family()), view.font().pixelSize(), kBlock,
                nReps);
    std::printf("| %-24s | %-4s | %9s | %9s | %9s | %9s | %9s |\n", "scenario", "mode", "buffered",
                "SetBuffer", "paint", "total", "total p90");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", "--------------------------", "------", "-----------",
                "-----------", "-----------", "-----------", "-----------");

    struct Mode
    {
        const char* pName;
        bool bHex;
    };
    const Mode modes[] = {{"text", false}, {"hex", true}};

    // A refresh: the buffer grew by one block since the last one.
    for (const Mode& mode : modes) {
        for (qsizetype n : {10000, 100000, 500000}) {
            const QByteArray before = text.left(n - kBlock);
            const QByteArray after = text.left(n);
            const auto samples = Measure(
                view, nReps, [&] { view.SetBuffer(before, 0, mode.bHex); },
                [&] { view.SetBuffer(after, 0, mode.bHex); });
            Report("append a block", mode.pName, n, samples);
        }
    }
    {
        const QByteArray before = binary.left(500000 - kBlock);
        const QByteArray after = binary.left(500000);
        Report("append, random bytes", "text", 500000,
               Measure(
                   view, nReps, [&] { view.SetBuffer(before, 0, false); },
                   [&] { view.SetBuffer(after, 0, false); }));
    }

    // The owner's buffer passed 500,000: its first 250,000 bytes went.
    struct Trim
    {
        const char* pScenario;
        const QByteArray* pData;
    };
    const Trim trims[] = {{"trim 250,000", &text},
                          {"trim, random bytes", &binary},
                          {"trim, no line ends", &longLine}};
    for (const Mode& mode : modes) {
        for (const Trim& trim : trims) {
            if (mode.bHex && trim.pData != &text)
                continue;
            const QByteArray before = trim.pData->left(500000);
            const QByteArray after = trim.pData->mid(250000, 250000 + kBlock);
            Report(trim.pScenario, mode.pName, after.size(),
                   Measure(
                       view, nReps, [&] { view.SetBuffer(before, 0, mode.bHex); },
                       [&] { view.SetBuffer(after, 250000, mode.bHex); }));
        }
    }

    // One-off relayouts of a full buffer.
    const QByteArray full = text.left(500000);
    for (const Mode& mode : modes) {
        int width = kWidth;
        Report("width change", mode.pName, full.size(),
               Measure(
                   view, nReps, [&] { view.SetBuffer(full, 0, mode.bHex); },
                   [&] {
                       width = width == kWidth ? kWidth - 40 : kWidth;
                       view.resize(width, kHeight);
                   }));
    }
    for (const Mode& mode : modes) {
        Report(mode.bHex ? "mode change to hex" : "mode change to text", mode.pName, full.size(),
               Measure(
                   view, nReps, [&] { view.SetBuffer(full, 0, !mode.bHex); },
                   [&] { view.SetBuffer(full, 0, mode.bHex); }));
    }
    return 0;
}
