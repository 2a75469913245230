// Reading numbers from received lines: the forms a line may take, lines
// split anywhere between blocks with the time of their first byte, lines
// without a time, and input that would take unbounded memory: an endless
// line, a thousand labels, binary noise.

#include "CPlotParser.h"
#include "CPlotStore.h"
#include "PlotCsv.h"
#include "PlotHelpers.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

const qint64 kT0 = UtcUs(2026, 12, 8, 14, 3, 10, 123456);

// Keeps every row as "time label=value label=value".
class CRowRecorder : public CPlotRowSink
{
public:
    void AddRow(qint64 nWallUs, const SPlotValue* pValues, qsizetype nValues) override
    {
        QByteArray row = QByteArray::number(nWallUs - kT0);
        for (qsizetype i = 0; i < nValues; ++i)
            row += ' ' + pValues[i].label.toByteArray() + '=' + PlotCsv::Number(pValues[i].dValue);
        rows << row;
    }
    void ClearRows() override { rows.clear(); }
    // The rows without their times.
    QByteArray Values() const
    {
        QByteArrayList values;
        for (const QByteArray& row : rows)
            values << row.mid(row.indexOf(' ') + 1);
        return values.join(" | ");
    }

    QByteArrayList rows;
};

// Times for bytes [nFrom, nTo) of a stream whose byte i arrived at kT0 + i.
PlotTimes TimePerByte(qsizetype nFrom, qsizetype nTo)
{
    PlotTimes times;
    for (qsizetype i = nFrom; i < nTo; ++i)
        times.append(SPlotTimeMark{i - nFrom, kT0 + i});
    return times;
}

} // namespace

class TestPlotParse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineForms_data();
    void lineForms();
    void linesSplitAnywhereKeepTheirFirstBytesTime();
    void linesWithoutATimeAreCounted();
    void lostBytesDropTheLinesTheyTouch_data();
    void lostBytesDropTheLinesTheyTouch();
    void overlongLineIsCutAndCounted_data();
    void overlongLineIsCutAndCounted();
    void thousandLabelsKeepTheSeriesLimit();
    void binaryNoiseStaysBounded();
};

void TestPlotParse::lineForms_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<int>("nonFinite");

    QTest::newRow("label:value") << QByteArray("temp:21.5 hum:40") << QByteArray("temp=21.5 hum=40")
                                 << 0;
    QTest::newRow("pairs by comma and tab")
        << QByteArray("a:1,b:2\tc:3") << QByteArray("a=1 b=2 c=3") << 0;
    QTest::newRow("name=value") << QByteArray("x=0.12 y=-0.98") << QByteArray("x=0.12 y=-0.98")
                                << 0;
    QTest::newRow("pairs by semicolon") << QByteArray("a=1;b=2") << QByteArray("a=1 b=2") << 0;
    QTest::newRow("spaces around marks")
        << QByteArray("Temp: 21.5 C, Hum: 40 %  x = 5") << QByteArray("Temp=21.5 Hum=40 x=5") << 0;
    QTest::newRow("unit after a pair")
        << QByteArray("temp:21.5C v=3.3V") << QByteArray("temp=21.5 v=3.3") << 0;
    QTest::newRow("text beside pairs ignored")
        << QByteArray("Sensor 3 t=21.5 ok 7") << QByteArray("t=21.5") << 0;
    QTest::newRow("a pair takes the line") << QByteArray("ADC: 1 2 3") << QByteArray("ADC=1") << 0;
    QTest::newRow("labels: _, digits, UTF-8") << QByteArray("x_1=3 _y=4 gr\xc3\xb6\xc3\x9f"
                                                            "e:5")
                                              << QByteArray("x_1=3 _y=4 gr\xc3\xb6\xc3\x9f"
                                                            "e=5")
                                              << 0;
    QTest::newRow("label needs a letter") << QByteArray("12:30:15") << QByteArray() << 0;
    QTest::newRow("label is no number") << QByteArray("5V:3") << QByteArray() << 0;
    QTest::newRow("value followed by a mark") << QByteArray("t:12:30") << QByteArray() << 0;
    QTest::newRow("label after a mark") << QByteArray("a:b:1") << QByteArray() << 0;
    QTest::newRow("value with text glued") << QByteArray("a:1b:2") << QByteArray() << 0;
    QTest::newRow("control byte in label") << QByteArray("a\x01"
                                                         "b:5")
                                           << QByteArray() << 0;
    QTest::newRow("commas") << QByteArray("12,340,-7") << QByteArray("1=12 2=340 3=-7") << 0;
    QTest::newRow("semicolons") << QByteArray("1;2;3") << QByteArray("1=1 2=2 3=3") << 0;
    QTest::newRow("spaces and tabs") << QByteArray("  1 2\t3  ") << QByteArray("1=1 2=2 3=3") << 0;
    QTest::newRow("spaces around commas")
        << QByteArray("1, 2 ,3") << QByteArray("1=1 2=2 3=3") << 0;
    QTest::newRow("empty field keeps its place")
        << QByteArray("1,,3") << QByteArray("1=1 3=3") << 0;
    QTest::newRow("two numbers in a field") << QByteArray("1 2,3") << QByteArray("2=3") << 0;
    QTest::newRow("text in fields")
        << QByteArray("Vin 12.1 V, Iout 0.5 A") << QByteArray("1=12.1 2=0.5") << 0;
    QTest::newRow("text between numbers")
        << QByteArray("Vin 12.1 V Iout 0.5 A") << QByteArray("1=12.1 2=0.5") << 0;
    QTest::newRow("clock time is text")
        << QByteArray("12:30:15 21.5 40") << QByteArray("1=21.5 2=40") << 0;
    QTest::newRow("number forms") << QByteArray("1e3 2.5E-2 -.5 +7 12. 007")
                                  << QByteArray("1=1000 2=0.025 3=-0.5 4=7 5=12 6=7") << 0;
    QTest::newRow("units") << QByteArray("3.3V 40% 9.81m/s 21.5\xc2\xb0"
                                         "C")
                           << QByteArray("1=3.3 2=40 3=9.81 4=21.5") << 0;
    QTest::newRow("incomplete exponent is a unit")
        << QByteArray("1e 1ex 2E3V") << QByteArray("1=1 2=1 3=2000") << 0;
    QTest::newRow("not numbers") << QByteArray("0x1F 1.2.3 (5) 5V) . - 7") << QByteArray("1=7")
                                 << 0;
    QTest::newRow("exact decimal") << QByteArray("0.1 123456789.123456789 -0")
                                   << QByteArray("1=0.1 2=123456789.12345679 3=-0") << 0;
    QTest::newRow("nan and inf keep places") << QByteArray("nan,2,INF") << QByteArray("2=2") << 2;
    QTest::newRow("out of range") << QByteArray("-Infinity 1e999 1e-999 4") << QByteArray("4=4")
                                  << 3;
    QTest::newRow("nan in a pair") << QByteArray("a:nan b:2") << QByteArray("b=2") << 1;
    QTest::newRow("info is a word") << QByteArray("info 5 nano") << QByteArray("1=5") << 0;
    QTest::newRow("no number") << QByteArray("hello, world") << QByteArray() << 0;
    QTest::newRow("only separators") << QByteArray(" ,;\t") << QByteArray() << 0;
}

void TestPlotParse::lineForms()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, values);
    QFETCH(int, nonFinite);

    // The same line with each kind of line end.
    for (const char* end : {"\n", "\r", "\r\n"}) {
        CRowRecorder rows;
        CPlotParser parser(rows);
        const QByteArray text = line + end + "z:1" + end;
        parser.Feed(text.constData(), text.size(), PlotTimesAt(kT0));
        const QByteArray expected = values.isEmpty() ? "z=1" : values + " | z=1";
        QCOMPARE(rows.Values(), expected);
        QCOMPARE(parser.Counts().nNonFinite, nonFinite);
    }
}

void TestPlotParse::linesSplitAnywhereKeepTheirFirstBytesTime()
{
    // Every kind of line end, an empty line between, a last line not yet
    // ended; byte i arrived at kT0 + i.
    const QByteArray stream = "a:1\r\nb:2\rc:3\n\r\nd:4\n\ne:5\r\r\nf:6";
    const QByteArrayList expected = {"0 a=1", "5 b=2", "9 c=3", "15 d=4", "20 e=5"};

    const auto feedSplit = [&](const QList<qsizetype>& cuts) {
        CRowRecorder rows;
        CPlotParser parser(rows);
        qsizetype nFrom = 0;
        for (const qsizetype nCut : cuts + QList<qsizetype>{stream.size()}) {
            parser.Feed(stream.constData() + nFrom, nCut - nFrom, TimePerByte(nFrom, nCut));
            nFrom = nCut;
        }
        const QByteArrayList before = rows.rows;
        parser.Finish();
        return before + QByteArrayList{rows.rows.size() > before.size() ? rows.rows.last() : ""};
    };
    const QByteArrayList whole = expected + QByteArrayList{"26 f=6"};
    QCOMPARE(feedSplit({}), whole);
    for (qsizetype nCut = 1; nCut < stream.size(); ++nCut)
        QVERIFY2(feedSplit({nCut}) == whole, QByteArray::number(nCut));
    QList<qsizetype> everyByte;
    for (qsizetype i = 1; i < stream.size(); ++i)
        everyByte << i;
    QCOMPARE(feedSplit(everyByte), whole);

    // Times that change inside a block: a line's time is its first byte's.
    CRowRecorder rows;
    CPlotParser parser(rows);
    const QByteArray block = "x:1\ny:2\n";
    PlotTimes times;
    times.append(SPlotTimeMark{0, kT0 + 100});
    times.append(SPlotTimeMark{3, kT0 + 200}); // the LF of the first line
    times.append(SPlotTimeMark{6, kT0 + 300}); // the middle of the second
    parser.Feed(block.constData(), block.size(), times);
    QCOMPARE(rows.rows, QByteArrayList({"100 x=1", "200 y=2"}));
}

void TestPlotParse::linesWithoutATimeAreCounted()
{
    CRowRecorder rows;
    CPlotParser parser(rows);
    // The first line's bytes come before the block's first time; the third
    // block has no time at all; "typed" has no number and is not counted.
    const QByteArray block = "u:1\nv:2\n";
    PlotTimes late;
    late.append(SPlotTimeMark{4, kT0 + 50});
    parser.Feed(block.constData(), block.size(), late);
    parser.Feed("typed\nw:3\n", 10, PlotTimes());
    parser.Feed("x:4\n", 4, PlotTimesAt(kT0 + 70));
    QCOMPARE(rows.rows, QByteArrayList({"50 v=2", "70 x=4"}));
    QCOMPARE(parser.Counts().nUntimedLines, 2);
    QCOMPARE(parser.Counts().nRows, 2);
}

void TestPlotParse::lostBytesDropTheLinesTheyTouch_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("values");

    // Without the gap, "b:2" and "34" would make b = 234.
    QTest::newRow("inside a line")
        << QByteArray("a:1\nb:2") << QByteArray("34\nc:4\n") << QByteArray("a=1 | c=4");
    // Whether the lost bytes ended a line cannot be known: the line after
    // them goes too.
    QTest::newRow("after a line end")
        << QByteArray("a:1\n") << QByteArray("b:2\nc:3\n") << QByteArray("a=1 | c=3");
    QTest::newRow("before a line end")
        << QByteArray("a:1\nb:2") << QByteArray("\r\nc:3\n") << QByteArray("a=1 | c=3");
}

void TestPlotParse::lostBytesDropTheLinesTheyTouch()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, values);

    CRowRecorder rows;
    CPlotParser parser(rows);
    parser.Feed(before.constData(), before.size(), PlotTimesAt(kT0));
    parser.Skip(250000);
    parser.Feed(after.constData(), after.size(), PlotTimesAt(kT0 + 1));
    parser.Finish();
    QCOMPARE(rows.Values(), values);
    QCOMPARE(parser.Counts().nLostBytes, 250000);
}

void TestPlotParse::overlongLineIsCutAndCounted_data()
{
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<int>("values");
    QTest::addColumn<QByteArray>("last");

    // 4096 / 6 = 682 whole "12345 " and "1234" of the next, cut off.
    QTest::newRow("cut inside a number") << QByteArray("12345 ") << 682 << QByteArray("12345");
    // " 1" twice 2048 times fills the 4096 bytes; the next byte is a space,
    // so the last number is whole.
    QTest::newRow("cut at a separator") << QByteArray(" 1") << 2048 << QByteArray("1");
    QTest::newRow("no separator") << QByteArray("x") << 0 << QByteArray();
}

void TestPlotParse::overlongLineIsCutAndCounted()
{
    QFETCH(QByteArray, unit);
    QFETCH(int, values);
    QFETCH(QByteArray, last);

    CRowRecorder rows;
    CPlotParser parser(rows);
    const QByteArray megabyte = unit.repeated(1024 * 1024 / unit.size() + 1).left(1024 * 1024);
    for (qsizetype i = 0; i < megabyte.size(); i += 65536) {
        parser.Feed(megabyte.constData() + i, std::min<qsizetype>(65536, megabyte.size() - i),
                    PlotTimesAt(kT0 + i));
        QVERIFY(parser.PendingBytes() <= CPlotParser::kMaxLineBytes);
    }
    QCOMPARE(parser.Counts().nLongLines, 0); // counted at its end
    const QByteArray after = "\nnext:1\n";
    parser.Feed(after.constData(), after.size(), PlotTimesAt(kT0 + 2000000));
    QCOMPARE(parser.Counts().nLongLines, 1);

    QCOMPARE(rows.rows.size(), values > 0 ? 2 : 1);
    QCOMPARE(rows.rows.last(), QByteArray("2000000 next=1"));
    if (values > 0) {
        const QByteArrayList parts = rows.rows.first().split(' ');
        QCOMPARE(parts.first(), QByteArray("0")); // the time of the line's first byte
        QCOMPARE(parts.size() - 1, values);
        QCOMPARE(parts.last(), QByteArray::number(values) + '=' + last);
    }
}

void TestPlotParse::thousandLabelsKeepTheSeriesLimit()
{
    CPlotStore store;
    CPlotParser parser(store);
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        text += "label" + QByteArray::number(i) + ':' + QByteArray::number(i) + '\n';
    // A label longer than the limit is dropped and counted too.
    text += QByteArray(CPlotStore::kMaxLabelBytes + 1, 'L') + ":1\n";
    parser.Feed(text.constData(), text.size(), PlotTimesAt(kT0));

    QCOMPARE(store.SeriesCount(), CPlotStore::kMaxSeries);
    QCOMPARE(store.Label(63), QByteArray("label63"));
    QCOMPARE(store.PointCount(), 64);
    QCOMPARE(store.Counts().nNoSeries, 1000 - 64 + 1);
    // The kept series still take values.
    parser.Feed("label5:-1\n", 10, PlotTimesAt(kT0 + 1));
    CPlotStore::SPoint point;
    QVERIFY(store.Last(5, &point));
    QCOMPARE(point.dValue, -1.0);
    QCOMPARE(point.nTime, kT0 + 1);
}

void TestPlotParse::binaryNoiseStaysBounded()
{
    CPlotStore store(100000);
    CPlotParser parser(store);
    QRandomGenerator random(27);
    QByteArray noise(4 * 1024 * 1024, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random.bounded(256));
    for (qsizetype i = 0; i < noise.size();) {
        const qsizetype n = std::min<qsizetype>(1 + random.bounded(9000), noise.size() - i);
        parser.Feed(noise.constData() + i, n, PlotTimesAt(kT0 + i));
        QVERIFY(parser.PendingBytes() <= CPlotParser::kMaxLineBytes);
        i += n;
    }
    QVERIFY(store.SeriesCount() <= CPlotStore::kMaxSeries);
    QVERIFY(store.PointCount() <= store.MaxPoints());
    QVERIFY(store.PointCount() > 0); // noise holds digits between separators
    // The arrays never grow past what the limit needs: 20 bytes a point at
    // most, and each series' pair of arrays at most the limit.
    QVERIFY2(store.MemoryBytes() <= 20 * store.MaxPoints() + 12 * store.MaxPoints(),
             QByteArray::number(store.MemoryBytes()));

    // After the noise, a line is read as usual, with its own time.
    parser.Clear();
    parser.Feed("\nafter:42\n", 10, PlotTimesAt(kT0 + 99));
    QCOMPARE(store.SeriesCount(), 1);
    CPlotStore::SPoint point;
    QVERIFY(store.Last(0, &point));
    QCOMPARE(point.dValue, 42.0);
    QCOMPARE(point.nTime, kT0 + 99);
}

QTEST_GUILESS_MAIN(TestPlotParse)
#include "tst_plotparse.moc"
