#pragma once
// What the plot room takes in and hands on: received bytes with their arrival
// times (the feed), and the values of one received line (a row).
// Plain values and interfaces; a feed or a sink is driven by one thread at a
// time, the one that owns it (the plot window: the user-interface thread; the
// log reader: its only thread).

#include <QByteArrayView>
#include <QVarLengthArray>
#include <QtGlobal>
#include <limits>

// A byte without an arrival time (the echo of what was sent).
constexpr qint64 kPlotNoTime = std::numeric_limits<qint64>::min();

// Where a part of a block begins and when it arrived: the wall clock in
// microseconds since 1970 UTC, or kPlotNoTime.
struct SPlotTimeMark
{
    qint64 nOffset;
    qint64 nWallUs;
};

// The arrival times of one block: marks in order of offset, the first at
// offset 0. A byte's time is that of the last mark at or before its offset;
// no marks at all, or bytes before the first mark, have no time.
using PlotTimes = QVarLengthArray<SPlotTimeMark, 4>;

inline PlotTimes PlotTimesAt(qint64 nWallUs)
{
    PlotTimes times;
    times.append(SPlotTimeMark{0, nWallUs});
    return times;
}

// Whoever takes received bytes for the plot: the parser, and the plot window
// that forwards them to its parser.
class CPlotFeed
{
public:
    virtual ~CPlotFeed() = default;
    // The next n received bytes, in the order they arrived. A line may be
    // split across any number of calls.
    virtual void Feed(const char* p, qsizetype n, const PlotTimes& times) = 0;
    // The received bytes were discarded: everything taken so far is
    // forgotten, the line being read too.
    virtual void Clear() = 0;
};

// One value of a line: its series' label ("temp", or "1", "2", ... for
// numbers by position) and the number. The label points into the parser's
// memory and is valid only during the call that passes it.
struct SPlotValue
{
    QByteArrayView label;
    double dValue;
};

// Who takes the values of each line that carried any.
class CPlotRowSink
{
public:
    virtual ~CPlotRowSink() = default;
    // The values of one line, in the order the line gave them (at least
    // one), with the arrival time of the line's first byte.
    virtual void AddRow(qint64 nWallUs, const SPlotValue* pValues, qsizetype nValues) = 0;
    // Everything was discarded (CPlotFeed::Clear).
    virtual void ClearRows() = 0;
};
