// The timing index beside the day's log: its records, as the log's writer
// keeps them, agree with the log's bytes; a crash's torn record and bytes the
// log lacks are never trusted; the log goes on when the index cannot.

#include "CInputLog.h"
#include "FileBytes.h"
#include "LogIndexReader.h"

#include <QBuffer>
#include <QDir>
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

QString Describe(const std::vector<Record>& records)
{
    QStringList parts;
    for (const Record& r : records) {
        switch (r.kind) {
        case RecordKind::Data:
            parts << QStringLiteral("D%1+%2@%3").arg(r.nOffset).arg(r.nLength).arg(r.time.nMonoUs);
            break;
        case RecordKind::Lost:
            parts << QStringLiteral("L%1+%2@%3").arg(r.nOffset).arg(r.nLength).arg(r.time.nMonoUs);
            break;
        case RecordKind::Event:
            parts << QStringLiteral("E%1:%2@%3").arg(r.nOffset).arg(r.nCode).arg(r.time.nMonoUs);
            break;
        case RecordKind::Text:
            parts << QStringLiteral("T'%1'").arg(QString::fromUtf8(r.text));
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
    QCOMPARE(Describe(Records(index, 3 * n)),
             QStringLiteral("D0+%1@10 E%1:2@15 T'gone' D%1+%1@20 D%2+%1@21").arg(n).arg(2 * n));
    const LogIndex::Verdict v = VerifyBytes(index, 3 * n);
    QCOMPARE(v.strProblem, QString());
    QCOMPARE(v.nTimedBytes, 3 * n);
}

void TestLogIndex::tornLastRecordIsIgnoredAndCutOff()
{
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("one"), KrBlockTimes(At(1))));
        QVERIFY(log.Flush(kWait));
        QVERIFY(log.Write(QByteArray("two"), KrBlockTimes(At(2))));
        QVERIFY(log.Flush(kWait));
    }
    const QByteArray whole = ReadFile(kIdx);
    const int nLast = whole.size() - LogIndex::kRecordSize;
    QCOMPARE(Describe(Records(whole, 6)), QStringLiteral("D0+3@1 D3+3@2"));
    // A crash left every possible part of the last record.
    for (int nCut = 0; nCut < LogIndex::kRecordSize; ++nCut) {
        const QByteArray torn = whole.left(nLast + nCut);
        const LogIndex::Verdict v = VerifyBytes(torn, 6);
        QCOMPARE(v.strProblem, QString());
        QCOMPARE(v.nGood, 1);
        QCOMPARE(v.bTornTail, nCut > 0);
    }
    // The writer cuts the torn part off before it goes on.
    QVERIFY(WriteFile(kIdx, whole.left(nLast + 17)));
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("3"), KrBlockTimes(At(3))));
        QVERIFY(log.Flush(kWait));
    }
    QCOMPARE(Describe(Records(ReadFile(kIdx), 7)), QStringLiteral("D0+3@1 D6+1@3"));
    QCOMPARE(VerifyBytes(ReadFile(kIdx), 7).strProblem, QString());
}

void TestLogIndex::bytesTheLogLacksAreNeverClaimed()
{
    QDateTime now = kDec6;
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("abc"), KrBlockTimes(At(1))));
        QVERIFY(log.Flush(kWait));
        QVERIFY(log.Write(QByteArray("def"), KrBlockTimes(At(2))));
        QVERIFY(log.Flush(kWait));
    }
    // The log lost its tail (a crash before the disk had it): readers stop
    // at the last record the log bears out, --verify says where.
    QVERIFY(WriteFile(kLog, "abcd"));
    QCOMPARE(Describe(Records(ReadFile(kIdx), 4)), QStringLiteral("D0+3@1"));
    const LogIndex::Verdict v = VerifyBytes(ReadFile(kIdx), 4);
    QVERIFY2(v.strProblem.contains(QLatin1String("record 1 ")) &&
                 v.strProblem.contains(QLatin1String("past the log's end")),
             qPrintable(v.strProblem));
    // The writer drops such records before it adds its own.
    {
        CInputLog log(ClockAt(&now));
        QVERIFY(log.Write(QByteArray("g"), KrBlockTimes(At(3))));
        QVERIFY(log.Flush(kWait));
    }
    QCOMPARE(Describe(Records(ReadFile(kIdx), 5)), QStringLiteral("D0+3@1 D4+1@3"));
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
    QCOMPARE(Describe(Records(ReadFile("VornTerm.12-31-26.IDX"), 3)), QStringLiteral("D0+3@1"));
    QCOMPARE(Describe(Records(ReadFile("VornTerm.01-01-27.IDX"), 4, &strWhy)),
             QStringLiteral("D0+4@2"));
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
