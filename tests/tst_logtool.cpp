// vornterm-log on logs the log's writer made with known arrival times: a
// line carries the time of its first byte, frames split at idle gaps, a
// range of times is found in a 4 GiB log by the index alone, --verify and a
// missing index say what they must.

#include "CInputLog.h"
#include "FileBytes.h"
#include "LogIndexFormat.h"
#include "LogTool.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

namespace {

constexpr int kWait = 30000;
const QString kLog = QStringLiteral("VornTerm.12-06-26.LOG");
const QString kIdx = QStringLiteral("VornTerm.12-06-26.IDX");
constexpr qint64 kBase = 1'765'000'000'000'000; // a wall clock, microseconds

KrTimeStamp At(qint64 nUs)
{
    return KrTimeStamp{kBase + nUs, nUs};
}

struct Outcome
{
    int nStatus;
    QStringList lines;
    QString err;
};

Outcome Run(QStringList args)
{
    args << kLog;
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QString err;
    const int nStatus = RunLogTool(args, out, err);
    return Outcome{nStatus, QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                   err};
}

// Hands the pieces to a log with their times (microseconds since the base)
// and waits until they are written. An empty piece is the device's loss.
void MakeLog(const std::vector<std::pair<qint64, QByteArray>>& pieces)
{
    QDateTime now(QDate(2026, 12, 6), QTime(12, 0));
    CInputLog log([&now] { return now; });
    for (const auto& [nUs, bytes] : pieces) {
        if (bytes.isEmpty())
            QVERIFY(log.WriteEvent(KrPortEvent{KrPortEventKind::Lost,
                                               QStringLiteral("the device was removed"), At(nUs)}));
        else
            QVERIFY(log.Write(bytes, KrBlockTimes(At(nUs))));
    }
    QVERIFY(log.Flush(kWait));
}

} // namespace

class TestLogTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void printsEachUnitWithItsFirstByte_data();
    void printsEachUnitWithItsFirstByte();
    void verifyAndMissingIndex();
    void rangeOfAHugeLogReadsOnlyWhatItPrints();
    void wrongArgumentsStateTheForm_data();
    void wrongArgumentsStateTheForm();

private:
    QTemporaryDir* m_pDir = nullptr;
    QString m_strOldCwd;
};

void TestLogTool::initTestCase()
{
    // --from, --to and the local styles read the local zone: UTC here.
    qputenv("TZ", "UTC");
    tzset();
}

void TestLogTool::init()
{
    m_strOldCwd = QDir::currentPath();
    m_pDir = new QTemporaryDir;
    QVERIFY(m_pDir->isValid());
    QVERIFY(QDir::setCurrent(m_pDir->path()));
}

void TestLogTool::cleanup()
{
    QDir::setCurrent(m_strOldCwd);
    delete m_pDir;
}

void TestLogTool::printsEachUnitWithItsFirstByte_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    // Reads: "ab\ncd" at 0, "e\n" at 100 ms, the device lost at 110 ms, "f"
    // at 125 ms, "g" 2 ms later. "cde" begins at 0 (its first byte), not at
    // 100 ms; the loss shows between the lines, not in a table.
    const QString lost = QStringLiteral("(port disconnected: the device was removed)");
    QTest::newRow("lines") << QStringList{"--time=since-start"}
                           << QStringList{"+0.000000  ab", "+0.000000  cde", "+0.110000  " + lost,
                                          "+0.125000  fg"};
    QTest::newRow("frames") << QStringList{"--frames=5", "--time=since-start", "--hex"}
                            << QStringList{"+0.000000  [61] [62] [0A] [63] [64] ",
                                           "+0.100000  [65] [0A] ", "+0.110000  " + lost,
                                           "+0.125000  [66] [67] "};
    // A frame keeps a line end inside it as it came.
    QTest::newRow("frames, default gap")
        << QStringList{"--frames", "--time=delta"}
        << QStringList{"+0.000000  ab", "cd", "+0.100000  e", "+0.010000  " + lost,
                       "+0.015000  fg"};
    QTest::newRow("csv") << QStringList{"--frames=1", "--csv", "--time=epoch"}
                         << QStringList{"time,offset,length,bytes",
                                        "1765000000.000000,0,5,61620a6364",
                                        "1765000000.100000,5,2,650a", "1765000000.125000,7,1,66",
                                        "1765000000.127000,8,1,67"};
    QTest::newRow("utc, up to a time")
        << QStringList{"--time=utc", "--to=2025-12-06 05:46:40.05"}
        << QStringList{"2025-12-06 05:46:40.000000 UTC  ab", "2025-12-06 05:46:40.000000 UTC  cd"};
    QTest::newRow("from a time of day")
        << QStringList{"--time=iso", "--from=05:46:40.1"}
        << QStringList{"2025-12-06T05:46:40.100000+00:00  e",
                       "2025-12-06T05:46:40.110000+00:00  " + lost,
                       "2025-12-06T05:46:40.125000+00:00  fg"};
    QTest::newRow("events only") << QStringList{"--events", "--time=since-start"}
                                 << QStringList{"+0.110000  disconnected: the device was removed"};
}

void TestLogTool::printsEachUnitWithItsFirstByte()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    MakeLog({{0, "ab\ncd"}, {100000, "e\n"}, {110000, {}}, {125000, "f"}, {127000, "g"}});
    const Outcome o = Run(args);
    QCOMPARE(o.err, QString());
    QCOMPARE(o.nStatus, 0);
    // The frames row's "ab\ncd" holds its line end as it came.
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
}

void TestLogTool::verifyAndMissingIndex()
{
    MakeLog({{0, "one\n"}, {1000, "two\n"}});
    Outcome o = Run({"--verify"});
    QCOMPARE(o.nStatus, 0);
    QVERIFY2(o.lines.value(0).contains(QLatin1String("agrees")), qPrintable(o.lines.value(0)));
    // The log lost its last byte: the index claims what the log lacks.
    QVERIFY(WriteFile(kLog, "one\ntwo"));
    o = Run({"--verify"});
    QCOMPARE(o.nStatus, 1);
    QVERIFY2(o.err.contains(QLatin1String("record 1 ")), qPrintable(o.err));
    QVERIFY(QFile::remove(kIdx));
    o = Run({});
    QCOMPARE(o.nStatus, 0);
    QCOMPARE(o.lines, QStringList({"-  one", "-  two"}));
    QVERIFY2(o.err.contains(kIdx) && o.err.contains(QLatin1String("without times")),
             qPrintable(o.err));
}

void TestLogTool::rangeOfAHugeLogReadsOnlyWhatItPrints()
{
    // A sparse 4 GiB log, its index generated: one 64 KiB run a millisecond.
    // Only the runs in range are read: the zero bytes of the others, had
    // they been printed, would show.
    constexpr qint64 kRun = 65536, kRuns = 65536;
    QFile log(kLog);
    QVERIFY(log.open(QIODevice::WriteOnly) && log.resize(kRun * kRuns));
    const qint64 nMark = 40000 * kRun;
    QVERIFY(log.seek(nMark) && log.write("x\n") == 2);
    log.close();
    QByteArray index = LogIndex::EncodeHeader(kLog);
    for (qint64 i = 0; i < kRuns; ++i) {
        LogIndex::Record r;
        r.nOffset = i * kRun;
        r.nLength = quint32(i == 40000 ? 2 : kRun);
        r.time = At(i * 1000);
        index += LogIndex::EncodeRecord(r);
        if (i == 40000) {
            r.nOffset += 2;
            r.nLength = kRun - 2;
            r.time = At(i * 1000 + 500);
            index += LogIndex::EncodeRecord(r);
        }
    }
    QVERIFY(WriteFile(kIdx, index));
    const Outcome o = Run({"--time=since-start", "--from=2025-12-06 05:47:20",
                           "--to=2025-12-06 05:47:20.000400", "--hex"});
    QCOMPARE(o.err, QString());
    QCOMPARE(o.lines, QStringList({"+40.000000  [78] [0A] "}));
}

void TestLogTool::wrongArgumentsStateTheForm_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("form");
    QTest::newRow("time style") << QStringList{"--time=week"} << "--time=local|utc|iso";
    QTest::newRow("gap") << QStringList{"--frames=soon"} << "--frames=MS";
    QTest::newRow("from") << QStringList{"--from=noon"} << "HH:MM[:SS[.ffffff]]";
    QTest::newRow("unknown") << QStringList{"--colour"} << "usage: vornterm-log";
}

void TestLogTool::wrongArgumentsStateTheForm()
{
    QFETCH(QStringList, args);
    QFETCH(QString, form);
    MakeLog({{0, "a"}});
    const Outcome o = Run(args);
    QCOMPARE(o.nStatus, 2);
    QVERIFY2(o.err.contains(form), qPrintable(o.err));
}

QTEST_GUILESS_MAIN(TestLogTool)
#include "tst_logtool.moc"
