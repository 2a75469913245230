// How often and with how much text the data window's changes are told to
// assistive technology: a script of changes at given times, the notices it
// yields and how long what waits has to wait after each step.

#include "CTextChangeThrottle.h"

#include <QtTest>

namespace {

// {time in ms, characters removed at the front, characters appended, count}
using Steps = QList<QList<qint64>>;

} // namespace

class TestTextChangeThrottle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void notices_data();
    void notices();
};

void TestTextChangeThrottle::notices_data()
{
    QTest::addColumn<Steps>("steps");
    // Each notice as "time removed insertFrom count".
    QTest::addColumn<QStringList>("notices");
    // MsUntilDue() after each step, -1 when nothing waits.
    QTest::addColumn<QList<qint64>>("waits");

    QTest::newRow("the first change goes at once, in full")
        << Steps{{0, 0, 5, 5}} << QStringList{"0 0 0 5"} << QList<qint64>{-1};
    QTest::newRow("changes within the interval wait and go together")
        << Steps{{0, 0, 5, 5}, {100, 0, 5, 10}, {200, 0, 5, 15}, {250, 0, 0, 15}}
        << QStringList{"0 0 0 5", "250 0 5 15"} << QList<qint64>{-1, 150, 50, -1};
    QTest::newRow("of much appended text only the newest goes")
        << Steps{{0, 0, 30, 30}} << QStringList{"0 0 20 30"} << QList<qint64>{-1};
    QTest::newRow("trims add up and take back appended text not yet told")
        << Steps{{0, 0, 5, 5}, {100, 0, 100, 105}, {150, 100, 3, 8}, {260, 0, 0, 8}}
        << QStringList{"0 0 0 5", "260 100 0 8"} << QList<qint64>{-1, 150, 100, -1};
    QTest::newRow("after a quiet interval the next change goes at once")
        << Steps{{0, 0, 5, 5}, {1000, 0, 5, 10}} << QStringList{"0 0 0 5", "1000 0 5 10"}
        << QList<qint64>{-1, -1};
    QTest::newRow("a fresh layout: all of the old removed, all of the new appended")
        << Steps{{0, 0, 5, 5}, {10, 5, 3, 3}, {300, 0, 0, 3}} << QStringList{"0 0 0 5", "300 5 0 3"}
        << QList<qint64>{-1, 240, -1};
    QTest::newRow("a removal alone")
        << Steps{{0, 0, 5, 5}, {400, 5, 0, 0}} << QStringList{"0 0 0 5", "400 5 0 0"}
        << QList<qint64>{-1, -1};
    QTest::newRow("no change, no notice")
        << Steps{{0, 0, 0, 0}, {300, 0, 0, 0}} << QStringList{} << QList<qint64>{-1, -1};
}

void TestTextChangeThrottle::notices()
{
    QFETCH(Steps, steps);
    QFETCH(QStringList, notices);
    QFETCH(QList<qint64>, waits);

    qint64 now = 0;
    CTextChangeThrottle throttle(CTextChangeThrottle::SLimits{250, 10}, [&now] { return now; });
    QStringList told;
    QList<qint64> waited;
    for (const QList<qint64>& step : steps) {
        now = step[0];
        throttle.Changed(step[1], step[2], int(step[3]));
        CTextChangeThrottle::SNotice notice;
        if (throttle.Take(notice))
            told << QStringLiteral("%1 %2 %3 %4")
                        .arg(now)
                        .arg(notice.nRemoved)
                        .arg(notice.nInsertFrom)
                        .arg(notice.nCount);
        waited << throttle.MsUntilDue();
    }
    QCOMPARE(told, notices);
    QCOMPARE(waited, waits);
}

QTEST_APPLESS_MAIN(TestTextChangeThrottle)
#include "tst_textchangethrottle.moc"
