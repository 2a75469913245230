#pragma once
// Where the plot's axes get their marks and labels: values at 1, 2 or 5
// times a power of ten, times at steps a reader counts in (1, 2, 5 ... ms,
// 1, 2, 5, 10, 15, 30 s, minutes, hours, days), on the local clock.
// Plain functions: any thread.

#include <QString>
#include <QtGlobal>
#include <vector>

namespace PlotTicks {

// Marks at multiples of a 1-2-5 step inside [dLo, dHi], at most about nMax
// of them (at least one step's worth).
std::vector<double> ValueTicks(double dLo, double dHi, int nMax);
// The mark's text, without the noise of the multiplication: "0.3",
// "12000", "1.5e+08".
QString ValueText(double dValue, double dStep);

// The time step (microseconds) for at most about nMax marks in nSpanUs.
qint64 TimeStep(qint64 nSpanUs, int nMax);
// Marks (wall microseconds) at multiples of nStepUs of the local clock in
// [nFrom, nTo).
std::vector<qint64> TimeTicks(qint64 nFrom, qint64 nTo, qint64 nStepUs);
// A mark's local time as precise as the step needs: "14:03", "14:03:10",
// "14:03:10.25", "12-08 14:00".
QString TimeText(qint64 nWallUs, qint64 nStepUs);
// A time in full on the local clock, for the cursor: "14:03:10.123456".
QString CursorTime(qint64 nWallUs);

} // namespace PlotTicks
