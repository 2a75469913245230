// Hands blocks of a few KB to the day's log in a temporary directory, as the
// port's thread does, and prints two figures: the receive side (time spent in
// CInputLog::Write, the hand-over) and the log's own rate (from the first block
// until every byte is in the file). Whenever the backlog passes a bound (half
// the queue's cap unless given), the loop lets the writer catch up, untimed
// for the receive side, so that nothing is dropped; a backlog costs the
// receive side fresh memory, a small bound shows a writer that keeps up.
// Each run is made twice without and twice with the timing index beside the
// log; the figures compare them and give the index's size a MB of log.
// Usage: bench_inputlog [block bytes] [total MB] [backlog MB]
#include "CInputLog.h"
#include "LogIndexFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nBlock = argc > 1 ? std::atoi(argv[1]) : 4096;
    const qint64 nTotalMb = argc > 2 ? std::atoll(argv[2]) : 256;
    const qint64 nBacklog =
        argc > 3 ? std::atoll(argv[3]) * 1024 * 1024 : CInputLog::kDefaultQueueCap / 2;
    if (nBlock <= 0 || nTotalMb <= 0 || nBacklog <= 0 || nBacklog > CInputLog::kDefaultQueueCap)
        return 2;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;

    QByteArray block(nBlock, '\0');
    for (int i = 0; i < nBlock; ++i)
        block[i] = char(i * 31 + 7);
    const qint64 nBlocks = nTotalMb * 1024 * 1024 / nBlock;

    // The same run without and with the timing index beside the log, in
    // turn, twice: the index's cost in rate and in CPU per MB, and its size.
    struct SRun
    {
        double dRate = 0;  // MB/s into the file
        double dCpu = 0;   // CPU seconds of the process a MB
        double dIndex = 0; // index bytes a MB of log
    };
    const QString strLog = CInputLog::FileNameFor(QDateTime::currentDateTime());
    const auto run = [&](bool bIndex, SRun* pRun) {
        QFile::remove(strLog);
        QFile::remove(LogIndex::IndexNameFor(strLog));
        CInputLog log;
        log.SetIndexing(bIndex);
        QElapsedTimer wall;
        QElapsedTimer handOver;
        qint64 nHandOverNs = 0;
        const std::clock_t cpu0 = std::clock();
        wall.start();
        for (qint64 i = 0; i < nBlocks; ++i) {
            handOver.start();
            const bool bTaken = log.Write(block.constData(), nBlock);
            nHandOverNs += handOver.nsecsElapsed();
            if (!bTaken) {
                std::fprintf(stderr, "bytes dropped: %s\n", qPrintable(log.FailureText()));
                return false;
            }
            if (i % 16 == 0 && log.QueuedBytes() > nBacklog)
                log.Flush(60000);
        }
        if (!log.Flush(60000)) {
            std::fprintf(stderr, "not written: %s\n", qPrintable(log.FailureText()));
            return false;
        }
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpuSeconds = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
        const double handOverSeconds = double(nHandOverNs) / 1e9;
        const double mb = double(nBlocks) * nBlock / 1e6;
        const qint64 nIndex = QFileInfo(LogIndex::IndexNameFor(strLog)).size();
        std::printf("%lld blocks of %d bytes, %.1f MB, backlog up to %lld MB, index %s\n", nBlocks,
                    nBlock, mb, nBacklog / (1024 * 1024), bIndex ? "on" : "off");
        std::printf("  receive side  %.3f s = %.0f ns a block (%.0f blocks/s)\n", handOverSeconds,
                    handOverSeconds * 1e9 / double(nBlocks), double(nBlocks) / handOverSeconds);
        std::printf("  into the file %.3f s = %.1f MB/s, CPU %.4f s a MB\n", seconds, mb / seconds,
                    cpuSeconds / mb);
        if (bIndex && !log.IndexFailureText().isEmpty())
            std::fprintf(stderr, "index: %s\n", qPrintable(log.IndexFailureText()));
        std::printf("  index         %lld bytes = %.0f bytes a MB of log\n", nIndex,
                    double(nIndex) / mb);
        pRun->dRate += mb / seconds / 2;
        pRun->dCpu += cpuSeconds / mb / 2;
        pRun->dIndex = double(nIndex) / mb;
        return QFileInfo(strLog).size() >= qint64(nBlocks) * nBlock;
    };
    SRun off, on;
    for (int nRound = 0; nRound < 2; ++nRound) {
        if (!run(false, &off) || !run(true, &on))
            return 1;
    }
    std::printf("index on against off (mean of 2 runs each): rate %+.1f %%, CPU a MB %+.1f %%, "
                "%.0f index bytes a MB\n",
                (on.dRate / off.dRate - 1) * 100, (on.dCpu / off.dCpu - 1) * 100, on.dIndex);
    return 0;
}
