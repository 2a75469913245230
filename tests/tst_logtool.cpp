// vornterm-log on logs the log's writer made with known arrival times: a
// line carries the time of its first byte, frames split at idle gaps, sent
// bytes and several logs share one timeline, a range of times is found in a
// 4 GiB log by the index alone, an index of the first writer still reads,
// and --verify, a missing index and a damaged one say what they must.

#include "CInputLog.h"
#include "CPlotParser.h"
#include "CPlotStore.h"
#include "FileBytes.h"
#include "LogIndexFormat.h"
#include "LogTool.h"
#include "PlotCsv.h"

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

Outcome Run(QStringList args, const QStringList& logs = {kLog})
{
    args << logs;
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QString err;
    const int nStatus = RunLogTool(args, out, err);
    return Outcome{nStatus, QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                   err};
}

const QString kPort = QStringLiteral("/dev/ttyS9 115200,8,N,1");
const QString kStarted = QStringLiteral("(log started: /dev/ttyS9 115200,8,N,1)");
const QString kLost = QStringLiteral("(port disconnected: the device was removed)");

// Hands the pieces to a log of the port with their times (microseconds
// since the base) and waits until they are written. An empty piece is the
// device's loss, one that begins with '>' bytes sent, with '&' the next
// piece of that send.
void MakeLog(const std::vector<std::pair<qint64, QByteArray>>& pieces,
             const QString& strPort = kPort)
{
    QDateTime now(QDate(2026, 12, 6), QTime(12, 0));
    CInputLog log([&now] { return now; });
    log.SetPortDescription(strPort);
    for (const auto& [nUs, bytes] : pieces) {
        if (bytes.isEmpty())
            QVERIFY(log.WriteEvent(KrPortEvent{KrPortEventKind::Lost,
                                               QStringLiteral("the device was removed"), At(nUs)}));
        else if (bytes.startsWith('>') || bytes.startsWith('&'))
            QVERIFY(log.WriteSent(bytes.mid(1), At(nUs), bytes.startsWith('&')));
        else
            QVERIFY(log.Write(bytes, KrBlockTimes(At(nUs))));
    }
    QVERIFY(log.Flush(kWait));
}

// The standard log: "ab\ncd" at 0, "e\n" at 100 ms, the device lost at
// 110 ms, "f" at 125 ms, "g" 2 ms later. Its index's records: 0 to 2 the
// session's start, 3 "ab\ncd", 4 "e\n", 5 to 7 the loss, 8 "f", 9 "g".
void MakeStandardLog()
{
    MakeLog({{0, "ab\ncd"}, {100000, "e\n"}, {110000, {}}, {125000, "f"}, {127000, "g"}});
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
    void sentAndReceivedOnOneTimeline_data();
    void sentAndReceivedOnOneTimeline();
    void mergesLogsOnOneTimeline_data();
    void mergesLogsOnOneTimeline();
    void verifyAndMissingIndex();
    void damagedIndexIsNamed_data();
    void damagedIndexIsNamed();
    void readsAnIndexOfTheFirstWriter_data();
    void readsAnIndexOfTheFirstWriter();
    void rangeOfAHugeLogReadsOnlyWhatItPrints();
    void plotCsvIsThePlotsExport();
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
    // "cde" begins at 0 (its first byte), not at 100 ms; the loss and the
    // session's start show between the lines, not in a table.
    QTest::newRow("lines") << QStringList{"--time=since-start"}
                           << QStringList{"+0.000000  " + kStarted, "+0.000000  ab",
                                          "+0.000000  cde", "+0.110000  " + kLost, "+0.125000  fg"};
    QTest::newRow("frames") << QStringList{"--frames=5", "--time=since-start", "--hex"}
                            << QStringList{"+0.000000  " + kStarted,
                                           "+0.000000  [61] [62] [0A] [63] [64] ",
                                           "+0.100000  [65] [0A] ", "+0.110000  " + kLost,
                                           "+0.125000  [66] [67] "};
    // A frame keeps a line end inside it as it came.
    QTest::newRow("frames, default gap")
        << QStringList{"--frames", "--time=delta"}
        << QStringList{"+0.000000  " + kStarted, "+0.000000  ab",       "cd",
                       "+0.100000  e",           "+0.010000  " + kLost, "+0.015000  fg"};
    QTest::newRow("csv") << QStringList{"--frames=1", "--csv", "--time=epoch"}
                         << QStringList{"time,offset,length,bytes",
                                        "1765000000.000000,0,5,61620a6364",
                                        "1765000000.100000,5,2,650a", "1765000000.125000,7,1,66",
                                        "1765000000.127000,8,1,67"};
    QTest::newRow("utc, up to a time")
        << QStringList{"--time=utc", "--to=2025-12-06 05:46:40.05"}
        << QStringList{"2025-12-06 05:46:40.000000 UTC  " + kStarted,
                       "2025-12-06 05:46:40.000000 UTC  ab", "2025-12-06 05:46:40.000000 UTC  cd"};
    QTest::newRow("from a time of day") << QStringList{"--time=iso", "--from=05:46:40.1"}
                                        << QStringList{"2025-12-06T05:46:40.100000+00:00  e",
                                                       "2025-12-06T05:46:40.110000+00:00  " + kLost,
                                                       "2025-12-06T05:46:40.125000+00:00  fg"};
    QTest::newRow("events only") << QStringList{"--events", "--time=since-start"}
                                 << QStringList{"+0.000000  log started: /dev/ttyS9 115200,8,N,1",
                                                "+0.110000  disconnected: the device was removed"};
}

void TestLogTool::printsEachUnitWithItsFirstByte()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    MakeStandardLog();
    const Outcome o = Run(args);
    QCOMPARE(o.err, QString());
    QCOMPARE(o.nStatus, 0);
    // The frames row's "ab\ncd" holds its line end as it came.
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
}

void TestLogTool::sentAndReceivedOnOneTimeline_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    // A request, its reply 40 ms later in two reads 1 ms apart (one record:
    // the second line's time is its read's), another request and reply, and
    // a send of 300 bytes in two pieces (150 'a', 150 'b'), of which the ends
    // are kept.
    const QString summary = QString(64, 'a') + " [... 172 bytes not kept ...] " + QString(64, 'b');
    QTest::newRow("delay since the line before")
        << QStringList{"--sent", "--time=delta"}
        << QStringList{"+0.000000    " + kStarted, "+0.000000  > AT+CSQ\\r",
                       "+0.040000  < +CSQ: 20,99", "+0.001000  < OK",
                       "+0.059000  > AT\\r",       "+0.040000  < OK",
                       "+0.060000  > " + summary};
    QTest::newRow("table") << QStringList{"--sent", "--csv", "--time=epoch", "--to=05:46:40.15"}
                           << QStringList{
                                  "time,direction,offset,length,bytes,text",
                                  "1765000000.000000,sent,0,7,41542b4353510d,\"AT+CSQ\\r\"",
                                  "1765000000.040000,received,0,13,2b4353513a2032302c39390d0a,"
                                  "\"+CSQ: 20,99\\r\\n\"",
                                  "1765000000.041000,received,13,4,4f4b0d0a,\"OK\\r\\n\"",
                                  "1765000000.100000,sent,17,3,41540d,\"AT\\r\"",
                                  "1765000000.140000,received,17,4,4f4b0d0a,\"OK\\r\\n\""};
    QTest::newRow("hex, frames of received bytes as before")
        << QStringList{"--sent", "--hex", "--frames=5", "--time=since-start", "--to=05:46:40.12"}
        << QStringList{"+0.000000    " + kStarted,
                       "+0.000000  > [41] [54] [2B] [43] [53] [51] [0D] ",
                       "+0.040000  < [2B] [43] [53] [51] [3A] [20] [32] [30] [2C] [39] [39] [0D] "
                       "[0A] [4F] [4B] [0D] [0A] ",
                       "+0.100000  > [41] [54] [0D] "};
    QTest::newRow("events and sent bytes")
        << QStringList{"--events", "--sent", "--time=since-start", "--to=05:46:40.12"}
        << QStringList{"+0.000000  log started: /dev/ttyS9 115200,8,N,1", "+0.000000  > AT+CSQ\\r",
                       "+0.100000  > AT\\r"};
}

void TestLogTool::sentAndReceivedOnOneTimeline()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    MakeLog({{0, ">AT+CSQ\r"},
             {40000, "+CSQ: 20,99\r\n"},
             {41000, "OK\r\n"},
             {100000, ">AT\r"},
             {140000, "OK\r\n"},
             {200000, '>' + QByteArray(150, 'a')},
             {200100, '&' + QByteArray(150, 'b')}});
    const Outcome o = Run(args);
    QCOMPARE(o.err, QString());
    QCOMPARE(o.nStatus, 0);
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
}

void TestLogTool::mergesLogsOnOneTimeline_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("labelled with their ports")
        << QStringList{"--merge", "--time=since-start", "a/" + kLog, "b/" + kLog}
        << QStringList{"+0.000000  /dev/ttyA  (log started: /dev/ttyA 9600,8,N,1)",
                       "+0.000000  /dev/ttyA  a1",
                       "+0.010000  /dev/ttyB  (log started: /dev/ttyB 9600,8,N,1)",
                       "+0.010000  /dev/ttyB  b1",
                       "+0.020000  /dev/ttyA  a2",
                       "+0.030000  /dev/ttyB  b2"};
    QTest::newRow("labels given, a table")
        << QStringList{"--merge", "--csv", "--time=epoch", "TX=a/" + kLog, "RX=b/" + kLog}
        << QStringList{"time,port,offset,length,bytes", "1765000000.000000,\"TX\",0,3,61310a",
                       "1765000000.010000,\"RX\",0,3,62310a", "1765000000.020000,\"TX\",3,3,61320a",
                       "1765000000.030000,\"RX\",3,3,62320a"};
    QTest::newRow("with the bytes sent, delays in either direction")
        << QStringList{"--merge",   "--sent",   "--time=delta", "--from=05:46:40.004",
                       "a/" + kLog, "b/" + kLog}
        << QStringList{"+0.000000  /dev/ttyA  > go\\r",
                       "+0.005000  /dev/ttyB    (log started: /dev/ttyB 9600,8,N,1)",
                       "+0.000000  /dev/ttyB  < b1", "+0.010000  /dev/ttyA  < a2",
                       "+0.010000  /dev/ttyB  < b2"};
}

void TestLogTool::mergesLogsOnOneTimeline()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    // Two ports, each logged in its folder, written to with known gaps; "go"
    // is sent on the first.
    const std::vector<std::pair<qint64, QByteArray>> pieces[] = {
        {{0, "a1\n"}, {5000, ">go\r"}, {20000, "a2\n"}}, {{10000, "b1\n"}, {30000, "b2\n"}}};
    for (const int i : {0, 1}) {
        const QString strFolder = QString(QLatin1Char('a' + i));
        QVERIFY(QDir().mkdir(strFolder) && QDir::setCurrent(strFolder));
        MakeLog(pieces[i], QStringLiteral("/dev/tty%1 9600,8,N,1").arg(strFolder.toUpper()));
        QVERIFY(QDir::setCurrent(m_pDir->path()));
    }
    const Outcome o = Run(args, {});
    QCOMPARE(o.err, QString());
    QCOMPARE(o.nStatus, 0);
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
}

void TestLogTool::verifyAndMissingIndex()
{
    MakeLog({{0, "one\n"}, {10000, "two\n"}});
    Outcome o = Run({"--verify"});
    QCOMPARE(o.nStatus, 0);
    QVERIFY2(o.lines.value(0).contains(QLatin1String("agrees")), qPrintable(o.lines.value(0)));
    // The log lost its last byte: the index claims what the log lacks.
    QVERIFY(WriteFile(kLog, "one\ntwo"));
    o = Run({"--verify"});
    QCOMPARE(o.nStatus, 1);
    QVERIFY2(o.err.contains(QLatin1String("record 4 ")), qPrintable(o.err));
    QVERIFY(QFile::remove(kIdx));
    o = Run({});
    QCOMPARE(o.nStatus, 0);
    QCOMPARE(o.lines, QStringList({"-  one", "-  two"}));
    QVERIFY2(o.err.contains(kIdx) && o.err.contains(QLatin1String("without times")),
             qPrintable(o.err));
    // Merged logs need their times.
    QVERIFY(QDir().mkdir("b") && QFile::copy(kLog, "b/" + kLog));
    o = Run({"--merge"}, {kLog, "b/" + kLog});
    QCOMPARE(o.nStatus, 2);
    QVERIFY2(o.err.contains(QLatin1String("no timing index")), qPrintable(o.err));
}

void TestLogTool::damagedIndexIsNamed_data()
{
    QTest::addColumn<int>("damage"); // 0 a flipped byte, 1 a cut, 2 two records swapped
    QTest::addColumn<QString>("named");
    QTest::addColumn<QStringList>("expected");
    // Bytes a damaged record described have no time ("-"); a line that began
    // with a time keeps it.
    QTest::newRow("a flipped byte")
        << 0 << "record 8 (byte 320 of the index): damaged (its check does not match)"
        << QStringList{"+0.000000  " + kStarted, "+0.000000  ab", "+0.000000  cde",
                       "+0.110000  " + kLost, "-  fg"};
    QTest::newRow("ten bytes cut out of a record")
        << 1 << "record 4 (byte 192 of the index): damaged"
        << QStringList{"+0.000000  " + kStarted, "+0.000000  ab", "+0.000000  cde", "-  fg"};
    QTest::newRow("two records swapped")
        << 2 << "record 8 (byte 320 of the index): offset 5 goes back before 7"
        << QStringList{"+0.000000  " + kStarted, "+0.000000  ab",       "+0.000000  cde",
                       "+0.125000  f",           "+0.110000  " + kLost, "+0.127000  g"};
}

void TestLogTool::damagedIndexIsNamed()
{
    QFETCH(int, damage);
    QFETCH(QString, named);
    QFETCH(QStringList, expected);
    MakeStandardLog();
    QByteArray index = ReadFile(kIdx);
    const auto at = [](int nRecord) {
        return LogIndex::kHeaderSize + nRecord * LogIndex::kRecordSize;
    };
    QCOMPARE(index.size(), at(10));
    if (damage == 0) {
        index[at(8) + 20] = char(index[at(8) + 20] ^ 0x10);
    } else if (damage == 1) {
        index.remove(at(4), 10);
    } else {
        const QByteArray four = index.mid(at(4), LogIndex::kRecordSize);
        index.replace(at(4), LogIndex::kRecordSize, index.mid(at(8), LogIndex::kRecordSize));
        index.replace(at(8), LogIndex::kRecordSize, four);
    }
    QVERIFY(WriteFile(kIdx, index));
    const Outcome o = Run({"--time=since-start"});
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
    // Every way of printing says so, and ends with the status of a damaged
    // index.
    for (const QStringList& args : {QStringList{}, QStringList{"--csv"}, QStringList{"--frames=2"},
                                    QStringList{"--events"}}) {
        const Outcome each = Run(args);
        QCOMPARE(each.nStatus, 3);
        QVERIFY2(each.err.contains(kIdx + "' is damaged: " + named), qPrintable(each.err));
    }
    QCOMPARE(Run({"--verify"}).nStatus, 1);
}

void TestLogTool::readsAnIndexOfTheFirstWriter_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected");
    // Made by the first writer (one record a read): "one\ntw" at 1 ms, "o\n"
    // at 2 ms, "three\n" at 250 ms, the port opened before and lost between.
    QTest::newRow("lines") << QStringList{"--time=since-start"}
                           << QStringList{"+0.000000  (port opened: /dev/ttyS9 115200,8,N,1)",
                                          "+0.001000  one", "+0.001000  two", "+0.050000  " + kLost,
                                          "+0.250000  three"};
    QTest::newRow("frames finer than the resolution: each read its own")
        << QStringList{"--frames=0.5", "--csv", "--time=epoch"}
        << QStringList{"time,offset,length,bytes", "1765000000.001000,0,6,6f6e650a7477",
                       "1765000000.002000,6,2,6f0a", "1765000000.250000,8,6,74687265650a"};
    QTest::newRow("verify")
        << QStringList{"--verify"}
        << QStringList{"'" + kIdx + "' agrees with '" + kLog +
                           "': 9 records, 14 of 14 bytes with times, 2 events, 0 bytes lost "
                           "before the log, 0 bytes sent in 0 records",
                       "written by a program of the first index revision: one data record a "
                       "read, no sent records"};
}

void TestLogTool::readsAnIndexOfTheFirstWriter()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    for (const QString& strName : {kLog, kIdx})
        QVERIFY(
            QFile::copy(QStringLiteral(VORNTERM_TEST_DATA "/logindex-rev1/") + strName, strName));
    const Outcome o = Run(args);
    QCOMPARE(o.err, QString());
    QCOMPARE(o.nStatus, 0);
    QCOMPARE(o.lines.join(QLatin1Char('\n')), expected.join(QLatin1Char('\n')));
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

void TestLogTool::plotCsvIsThePlotsExport()
{
    // Lines with values as a device prints them, some split over two reads,
    // some with a label of their own, the wall clock set back once (the
    // monotonic clock goes on), more lines than are written at once: the
    // log's CSV is what the plot window exports after being fed the same
    // bytes with the same times.
    CPlotStore store;
    CPlotParser parser(store);
    {
        QDateTime now(QDate(2026, 12, 6), QTime(12, 0));
        CInputLog log([&now] { return now; });
        qint64 nWall = 0, nMono = 0;
        const auto read = [&](const char* p, qsizetype n) {
            const KrTimeStamp time{kBase + nWall, nMono};
            QVERIFY(log.Write(QByteArray(p, n), KrBlockTimes(time)));
            parser.Feed(p, n, PlotTimesAt(time.nWallUs));
        };
        for (int i = 0; i < 5000; ++i) {
            QByteArray line = "t:" + QByteArray::number(i) + " v=" + QByteArray::number(i * 0.25);
            if (i % 997 == 0)
                line += " extra" + QByteArray::number(i) + ":-1e-3";
            line += "\r\n";
            nWall += i == 3000 ? -50000 : 10000;
            nMono += 10000;
            const qsizetype nSplit = i % 3 == 0 ? line.size() / 2 : line.size();
            read(line.constData(), nSplit);
            nWall += 2000;
            nMono += 2000;
            if (nSplit < line.size())
                read(line.constData() + nSplit, line.size() - nSplit);
        }
        QVERIFY(log.Flush(kWait));
    }
    parser.Finish();
    QByteArray expected;
    QBuffer buffer(&expected);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(PlotCsv::Write(store, buffer, nullptr));

    const Outcome outcome = Run({QStringLiteral("--plot-csv")});
    QCOMPARE(outcome.nStatus, 0);
    QCOMPARE(outcome.lines.size(), 5001);
    QVERIFY(outcome.lines.first().startsWith(QStringLiteral("time,t,v,extra0,extra997")));
    QCOMPARE(outcome.lines.join(QLatin1Char('\n')) + QLatin1Char('\n'),
             QString::fromUtf8(expected));
}

QTEST_GUILESS_MAIN(TestLogTool)
#include "tst_logtool.moc"
