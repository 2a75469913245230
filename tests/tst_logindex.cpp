// The timing index beside the day's log: its records, as the log's writer
// keeps them, agree with the log's bytes; reads that follow each other
// closely share a record, exactly where the resolution says; reads that wait
// long for the writer keep their own times; a crash's torn record and bytes
// the log lacks are never trusted; the log goes on when the index cannot.

#include "CInputLog.h"
#include "CLogIndex.h"
#include "FileBytes.h"
#include "LogIndexReader.h"
#include "LogObstacle.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using LogIndex::Record;
using LogIndex::RecordKind;

namespace {

constexpr int kWait = 30000;

const QDateTime kDec6(QDate(2026, 12, 6), QTime(12, 0));
const QString kLog = QStringLiteral("VornTerm.12-06-26.LOG");
const QString kIdx = QStringLiteral("VornTerm.12-06-26.IDX");

KrTimeStamp At(qint64 n)
{
    return KrTimeStamp{1'000'000'000'000 + n, n};
}

// The usable records of an index (given as bytes) beside a log of nLogSize.
std::vector<Record> Records(const QByteArray& index, qint64 nLogSize, QString* pWhy = nullptr)
{
    QByteArray copy = index;
    QBuffer dev(&copy);
    dev.open(QIODevice::ReadOnly);
    CLogIndexReader reader;
    std::vector<Record> records;
    if (!reader.Open(&dev, nLogSize)) {
        if (pWhy)
            *pWhy = reader.ErrorText();
        return records;
    }
    Record r;
    for (qint64 i = 0; i < reader.UsableCount() && reader.At(i, &r); ++i)
        records.push_back(r);
    return records;
}

LogIndex::Verdict VerifyBytes(const QByteArray& index, qint64 nLogSize)
{
    QByteArray copy = index;
    QBuffer dev(&copy);
    dev.open(QIODevice::ReadOnly);
    CLogIndexReader reader;
    if (!reader.Open(&dev, nLogSize))
        return LogIndex::Verdict{0, 0, 0, 0, reader.ErrorText(), false};
    return LogIndex::Verify(reader);
}

// "D0+5@10" data (flags: c continues, s several reads), "R5-2@12" the last
// read (its bytes from the end), "E5:2@15" event, "T'gone'" text, "S5+3@16"
// sent, "L5+9@17" lost; times are the monotonic microseconds.
QString Describe(const std::vector<Record>& records)
{
    QStringList parts;
    for (const Record& r : records) {
        const QString at = QStringLiteral("@%1").arg(r.time.nMonoUs);
        switch (r.kind) {
        case RecordKind::Data:
            parts << QStringLiteral("D%1+%2").arg(r.nOffset).arg(r.nLength) + at +
                         (r.nCode & LogIndex::kContinues ? "c" : "") +
                         (r.nCode & LogIndex::kSeveral ? "s" : "");
            break;
        case RecordKind::LastRead:
            parts << QStringLiteral("R%1-%2").arg(r.nOffset).arg(r.nLength) + at;
            break;
        case RecordKind::Lost:
            parts << QStringLiteral("L%1+%2").arg(r.nOffset).arg(r.nLength) + at;
            break;
        case RecordKind::Event:
            parts << QStringLiteral("E%1:%2").arg(r.nOffset).arg(r.nCode) + at;
            break;
        case RecordKind::Sent:
            parts << QStringLiteral("S%1+%2").arg(r.nOffset).arg(r.nLength) + at;
            break;
        case RecordKind::Text:
            parts << QStringLiteral("T'%1'").arg(QString::fromLatin1(r.text));
            break;
        }
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestLogIndex : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void blockTimes_data();
    void blockTimes();
    void recordsSurviveEncodingAndNoOther_data();
    void recordsSurviveEncodingAndNoOther();
    void indexDescribesTheLogInOrder_data();
    void indexDescribesTheLogInOrder();
    void readsJoinWithinTheResolution_data();
    void readsJoinWithinTheResolution();
    void readsWaitingLongKeepTheirTimes_data();
    void readsWaitingLongKeepTheirTimes();
    void tornLastRecordIsIgnoredAndCutOff();
    void bytesTheLogLacksAreNeverClaimed();
    void dayChangeSwitchesLogAndIndexTogether();
    void logGoesOnWhenTheIndexCannot();
    void searchByOffsetAndTime();

private:
    CInputLog::Clock ClockAt(QDateTime* pNow)
    {
        return [pNow] { return *pNow; };
    }
    QTemporaryDir* m_pDir = nullptr;
    QString m_strOldCwd;
};

void TestLogIndex::init()
{
    m_strOldCwd = QDir::currentPath();
    m_pDir = new QTemporaryDir;
    QVERIFY(m_pDir->isValid());
    QVERIFY(QDir::setCurrent(m_pDir->path()));
}

void TestLogIndex::cleanup()
{
    QDir::setCurrent(m_strOldCwd);
    delete m_pDir;
    m_pDir = nullptr;
}

void TestLogIndex::blockTimes_data()
{
    // Three reads joined: "aaa" at 1, "bb" at 2, "c" at 3.
    QTest::addColumn<qint64>("from");
    QTest::addColumn<QString>("expected"); // the time of each byte from `from`
    QTest::newRow("whole") << qint64(0) << "111223";
    QTest::newRow("inside the first part") << qint64(1) << "11223";
    QTest::newRow("at a part's start") << qint64(3) << "223";
    QTest::newRow("the last byte") << qint64(5) << "3";
}

void TestLogIndex::blockTimes()
{
    QFETCH(qint64, from);
    QFETCH(QString, expected);
    KrBlockTimes times(At(1));
    times.Join(3, KrBlockTimes(At(2)));
    times.Join(5, KrBlockTimes(At(3)));
    const KrBlockTimes tail = times.From(from);
    QString got;
    for (qint64 i = 0; i < 6 - from; ++i)
        got += QString::number(tail.TimeAt(i).nMonoUs);
    QCOMPARE(got, expected);
}

void TestLogIndex::recordsSurviveEncodingAndNoOther_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    QTest::newRow("data") << int(RecordKind::Data) << QString() << QString();
    QTest::newRow("lost") << int(RecordKind::Lost) << QString() << QString();
    QTest::newRow("event without text") << int(RecordKind::Event) << QString() << QString();
    QTest::newRow("event, text") << int(RecordKind::Event) << QStringLiteral("gone: é")
                                 << QStringLiteral("gone: é");
    // 16 records of 16 bytes hold 256: the text is cut before the character
    // that does not fit whole ("é" is two bytes, the 256th byte would split it).
    QTest::newRow("event, long text")
        << int(RecordKind::Event) << QString(255, QLatin1Char('x')) + QStringLiteral("éé")
        << QString(255, QLatin1Char('x'));
}

void TestLogIndex::recordsSurviveEncodingAndNoOther()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, stored);
    Record r;
    r.nOffset = 0x1'2345'6789;
    r.nLength = kind == int(RecordKind::Event) ? 0 : 4000;
    r.kind = RecordKind(kind);
    r.nCode = kind == int(RecordKind::Event) ? 2 : 0;
    r.time = At(777);
    const QByteArray bytes = r.kind == RecordKind::Event
                                 ? LogIndex::EncodeEvent(r.nOffset, r.nCode, r.time, text)
                                 : LogIndex::EncodeRecord(r);
    QCOMPARE(bytes.size() % LogIndex::kRecordSize, 0);
    Record back;
    QVERIFY(LogIndex::DecodeRecord(bytes.constData(), &back));
    QCOMPARE(back.nOffset, r.nOffset);
    QCOMPARE(back.nLength, r.nLength);
    QCOMPARE(int(back.kind), kind);
    QCOMPARE(back.nCode, r.nCode);
    QCOMPARE(back.time, r.time);
    QByteArray joined;
    for (int i = 1; i < bytes.size() / LogIndex::kRecordSize; ++i) {
        QVERIFY(LogIndex::DecodeRecord(bytes.constData() + i * LogIndex::kRecordSize, &back));
        QCOMPARE(int(back.kind), int(RecordKind::Text));
        joined += back.text;
    }
    QCOMPARE(QString::fromUtf8(joined), stored);
    // Any one bit changed is caught.
    for (int nBit = 0; nBit < LogIndex::kRecordSize * 8; ++nBit) {
        QByteArray bad = bytes.left(LogIndex::kRecordSize);
        bad[nBit / 8] = char(bad[nBit / 8] ^ (1 << (nBit % 8)));
        QVERIFY2(!LogIndex::DecodeRecord(bad.constData(), &back),
                 qPrintable(QString::number(nBit)));
    }
}

void TestLogIndex::indexDescribesTheLogInOrder_data()
{
    QTest::addColumn<bool>("large");
    QTest::newRow("small blocks, gathered") << false;
    QTest::newRow("large blocks, shared") << true;
}

void TestLogIndex::indexDescribesTheLogInOrder()
{
    QFETCH(bool, large);
    const qint64 n = large ? 5000 : 3;
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        KrBlockTimes joined(At(20));
        joined.Join(n, KrBlockTimes(At(21)));
        QVERIFY(log.Write(QByteArray(int(n), 'a'), KrBlockTimes(At(10))));
        QVERIFY(log.WriteEvent(KrPortEvent{KrPortEventKind::Lost, QStringLiteral("gone"), At(15)}));
        QVERIFY(log.Write(QByteArray(int(2 * n), 'b'), joined));
        QVERIFY(log.Flush(kWait));
        QVERIFY(log.IndexFailureText().isEmpty());
    }
    const QByteArray index = ReadFile(kIdx);
    QVERIFY(index.startsWith(LogIndex::EncodeHeader(kLog)));
    QCOMPARE(ReadFile(kLog).size(), 3 * n); // the log holds only the bytes
    // The joined block's reads, 1 us apart, share a record, which goes on
    // from the bytes before the event (10 us earlier); the session's start
    // comes first.
    QCOMPARE(Describe(Records(index, 3 * n)),
             QStringLiteral("E0:128@10 D0+%1@10 E%1:2@15 T'gone' D%1+%2@20cs R%3-%1@21")
                 .arg(n)
                 .arg(2 * n)
                 .arg(3 * n));
    const LogIndex::Verdict v = VerifyBytes(index, 3 * n);
    QCOMPARE(v.strProblem, QString());
    QCOMPARE(v.nTimedBytes, 3 * n);
}

void TestLogIndex::readsJoinWithinTheResolution_data()
{
    // Steps: "d<us>+<n>" n bytes read at <us>; "d<from>..<to>/<step>+<n>" a
    // read every <step> us; "e<us>" a line change; "s<us>:<n>" n bytes sent,
    // "p<us>:<n>" the next piece of that send.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("reads closer than the resolution share a record")
        << "d0+12 d1000+12 d2400+12"
        << "E0:128@0 D0+36@0s R36-12@2400";
    QTest::newRow("a gap of the resolution splits them") << "d0+12 d1500+12"
                                                         << "E0:128@0 D0+12@0 D12+12@1500";
    QTest::newRow("a gap just under it does not") << "d0+12 d1499+12"
                                                  << "E0:128@0 D0+24@0s R24-12@1499";
    QTest::newRow("a stream goes on in a new record after 100 ms")
        << "d0..101000/1000+12"
        << "E0:128@0 D0+1200@0s D1200+24@100000cs R1224-12@101000";
    // Ten reads of 12 bytes a millisecond apart make a steady stream; a read
    // 2 ms later with the 24 bytes its pace brings is the reading held up,
    // as is one 1.8 ms later with its usual 12 (0.8 ms left unexplained).
    QTest::newRow("a steady stream read late goes on") << "d0..9000/1000+12 d11000+24 d12000+12"
                                                       << "E0:128@0 D0+156@0s R156-12@12000";
    QTest::newRow("a steady stream read a little late goes on")
        << "d0..9000/1000+12 d10800+12"
        << "E0:128@0 D0+132@0s R132-12@10800";
    // A reading side held up 6 ms on a busy machine brings what the line
    // sent meanwhile; 18 ms is past the 16 intervals a late read may take.
    QTest::newRow("a steady stream read 6 ms late goes on") << "d0..9000/1000+12 d15000+72"
                                                            << "E0:128@0 D0+192@0s R192-72@15000";
    QTest::newRow("a steady stream read 18 ms late does not")
        << "d0..9000/1000+12 d27000+216"
        << "E0:128@0 D0+120@0s R120-12@9000 D120+216@27000";
    QTest::newRow("a pause in a steady stream is kept")
        << "d0..9000/1000+12 d12000+12"
        << "E0:128@0 D0+120@0s R120-12@9000 D120+12@12000";
    QTest::newRow("a steady stream read late again and again goes on")
        << "d0..9000/1000+12 d11000..21000/2000+24"
        << "E0:128@0 D0+264@0s R264-24@21000";
    QString bursts = QStringLiteral("E0:128@0");
    for (int i = 0; i < 16; ++i)
        bursts += QStringLiteral(" D%1+64@%2").arg(i * 64).arg(i * 2000);
    QTest::newRow("bursts 2 ms apart never make a pace") << "d0..30000/2000+64" << bursts;
    // Bursts 2 ms apart, each third brought to 1.2 ms by a held-up reading
    // side: those join, the rest are no stream.
    QString steps, expected = QStringLiteral("E0:128@0");
    for (int i = 0, t = 0; i < 30; t += i % 3 == 1 ? 1200 : 2000, ++i) {
        steps += QStringLiteral("d%1+64 ").arg(t);
        if (i % 3 == 2)
            expected += QStringLiteral("s R%1-64@%2").arg((i + 1) * 64).arg(t);
        else
            expected += QStringLiteral(" D%1+%2@%3").arg(i * 64).arg(i % 3 == 1 ? 128 : 64).arg(t);
    }
    QTest::newRow("bursts brought close now and then make no pace") << steps.trimmed() << expected;
    QTest::newRow("too early in a stream to tell its pace")
        << "d0..3000/1000+12 d5000+24"
        << "E0:128@0 D0+48@0s R48-12@3000 D48+24@5000";
    QTest::newRow("a clock that goes back starts a record") << "d5000+4 d4000+4"
                                                            << "E0:128@5000 D0+4@5000 D4+4@4000";
    QTest::newRow("an event ends a record, the stream goes on")
        << "d0+5 d1000+5 e1200 d2000+5"
        << "E0:128@0 D0+10@0s R10-5@1000 E10:6@1200 T'DTR on' D10+5@2000c";
    QTest::newRow("bytes sent between reads") << "d0+5 s500:3 d1000+5"
                                              << "E0:128@0 D0+5@0 S5+3@500 T'xxx' D5+5@1000c";
    QTest::newRow("pieces of one send join until a read comes between")
        << "s0:10 p1000:10 p2000:10 d3000+2 p4000:10"
        << "E0:128@0 S0+30@0 T'xxxxxxxxxxxxxxxx' T'xxxxxxxxxxxxxx' R0-10@2000 D0+2@3000 S2+10@4000 "
           "T'xxxxxxxxxx'";
    QTest::newRow("a read longer than an entry of the queue stays one read")
        << "d0+1500000"
        << "E0:128@0 D0+1500000@0";
}

void TestLogIndex::readsJoinWithinTheResolution()
{
    QFETCH(QString, steps);
    QFETCH(QString, expected);
    static const QRegularExpression re(R"(^([desp])(\d+)(?:\.\.(\d+)/(\d+))?(?:[+:](\d+))?$)");
    // Handed over at once, and with the writer done after each step: the
    // record still open is written whole and written again as it grows.
    for (const bool bFlushEach : {false, true}) {
        QFile::remove(kLog);
        QFile::remove(kIdx);
        QDateTime now = kDec6;
        qint64 nLogged = 0;
        {
            CInputLog log(ClockAt(&now));
            for (const QString& step : steps.split(QLatin1Char(' '))) {
                const QRegularExpressionMatch m = re.match(step);
                QVERIFY2(m.hasMatch(), qPrintable(step));
                const qint64 nFrom = m.captured(2).toLongLong();
                const qint64 nTo = m.captured(3).isEmpty() ? nFrom : m.captured(3).toLongLong();
                const qint64 nStep = std::max<qint64>(m.captured(4).toLongLong(), 1);
                const int n = m.captured(5).toInt();
                for (qint64 t = nFrom; t <= nTo; t += nStep) {
                    if (m.captured(1) == QLatin1String("d")) {
                        QVERIFY(log.Write(QByteArray(n, 'a'), KrBlockTimes(At(t))));
                        nLogged += n;
                    } else if (m.captured(1) == QLatin1String("e")) {
                        QVERIFY(log.WriteEvent(KrPortEvent{KrPortEventKind::LineChange,
                                                           QStringLiteral("DTR on"), At(t)}));
                    } else {
                        QVERIFY(log.WriteSent(QByteArray(n, 'x'), At(t),
                                              m.captured(1) == QLatin1String("p")));
                    }
                }
                if (bFlushEach)
                    QVERIFY(log.Flush(kWait));
            }
            QVERIFY(log.Flush(kWait));
        }
        const QByteArray index = ReadFile(kIdx);
        QCOMPARE(Describe(Records(index, nLogged)), expected);
        QCOMPARE(VerifyBytes(index, nLogged).strProblem, QString());
    }
}

void TestLogIndex::readsWaitingLongKeepTheirTimes_data()
{
    // Reads of one byte, 2 ms apart (no two share a record), all waiting
    // while the log is locked by another program; how many of them have a
    // time of their own when they are written.
    QTest::addColumn<qint64>("reads");
    QTest::addColumn<qint64>("timed");
    QTest::newRow("more than one entry of the queue holds")
        << qint64(2 * CLogIndexMarks::kMaxTimes + 3) << qint64(2 * CLogIndexMarks::kMaxTimes + 3);
    // Past the bound the rest share the last time kept (an earlier one).
    QTest::newRow("more than may wait")
        << CInputLog::kMaxTimesWaiting + 5 << CInputLog::kMaxTimesWaiting;
}

void TestLogIndex::readsWaitingLongKeepTheirTimes()
{
    QFETCH(qint64, reads);
    QFETCH(qint64, timed);
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        LogObstacle lock(LogObstacle::Locked, kLog);
        QVERIFY(lock.Place());
        for (qint64 i = 0; i < reads; ++i)
            QVERIFY(log.Write(QByteArray(1, 'a'), KrBlockTimes(At(2000 * i))));
        QVERIFY(!log.Flush(kWait));
        QVERIFY(lock.Remove());
        QVERIFY(log.Flush(kWait));
    }
    const QByteArray index = ReadFile(kIdx);
    const std::vector<Record> records = Records(index, reads);
    QCOMPARE(qint64(records.size()), timed + 1);
    for (qint64 i = 0; i < timed; ++i) {
        const Record& r = records[size_t(i + 1)];
        const qint64 nLength = i + 1 < timed ? 1 : reads - i;
        if (r.kind != RecordKind::Data || r.nOffset != i || r.nLength != nLength ||
            r.time.nMonoUs != 2000 * i)
            QFAIL(qPrintable(QStringLiteral("read %1: %2").arg(i).arg(Describe({r}))));
    }
    QCOMPARE(VerifyBytes(index, reads).strProblem, QString());
}

void TestLogIndex::tornLastRecordIsIgnoredAndCutOff()
{
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("one"), KrBlockTimes(At(10000))));
        QVERIFY(log.Flush(kWait));
        QVERIFY(log.Write(QByteArray("two"), KrBlockTimes(At(20000))));
        QVERIFY(log.Flush(kWait));
    }
    const QByteArray whole = ReadFile(kIdx);
    const int nLast = whole.size() - LogIndex::kRecordSize;
    QCOMPARE(Describe(Records(whole, 6)), QStringLiteral("E0:128@10000 D0+3@10000 D3+3@20000"));
    // A crash left every possible part of the last record.
    for (int nCut = 0; nCut < LogIndex::kRecordSize; ++nCut) {
        const QByteArray torn = whole.left(nLast + nCut);
        const LogIndex::Verdict v = VerifyBytes(torn, 6);
        QCOMPARE(v.strProblem, QString());
        QCOMPARE(v.nGood, 2);
        QCOMPARE(v.bTornTail, nCut > 0);
    }
    // The writer cuts the torn part off before it goes on.
    QVERIFY(WriteFile(kIdx, whole.left(nLast + 17)));
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("3"), KrBlockTimes(At(30000))));
        QVERIFY(log.Flush(kWait));
    }
    QCOMPARE(Describe(Records(ReadFile(kIdx), 7)),
             QStringLiteral("E0:128@10000 D0+3@10000 E6:128@30000 D6+1@30000"));
    QCOMPARE(VerifyBytes(ReadFile(kIdx), 7).strProblem, QString());
}

void TestLogIndex::bytesTheLogLacksAreNeverClaimed()
{
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("abc"), KrBlockTimes(At(10000))));
        QVERIFY(log.Flush(kWait));
        QVERIFY(log.Write(QByteArray("def"), KrBlockTimes(At(20000))));
        QVERIFY(log.Flush(kWait));
    }
    // The log lost its tail (a crash before the disk had it): readers stop
    // at the last record the log bears out, --verify says where.
    QVERIFY(WriteFile(kLog, "abcd"));
    QCOMPARE(Describe(Records(ReadFile(kIdx), 4)), QStringLiteral("E0:128@10000 D0+3@10000"));
    const LogIndex::Verdict v = VerifyBytes(ReadFile(kIdx), 4);
    QVERIFY2(v.strProblem.contains(QLatin1String("record 2 ")) &&
                 v.strProblem.contains(QLatin1String("past the log's end")),
             qPrintable(v.strProblem));
    // The writer drops such records before it adds its own.
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("g"), KrBlockTimes(At(30000))));
        QVERIFY(log.Flush(kWait));
    }
    QCOMPARE(Describe(Records(ReadFile(kIdx), 5)),
             QStringLiteral("E0:128@10000 D0+3@10000 E4:128@30000 D4+1@30000"));
}

void TestLogIndex::dayChangeSwitchesLogAndIndexTogether()
{
    QDateTime now(QDate(2026, 12, 31), QTime(23, 59, 59));
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("old"), KrBlockTimes(At(1))));
        now = QDateTime(QDate(2027, 1, 1), QTime(0, 0));
        QVERIFY(log.Write(QByteArray("new!"), KrBlockTimes(At(2))));
        QVERIFY(log.Flush(kWait));
    }
    QString strWhy;
    // Each file starts with its session's start.
    QCOMPARE(Describe(Records(ReadFile("VornTerm.12-31-26.IDX"), 3)),
             QStringLiteral("E0:128@1 D0+3@1"));
    QCOMPARE(Describe(Records(ReadFile("VornTerm.01-01-27.IDX"), 4, &strWhy)),
             QStringLiteral("E0:128@2 D0+4@2"));
    QVERIFY(ReadFile("VornTerm.01-01-27.IDX")
                .startsWith(LogIndex::EncodeHeader(QStringLiteral("VornTerm.01-01-27.LOG"))));
}

void TestLogIndex::logGoesOnWhenTheIndexCannot()
{
    QVERIFY(QDir().mkdir(kIdx));
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    QVERIFY(log.Write(QByteArray("bytes"), KrBlockTimes(At(1))));
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadFile(kLog), QByteArray("bytes"));
    QVERIFY(!log.IsFailing());
    QVERIFY2(log.IndexFailureText().contains(kIdx), qPrintable(log.IndexFailureText()));
}

void TestLogIndex::searchByOffsetAndTime()
{
    // A generated index of 100000 runs of 40000 bytes (a 4 GB log) a
    // millisecond apart; the search reads a few records, not all.
    constexpr qint64 kRuns = 100000, kRun = 40000;
    QByteArray index = LogIndex::EncodeHeader(kLog);
    index.reserve(LogIndex::kHeaderSize + kRuns * LogIndex::kRecordSize);
    for (qint64 i = 0; i < kRuns; ++i) {
        Record r;
        r.nOffset = i * kRun;
        r.nLength = quint32(kRun);
        r.time = At(i * 1000);
        index += LogIndex::EncodeRecord(r);
    }
    QBuffer dev(&index);
    dev.open(QIODevice::ReadOnly);
    CLogIndexReader reader;
    QVERIFY(reader.Open(&dev, kRuns * kRun));
    QCOMPARE(reader.UsableCount(), kRuns);
    QCOMPARE(reader.FirstAtOrAfter(At(54321 * 1000).nWallUs), qint64(54321));
    QCOMPARE(reader.FirstAtOrAfter(At(54321 * 1000 - 1).nWallUs), qint64(54321));
    QCOMPARE(reader.FirstAtOrAfter(At(kRuns * 1000).nWallUs), kRuns);
    QCOMPARE(reader.FirstEndingAfter(3 * kRun), qint64(3));
    QCOMPARE(reader.FirstEndingAfter(3 * kRun - 1), qint64(2));
}

QTEST_GUILESS_MAIN(TestLogIndex)
#include "tst_logindex.moc"
