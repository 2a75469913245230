#pragma once
// A proxy between the engine's line and a peer program's (the ends of
// pseudo-terminal pairs) that damages, loses, delays or adds bytes, on a
// thread of its own. The peer's side may be two descriptors, one each way.
// Every byte takes
// nLatencyMs to go through, as on a real line (a peer that discards its input
// right after it answers would lose bytes that come back at once). Each
// direction takes CLine's rules plus delay@N=MS (the byte at offset N and
// everything after it wait MS milliseconds more). Created, started and stopped on the test
// thread; the pump runs on its own thread until Stop() or destruction.

#include "XferLine.h"

#include <QElapsedTimer>

#include <atomic>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <time.h>
#include <unistd.h>

class CXferProxy
{
public:
    // fdEngine: the engine's side; fdToPeer, fdFromPeer: the peer program's
    // side (the same descriptor or two). toPeer, toEngine: the rules of each
    // direction.
    CXferProxy(int fdEngine, int fdToPeer, int fdFromPeer, const QStringList& toPeer,
               const QStringList& toEngine, int nLatencyUs)
        : m_dirs{SDir(fdEngine, fdToPeer, toPeer), SDir(fdFromPeer, fdEngine, toEngine)},
          m_nLatencyNs(qint64(nLatencyUs) * 1000)
    {
        for (int fd : {fdEngine, fdToPeer, fdFromPeer})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { Pump(); });
    }
    ~CXferProxy() { Stop(); }
    CXferProxy(const CXferProxy&) = delete;
    CXferProxy& operator=(const CXferProxy&) = delete;

    void Stop()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    struct SDir
    {
        SDir(int from, int to, const QStringList& rules)
            : fdFrom(from), fdTo(to), line(Plain(rules))
        {
            static const QRegularExpression delay(QStringLiteral("^delay@(\\d+)=(\\d+)$"));
            for (const QString& rule : rules) {
                const QRegularExpressionMatch m = delay.match(rule);
                if (m.hasMatch()) {
                    nDelayAt = m.captured(1).toLongLong();
                    nDelayMs = m.captured(2).toInt();
                }
            }
        }
        static QStringList Plain(QStringList rules)
        {
            rules.removeIf([](const QString& r) { return r.startsWith(QLatin1String("delay@")); });
            return rules;
        }
        int fdFrom, fdTo;
        CLine line;
        qint64 nDelayAt = -1;
        int nDelayMs = 0;
        qint64 nReleaseNs = -1;                             // while delayed: when `waiting` goes on
        QByteArray waiting;                                 // read, not yet passed through the line
        std::deque<std::pair<qint64, QByteArray>> inFlight; // passed, and when (ns) they arrive
        QByteArray out;                                     // arrived, not yet written
    };

    void Pump()
    {
        QElapsedTimer clock;
        clock.start();
        char buf[65536];
        while (!m_bStop) {
            pollfd p[2];
            qint64 nWakeNs = clock.nsecsElapsed() + 10 * 1000 * 1000;
            for (int i = 0; i < 2; ++i) {
                const SDir& d = m_dirs[i];
                p[i] = {d.fdFrom, POLLIN, 0};
                if (!d.inFlight.empty())
                    nWakeNs = qMin(nWakeNs, d.inFlight.front().first);
                if (!d.waiting.isEmpty())
                    nWakeNs = qMin(nWakeNs, d.nReleaseNs);
                if (!d.out.isEmpty()) // the other end was full: try again soon
                    nWakeNs = qMin(nWakeNs, clock.nsecsElapsed() + 100 * 1000);
            }
            const qint64 nWaitNs = qMax<qint64>(0, nWakeNs - clock.nsecsElapsed());
            const timespec wait{time_t(nWaitNs / 1000000000), long(nWaitNs % 1000000000)};
            ::ppoll(p, 2, &wait, nullptr);
            for (SDir& d : m_dirs) {
                const ssize_t n = ::read(d.fdFrom, buf, sizeof buf);
                if (n > 0)
                    d.waiting.append(buf, qsizetype(n));
                const qint64 nNow = clock.nsecsElapsed();
                if (!d.waiting.isEmpty() && (d.nReleaseNs < 0 || nNow >= d.nReleaseNs)) {
                    d.nReleaseNs = -1;
                    QByteArray passed;
                    const qint64 nAt = d.line.Offset();
                    if (d.nDelayAt >= nAt && d.nDelayAt < nAt + d.waiting.size()) {
                        // Up to the delayed byte now, the rest later.
                        passed = d.line.Pass(d.waiting.left(d.nDelayAt - nAt));
                        d.waiting.remove(0, d.nDelayAt - nAt);
                        d.nReleaseNs = nNow + qint64(d.nDelayMs) * 1000 * 1000;
                        d.nDelayAt = -1;
                    } else {
                        passed = d.line.Pass(std::exchange(d.waiting, QByteArray()));
                    }
                    if (!passed.isEmpty())
                        d.inFlight.emplace_back(nNow + m_nLatencyNs, passed);
                }
                while (!d.inFlight.empty() && d.inFlight.front().first <= nNow) {
                    d.out += d.inFlight.front().second;
                    d.inFlight.pop_front();
                }
                if (!d.out.isEmpty()) {
                    const ssize_t w = ::write(d.fdTo, d.out.constData(), size_t(d.out.size()));
                    if (w > 0)
                        d.out.remove(0, qsizetype(w));
                }
            }
        }
    }

    SDir m_dirs[2];
    qint64 m_nLatencyNs;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
