#pragma once
// The plot's values as CSV: a header row "time" and the series' labels in
// the order they first came, then one row per line that gave values: the
// line's time, then one column per series, empty where the line had no
// value for it. Rows end in LF. A label is written as it came (bytes),
// between double quotes (doubled inside) when it holds a quote, comma,
// semicolon or line end. Values are the shortest text that reads back as
// the same double ("21.5", "1e-07", "-0").
//
// Times are UTC in ISO 8601 with microseconds: 2026-12-08T14:03:10.123456Z,
// independent of the machine's time zone; vornterm-log --plot-csv writes
// the same. A time the store placed later because the clock went back
// (CPlotStore) is written as placed.
//
// Plain functions without state: any thread (the plot window calls them on
// a thread of its own with a copy of the store).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

class CPlotStore;
class QIODevice;

namespace PlotCsv {

// "2026-12-08T14:03:10.123456Z" for microseconds since 1970 UTC.
QByteArray IsoTime(qint64 nWallUs);
// The shortest text that reads back as dValue.
QByteArray Number(double dValue);
// A label as a CSV field.
QByteArray Field(QByteArrayView label);

// Writes the whole store to `device`. False, with the device's reason in
// pError, when a write fails.
bool Write(const CPlotStore& store, QIODevice& device, QString* pError);

// The same in parts, for rows that come and go: the header with these
// columns, then the store's rows, each value in the column of its series'
// label (labels not among the columns are left out).
bool WriteHeader(const QList<QByteArray>& columns, QIODevice& device, QString* pError);
bool WriteRows(const CPlotStore& store, const QList<QByteArray>& columns, QIODevice& device,
               QString* pError);

} // namespace PlotCsv
