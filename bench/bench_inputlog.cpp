// Appends blocks of a few KB to the day's log in a temporary directory and
// prints the rate. Usage: bench_inputlog [block bytes] [total MB]
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
    if (nBlock <= 0 || nTotalMb <= 0)
        return 2;

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;

    QByteArray block(nBlock, '\0');
    for (int i = 0; i < nBlock; ++i)
        block[i] = char(i * 31 + 7);
    const qint64 nBlocks = nTotalMb * 1024 * 1024 / nBlock;

    CInputLog log;
    QElapsedTimer timer;
    timer.start();
    for (qint64 i = 0; i < nBlocks; ++i) {
        if (!log.Write(block.constData(), nBlock)) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(log.FailureText()));
            return 1;
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double mb = double(nBlocks) * nBlock / 1e6;
    std::printf("%lld blocks of %d bytes: %.1f MB in %.3f s = %.1f MB/s (%.0f blocks/s)\n", nBlocks,
                nBlock, mb, seconds, mb / seconds, double(nBlocks) / seconds);
    const QFileInfo file(CInputLog::FileNameFor(QDateTime::currentDateTime()));
    return file.size() >= qint64(nBlocks) * nBlock ? 0 : 1;
}
