// Hands blocks of a few KB to the day's log in a temporary directory, as the
// port's thread does, and prints two figures: the receive side (time spent in
// CInputLog::Write, the hand-over) and the log's own rate (from the first block
// until every byte is in the file). Whenever the backlog passes a bound (half
// the queue's cap unless given), the loop lets the writer catch up, untimed
// for the receive side, so that nothing is dropped; a backlog costs the
// receive side fresh memory, a small bound shows a writer that keeps up.
// Each run is made twice without and twice with the timing index beside the
// log; the figures compare them and give the index's size a MB of log.
// With --every=US the blocks carry arrival times US microseconds apart (as a
// line delivers them) instead of the time they are handed over.
// With --sent, the index's growth from bytes sent instead: keys typed alone
// and amid a received stream, and a 64 MiB file sent in pieces.
// Usage: bench_inputlog [block bytes] [total MB] [backlog MB] [--every=US]
//        bench_inputlog --sent
#include "CInputLog.h"
#include "LogIndexFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// The index's bytes after the writer has done with what it was given.
qint64 IndexBytes(CInputLog& log, const QString& strLog)
{
    if (!log.Flush(60000))
        std::fprintf(stderr, "not written: %s\n", qPrintable(log.FailureText()));
    return QFileInfo(LogIndex::IndexNameFor(strLog)).size();
}

// Sent records: what typing costs, and what a large file send does, at
// arrival times a line would give them (no waiting: the times are made up).
int MeasureSent()
{
    const QString strLog = CInputLog::FileNameFor(QDateTime::currentDateTime());
    const KrTimeStamp start = KrTimeStamp::Now();
    const auto at = [&](qint64 nUs) {
        return KrTimeStamp{start.nWallUs + nUs, start.nMonoUs + nUs};
    };
    const auto fresh = [&] {
        QFile::remove(strLog);
        QFile::remove(LogIndex::IndexNameFor(strLog));
    };
    constexpr int kKeys = 10000;
    constexpr qint64 kKeyUs = 150000; // about 7 keys a second
    // Keys alone, then keys amid 12-byte reads every 1.04 ms (115200 baud),
    // against the same stream without them.
    for (const bool bStream : {false, true}) {
        for (const bool bKeys : {false, true}) {
            if (!bStream && !bKeys)
                continue;
            fresh();
            CInputLog log;
            const qint64 nEnd = kKeys * kKeyUs;
            qint64 nNextKey = 0, nBlocks = 0;
            for (qint64 t = 0; t < nEnd; t += bStream ? 1042 : kKeyUs) {
                if (bKeys && t >= nNextKey) {
                    log.WriteSent(QByteArray("k"), at(t));
                    nNextKey += kKeyUs;
                }
                if (bStream)
                    log.Write(QByteArray(12, 'r'), KrBlockTimes(at(t)));
                // The writer takes what came about once a second of the
                // line's time, as it would (and no entry outgrows its
                // arrival times).
                if (bStream && ++nBlocks % 1000 == 0)
                    log.Flush(60000);
            }
            const qint64 nIndex = IndexBytes(log, strLog);
            std::printf("%s%s: %lld index bytes for %.0f s, %.1f a key%s\n",
                        bKeys ? "10000 keys typed 150 ms apart" : "no keys",
                        bStream ? ", amid 12-byte reads every 1.042 ms" : "", nIndex,
                        double(nEnd) / 1e6, bKeys ? double(nIndex) / kKeys : 0.0,
                        bStream ? QStringLiteral(" (log %1 bytes)")
                                      .arg(QFileInfo(strLog).size())
                                      .toLatin1()
                                      .constData()
                                : "");
        }
    }
    // 64 MiB sent: in the file send's pieces of 1 MiB, and in 4 KiB pieces as
    // a port might take them, 355 ms apart (115200 baud); handed over as the
    // pieces of one send, or each as a send of its own.
    for (const bool bJoined : {true, false}) {
        for (const qint64 nPiece : {qint64(1024 * 1024), qint64(4096)}) {
            fresh();
            CInputLog log;
            const QByteArray piece(int(nPiece), 's');
            const qint64 nPieces = qint64(64) * 1024 * 1024 / nPiece;
            for (qint64 i = 0; i < nPieces; ++i)
                log.WriteSent(piece, at(i * nPiece * 10 * 1000000 / 115200), bJoined && i > 0);
            const qint64 nIndex = IndexBytes(log, strLog);
            std::printf("64 MiB sent in %lld pieces of %lld bytes, %s: %lld index bytes "
                        "(%.1f a piece), %.4f %% of what was sent\n",
                        nPieces, nPiece, bJoined ? "one send" : "each a send of its own", nIndex,
                        double(nIndex) / double(nPieces),
                        100.0 * double(nIndex) / (64.0 * 1024 * 1024));
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    if (args.contains(QStringLiteral("--sent")))
        return MeasureSent();
    qint64 nEveryUs = 0;
    for (const QString& arg : QStringList(args)) {
        if (arg.startsWith(QStringLiteral("--every="))) {
            nEveryUs = arg.mid(8).toLongLong();
            args.removeOne(arg);
            if (nEveryUs <= 0)
                return 2;
        }
    }
    const int nBlock = args.size() > 0 ? args[0].toInt() : 4096;
    const qint64 nTotalMb = args.size() > 1 ? args[1].toLongLong() : 256;
    const qint64 nBacklog =
        args.size() > 2 ? args[2].toLongLong() * 1024 * 1024 : CInputLog::kDefaultQueueCap / 2;
    if (nBlock <= 0 || nTotalMb <= 0 || nBacklog <= 0 || nBacklog > CInputLog::kDefaultQueueCap)
        return 2;

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
        const KrTimeStamp start = KrTimeStamp::Now();
        for (qint64 i = 0; i < nBlocks; ++i) {
            handOver.start();
            const bool bTaken =
                nEveryUs > 0
                    ? log.Write(block, KrBlockTimes(KrTimeStamp{start.nWallUs + i * nEveryUs,
                                                                start.nMonoUs + i * nEveryUs}))
                    : log.Write(block.constData(), nBlock);
            nHandOverNs += handOver.nsecsElapsed();
            if (!bTaken) {
                std::fprintf(stderr, "bytes dropped: %s\n", qPrintable(log.FailureText()));
                return false;
            }
            // With made-up arrival times the writer is given each 1000
            // blocks, as it would take them while they came.
            if ((i % 16 == 0 && log.QueuedBytes() > nBacklog) || (nEveryUs > 0 && i % 1000 == 999))
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
        std::printf(
            "%lld blocks of %d bytes%s, %.1f MB, backlog up to %lld MB, index %s\n", nBlocks,
            nBlock,
            nEveryUs > 0 ? qPrintable(QStringLiteral(", arriving %1 us apart").arg(nEveryUs)) : "",
            mb, nBacklog / (1024 * 1024), bIndex ? "on" : "off");
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
                "%.0f index bytes a MB (%.3f %%)\n",
                (on.dRate / off.dRate - 1) * 100, (on.dCpu / off.dCpu - 1) * 100, on.dIndex,
                on.dIndex / 1e4);
    return 0;
}
