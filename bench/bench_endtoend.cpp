// End to end: the real Terminal window, offscreen, "Log Input Data" checked,
// reading a pseudo-terminal (a socat pty pair) into which a writer pushes
// data as fast as the pty takes it. Prints the sustained rate, whether the
// log holds every byte in order, the peak resident memory, the longest gap
// between two view refreshes under load, and the delay from a byte's
// arrival to its appearance in the view.
//
//   build/bench/bench_endtoend [MiB=64] [text|hex=hex]

#include "Afx.h"
#include "CDataView.h"
#include "CInputLog.h"
#include "CTerminalDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

char PatternByte(qint64 i) { return char((i * 31 + (i >> 9)) & 0xFF); }

long PeakRssKiB()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 nTotal = (argc > 1 ? atoll(argv[1]) : 64) * 1024 * 1024;
    const bool bHex = !(argc > 2 && QByteArray(argv[2]) == "text");

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    AfxScopedHooks quiet(AfxHooks{[](const QString&, int) { return IDOK; }, {}, [] {}, {}, {}});

    const QString dev = dir.filePath(QStringLiteral("dev"));
    const QString peer = dir.filePath(QStringLiteral("peer"));
    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {QStringLiteral("pty,raw,echo=0,link=%1").arg(dev),
                 QStringLiteral("pty,raw,echo=0,link=%1").arg(peer)});
    if (!socat.waitForStarted(5000)) {
        std::fprintf(stderr, "socat did not start (apt-get install socat)\n");
        return 1;
    }
    for (int i = 0; i < 500 && !(QFileInfo::exists(dev) && QFileInfo::exists(peer)); ++i)
        QThread::msleep(10);

    CTerminalDlg dlg;
    dlg.Create();
    CKrCommConfig config;
    config.strPort = QFileInfo(dev).canonicalFilePath();
    config.nBaud = 115200;
    dlg.Port().SetConfig(config);
    if (!dlg.Port().Open()) {
        std::fprintf(stderr, "%s\n", qPrintable(dlg.Port().GetDescription()));
        return 1;
    }
    dlg.LogInputCheck()->setChecked(true);
    if (bHex)
        dlg.OnToggleHex();
    dlg.show();
    app.processEvents();

    const int fd = ::open(QFile::encodeName(QFileInfo(peer).canonicalFilePath()).constData(),
                          O_WRONLY | O_NOCTTY);
    if (fd < 0) {
        std::perror("open peer");
        return 1;
    }
    const QString logName = CInputLog::FileNameFor(QDateTime::currentDateTime());

    // Bulk: the writer pushes as fast as the pty takes it.
    QElapsedTimer timer;
    timer.start();
    std::atomic<bool> bWriterDone{false};
    std::thread writer([&] {
        std::vector<char> chunk(65536);
        for (qint64 sent = 0; sent < nTotal;) {
            const qint64 n = std::min<qint64>(qint64(chunk.size()), nTotal - sent);
            for (qint64 i = 0; i < n; ++i)
                chunk[size_t(i)] = PatternByte(sent + i);
            qint64 off = 0;
            while (off < n) {
                const ssize_t w = ::write(fd, chunk.data() + off, size_t(n - off));
                if (w > 0)
                    off += w;
            }
            sent += n;
        }
        bWriterDone = true;
    });
    qint64 nLongestGapMs = 0;
    qint64 nLastChange = 0;
    qint64 nLastRx = -1;
    while (QFileInfo(dir.filePath(logName)).size() < nTotal && timer.elapsed() < 600000) {
        app.processEvents(QEventLoop::AllEvents, 2);
        const qint64 rx = dlg.GetRxCount();
        if (rx != nLastRx) {
            nLongestGapMs = std::max(nLongestGapMs, timer.elapsed() - nLastChange);
            nLastChange = timer.elapsed();
            nLastRx = rx;
        }
    }
    const double seconds = timer.elapsed() / 1000.0;
    writer.join();

    QFile log(dir.filePath(logName));
    bool bExact = log.open(QIODevice::ReadOnly) && log.size() == nTotal;
    for (qint64 pos = 0; bExact && pos < nTotal;) {
        const QByteArray piece = log.read(1 << 20);
        for (int i = 0; i < piece.size() && bExact; ++i)
            bExact = piece[i] == PatternByte(pos + i);
        pos += piece.size();
        if (piece.isEmpty())
            break;
    }

    // Delay: one short line at a time into an idle terminal, until the view
    // shows it.
    std::vector<double> delays;
    for (int i = 0; i < 50; ++i) {
        const QByteArray marker = QByteArray("<mark") + QByteArray::number(1000 + i) + ">";
        const QString shown = bHex ? QString::fromLatin1(QByteArray(marker).toHex(' ').toUpper())
                                   : QString::fromLatin1(marker);
        QElapsedTimer t;
        t.start();
        if (::write(fd, marker.constData(), size_t(marker.size())) != marker.size())
            break;
        while (t.elapsed() < 2000) {
            app.processEvents(QEventLoop::AllEvents, 1);
            const QStringList rows = dlg.DataView()->VisibleRows();
            const QString tail = rows.mid(std::max(0, int(rows.size()) - 3)).join(QString());
            const QString want = bHex ? QString(shown).replace(QLatin1Char(' '), QLatin1String("] ["))
                                      : shown;
            if (tail.contains(want))
                break;
        }
        delays.push_back(t.nsecsElapsed() / 1e6);
        QThread::msleep(20);
    }
    std::sort(delays.begin(), delays.end());

    ::close(fd);
    socat.terminate();
    socat.waitForFinished(3000);

    std::printf("mode %s, %lld MiB\n", bHex ? "hex" : "text", nTotal >> 20);
    std::printf("sustained      %.1f MB/s (%.2f s)\n", nTotal / seconds / 1e6, seconds);
    std::printf("log            %s\n", bExact ? "every byte, in order" : "MISMATCH");
    std::printf("peak RSS       %.1f MB\n", PeakRssKiB() / 1024.0);
    std::printf("longest stall of the window between two sightings of new data  %lld ms\n", nLongestGapMs);
    if (!delays.empty())
        std::printf("arrival to view delay  median %.1f ms, max %.1f ms (%zu samples)\n",
                    delays[delays.size() / 2], delays.back(), delays.size());
    return bExact ? 0 : 1;
}
