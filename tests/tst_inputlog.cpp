#include "CInputLog.h"
#include "CLogPacing.h"
#include "LogIndexReader.h"
#include "LogObstacle.h"
#include "TryTimeout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <clocale>
#include <csignal>
#include <ctime>
#include <locale.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// Every wait on the log's writer is bounded by this.
constexpr int kWait = 30000;

QByteArray ReadLog(const QString& strName)
{
    QFile file(strName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// The C library's own "%x" in its default locale, whatever the process locale is.
QString CLibraryDateInCLocale(const QDate& date)
{
    locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    char buf[64] = {};
    ::strftime_l(buf, sizeof buf, "%x", &tm, cLocale);
    ::freelocale(cLocale);
    return QString::fromLatin1(buf);
}

QString DateInProcessLocale(const QDate& date)
{
    std::tm tm{};
    tm.tm_year = date.year() - 1900;
    tm.tm_mon = date.month() - 1;
    tm.tm_mday = date.day();
    char buf[64] = {};
    std::strftime(buf, sizeof buf, "%x", &tm);
    return QString::fromLocal8Bit(buf);
}

const QDateTime kDec6(QDate(2026, 12, 6), QTime(12, 0));
const QString kDec6Name = QStringLiteral("VornTerm.12-06-26.LOG");

} // namespace

class TestInputLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void fileName_data();
    void fileName();
    void fileNameIgnoresProcessLocale_data();
    void fileNameIgnoresProcessLocale();

    void blocksAppendToOneFile();
    void zeroLengthBlockCreatesFileOnly();
    void eventsSentAndSessionsNeverCreateTheLog();
    void blockAfterMidnightOpensNextDaysFile();

    void obstacleKeepsBytesInOrder_data();
    void obstacleKeepsBytesInOrder();
    void queuedBlocksKeepTheirDay();
    void fullQueueDropsOldestBytes_data();
    void fullQueueDropsOldestBytes();
    void partialWriteIsNeitherDuplicatedNorLost();
    void writeAndFlushFromTwoThreads();
    void manySmallBlocksWaitCompactly();
    void handOverNeverWaitsForTheFile();
    void finishEndsTheIntake();
    void writesWaitForTheBatch_data();
    void writesWaitForTheBatch();

private:
    CInputLog::Clock ClockAt(QDateTime* pNow)
    {
        return [pNow] { return *pNow; };
    }

    QTemporaryDir* m_pDir = nullptr;
    QString m_strOldCwd;
};

void TestInputLog::init()
{
    // The log lies in the current directory; every test gets a fresh one.
    m_strOldCwd = QDir::currentPath();
    m_pDir = new QTemporaryDir;
    QVERIFY(m_pDir->isValid());
    QVERIFY(QDir::setCurrent(m_pDir->path()));
}

void TestInputLog::cleanup()
{
    QDir::setCurrent(m_strOldCwd);
    delete m_pDir;
    m_pDir = nullptr;
}

void TestInputLog::fileName_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("name");

    QTest::newRow("6 December 2026") << kDec6 << kDec6Name;
    QTest::newRow("first day of 2000")
        << QDateTime(QDate(2000, 1, 1), QTime(0, 0)) << "VornTerm.01-01-00.LOG";
    QTest::newRow("last second of 2099")
        << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59)) << "VornTerm.12-31-99.LOG";
    QTest::newRow("single-digit month and day")
        << QDateTime(QDate(2005, 3, 9), QTime(8, 0)) << "VornTerm.03-09-05.LOG";
    QTest::newRow("leap day") << QDateTime(QDate(2024, 2, 29), QTime(13, 30))
                              << "VornTerm.02-29-24.LOG";
}

void TestInputLog::fileName()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, name);

    QCOMPARE(CInputLog::FileNameFor(when), name);
    // The same as the C library's default-locale "%x" with '/' made '-'.
    const QString cName =
        "VornTerm." + CLibraryDateInCLocale(when.date()).replace('/', '-') + ".LOG";
    QCOMPARE(CInputLog::FileNameFor(when), cName);
}

void TestInputLog::fileNameIgnoresProcessLocale_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("locale");

    // German dates have no '/', British ones swap day and month.
    QTest::newRow("de_DE") << QByteArray("de_DE") << QByteArray("de_DE.UTF-8");
    QTest::newRow("en_GB") << QByteArray("en_GB") << QByteArray("en_GB.UTF-8");
}

void TestInputLog::fileNameIgnoresProcessLocale()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, locale);

    const QByteArray savedLocale = ::setlocale(LC_ALL, nullptr);
    const QByteArray savedLocPath = qgetenv("LOCPATH");
    QTemporaryDir localeDir;
    auto restore = qScopeGuard([&] {
        if (savedLocPath.isEmpty())
            qunsetenv("LOCPATH");
        else
            qputenv("LOCPATH", savedLocPath);
        ::setlocale(LC_ALL, savedLocale.constData());
    });

    const QByteArray unavailable = "Locale " + locale + " is neither installed nor buildable";
    if (!::setlocale(LC_ALL, locale.constData())) {
        // Not installed: build it from the system's locale sources for this test only.
        QProcess localedef;
        localedef.start("localedef", {"-i", QString::fromLatin1(source), "-f", "UTF-8",
                                      localeDir.filePath(QString::fromLatin1(locale))});
        if (!localedef.waitForFinished(120000) || localedef.exitCode() != 0)
            QSKIP(unavailable.constData());
        qputenv("LOCPATH", QFile::encodeName(localeDir.path()));
        if (!::setlocale(LC_ALL, locale.constData()))
            QSKIP(unavailable.constData());
    }

    // The locale is really in force: its own date text differs from the C one.
    QVERIFY2(DateInProcessLocale(kDec6.date()) != QLatin1String("12/06/26"),
             qPrintable(DateInProcessLocale(kDec6.date())));

    QCOMPARE(CInputLog::FileNameFor(kDec6), kDec6Name);
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    QVERIFY(log.Write("x", 1));
    QVERIFY(log.Flush(kWait));
    // The log, and its timing index beside it, which the log's glob misses.
    QCOMPARE(QDir::current().entryList(QDir::Files),
             (QStringList{QStringLiteral("VornTerm.12-06-26.IDX"), kDec6Name}));
    QCOMPARE(QDir::current().entryList({QStringLiteral("VornTerm.*.LOG")}, QDir::Files),
             QStringList{kDec6Name});
}

void TestInputLog::blocksAppendToOneFile()
{
    QFile existing(kDec6Name);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("<old>");
    existing.close();

    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    QVERIFY(log.Write("AB", 2));
    now = now.addSecs(60);
    QVERIFY(log.Write("CD", 2));
    const char binary[] = {'\0', '\r', '\n', char(0xFF)};
    QVERIFY(log.Write(binary, 4));
    QVERIFY(log.Flush(kWait));

    QCOMPARE(ReadLog(kDec6Name), QByteArray("<old>ABCD") + QByteArray(binary, 4));
    QCOMPARE(QDir::current().entryList(QDir::Files).size(), 2); // with the index
    QVERIFY(!log.IsFailing());
    QCOMPARE(log.QueuedBytes(), 0);
}

void TestInputLog::zeroLengthBlockCreatesFileOnly()
{
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    QVERIFY(!QFile::exists(kDec6Name));
    QVERIFY(log.Write("ignored", 0));
    QVERIFY(log.Flush(kWait));
    QVERIFY(QFile::exists(kDec6Name));
    QCOMPARE(ReadLog(kDec6Name), QByteArray());

    QVERIFY(log.Write("AB", 2));
    QVERIFY(log.Write(nullptr, 0));
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), QByteArray("AB"));
}

void TestInputLog::eventsSentAndSessionsNeverCreateTheLog()
{
    // What the day's index holds, item by item: "E128:<text>@<offset>",
    // "S<count>@<offset>", "D<offset>+<length>".
    const auto items = [] {
        QFile file(QStringLiteral("VornTerm.12-06-26.IDX"));
        CLogIndexReader reader;
        QStringList found;
        if (!file.open(QIODevice::ReadOnly) || !reader.Open(&file, QFileInfo(kDec6Name).size()))
            return QStringList{QStringLiteral("<no index>")};
        LogIndex::CLogIndexWalk walk(reader);
        LogIndex::Item item;
        while (walk.Next(&item)) {
            if (item.kind == LogIndex::Item::Kind::Event)
                found << QStringLiteral("E%1:%2@%3")
                             .arg(item.nCode)
                             .arg(item.strText)
                             .arg(item.nOffset);
            else if (item.kind == LogIndex::Item::Kind::Sent)
                found << QStringLiteral("S%1@%2").arg(item.nLength).arg(item.nOffset);
            else
                found << QStringLiteral("D%1+%2").arg(item.nOffset).arg(item.nLength);
        }
        return found + walk.Damage();
    };
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    log.SetPortDescription(QStringLiteral("/dev/ttyS9 115200,8,N,1"));
    log.BeginSession();
    QVERIFY(log.WriteEvent(
        KrPortEvent{KrPortEventKind::LineChange, QStringLiteral("DTR off"), KrTimeStamp::Now()}));
    QVERIFY(log.WriteSent(QByteArray("AT\r"), KrTimeStamp::Now()));
    QVERIFY(log.WriteEvent(KrPortEvent{KrPortEventKind::Closed, QString(), KrTimeStamp::Now()}));
    QVERIFY(log.Flush(kWait));
    // No log from these alone, and nothing of them lost: the index keeps
    // them before the log's first byte.
    QVERIFY(!QFile::exists(kDec6Name));
    const QStringList before{"E128:/dev/ttyS9 115200,8,N,1@0", "E6:DTR off@0", "S3@0", "E4:@0"};
    QCOMPARE(items(), before);
    // The first byte received makes the log; a session begun again names
    // the port as it is now.
    QVERIFY(log.Write("ok", 2));
    log.SetPortDescription(QStringLiteral("/dev/ttyS9 9600,8,N,1"));
    log.BeginSession();
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), QByteArray("ok"));
    const QStringList after{"D0+2", "E128:/dev/ttyS9 9600,8,N,1@2"};
    QCOMPARE(items(), before + after);
}

void TestInputLog::blockAfterMidnightOpensNextDaysFile()
{
    QDateTime now(QDate(2026, 12, 31), QTime(23, 59, 59));
    CInputLog log(ClockAt(&now));
    QVERIFY(log.Write("old", 3));
    now = QDateTime(QDate(2027, 1, 1), QTime(0, 0));
    QVERIFY(log.Write("new", 3));
    QVERIFY(log.Flush(kWait));

    QCOMPARE(ReadLog("VornTerm.12-31-26.LOG"), QByteArray("old"));
    QCOMPARE(ReadLog("VornTerm.01-01-27.LOG"), QByteArray("new"));
}

void TestInputLog::obstacleKeepsBytesInOrder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("byNextBlock");

    // Recovery by the next block, or by the writer's own retry.
    QTest::newRow("locked, next block") << int(LogObstacle::Locked) << true;
    QTest::newRow("locked, retry") << int(LogObstacle::Locked) << false;
    QTest::newRow("folder, next block") << int(LogObstacle::Folder) << true;
    QTest::newRow("folder, retry") << int(LogObstacle::Folder) << false;
    QTest::newRow("FIFO without a reader") << int(LogObstacle::Fifo) << false;
    QTest::newRow("FIFO with a reader") << int(LogObstacle::FifoWithReader) << true;
    QTest::newRow("link to another file") << int(LogObstacle::Link) << true;
    QTest::newRow("read-only, ordinary user") << int(LogObstacle::ReadOnlyForUser) << false;
    QTest::newRow("file-size limit") << int(LogObstacle::SizeLimit) << true;
}

void TestInputLog::obstacleKeepsBytesInOrder()
{
    QFETCH(int, kind);
    QFETCH(bool, byNextBlock);

    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    std::atomic<int> nChanges{0};
    log.SetStateChangedCallback([&] { ++nChanges; });
    QVERIFY(log.Write("12", 2));
    QVERIFY(log.Flush(kWait));

    LogObstacle obstacle(LogObstacle::Kind(kind), kDec6Name);
    QVERIFY(obstacle.Place());
    // Nothing in the way holds the writer up: each attempt ends at once.
    QVERIFY(log.Write("AB", 2));
    QVERIFY(!log.Flush(kWait));
    QVERIFY(log.IsFailing());
    QCOMPARE(nChanges.load(), 1);
    QVERIFY(log.Write("CD", 2));
    QVERIFY(!log.Flush(kWait));
    QCOMPARE(nChanges.load(), 2); // the count waiting is news as well
    QVERIFY(!log.Flush(kWait));
    QCOMPARE(nChanges.load(), 2); // an attempt that changes nothing tells nothing
    QCOMPARE(log.QueuedBytes(), 4);
    QCOMPARE(log.LostBytes(), 0);
    QCOMPARE(
        log.FailureText(),
        QString("Cannot write '%1': %2 \u2014 4 bytes waiting").arg(kDec6Name, obstacle.Reason()));
    QVERIFY(obstacle.Untouched());
    QVERIFY(obstacle.Remove());

    if (byNextBlock) {
        QVERIFY(log.Write("EF", 2));
        QVERIFY(log.Flush(kWait));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!log.IsFailing(), kWait);
    }
    const QByteArray expected = byNextBlock ? "12ABCDEF" : "12ABCD";
    QCOMPARE(ReadLog(kDec6Name), expected);
    QCOMPARE(log.FailureText(), QString());
    QCOMPARE(log.QueuedBytes(), 0);

    // Nothing waits any more: a further attempt writes nothing twice. It
    // begins once the writer's own retry has told its news.
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), expected);
    QCOMPARE(nChanges.load(), 3);
}

void TestInputLog::queuedBlocksKeepTheirDay()
{
    const QString day1 = "VornTerm.12-06-26.LOG";
    const QString day2 = "VornTerm.12-07-26.LOG";
    QDateTime now(QDate(2026, 12, 6), QTime(23, 59, 58));
    CInputLog log(ClockAt(&now));
    QVERIFY(QDir::current().mkdir(day1));

    QVERIFY(log.Write("late", 4));
    now = QDateTime(QDate(2026, 12, 7), QTime(0, 0, 1));
    // The new day's file could be written, but the older bytes go first.
    QVERIFY(log.Write("early", 5));
    QVERIFY(!log.Flush(kWait));
    QCOMPARE(log.QueuedBytes(), 9);
    QVERIFY(log.FailureText().contains(day1));
    QVERIFY(!QFile::exists(day2));

    QVERIFY(QDir::current().rmdir(day1));
    QVERIFY(log.Write("more", 4));
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(day1), QByteArray("late"));
    QCOMPARE(ReadLog(day2), QByteArray("earlymore"));
}

// Resident memory of this process, in bytes (Linux).
qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

void TestInputLog::manySmallBlocksWaitCompactly()
{
#ifdef __SANITIZE_ADDRESS__
    QSKIP("AddressSanitizer keeps freed blocks in quarantine: the resident size says nothing");
#endif
    const QDateTime now(QDate(2026, 12, 6), QTime(12, 0));
    CInputLog log([now] { return now; });
    const QString name = CInputLog::FileNameFor(now);
    LogObstacle lock(LogObstacle::Locked, name);
    QVERIFY(lock.Place());

    // Bytes arrive one at a time at low baud rates: 300,000 of them wait in
    // about their own size, not in 300,000 separate pieces.
    constexpr int kBlocks = 300000;
    QByteArray expected;
    expected.reserve(kBlocks);
    const qint64 before = ResidentBytes();
    for (int i = 0; i < kBlocks; ++i) {
        const char c = char('a' + i % 26);
        expected.append(c);
        QVERIFY(log.Write(&c, 1));
    }
    QVERIFY(!log.Flush(kWait));
    const qint64 grown = ResidentBytes() - before;
    QCOMPARE(log.QueuedBytes(), qint64(kBlocks));
    QVERIFY2(
        before < 0 || grown < 16 * 1024 * 1024,
        qPrintable(QStringLiteral("%1 bytes resident for %2 waiting").arg(grown).arg(kBlocks)));

    QVERIFY(lock.Remove());
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(name), expected);
}

void TestInputLog::fullQueueDropsOldestBytes_data()
{
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<QByteArrayList>("blocks");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<qint64>("lost");

    QTest::newRow("exactly full") << qint64(8) << QByteArrayList{"AAAA", "BBBB"}
                                  << QByteArray("AAAABBBB") << qint64(0);
    QTest::newRow("oldest block cut") << qint64(10) << QByteArrayList{"AAAA", "BBBB", "CCCC"}
                                      << QByteArray("AABBBBCCCC") << qint64(2);
    QTest::newRow("oldest blocks dropped whole")
        << qint64(4) << QByteArrayList{"AA", "BB", "CCCC"} << QByteArray("CCCC") << qint64(4);
    QTest::newRow("one block larger than the queue")
        << qint64(4) << QByteArrayList{"AB", "0123456789"} << QByteArray("6789") << qint64(8);
    QTest::newRow("thousands grouped")
        << qint64(1) << QByteArrayList{QByteArray(1235, 'x')} << QByteArray("x") << qint64(1234);
}

void TestInputLog::fullQueueDropsOldestBytes()
{
    QFETCH(qint64, cap);
    QFETCH(QByteArrayList, blocks);
    QFETCH(QByteArray, kept);
    QFETCH(qint64, lost);

    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now), cap);
    std::atomic<qint64> nLostSeen{0};
    log.SetStateChangedCallback([&] { nLostSeen = log.LostBytes(); });
    QVERIFY(QDir::current().mkdir(kDec6Name));
    bool bAllTaken = true;
    for (const QByteArray& block : blocks) {
        bAllTaken = log.Write(block.constData(), int(block.size())) && bAllTaken;
        QVERIFY(!log.Flush(kWait));
    }
    QCOMPARE(bAllTaken, lost == 0);

    QCOMPARE(log.QueuedBytes(), kept.size());
    QCOMPARE(log.LostBytes(), lost);
    const QString text = log.FailureText();
    if (lost > 0) {
        const QString lostText = QLocale(QLocale::English).toString(lost) + " bytes lost";
        QVERIFY2(text.endsWith(lostText), qPrintable(text));
    } else {
        QVERIFY2(!text.contains("lost"), qPrintable(text));
    }
    QCOMPARE(nLostSeen.load(), lost); // the owner heard of every loss
    if (lost == 1234)
        QVERIFY2(text.contains("1,234 bytes lost"), qPrintable(text));

    QVERIFY(QDir::current().rmdir(kDec6Name));
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), kept);
    QCOMPARE(log.LostBytes(), lost); // the count of lost bytes stays after recovery
}

void TestInputLog::partialWriteIsNeitherDuplicatedNorLost()
{
    // A file size limit makes write() stop part way, as a full disk does. The
    // limit holds for the writer's thread too; what it saw is checked once
    // the limit is gone.
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    });
    auto limitFileSize = [&](rlim_t nBytes) {
        rlimit limit = saved;
        limit.rlim_cur = nBytes;
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };

    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));

    QVERIFY(limitFileSize(10));
    QVERIFY(log.Write("0123456789ABCDEF", 16));
    const bool bWritten = log.Flush(kWait);
    const QByteArray first = ReadLog(kDec6Name);
    const qint64 nFirstQueued = log.QueuedBytes();
    const QString firstText = log.FailureText();
    // The waiting bytes themselves stop part way.
    QVERIFY(limitFileSize(13));
    const bool bFlushed = log.Flush(kWait);
    const QByteArray second = ReadLog(kDec6Name);
    const qint64 nSecondQueued = log.QueuedBytes();
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);

    QVERIFY(!bWritten);
    QCOMPARE(first, QByteArray("0123456789"));
    QCOMPARE(nFirstQueued, 6);
    QVERIFY2(firstText.contains(qt_error_string(EFBIG)), qPrintable(firstText));
    QVERIFY(!bFlushed);
    QCOMPARE(second, QByteArray("0123456789ABC"));
    QCOMPARE(nSecondQueued, 3);

    QVERIFY(log.Write("XY", 2));
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), QByteArray("0123456789ABCDEFXY"));
    QVERIFY(!log.IsFailing());
    QCOMPARE(log.LostBytes(), 0);
}

void TestInputLog::writeAndFlushFromTwoThreads()
{
    // The port's thread hands blocks over while the owner's thread retries
    // and reads the state, and the log is now and then held by another
    // program.
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    constexpr int kBlocks = 3000;
    QByteArray expected;
    for (int i = 0; i < kBlocks; ++i)
        expected += QByteArray::number(i) + ';';

    std::atomic<bool> bDone{false};
    QThread* pWriter = QThread::create([&] {
        for (int i = 0; i < kBlocks; ++i) {
            const QByteArray block = QByteArray::number(i) + ';';
            log.Write(block.constData(), int(block.size()));
            if (i % 100 == 0)
                QThread::usleep(200);
        }
        bDone = true;
    });
    pWriter->start();
    int nRounds = 0;
    while ((!bDone || nRounds < 20) && nRounds < 100000) {
        {
            LogObstacle foreignLock(LogObstacle::Locked, kDec6Name);
            foreignLock.Place();
            (void)log.FailureText();
            (void)log.QueuedBytes();
            log.Flush(kWait);
        }
        log.Flush(kWait);
        ++nRounds;
    }
    QVERIFY(pWriter->wait(60000));
    delete pWriter;

    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), expected);
    QCOMPARE(log.LostBytes(), 0);
}

void TestInputLog::handOverNeverWaitsForTheFile()
{
    // A backlog waits behind a folder. The folder goes while the writer is
    // held in its news of the failure: a new block is taken while the whole
    // backlog still waits, the caller writing none of it; every piece of news
    // comes from the writer's own thread.
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> nNews{0};
    std::atomic<bool> bNewsOnCaller{false};
    QSemaphore told, resume;
    log.SetStateChangedCallback([&] {
        if (std::this_thread::get_id() == caller)
            bNewsOnCaller = true;
        if (++nNews == 1) {
            told.release();
            resume.tryAcquire(1, kWait);
        }
    });
    LogObstacle folder(LogObstacle::Folder, kDec6Name);
    QVERIFY(folder.Place());
    const QByteArray backlog(int(CInputLog::kDefaultQueueCap / 2), 'b');
    QVERIFY(log.Write(backlog.constData(), int(backlog.size())));
    QVERIFY(told.tryAcquire(1, kWait));
    QVERIFY(folder.Remove());

    QVERIFY(log.Write("x", 1));
    const qint64 nQueued = log.QueuedBytes();
    resume.release();
    QVERIFY2(nQueued == backlog.size() + 1, "the block was taken only after the backlog was out");
    QVERIFY(log.Flush(kWait));
    QCOMPARE(ReadLog(kDec6Name), backlog + "x");
    QCOMPARE(nNews.load(), 2); // failing, then written
    QVERIFY(!bNewsOnCaller.load());
}

void TestInputLog::finishEndsTheIntake()
{
    QDateTime now = kDec6;
    CInputLog log(ClockAt(&now));
    std::atomic<int> nNews{0};
    log.SetStateChangedCallback([&] { ++nNews; });
    QVERIFY(log.Write("kept", 4));
    QVERIFY(log.Finish(kWait)); // what was handed over is out before it returns
    QCOMPARE(ReadLog(kDec6Name), QByteArray("kept"));
    QCOMPARE(log.UnwrittenText(), QString());

    // Later blocks are dropped and counted, and told to nobody.
    QVERIFY(!log.Write("late", 4));
    QCOMPARE(log.LostBytes(), 4);
    QVERIFY(log.Finish(kWait));
    QCOMPARE(ReadLog(kDec6Name), QByteArray("kept"));
    QCOMPARE(nNews.load(), 0);
}

void TestInputLog::writesWaitForTheBatch_data()
{
    QTest::addColumn<QList<int>>("writes"); // when writes began, ms
    QTest::addColumn<int>("now");
    QTest::addColumn<int>("wait"); // until the next may begin, ms
    QTest::newRow("the first at once") << QList<int>{} << 0 << 0;
    QTest::newRow("soon after a write") << QList<int>{100} << 110 << 40;
    QTest::newRow("the interval over") << QList<int>{100} << 150 << 0;
    QTest::newRow("long after") << QList<int>{100} << 9000 << 0;
    QTest::newRow("the latest write counts") << QList<int>{100, 140} << 150 << 40;
    QTest::newRow("a clock stepped back waits no longer") << QList<int>{100} << 20 << 50;
}

void TestInputLog::writesWaitForTheBatch()
{
    QFETCH(QList<int>, writes);
    QFETCH(int, now);
    QFETCH(int, wait);
    qint64 nNow = 0;
    CLogPacing pacing([&nNow] { return nNow; });
    for (int at : writes) {
        nNow = at;
        pacing.Writing();
    }
    nNow = now;
    QCOMPARE(pacing.MsUntilWrite(), qint64(wait));
}

QTEST_GUILESS_MAIN(TestInputLog)
#include "tst_inputlog.moc"
