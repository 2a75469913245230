// The series store and what is written from it: each pixel column's
// minimum, maximum, first and last value exactly (also against a direct
// count on random data), the CSV rows exactly as the lines gave them, UTC
// times, the limit on points and a clock that goes back.

#include "CPlotParser.h"
#include "CPlotStore.h"
#include "PlotCsv.h"
#include "PlotHelpers.h"
#include "PlotTicks.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

namespace {

const qint64 kT0 = UtcUs(2026, 12, 8, 14, 3, 10, 123456);

// A store with series "s" holding value i % 10 at time nFrom + i for i in
// [0, nCount).
void FillSawtooth(CPlotStore& store, qint64 nFrom, int nCount)
{
    for (int i = 0; i < nCount; ++i) {
        const SPlotValue value{"s", double(i % 10)};
        store.AddRow(nFrom + i, &value, 1);
    }
}

// "column:min/max/first/last/count" for each column with points, and the
// points beside the window as "<time:value" and ">time:value".
QByteArray Describe(const CPlotStore::SDecimated& d)
{
    QByteArrayList parts;
    if (d.bBefore)
        parts << "<" + QByteArray::number(d.before.nTime) + ':' + PlotCsv::Number(d.before.dValue);
    for (size_t c = 0; c < d.columns.size(); ++c) {
        const CPlotStore::SColumn& col = d.columns[c];
        if (col.nPoints > 0) {
            parts << QByteArray::number(qulonglong(c)) + ':' + PlotCsv::Number(col.dMin) + '/' +
                         PlotCsv::Number(col.dMax) + '/' + PlotCsv::Number(col.dFirst) + '/' +
                         PlotCsv::Number(col.dLast) + '/' + QByteArray::number(col.nPoints);
        }
    }
    if (d.bAfter)
        parts << ">" + QByteArray::number(d.after.nTime) + ':' + PlotCsv::Number(d.after.dValue);
    return parts.join(' ');
}

} // namespace

class TestPlotStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decimation_data();
    void decimation();
    void decimationMatchesADirectCount();
    void isoTime_data();
    void isoTime();
    void csvGivesBackEachLine();
    void limitDropsTheOldestLines_data();
    void limitDropsTheOldestLines();
    void clockGoingBackKeepsOrderAndSpacing();
    void valueMarks_data();
    void valueMarks();
    void timeMarks_data();
    void timeMarks();
};

void TestPlotStore::decimation_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QByteArray>("expected");

    // 100 points at times 0..99, values 0..9 again and again.
    QTest::newRow("ten per column") << qint64(0) << qint64(100) << 10
                                    << QByteArray("0:0/9/0/9/10 1:0/9/0/9/10 2:0/9/0/9/10 "
                                                  "3:0/9/0/9/10 4:0/9/0/9/10 5:0/9/0/9/10 "
                                                  "6:0/9/0/9/10 7:0/9/0/9/10 8:0/9/0/9/10 "
                                                  "9:0/9/0/9/10");
    // Column c holds t with floor(t * 3 / 100) == c: 0..33, 34..66, 67..99.
    QTest::newRow("uneven columns")
        << qint64(0) << qint64(100) << 3 << QByteArray("0:0/9/0/3/34 1:0/9/4/6/33 2:0/9/7/9/33");
    // floor((t - 50) * 4 / 10): 50..52, 53..54, 55..57, 58..59.
    QTest::newRow("inside, with the points beside")
        << qint64(50) << qint64(60) << 4
        << QByteArray("<49:9 0:0/2/0/2/3 1:3/4/3/4/2 2:5/7/5/7/3 3:8/9/8/9/2 >60:0");
    QTest::newRow("more columns than points") << qint64(95) << qint64(105) << 20
                                              << QByteArray("<94:4 0:5/5/5/5/1 2:6/6/6/6/1 "
                                                            "4:7/7/7/7/1 6:8/8/8/8/1 8:9/9/9/9/1");
    QTest::newRow("wider than the data")
        << qint64(-100) << qint64(200) << 3 << QByteArray("1:0/9/0/9/100");
    QTest::newRow("before the data") << qint64(-50) << qint64(0) << 5 << QByteArray(">0:0");
    QTest::newRow("after the data") << qint64(100) << qint64(150) << 5 << QByteArray("<99:9");
    QTest::newRow("one point wide")
        << qint64(42) << qint64(43) << 7 << QByteArray("<41:1 0:2/2/2/2/1 >43:3");
}

void TestPlotStore::decimation()
{
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(int, columns);
    QFETCH(QByteArray, expected);

    CPlotStore store;
    FillSawtooth(store, 0, 100);
    CPlotStore::SDecimated d;
    store.Decimate(0, from, to, columns, d);
    QCOMPARE(int(d.columns.size()), columns);
    QCOMPARE(Describe(d), expected);
}

void TestPlotStore::decimationMatchesADirectCount()
{
    // Two series at times of a real day, b only on some lines, in windows
    // and widths picked at random; each point's column counted directly.
    QRandomGenerator random(8);
    CPlotStore store;
    qint64 t = kT0;
    for (int i = 0; i < 20000; ++i) {
        t += random.bounded(3000);
        const SPlotValue values[] = {{"a", random.bounded(1000.0) - 500}, {"b", double(i)}};
        store.AddRow(t, values, i % 3 == 0 ? 2 : 1);
    }
    for (int nRound = 0; nRound < 50; ++nRound) {
        const qint64 nFrom = kT0 + random.bounded(qint64(t - kT0));
        const qint64 nTo = nFrom + 1 + random.bounded(qint64(t - kT0));
        const int nColumns = 1 + random.bounded(4000);
        for (int s = 0; s < 2; ++s) {
            std::vector<CPlotStore::SColumn> expected(size_t(nColumns),
                                                      CPlotStore::SColumn{0, 0, 0, 0, 0});
            for (qsizetype i = 0; i < store.PointCount(s); ++i) {
                const CPlotStore::SPoint p = store.Point(s, i);
                if (p.nTime < nFrom || p.nTime >= nTo)
                    continue;
                const size_t c = size_t((__int128(p.nTime - nFrom) * nColumns) / (nTo - nFrom));
                CPlotStore::SColumn& col = expected[c];
                if (col.nPoints++ == 0)
                    col.dMin = col.dMax = col.dFirst = p.dValue;
                col.dMin = std::min(col.dMin, p.dValue);
                col.dMax = std::max(col.dMax, p.dValue);
                col.dLast = p.dValue;
            }
            CPlotStore::SDecimated d;
            store.Decimate(s, nFrom, nTo, nColumns, d);
            for (size_t c = 0; c < size_t(nColumns); ++c) {
                const CPlotStore::SColumn& a = d.columns[c];
                const CPlotStore::SColumn& e = expected[c];
                QVERIFY2(
                    a.nPoints == e.nPoints &&
                        (e.nPoints == 0 || (a.dMin == e.dMin && a.dMax == e.dMax &&
                                            a.dFirst == e.dFirst && a.dLast == e.dLast)),
                    qPrintable(
                        QStringLiteral("round %1 series %2 column %3").arg(nRound).arg(s).arg(c)));
            }
        }
    }
}

void TestPlotStore::isoTime_data()
{
    QTest::addColumn<qint64>("us");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("1970") << qint64(0) << QByteArray("1970-01-01T00:00:00.000000Z");
    QTest::newRow("before 1970") << qint64(-1) << QByteArray("1969-12-31T23:59:59.999999Z");
    QTest::newRow("leap day") << UtcUs(2024, 2, 29, 23, 59, 59, 999999)
                              << QByteArray("2024-02-29T23:59:59.999999Z");
    QTest::newRow("a line") << kT0 << QByteArray("2026-12-08T14:03:10.123456Z");
}

void TestPlotStore::isoTime()
{
    QFETCH(qint64, us);
    QFETCH(QByteArray, text);
    QCOMPARE(PlotCsv::IsoTime(us), text);
}

void TestPlotStore::csvGivesBackEachLine()
{
    CPlotStore store;
    CPlotParser parser(store);
    FeedLines(parser,
              {"a:1 b:2\n", "b:3\n", "no numbers\n", "a:-0.5 c\"q:7\n", "5,6\n",
               "gr\xc3\xb6\xc3\x9f"
               "e=1e-7 a:4 a:5\n",
               "b:0.1\n"},
              kT0, 1500);

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY(PlotCsv::Write(store, out, &error));
    QCOMPARE(out.data(), QByteArray("time,a,b,\"c\"\"q\",1,2,gr\xc3\xb6\xc3\x9f"
                                    "e\n"
                                    "2026-12-08T14:03:10.123456Z,1,2,,,,\n"
                                    "2026-12-08T14:03:10.124956Z,,3,,,,\n"
                                    "2026-12-08T14:03:10.127956Z,-0.5,,7,,,\n"
                                    "2026-12-08T14:03:10.129456Z,,,,5,6,\n"
                                    "2026-12-08T14:03:10.130956Z,4,,,,,1e-07\n"
                                    "2026-12-08T14:03:10.132456Z,,0.1,,,,\n"));
    QCOMPARE(store.Counts().nRepeated, 1); // the second a of one line

    // A device that cannot take the rows: the reason comes back.
    QBuffer closed;
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): device not open");
    QVERIFY(!PlotCsv::Write(store, closed, &error));
    QVERIFY(!error.isEmpty());
}

void TestPlotStore::limitDropsTheOldestLines_data()
{
    QTest::addColumn<int>("maxPoints");
    QTest::addColumn<QList<int>>("valuesPerLine"); // repeated line after line
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("droppedPoints");
    QTest::addColumn<int>("droppedLines");

    // A full store of 1000 one-value lines takes one more: the oldest
    // 1 + 1000 / 16 lines go.
    QTest::newRow("one value a line") << 1000 << QList<int>{1} << 1001 << 938 << 63 << 63;
    QTest::newRow("below the limit") << 1000 << QList<int>{1} << 1000 << 1000 << 0 << 0;
    // 300 points full, 3 more: 3 + 18 points, 7 lines.
    QTest::newRow("three values a line") << 300 << QList<int>{3} << 101 << 282 << 21 << 7;
    // 3 and 1 values in turn: 200 points in 100 lines; 3 + 12 points to go
    // end within line 7 (3+1+3+1+3+1+3 = 15).
    QTest::newRow("whole lines only") << 200 << QList<int>{3, 1} << 101 << 188 << 15 << 7;
}

void TestPlotStore::limitDropsTheOldestLines()
{
    QFETCH(int, maxPoints);
    QFETCH(QList<int>, valuesPerLine);
    QFETCH(int, lines);
    QFETCH(int, points);
    QFETCH(int, droppedPoints);
    QFETCH(int, droppedLines);

    CPlotStore store(maxPoints);
    for (int i = 0; i < lines; ++i) {
        // Line i carries the value i in each of its series.
        const SPlotValue values[] = {{"a", double(i)}, {"b", double(i)}, {"c", double(i)}};
        store.AddRow(kT0 + i, values, valuesPerLine[i % valuesPerLine.size()]);
    }
    QCOMPARE(store.PointCount(), points);
    QCOMPARE(store.Counts().nOldPoints, droppedPoints);
    QCOMPARE(store.Counts().nOldRows, droppedLines);
    QCOMPARE(store.RowCount(), lines - droppedLines);
    // What is kept begins with the first line not dropped and ends with the
    // newest, each value still with its line's time.
    QCOMPARE(store.Point(0, 0).dValue, double(droppedLines));
    QCOMPARE(store.Point(0, 0).nTime, kT0 + droppedLines);
    CPlotStore::SPoint last;
    QVERIFY(store.Last(0, &last));
    QCOMPARE(last.dValue, double(lines - 1));
    QCOMPARE(last.nTime, kT0 + lines - 1);
    QVERIFY(store.MemoryBytes() <= qint64(maxPoints) * (8 + 12 * 3));
}

void TestPlotStore::clockGoingBackKeepsOrderAndSpacing()
{
    CPlotStore store;
    const SPlotValue v{"v", 1};
    // The clock is set back 1.5 ms after the second line.
    for (const qint64 t : {1000, 2000, 500, 1500})
        store.AddRow(kT0 + t, &v, 1);
    QCOMPARE(store.Counts().nClockSteps, 1);
    QCOMPARE(store.RowTime(2), kT0 + 2000);
    QCOMPARE(store.RowTime(3), kT0 + 3000);
    CPlotStore::SPoint p;
    QVERIFY(store.ValueAt(0, kT0 + 2999, &p));
    QCOMPARE(p.nTime, kT0 + 2000);
}

void TestPlotStore::valueMarks_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<int>("most");
    QTest::addColumn<QString>("marks");

    QTest::newRow("tenths") << 0.05 << 0.95 << 5 << "0.2 0.4 0.6 0.8";
    QTest::newRow("around zero") << -0.31 << 0.29 << 6 << "-0.3 -0.2 -0.1 0.0 0.1 0.2";
    QTest::newRow("thousands") << 11000.0 << 17500.0 << 4 << "12000 14000 16000";
    QTest::newRow("large") << 1.0e8 << 3.1e8 << 3 << "1e+08 2e+08 3e+08";
    QTest::newRow("tiny") << 2.4e-9 << 7.6e-9 << 3 << "4e-09 6e-09";
    QTest::newRow("no range") << 1.0 << 1.0 << 5 << "";
}

void TestPlotStore::valueMarks()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(int, most);
    QFETCH(QString, marks);

    const std::vector<double> ticks = PlotTicks::ValueTicks(lo, hi, most);
    QStringList texts;
    for (const double d : ticks)
        texts << PlotTicks::ValueText(d, ticks.size() > 1 ? ticks[1] - ticks[0] : 1);
    QCOMPARE(texts.join(' '), marks);
}

void TestPlotStore::timeMarks_data()
{
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("span");
    QTest::addColumn<int>("most");
    QTest::addColumn<QString>("marks");

    // The suite runs on UTC (main).
    QTest::newRow("10 s in 5") << kT0 << qint64(10000000) << 5
                               << "14:03:12 14:03:14 14:03:16 14:03:18 14:03:20";
    QTest::newRow("a minute in 4")
        << kT0 << qint64(60000000) << 4 << "14:03:15 14:03:30 14:03:45 14:04:00";
    // Marks on even milliseconds from 10.123456 s on.
    QTest::newRow("milliseconds") << kT0 << qint64(10000) << 5
                                  << "14:03:10.124 14:03:10.126 14:03:10.128 14:03:10.130 "
                                     "14:03:10.132";
    // A mark on the window's first microsecond counts; midnight gets its date.
    QTest::newRow("over midnight")
        << UtcUs(2026, 12, 8, 22, 0, 0) << qint64(4) * 3600 * 1000000 << 2 << "22:00 12-09 00:00";
}

void TestPlotStore::timeMarks()
{
    QFETCH(qint64, from);
    QFETCH(qint64, span);
    QFETCH(int, most);
    QFETCH(QString, marks);

    const qint64 nStep = PlotTicks::TimeStep(span, most);
    QStringList texts;
    for (const qint64 t : PlotTicks::TimeTicks(from, from + span, nStep))
        texts << PlotTicks::TimeText(t, nStep);
    QCOMPARE(texts.join(' '), marks);
}

// The time marks are read on the local clock: UTC for the suite.
int main(int argc, char* argv[])
{
    qputenv("TZ", "UTC");
    QCoreApplication app(argc, argv);
    TestPlotStore test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_plotstore.moc"
