// Hands blocks of a few KB to the day's log in a temporary directory, as the
// port's thread does, and prints two figures: the receive side (time spent in
// CInputLog::Write, the hand-over) and the log's own rate (from the first block
// until every byte is in the file). Whenever the backlog passes a bound (half
// the queue's cap unless given), the loop lets the writer catch up, untimed
// for the receive side, so that nothing is dropped; a backlog costs the
// receive side fresh memory, a small bound shows a writer that keeps up.
// Usage: bench_inputlog [block bytes] [total MB] [backlog MB]
#include "CInputLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

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

    CInputLog log;
    QElapsedTimer wall;
    QElapsedTimer handOver;
    qint64 nHandOverNs = 0;
    wall.start();
    for (qint64 i = 0; i < nBlocks; ++i) {
        handOver.start();
        const bool bTaken = log.Write(block.constData(), nBlock);
        nHandOverNs += handOver.nsecsElapsed();
        if (!bTaken) {
            std::fprintf(stderr, "bytes dropped: %s\n", qPrintable(log.FailureText()));
            return 1;
        }
        if (i % 16 == 0 && log.QueuedBytes() > nBacklog)
            log.Flush(60000);
    }
    if (!log.Flush(60000)) {
        std::fprintf(stderr, "not written: %s\n", qPrintable(log.FailureText()));
        return 1;
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double handOverSeconds = double(nHandOverNs) / 1e9;
    const double mb = double(nBlocks) * nBlock / 1e6;
    std::printf("%lld blocks of %d bytes, %.1f MB, backlog up to %lld MB\n", nBlocks, nBlock, mb,
                nBacklog / (1024 * 1024));
    std::printf("  receive side  %.3f s = %.0f ns a block (%.0f blocks/s)\n", handOverSeconds,
                handOverSeconds * 1e9 / double(nBlocks), double(nBlocks) / handOverSeconds);
    std::printf("  into the file %.3f s = %.1f MB/s\n", seconds, mb / seconds);
    const QFileInfo file(CInputLog::FileNameFor(QDateTime::currentDateTime()));
    return file.size() >= qint64(nBlocks) * nBlock ? 0 : 1;
}
