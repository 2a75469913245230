#pragma once
// What the plot suites share: times written as a calendar reads them, and
// lines fed as a device sends them, each in a block of its own.
// Used on the test's main thread.

#include "CPlotStore.h"
#include "PlotCsv.h"
#include "PlotTypes.h"

#include <QBuffer>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QTimeZone>

// Microseconds since 1970 of a UTC date and time.
inline qint64 UtcUs(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                    int nMicro = 0)
{
    const QDateTime t(QDate(nYear, nMonth, nDay), QTime(nHour, nMinute, nSecond), QTimeZone::utc());
    return t.toMSecsSinceEpoch() * 1000 + nMicro;
}

// Feeds each line (its line end included) as a block of its own, line i
// arriving at nFirstUs + i * nStepUs.
inline void FeedLines(CPlotFeed& feed, const QList<QByteArray>& lines, qint64 nFirstUs,
                      qint64 nStepUs)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        feed.Feed(lines[i].constData(), lines[i].size(), PlotTimesAt(nFirstUs + i * nStepUs));
}

// The store as its CSV export writes it.
inline QByteArray CsvOf(const CPlotStore& store)
{
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    return PlotCsv::Write(store, out, nullptr) ? bytes : QByteArray("(not written)");
}
