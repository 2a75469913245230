#include "CPlotStore.h"

#include <algorithm>

CPlotStore::CPlotStore(qsizetype nMaxPoints)
    : m_nMaxPoints(std::max<qsizetype>(nMaxPoints, 2 * kMaxSeries)),
      m_nDropBatch(std::max<qsizetype>(1, m_nMaxPoints / 16))
{
}

template <typename T> void CPlotStore::Grow(std::vector<T>& v) const
{
    // Doubling, but never past what the limit can need.
    if (v.size() < v.capacity())
        return;
    const size_t nLimit = size_t(m_nMaxPoints);
    const size_t nWant = std::max<size_t>(16, v.capacity() * 2);
    v.reserve(std::max(v.size() + 1, std::min(nWant, nLimit)));
}

int CPlotStore::FindSeries(QByteArrayView label) const
{
    return m_index.value(QByteArray::fromRawData(label.data(), label.size()), -1);
}

int CPlotStore::SeriesFor(QByteArrayView label)
{
    const int nSeries = FindSeries(label);
    if (nSeries >= 0)
        return nSeries;
    if (int(m_series.size()) >= kMaxSeries || label.size() > kMaxLabelBytes || label.isEmpty())
        return -1;
    SSeries series;
    series.label = label.toByteArray();
    m_series.push_back(std::move(series));
    m_index.insert(m_series.back().label, int(m_series.size()) - 1);
    return int(m_series.size()) - 1;
}

void CPlotStore::AddRow(qint64 nWallUs, const SPlotValue* pValues, qsizetype nValues)
{
    if (nValues <= 0 || nWallUs == kPlotNoTime)
        return;
    // A line keeps at most one value per series.
    const qsizetype nMost = std::min<qsizetype>(nValues, kMaxSeries);
    if (m_nPoints + nMost > m_nMaxPoints)
        DropOldest(m_nPoints + nMost - m_nMaxPoints + m_nDropBatch);

    qint64 nTime = nWallUs + m_nShiftUs;
    if (m_nLastTime != kPlotNoTime && nTime < m_nLastTime) {
        m_nShiftUs += m_nLastTime - nTime;
        nTime = m_nLastTime;
        ++m_counts.nClockSteps;
    }

    const quint32 nRow = quint32(m_rowTimes.size());
    qsizetype nAdded = 0;
    for (qsizetype i = 0; i < nValues; ++i) {
        const int nSeries = SeriesFor(pValues[i].label);
        if (nSeries < 0) {
            ++m_counts.nNoSeries;
            continue;
        }
        SSeries& series = m_series[size_t(nSeries)];
        if (!series.rows.empty() && series.rows.back() == nRow) {
            ++m_counts.nRepeated;
            continue;
        }
        Grow(series.rows);
        Grow(series.values);
        series.rows.push_back(nRow);
        series.values.push_back(pValues[i].dValue);
        ++nAdded;
    }
    if (nAdded == 0)
        return;
    Grow(m_rowTimes);
    m_rowTimes.push_back(nTime);
    m_nLastTime = nTime;
    m_nPoints += nAdded;
}

qsizetype CPlotStore::FirstPointFrom(const SSeries& series, qsizetype nRow)
{
    return std::lower_bound(series.rows.begin(), series.rows.end(), quint64(nRow),
                            [](quint32 a, quint64 b) { return a < b; }) -
           series.rows.begin();
}

void CPlotStore::DropOldest(qsizetype nPoints)
{
    // The fewest oldest rows that hold nPoints points (all when fewer).
    const auto pointsBefore = [&](qsizetype nRow) {
        qsizetype n = 0;
        for (const SSeries& series : m_series)
            n += FirstPointFrom(series, nRow);
        return n;
    };
    qsizetype nLo = 0, nHi = RowCount();
    while (nLo < nHi) {
        const qsizetype nMid = nLo + (nHi - nLo) / 2;
        if (pointsBefore(nMid) >= nPoints)
            nHi = nMid;
        else
            nLo = nMid + 1;
    }
    const qsizetype nDropped = DropRows(nLo);
    m_counts.nOldPoints += nDropped;
    m_counts.nOldRows += nLo;
}

qsizetype CPlotStore::DropRows(qsizetype nRows)
{
    nRows = std::clamp<qsizetype>(nRows, 0, RowCount());
    if (nRows == 0)
        return 0;
    qsizetype nDropped = 0;
    for (SSeries& series : m_series) {
        const qsizetype nFirst = FirstPointFrom(series, nRows);
        series.rows.erase(series.rows.begin(), series.rows.begin() + nFirst);
        series.values.erase(series.values.begin(), series.values.begin() + nFirst);
        for (quint32& nRow : series.rows)
            nRow -= quint32(nRows);
        nDropped += nFirst;
    }
    m_rowTimes.erase(m_rowTimes.begin(), m_rowTimes.begin() + nRows);
    m_nPoints -= nDropped;
    return nDropped;
}

void CPlotStore::ClearRows()
{
    m_series.clear();
    m_index.clear();
    m_rowTimes = std::vector<qint64>();
    m_nPoints = 0;
    m_nShiftUs = 0;
    m_nLastTime = kPlotNoTime;
    m_counts = SCounts();
}

CPlotStore::SPoint CPlotStore::Point(int nSeries, qsizetype nIndex) const
{
    const SSeries& series = m_series[size_t(nSeries)];
    return SPoint{m_rowTimes[series.rows[size_t(nIndex)]], series.values[size_t(nIndex)]};
}

bool CPlotStore::Last(int nSeries, SPoint* pPoint) const
{
    const qsizetype n = PointCount(nSeries);
    if (n == 0)
        return false;
    *pPoint = Point(nSeries, n - 1);
    return true;
}

bool CPlotStore::ValueAt(int nSeries, qint64 nTime, SPoint* pPoint) const
{
    // Rows [0, nRows) are at or before nTime.
    const qsizetype nRows =
        std::upper_bound(m_rowTimes.begin(), m_rowTimes.end(), nTime) - m_rowTimes.begin();
    const qsizetype nPoint = FirstPointFrom(m_series[size_t(nSeries)], nRows) - 1;
    if (nPoint < 0)
        return false;
    *pPoint = Point(nSeries, nPoint);
    return true;
}

void CPlotStore::ColumnRows(qint64 nFrom, qint64 nTo, int nColumns, SColumnRows& out) const
{
    out.ends.assign(size_t(std::max(0, nColumns)), 0);
    const auto begin = m_rowTimes.begin();
    out.nRowFrom = std::lower_bound(begin, m_rowTimes.end(), nFrom) - begin;
    out.nRowTo =
        std::lower_bound(begin + out.nRowFrom, m_rowTimes.end(), std::max(nFrom, nTo)) - begin;
    if (nColumns <= 0 || nTo <= nFrom)
        return;
    // Column c holds the times t with floor((t - nFrom) * W / span) == c,
    // that is nFrom + ceil(c * span / W) <= t < nFrom + ceil((c + 1) * span / W);
    // span / W split into quotient and remainder keeps the products in range.
    const qint64 nSpan = nTo - nFrom;
    const qint64 nQuot = nSpan / nColumns;
    const qint64 nRem = nSpan % nColumns;
    qsizetype nRow = out.nRowFrom;
    for (qint64 c = 0; c < nColumns; ++c) {
        const qint64 nNext = c + 1;
        const qint64 nEnd = nFrom + nNext * nQuot + (nNext * nRem + nColumns - 1) / nColumns;
        nRow = std::lower_bound(begin + nRow, begin + out.nRowTo, nEnd) - begin;
        out.ends[size_t(c)] = nRow;
    }
}

void CPlotStore::Decimate(int nSeries, qint64 nFrom, qint64 nTo, int nColumns,
                          SDecimated& out) const
{
    SColumnRows columns;
    ColumnRows(nFrom, nTo, nColumns, columns);
    Decimate(nSeries, columns, out);
}

void CPlotStore::Decimate(int nSeries, const SColumnRows& columns, SDecimated& out) const
{
    out.columns.assign(columns.ends.size(), SColumn{0, 0, 0, 0, 0});
    out.bBefore = out.bAfter = false;
    const SSeries& series = m_series[size_t(nSeries)];
    qsizetype i = FirstPointFrom(series, columns.nRowFrom);
    const qsizetype nEnd = FirstPointFrom(series, columns.nRowTo);
    if (i > 0) {
        out.bBefore = true;
        out.before = Point(nSeries, i - 1);
    }
    if (nEnd < PointCount(nSeries)) {
        out.bAfter = true;
        out.after = Point(nSeries, nEnd);
    }
    const quint32* pRows = series.rows.data();
    const double* pValues = series.values.data();
    for (size_t c = 0; c < columns.ends.size() && i < nEnd; ++c) {
        const quint64 nRowEnd = quint64(columns.ends[c]);
        if (pRows[i] >= nRowEnd)
            continue;
        // The column's points are [i, j): found by doubling steps, then a
        // binary search in the last one.
        qsizetype nLo = i + 1, nStep = 1;
        while (nLo + nStep < nEnd && pRows[nLo + nStep - 1] < nRowEnd) {
            nLo += nStep;
            nStep *= 2;
        }
        const qsizetype nHi = std::min(nEnd, nLo + nStep);
        const qsizetype j = std::lower_bound(pRows + nLo, pRows + nHi, nRowEnd,
                                             [](quint32 a, quint64 b) { return a < b; }) -
                            pRows;
        double dMin = pValues[i], dMax = pValues[i];
        for (qsizetype k = i + 1; k < j; ++k) {
            dMin = pValues[k] < dMin ? pValues[k] : dMin;
            dMax = pValues[k] > dMax ? pValues[k] : dMax;
        }
        out.columns[c] = SColumn{dMin, dMax, pValues[i], pValues[j - 1], int(j - i)};
        i = j;
    }
}

qint64 CPlotStore::MemoryBytes() const
{
    qint64 n = qint64(m_rowTimes.capacity() * sizeof(qint64));
    for (const SSeries& series : m_series) {
        n += qint64(series.rows.capacity() * sizeof(quint32) +
                    series.values.capacity() * sizeof(double));
    }
    return n;
}
