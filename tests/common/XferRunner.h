#pragma once
// Runs transfer engines over file descriptors (pseudo-terminals' ends) with
// poll() and the real monotonic clock, as the program's port does: what a
// descriptor reads goes into its engine, what the engine appends goes out,
// and Tick() is called when its deadline comes. Several transfers run side by
// side in one loop. Ends when every engine has ended, wants no more bytes
// and its last bytes are written, or after nLimitMs. Test thread.

#include "CXferEngine.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <unistd.h>
#include <vector>

// Called once a turn, before the engine's bytes go out: a suite's user
// cancels here.
using XferTurn = std::function<void(CXferEngine& engine, qint64 nNowMs, QByteArray* pOut)>;

struct SXferRun
{
    CXferEngine* pEngine = nullptr;
    int fd = -1;
    XferTurn onTurn;
    QByteArray out;
    bool bOver = false; // ended, no more bytes wanted, and its last bytes written
};

// False when some engine had not ended (or its last bytes were not written)
// within nLimitMs.
inline bool RunXfers(std::vector<SXferRun>& runs, int nLimitMs)
{
    QElapsedTimer clock; // monotonic
    clock.start();
    for (SXferRun& run : runs) {
        ::fcntl(run.fd, F_SETFL, ::fcntl(run.fd, F_GETFL) | O_NONBLOCK);
        run.pEngine->Start(clock.elapsed(), &run.out);
    }
    std::vector<pollfd> polls(runs.size());
    char buf[65536];
    while (clock.elapsed() < nLimitMs) {
        qint64 nNext = clock.elapsed() + 50;
        bool bAllOver = true;
        for (size_t i = 0; i < runs.size(); ++i) {
            SXferRun& run = runs[i];
            if (run.onTurn)
                run.onTurn(*run.pEngine, clock.elapsed(), &run.out);
            if (!run.out.isEmpty()) {
                const ssize_t n = ::write(run.fd, run.out.constData(), size_t(run.out.size()));
                if (n > 0)
                    run.out.remove(0, qsizetype(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return false;
            }
            run.bOver = !run.pEngine->WantsBytes(clock.elapsed()) && run.out.isEmpty();
            bAllOver = bAllOver && run.bOver;
            nNext = qMin(nNext, run.pEngine->NextDeadline());
            polls[i] = {run.fd, short(run.bOver ? 0 : POLLIN | (run.out.isEmpty() ? 0 : POLLOUT)),
                        0};
        }
        if (bAllOver)
            return true;
        ::poll(polls.data(), nfds_t(polls.size()),
               int(qBound(qint64(0), nNext - clock.elapsed(), qint64(50))));
        for (SXferRun& run : runs) {
            for (int nReads = 0; nReads < 64 && !run.bOver; ++nReads) {
                const ssize_t n = ::read(run.fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                run.pEngine->Receive(buf, qsizetype(n), clock.elapsed(), &run.out);
            }
            run.pEngine->Tick(clock.elapsed(), &run.out);
        }
    }
    return false;
}
