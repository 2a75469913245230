#include "PlotCsv.h"

#include "CPlotStore.h"

#include <QDate>
#include <QIODevice>
#include <charconv>
#include <vector>

namespace {

constexpr qint64 kUsPerDay = 86400LL * 1000000;
constexpr qint64 kJulianDayOf1970 = 2440588;
constexpr qsizetype kWriteChunk = 64 * 1024;

// Writes n decimal digits of nValue (zero-padded) at p.
char* Digits(char* p, qint64 nValue, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        p[i] = char('0' + nValue % 10);
        nValue /= 10;
    }
    return p + n;
}

bool WriteAll(QIODevice& device, QByteArray& buffer, QString* pError)
{
    if (device.write(buffer) != buffer.size()) {
        if (pError)
            *pError = device.errorString();
        return false;
    }
    buffer.resize(0);
    return true;
}

} // namespace

namespace PlotCsv {

QByteArray IsoTime(qint64 nWallUs)
{
    qint64 nDays = nWallUs / kUsPerDay;
    qint64 nInDay = nWallUs % kUsPerDay;
    if (nInDay < 0) {
        nInDay += kUsPerDay;
        --nDays;
    }
    int nYear = 0, nMonth = 0, nDay = 0;
    QDate::fromJulianDay(kJulianDayOf1970 + nDays).getDate(&nYear, &nMonth, &nDay);
    char text[32];
    char* p = text;
    if (nYear < 0) {
        *p++ = '-';
        nYear = -nYear;
    }
    p = Digits(p, nYear, nYear > 9999 ? 5 : 4);
    *p++ = '-';
    p = Digits(p, nMonth, 2);
    *p++ = '-';
    p = Digits(p, nDay, 2);
    *p++ = 'T';
    p = Digits(p, nInDay / 3600000000LL, 2);
    *p++ = ':';
    p = Digits(p, nInDay / 60000000 % 60, 2);
    *p++ = ':';
    p = Digits(p, nInDay / 1000000 % 60, 2);
    *p++ = '.';
    p = Digits(p, nInDay % 1000000, 6);
    *p++ = 'Z';
    return QByteArray(text, p - text);
}

QByteArray Number(double dValue)
{
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, dValue);
    return QByteArray(text, r.ptr - text);
}

QByteArray Field(QByteArrayView label)
{
    bool bQuote = false;
    for (const char c : label)
        bQuote = bQuote || c == '"' || c == ',' || c == ';' || c == '\r' || c == '\n';
    if (!bQuote)
        return label.toByteArray();
    QByteArray field = label.toByteArray();
    field.replace('"', QByteArrayView("\"\""));
    return '"' + field + '"';
}

bool Write(const CPlotStore& store, QIODevice& device, QString* pError)
{
    QList<QByteArray> columns;
    for (int s = 0; s < store.SeriesCount(); ++s)
        columns << store.Label(s);
    return WriteHeader(columns, device, pError) && WriteRows(store, columns, device, pError);
}

bool WriteHeader(const QList<QByteArray>& columns, QIODevice& device, QString* pError)
{
    QByteArray header = "time";
    for (const QByteArray& label : columns)
        header += ',' + Field(label);
    header += '\n';
    return WriteAll(device, header, pError);
}

bool WriteRows(const CPlotStore& store, const QList<QByteArray>& columns, QIODevice& device,
               QString* pError)
{
    // The series of each column (-1: none), and each series' next point; a
    // row has a value for a series when that point came from it.
    std::vector<int> series;
    for (const QByteArray& label : columns)
        series.push_back(store.FindSeries(label));
    std::vector<qsizetype> next(size_t(store.SeriesCount()), 0);
    QByteArray buffer;
    buffer.reserve(kWriteChunk + 4096);
    char number[32];
    for (qsizetype nRow = 0; nRow < store.RowCount(); ++nRow) {
        buffer += IsoTime(store.RowTime(nRow));
        for (const int s : series) {
            buffer += ',';
            if (s < 0)
                continue;
            qsizetype& nNext = next[size_t(s)];
            if (nNext < store.PointCount(s) && store.PointRow(s, nNext) == nRow) {
                const double dValue = store.Point(s, nNext).dValue;
                const std::to_chars_result r =
                    std::to_chars(number, number + sizeof number, dValue);
                buffer.append(number, r.ptr - number);
                ++nNext;
            }
        }
        buffer += '\n';
        if (buffer.size() >= kWriteChunk && !WriteAll(device, buffer, pError))
            return false;
    }
    return WriteAll(device, buffer, pError);
}

} // namespace PlotCsv
