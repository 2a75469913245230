// Find over a full receive buffer (500,000 bytes): the whole search, with and
// without "match case", for a pattern with many matches, one with a few and
// one with none; and the update after a block arrives. The goal: a whole
// search in at most 10 ms.
//
//   build/bench/bench_find [rounds=50]

#include "CFindMatches.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Lines of a device's log: readings, a status word now and then.
QByteArray Buffer(qsizetype nSize)
{
    QByteArray b;
    b.reserve(nSize);
    for (int i = 0; b.size() < nSize; ++i) {
        b += "T=" + QByteArray::number(20 + i % 17) + "." + QByteArray::number(i % 10) +
             " P=" + QByteArray::number(1000 + i % 31) + (i % 97 == 0 ? " ALARM\r\n" : " OK\r\n");
    }
    b.truncate(nSize);
    return b;
}

double MedianMs(std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2] / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    const int nRounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const QByteArray buffer = Buffer(500000);
    std::printf("%-10s %-10s %8s %12s %12s\n", "pattern", "case", "matches", "median ms",
                "max ms");
    double dWorst = 0;
    for (const char* pattern : {"OK", "ALARM", "NOT THERE"}) {
        for (const bool bCase : {true, false}) {
            std::vector<qint64> ns;
            int nMatches = 0;
            for (int r = 0; r < nRounds; ++r) {
                CFindMatches find;
                QElapsedTimer t;
                t.start();
                find.Search(buffer, 0, pattern, bCase);
                ns.push_back(t.nsecsElapsed());
                nMatches = find.Count();
            }
            const double dMax = *std::max_element(ns.begin(), ns.end()) / 1e6;
            dWorst = std::max(dWorst, MedianMs(ns));
            std::printf("%-10s %-10s %8d %12.3f %12.3f\n", pattern,
                        bCase ? "match case" : "any case", nMatches, MedianMs(ns), dMax);
        }
    }
    // After a 64-byte block: only the new bytes are searched.
    CFindMatches find;
    QByteArray grown = buffer;
    find.Search(grown, 0, "OK", false);
    std::vector<qint64> ns;
    for (int r = 0; r < nRounds; ++r) {
        grown += QByteArray(" 21.3 OK\r\n").repeated(6).left(64);
        QElapsedTimer t;
        t.start();
        find.Update(grown, 0);
        ns.push_back(t.nsecsElapsed());
    }
    std::printf("update after a 64-byte block: median %.4f ms\n", MedianMs(ns));
    std::printf("whole search, worst median %.3f ms (goal <= 10 ms: %s)\n", dWorst,
                dWorst <= 10 ? "met" : "not met");
    return 0;
}
