// What the data window repaints for a given change: how far the pixels move
// and which lines are painted from which character on.

#include "CDirtyRows.h"

#include <QtTest>

using SKey = CDirtyRows::SKey;
using Lines = std::vector<SKey>;
Q_DECLARE_METATYPE(Lines)

namespace {

SKey Row(qint64 first, int chars, bool bLineEnd = false, int selFrom = 0, int selTo = 0,
         std::vector<SKey::SMark> marks = {})
{
    return SKey{first, chars, bLineEnd, selFrom, selTo, std::move(marks), {}};
}
// Row 107, not ending its line, with a match [from, to).
SKey Marked(int chars, int from, int to, bool bCurrent = false)
{
    return Row(107, chars, false, 0, 0, {{from, to, bCurrent}});
}
// Row 107 with the arrival times' column showing `gutter`.
SKey Timed(int chars, const char* gutter)
{
    SKey key = Row(107, chars);
    key.strGutter = QString::fromLatin1(gutter);
    return key;
}
const SKey kBlank; // below the end

// "line:from" for each painted line, top to bottom.
QString Painted(const CDirtyRows::SPlan& plan)
{
    QStringList out;
    for (const CDirtyRows::SPaint& p : plan.paint)
        out << QStringLiteral("%1:%2").arg(p.nLine).arg(p.nFromChar);
    return out.join(' ');
}

} // namespace

class TestDirtyRows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plan_data();
    void plan();
    void everythingAfterInvalidateOrResize();
};

void TestDirtyRows::plan_data()
{
    QTest::addColumn<Lines>("shown");
    QTest::addColumn<Lines>("now");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<QString>("painted");

    const SKey r0 = Row(0, 80), r1 = Row(80, 20, true), r2 = Row(101, 5, true), r3 = Row(107, 12),
               r4 = Row(120, 80), r5 = Row(200, 3);
    QTest::newRow("nothing changed") << Lines{r0, r1, r2} << Lines{r0, r1, r2} << 0 << "";
    QTest::newRow("bytes appended to the last row")
        << Lines{r0, r1, r3} << Lines{r0, r1, Row(107, 15)} << 0 << "2:12";
    QTest::newRow("the last row ends its line")
        << Lines{r0, r1, r3} << Lines{r0, r1, Row(107, 12, true)} << 0 << "2:12";
    QTest::newRow("new rows move the old ones up")
        << Lines{r0, r1, r2, r3} << Lines{r2, Row(107, 13), r4, r5} << 2 << "1:12 2:0 3:0";
    QTest::newRow("scrolled up by one") << Lines{r1, r2, r3} << Lines{r0, r1, r2} << -1 << "0:0";
    QTest::newRow("a jump past everything shown")
        << Lines{r0, r1} << Lines{r4, r5} << 0 << "0:0 1:0";
    QTest::newRow("the selection reaches into one row")
        << Lines{r0, r1, r2} << Lines{r0, Row(80, 20, true, 15, 21), r2} << 0 << "1:0";
    QTest::newRow("a selected row that grows is painted whole")
        << Lines{r0, Row(107, 12, false, 0, 12)} << Lines{r0, Row(107, 14, false, 0, 14)} << 0
        << "1:0";
    QTest::newRow("a match marked in one row")
        << Lines{r0, r3, r4} << Lines{r0, Marked(12, 3, 6), r4} << 0 << "1:0";
    QTest::newRow("the current match moves to another")
        << Lines{r0, Marked(12, 3, 6, true)} << Lines{r0, Marked(12, 3, 6)} << 0 << "1:0";
    QTest::newRow("a row grown after its match is painted from its old end")
        << Lines{r0, Marked(12, 3, 6)} << Lines{r0, Marked(14, 3, 6)} << 0 << "1:12";
    QTest::newRow("a row grown under a match that went on past its end is painted whole")
        << Lines{r0, Marked(12, 10, 13)} << Lines{r0, Marked(14, 10, 15)} << 0 << "1:0";
    QTest::newRow("a row grown under the same time is painted from its old end")
        << Lines{r0, Timed(12, "14:03:10.123")} << Lines{r0, Timed(14, "14:03:10.123")} << 0
        << "1:12";
    QTest::newRow("an event marked on a row that grew is painted whole")
        << Lines{r0, Timed(12, "14:03:10.123")} << Lines{r0, Timed(14, "14:03:10.123 closed")} << 0
        << "1:0";
    QTest::newRow("the top row wrapped anew after a trim")
        << Lines{Row(0, 80), r1} << Lines{Row(3, 77), r1} << 0 << "0:0";
    QTest::newRow("blank lines below the end stay")
        << Lines{r0, r3, kBlank, kBlank} << Lines{r0, Row(107, 14), kBlank, kBlank} << 0 << "1:12";
    QTest::newRow("a new row below the end")
        << Lines{r0, r1, kBlank} << Lines{r0, r1, r2} << 0 << "2:0";
    QTest::newRow("no scroll when it saves nothing")
        << Lines{Row(0, 5, false, 0, 5), Row(5, 5, false, 0, 5), Row(10, 5)}
        << Lines{Row(5, 5), Row(10, 5, false, 0, 5), Row(15, 5)} << 0 << "0:0 1:0 2:0";
}

void TestDirtyRows::plan()
{
    QFETCH(Lines, shown);
    QFETCH(Lines, now);
    QFETCH(int, scroll);
    QFETCH(QString, painted);
    CDirtyRows rows;
    rows.Plan(shown);
    const CDirtyRows::SPlan plan = rows.Plan(now);
    QCOMPARE(plan.nScroll, scroll);
    QCOMPARE(Painted(plan), painted);
    // What was planned counts as shown.
    QCOMPARE(Painted(rows.Plan(now)), QString());
}

void TestDirtyRows::everythingAfterInvalidateOrResize()
{
    const Lines lines{Row(0, 8, true), Row(9, 3)};
    CDirtyRows rows;
    QCOMPARE(Painted(rows.Plan(lines)), QStringLiteral("0:0 1:0"));
    rows.Invalidate();
    QCOMPARE(Painted(rows.Plan(lines)), QStringLiteral("0:0 1:0"));
    QCOMPARE(Painted(rows.Plan(Lines{lines[0], lines[1], kBlank})), QStringLiteral("0:0 1:0 2:0"));
}

QTEST_APPLESS_MAIN(TestDirtyRows)
#include "tst_dirtyrows.moc"
