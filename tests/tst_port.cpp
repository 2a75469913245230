// The port object over loop://: writing, receiving, threads and shutdown.

#include "CKrCommPort.h"
#include "CKrCommWriteQueue.h"
#include "NoNewThreads.h"
#include "PortHelpers.h"
#include "TryTimeout.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

// Counts the bytes received and the blocks that came without a time for
// their first byte.
class TimedReceiver : public CKrCommReceiver
{
public:
    void OnReceive(const char*, int) override {}
    void OnReceive(const QByteArray& block, const KrBlockTimes& times) override
    {
        m_nBytes += block.size();
        if (times.IsEmpty() || times.At(0).nOffset != 0 || !times.TimeAt(0).IsValid())
            ++m_nUntimed;
    }
    std::atomic<qint64> m_nBytes{0};
    std::atomic<int> m_nUntimed{0};
};

} // namespace

class TestPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void newPortIsClosedLoopback();
    void loopRoundTripKeepsOrder();
    void writeLengthForms_data();
    void writeLengthForms();
    void writeOnClosedPortIsRefused();
    void largeWriteArrivesIntactInBoundedBlocks();
    void writersOnSeveralThreadsKeepTheirOrder();
    void closeDropsQueuedBytesAndReopens();
    void openRefusesInvalidConfig_data();
    void openRefusesInvalidConfig();
    void setConfigTakesEffectAtNextOpen();
    void openWithoutAThreadLeavesThePortClosed();
    void receiverMayClosePortFromOnReceive();
    void destructionEndsReceiverCalls();
    void writeQueueStreams_data();
    void writeQueueStreams();
    void readsAndEventsCarryTheirTimes();
};

void TestPort::newPortIsClosedLoopback()
{
    CKrCommPortEx port;
    QCOMPARE(port.GetConfig(), CKrCommConfig());
    QCOMPARE(port.GetConfig().Text(), QStringLiteral("loop:// 9600,8,N,1"));
    QVERIFY(!port.IsOpen());
    QVERIFY(port.GetLastError().isEmpty());
    QCOMPARE(port.GetPendingCount(), qint64(0));
    QCOMPARE(port.GetDescription(), QStringLiteral("loop:// 9600,8,N,1 - not open: port closed"));
}

void TestPort::loopRoundTripKeepsOrder()
{
    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));
    QVERIFY(port.IsOpen());
    QCOMPARE(port.GetDescription(), QStringLiteral("loop:// 9600,8,N,1"));

    QByteArray expected;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray piece = QByteArray::number(i) + (i % 3 ? "," : "\r\n");
        QCOMPARE(port.Write(piece.constData(), int(piece.size())), int(piece.size()));
        expected += piece;
    }
    QTRY_COMPARE(rx.Data(), expected);
    QTRY_COMPARE(port.GetPendingCount(), qint64(0));
    QVERIFY(!rx.OnUiThread());
}

void TestPort::writeLengthForms_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("accepted");
    QTest::addColumn<QByteArray>("received");

    const QByteArray withZero("abc\0def", 8); // trailing zero included
    QTest::newRow("-1 stops at the zero byte") << withZero << -1 << 3 << QByteArray("abc");
    QTest::newRow("-1 on empty text") << QByteArray("\0", 1) << -1 << 0 << QByteArray();
    QTest::newRow("count carries zero bytes") << withZero << 7 << 7 << QByteArray("abc\0def", 7);
    QTest::newRow("count shorter than text") << withZero << 2 << 2 << QByteArray("ab");
    QTest::newRow("zero count") << withZero << 0 << 0 << QByteArray();
    QTest::newRow("other negative count") << withZero << -5 << 0 << QByteArray();
}

void TestPort::writeLengthForms()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, length);
    QFETCH(int, accepted);
    QFETCH(QByteArray, received);

    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));
    QCOMPARE(port.Write(buffer.constData(), length), accepted);
    // A marker behind it shows that everything before it has been delivered.
    QCOMPARE(port.Write("|", 1), 1);
    QTRY_COMPARE(rx.Data(), received + "|");
}

void TestPort::writeOnClosedPortIsRefused()
{
    CollectingReceiver rx;
    CKrCommPortEx port;
    port.m_pReceiver = &rx;
    QCOMPARE(port.Write("x", 1), -1);
    QCOMPARE(port.Write("x", -1), -1);
    QVERIFY(OpenSettled(port));
    QCOMPARE(port.Write("a", 1), 1);
    port.Close();
    QVERIFY(!port.IsOpen());
    QCOMPARE(port.Write("b", 1), -1);
    QCOMPARE(port.GetPendingCount(), qint64(0));
    QCOMPARE(port.GetDescription(), QStringLiteral("loop:// 9600,8,N,1 - not open: port closed"));
    QVERIFY(port.GetLastError().isEmpty());
    QVERIFY(!rx.Data().contains('b'));
}

void TestPort::largeWriteArrivesIntactInBoundedBlocks()
{
    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));
    const QByteArray big = Pattern(16 * 1024 * 1024 + 17);
    QCOMPARE(port.Write(big.constData(), int(big.size())), int(big.size()));
    QTRY_COMPARE_WITH_TIMEOUT(rx.Size(), big.size(), 60000);
    QVERIFY(rx.Data() == big);
    QVERIFY(rx.LargestBlock() <= 64 * 1024);
    QTRY_COMPARE(port.GetPendingCount(), qint64(0));
}

void TestPort::writersOnSeveralThreadsKeepTheirOrder()
{
    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));

    // Each record: writer letter, then its sequence number, then ';'. Whole
    // records from one Write are never split by another writer's bytes.
    constexpr int kWriters = 4;
    constexpr int kRecords = 3000;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back(QThread::create([&port, w] {
            for (int i = 0; i < kRecords; ++i) {
                const QByteArray rec = char('A' + w) + QByteArray::number(i) + ';';
                port.Write(rec.constData(), int(rec.size()));
            }
        }));
        threads.back()->start();
    }
    for (auto& t : threads)
        QVERIFY(t->wait(30000));

    qsizetype total = 0;
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kRecords; ++i)
            total += QByteArray::number(i).size() + 2;
    QTRY_COMPARE(rx.Size(), total);

    int next[kWriters] = {};
    const QList<QByteArray> records = rx.Data().split(';');
    for (const QByteArray& rec : records) {
        if (rec.isEmpty())
            continue;
        const int w = rec.at(0) - 'A';
        QVERIFY2(w >= 0 && w < kWriters, rec.constData());
        QCOMPARE(rec.mid(1).toInt(), next[w]);
        next[w]++;
    }
    for (int w = 0; w < kWriters; ++w)
        QCOMPARE(next[w], kRecords);
}

void TestPort::closeDropsQueuedBytesAndReopens()
{
    // A slow receiver, so that blocks already read still wait when Close
    // returns.
    struct SlowReceiver : CollectingReceiver
    {
        void OnReceive(const char* pData, int nLength) override
        {
            QThread::msleep(5);
            CollectingReceiver::OnReceive(pData, nLength);
        }
    } rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));
    const QByteArray big = Pattern(32 * 1024 * 1024);
    QCOMPARE(port.Write(big.constData(), int(big.size())), int(big.size()));
    QTRY_VERIFY(rx.Size() > 0);
    port.Close();
    QCOMPARE(port.GetPendingCount(), qint64(0));
    // What was read before the Close still arrives, and then nothing more.
    QVERIFY(port.WaitSettled(30000));
    const QByteArray got = rx.Data(); // one reading, compared with itself
    QTest::qWait(50);
    QCOMPARE(rx.Size(), got.size());
    QVERIFY(got.size() <= big.size());
    QVERIFY(got == big.left(got.size())); // what came, came in order

    QVERIFY(OpenSettled(port));
    QCOMPARE(port.Write("after", 5), 5);
    QTRY_VERIFY(rx.Data().endsWith("after"));
    QCOMPARE(rx.Size(), got.size() + 5);
}

void TestPort::openRefusesInvalidConfig_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("reasonStart");
    QTest::newRow("baud zero") << "baud" << 0 << "baud: '0'";
    QTest::newRow("data bits 9") << "data" << 9 << "data: '9'";
    QTest::newRow("parity out of range") << "parity" << 9 << "parity: '9'";
}

void TestPort::openRefusesInvalidConfig()
{
    QFETCH(QString, key);
    QFETCH(int, value);
    QFETCH(QString, reasonStart);
    CKrCommConfig config;
    if (key == QLatin1String("baud"))
        config.nBaud = value;
    else if (key == QLatin1String("data"))
        config.nDataBits = value;
    else
        config.parity = KrParity(value);

    CKrCommPortEx port;
    port.SetConfig(config);
    QVERIFY(!OpenSettled(port));
    QVERIFY(!port.IsOpen());
    QVERIFY2(port.GetLastError().startsWith(reasonStart), qPrintable(port.GetLastError()));
    QVERIFY(port.GetDescription().endsWith(QStringLiteral(" - not open: ") + port.GetLastError()));
    QCOMPARE(port.Write("x", 1), -1);
}

void TestPort::setConfigTakesEffectAtNextOpen()
{
    CKrCommPortEx port;
    QVERIFY(OpenSettled(port));
    CKrCommConfig config;
    config.nBaud = 115200;
    config.flow = KrFlow::RtsCts;
    port.SetConfig(config);
    QCOMPARE(port.GetConfig(), config);
    QCOMPARE(port.GetDescription(), QStringLiteral("loop:// 9600,8,N,1"));
    QVERIFY(OpenSettled(port));
    QCOMPARE(port.GetDescription(), QStringLiteral("loop:// 115200,8,N,1,RTS/CTS"));
}

void TestPort::openWithoutAThreadLeavesThePortClosed()
{
    // A port whose thread the system refuses fails its Open with the reason
    // instead of ending the process; the next Open starts it.
    CollectingReceiver rx;
    CKrCommPortEx port;
    port.m_pReceiver = &rx;
    {
        CNoNewThreads noThreads;
        if (!noThreads.WhyNot().isEmpty())
            QSKIP(qPrintable(noThreads.WhyNot()));
        QVERIFY(!port.Open());
    }
    QVERIFY(!port.IsOpen());
    QVERIFY2(port.GetLastError().startsWith(QStringLiteral("cannot start the port's thread")),
             qPrintable(port.GetLastError()));
    QCOMPARE(port.GetDescription(),
             QStringLiteral("loop:// 9600,8,N,1 - not open: ") + port.GetLastError());
    QCOMPARE(port.Write("x", 1), -1);
    QVERIFY(port.Open());
    QCOMPARE(port.Write("x", 1), 1);
    QTRY_COMPARE(rx.Data(), QByteArray("x"));
}

void TestPort::receiverMayClosePortFromOnReceive()
{
    struct ClosingReceiver : CKrCommReceiver
    {
        CKrCommPort* pPort = nullptr;
        std::atomic<int> calls{0};
        void OnReceive(const char*, int) override
        {
            calls++;
            pPort->Close();
        }
    } rx;
    CKrCommPortEx port;
    port.m_pReceiver = &rx;
    rx.pPort = &port;
    QVERIFY(OpenSettled(port));
    for (int i = 0; i < 50; ++i)
        port.Write("abc", 3);
    QTRY_VERIFY(!port.IsOpen());
    QCOMPARE(port.Write("x", 1), -1);
    // Blocks read before the close may still be handed on; it is a close
    // from inside the call, and it neither hangs nor breaks the port.
    QVERIFY(rx.calls.load() >= 1);
    QCOMPARE(port.GetPendingCount(), qint64(0));
    QVERIFY(OpenSettled(port)); // the port is still usable
    QVERIFY(port.IsOpen());
}

void TestPort::destructionEndsReceiverCalls()
{
    // The receiver holds the I/O thread inside OnReceive until destruction
    // has begun, so the destructor must wait for a call in progress; any call
    // after the destructor returned is counted as late.
    struct GuardedReceiver : CKrCommReceiver
    {
        std::atomic<bool> destroying{false};
        std::atomic<bool> destroyed{false};
        std::atomic<int> lateCalls{0};
        std::atomic<int> calls{0};
        QSemaphore inside;
        void OnReceive(const char*, int) override
        {
            if (destroyed)
                lateCalls++;
            if (calls++ == 10) {
                inside.release();
                // Held until destruction begins (the port reads on meanwhile
                // and its queues fill up); the bound outlasts the test's waits.
                QDeadlineTimer held(60000);
                while (!destroying && !held.hasExpired())
                    QThread::msleep(1);
                QThread::msleep(20); // give the destructor time to run ahead
            }
            if (destroyed)
                lateCalls++;
        }
    } rx;

    auto port = std::make_unique<CKrCommPortEx>();
    port->m_pReceiver = &rx;
    QVERIFY(OpenSettled(*port));

    // Another thread floods the port up to the teardown: the queue is full and
    // a receiver call is in progress when the destructor runs.
    std::atomic<bool> stopWriter{false};
    std::unique_ptr<QThread> writer(QThread::create([&] {
        const QByteArray chunk = Pattern(4096);
        while (!stopWriter)
            port->Write(chunk.constData(), int(chunk.size()));
    }));
    writer->start();
    QVERIFY(rx.inside.tryAcquire(1, 30000));
    // The receiver holds the I/O thread while the writer goes on, so the
    // queue fills; well over what the I/O thread can move in one turn is
    // still queued whatever it moves on after the writer stops.
    QTRY_VERIFY_WITH_TIMEOUT(port->GetPendingCount() > 8 * 1024 * 1024, 30000);
    stopWriter = true;
    QVERIFY(writer->wait(30000));
    QVERIFY(port->GetPendingCount() > 0); // still flowing when destroyed
    rx.destroying = true;
    port.reset();
    rx.destroyed = true;
    const int callsAtDestruction = rx.calls;
    // A stray thread would still be delivering the queued bytes.
    QTest::qWait(50);
    QCOMPARE(rx.lateCalls.load(), 0);
    QCOMPARE(rx.calls.load(), callsAtDestruction);
}

// A script of steps on one queue: "push S TEXT" (stream S), "take N" (a piece
// of at most N bytes goes to the device; its text is appended to what went),
// "written N", "discard S" (the count is appended as "-N"), "drop" (queued and
// in flight, as at a loss). The
// outcome: what went, in order, with the discards, then the pending count
// and the dropped count of each stream.
void TestPort::writeQueueStreams_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("went");
    QTest::addColumn<qint64>("pending");
    QTest::addColumn<QString>("dropped");
    QTest::newRow("a writer takes back only its own bytes, the rest keeps its order")
        << QStringList{"push 2 FILE1", "push 1 ab", "push 2 FILE2", "push 0 0 ",
                       "discard 2",    "take 99",   "take 99",      "take 99"}
        << "-10|ab|0 |" << qint64(4) << "0,0,0,0";
    QTest::newRow("what is already on its way stays there")
        << QStringList{"push 2 FILE", "take 2", "push 1 x", "discard 2", "take 9", "written 3"}
        << "FI|-2|x|" << qint64(0) << "0,0,0,0";
    QTest::newRow("a close or a loss counts what it drops by stream, in flight included")
        << QStringList{"push 2 FILE", "push 1 ab", "take 3", "written 1", "push 0 7 ", "drop"}
        << "FIL|" << qint64(0) << "2,2,3,0";
    QTest::newRow("pieces of one stream in a row are confirmed across chunks")
        << QStringList{"push 1 ab", "push 1 cd", "take 9", "take 9",
                       "written 3", "push 2 Z",  "take 9", "drop"}
        << "ab|cd|Z|" << qint64(0) << "0,1,1,0";
}

void TestPort::writeQueueStreams()
{
    QFETCH(QStringList, steps);
    CKrCommWriteQueue q;
    QString went;
    for (const QString& step : steps) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString arg = step.section(QLatin1Char(' '), 1, 1);
        if (verb == QLatin1String("push")) {
            q.Push(step.section(QLatin1Char(' '), 2).toLatin1(), arg.toInt());
        } else if (verb == QLatin1String("take")) {
            QByteArray chunk;
            qint64 nOffset = 0, nLength = 0;
            if (q.TakePiece(arg.toLongLong(), &chunk, &nOffset, &nLength))
                went += QString::fromLatin1(chunk.mid(nOffset, nLength)) + QLatin1Char('|');
        } else if (verb == QLatin1String("written")) {
            q.Written(arg.toLongLong());
        } else if (verb == QLatin1String("discard")) {
            went += QStringLiteral("-%1|").arg(q.Discard(arg.toInt()));
        } else {
            q.DropQueued();
            q.DropInFlight();
        }
    }
    QTEST(went, "went");
    QTEST(q.Pending(), "pending");
    QStringList dropped;
    for (int i = 0; i < CKrCommWriteQueue::kStreams; ++i)
        dropped << QString::number(q.TakeDropped(i));
    QTEST(dropped.join(QLatin1Char(',')), "dropped");
}

void TestPort::readsAndEventsCarryTheirTimes()
{
    RecordingListener states;
    TimedReceiver rx;
    CKrCommPortEx port;
    port.SetStateListener(&states);
    const KrTimeStamp before = KrTimeStamp::Now();
    QVERIFY(OpenPort(port, CKrCommConfig(), &rx));
    QCOMPARE(port.Write("abc", 3), 3);
    QTRY_COMPARE(rx.m_nBytes.load(), qint64(3));
    QCOMPARE(rx.m_nUntimed.load(), 0);
    CKrCommConfig faster;
    faster.nBaud = 115200;
    QVERIFY(OpenPort(port, faster, &rx));
    port.Close();
    const QList<KrPortEventKind> expected = {KrPortEventKind::Opened, KrPortEventKind::Closed,
                                             KrPortEventKind::ConfigChanged,
                                             KrPortEventKind::Opened, KrPortEventKind::Closed};
    QTRY_COMPARE(states.Events().size(), expected.size());
    const QList<KrPortEvent> events = states.Events();
    qint64 nMono = before.nMonoUs;
    for (int i = 0; i < events.size(); ++i) {
        QCOMPARE(events[i].kind, expected[i]);
        QVERIFY(events[i].time.nMonoUs >= nMono && events[i].time.nWallUs > 0);
        nMono = events[i].time.nMonoUs;
    }
    QCOMPARE(events[3].Text(), QStringLiteral("opened: loop:// 115200,8,N,1"));
}

QTEST_GUILESS_MAIN(TestPort)
#include "tst_port.moc"
