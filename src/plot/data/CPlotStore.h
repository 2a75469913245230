#pragma once
// The values a plot holds: series by label, in the order they first came,
// each a list of points (time, value) in arrival order, and the rows (one
// per line that gave values, with its time) the points came from, so that
// an export gives back each line's values exactly.
//
// Memory: 12 bytes a point (the row's number and the value) and 8 bytes a
// row (its time), in arrays that grow by doubling but never beyond what the
// limit needs: about 13 bytes a point when lines carry 10 values, 20 when
// they carry one.
//
// Limits, each counted when reached (Counts):
// - kMaxSeries series. A value whose label would be another one, or whose
//   label is longer than kMaxLabelBytes, is dropped.
// - A label given twice in one line: the first value counts, the others are
//   dropped.
// - At most MaxPoints() points (kMaxPoints unless a test asks for fewer).
//   Every value is kept until then; a line that would pass the limit first
//   drops the oldest lines, whole lines holding DropBatch() points (one
//   sixteenth of the limit) more than the new line needs, so the cost of
//   dropping is shared by many lines. Once the limit was reached the store
//   holds between about MaxPoints() - DropBatch() - 2 * kMaxSeries and
//   MaxPoints() points.
// - Times must not go back, or the search by time fails: a line that
//   arrived before the one before it (the system clock was set back) is
//   placed at that line's time, and every later line as much later as the
//   clock went back, so the lines keep their order and their spacing; the
//   store counts each such step.
//
// Queries for the painter find the time range by binary search and cost
// O(points in it) at worst: Decimate gives each pixel column's minimum,
// maximum, first and last value. The columns' bounds are found once per
// frame among the rows (ColumnRows); each series then finds its points of a
// column by a galloping search and reads only their values.
//
// A plain object, used by one thread at a time (the plot window's
// user-interface thread, or the log reader's). Copyable, so that a copy can
// be written to a file on a thread of its own.

#include "PlotTypes.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <vector>

class CPlotStore : public CPlotRowSink
{
public:
    static constexpr int kMaxSeries = 64;
    static constexpr qsizetype kMaxLabelBytes = 64;
    static constexpr qsizetype kMaxPoints = 2000000;

    struct SCounts
    {
        qint64 nNoSeries = 0;   // values dropped: no series for their label
        qint64 nRepeated = 0;   // values dropped: their label came twice in a line
        qint64 nOldPoints = 0;  // oldest points dropped at the limit
        qint64 nOldRows = 0;    // the lines they came from
        qint64 nClockSteps = 0; // lines that arrived before the one before
    };

    // One pixel column's points (nPoints 0: none).
    struct SColumn
    {
        double dMin;
        double dMax;
        double dFirst;
        double dLast;
        int nPoints;
    };
    struct SPoint
    {
        qint64 nTime;
        double dValue;
    };
    // A series' points in a time window, one column per pixel, and the
    // points just outside it (for lines that run to the edges).
    struct SDecimated
    {
        std::vector<SColumn> columns;
        bool bBefore = false;
        SPoint before{0, 0};
        bool bAfter = false;
        SPoint after{0, 0};
    };

    // nMaxPoints: the limit (at least 2 * kMaxSeries).
    explicit CPlotStore(qsizetype nMaxPoints = kMaxPoints);

    void AddRow(qint64 nWallUs, const SPlotValue* pValues, qsizetype nValues) override;
    // Empties the store, its counts and its series.
    void ClearRows() override;
    // Forgets the oldest nRows rows and their points, keeping the series (in
    // their order) and where the clock stands: what a reader that writes the
    // rows as they come (vornterm-log --plot-csv) does once it wrote them.
    // Returns the points dropped.
    qsizetype DropRows(qsizetype nRows);

    qsizetype MaxPoints() const { return m_nMaxPoints; }
    qsizetype DropBatch() const { return m_nDropBatch; }
    const SCounts& Counts() const { return m_counts; }

    int SeriesCount() const { return int(m_series.size()); }
    // The label as it came (bytes), and as text (UTF-8; bytes that are not
    // shown as U+FFFD).
    const QByteArray& Label(int nSeries) const { return m_series[size_t(nSeries)].label; }
    QString LabelText(int nSeries) const { return QString::fromUtf8(Label(nSeries)); }
    // The series of a label; -1 when there is none.
    int FindSeries(QByteArrayView label) const;

    qsizetype PointCount() const { return m_nPoints; }
    qsizetype PointCount(int nSeries) const
    {
        return qsizetype(m_series[size_t(nSeries)].values.size());
    }
    SPoint Point(int nSeries, qsizetype nIndex) const;
    // The row point nIndex of the series came from.
    qsizetype PointRow(int nSeries, qsizetype nIndex) const
    {
        return qsizetype(m_series[size_t(nSeries)].rows[size_t(nIndex)]);
    }
    // The series' newest point; false when it has none.
    bool Last(int nSeries, SPoint* pPoint) const;

    qsizetype RowCount() const { return qsizetype(m_rowTimes.size()); }
    qint64 RowTime(qsizetype nRow) const { return m_rowTimes[size_t(nRow)]; }
    // The first and last row's time; kPlotNoTime when there is no row.
    qint64 FirstTime() const { return m_rowTimes.empty() ? kPlotNoTime : m_rowTimes.front(); }
    qint64 LastTime() const { return m_rowTimes.empty() ? kPlotNoTime : m_rowTimes.back(); }

    // Where the columns of a time window end among the rows: a row at time t
    // falls in column floor((t - nFrom) * nColumns / (nTo - nFrom)), exactly.
    struct SColumnRows
    {
        qsizetype nRowFrom = 0;      // the first row at or after nFrom
        qsizetype nRowTo = 0;        // the first row at or after nTo
        std::vector<qsizetype> ends; // per column, the first row after it
    };
    void ColumnRows(qint64 nFrom, qint64 nTo, int nColumns, SColumnRows& out) const;
    // The points of a series in the window of `columns`, one SColumn per
    // pixel column, plus the last point before the window and the first
    // after it.
    void Decimate(int nSeries, const SColumnRows& columns, SDecimated& out) const;
    // The same for the window [nFrom, nTo) in nColumns columns.
    void Decimate(int nSeries, qint64 nFrom, qint64 nTo, int nColumns, SDecimated& out) const;
    // The series' last point at or before nTime; false when none.
    bool ValueAt(int nSeries, qint64 nTime, SPoint* pPoint) const;

    // Bytes the store holds in its arrays (their capacity), for figures.
    qint64 MemoryBytes() const;

private:
    struct SSeries
    {
        QByteArray label;
        // Row numbers (counted from the first row kept) and values.
        std::vector<quint32> rows;
        std::vector<double> values;
    };
    int SeriesFor(QByteArrayView label);
    // Drops the oldest rows holding at least nPoints points.
    void DropOldest(qsizetype nPoints);
    // The first of the series' points that came from row nRow or later.
    static qsizetype FirstPointFrom(const SSeries& series, qsizetype nRow);
    template <typename T> void Grow(std::vector<T>& v) const;

    qsizetype m_nMaxPoints;
    qsizetype m_nDropBatch;
    std::vector<SSeries> m_series;
    QHash<QByteArray, int> m_index; // label -> series
    std::vector<qint64> m_rowTimes;
    qsizetype m_nPoints = 0;
    // Times placed later because the clock went back: by how much, and the
    // last time given, which the next must not go before.
    qint64 m_nShiftUs = 0;
    qint64 m_nLastTime = kPlotNoTime;
    SCounts m_counts;
};
