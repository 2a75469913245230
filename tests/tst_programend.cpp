// The real program's end, started as a user starts it: a signal ends it
// whatever it is doing, the exit writes the settings and every byte read, and
// what it could not write is on standard error and in its status. The window
// is worked through the accessibility bus on a private X server
// (tests/a11y/drive.py).

#include "CInputLog.h"
#include "FileBytes.h"
#include "FileFaults.h"
#include "LogObstacle.h"
#include "PortHelpers.h"
#include "PrivateDesktop.h"
#include "PtyPair.h"
#include "RealProgram.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <optional>
#include <poll.h>
#include <termios.h>

namespace {

// Generous: the program ends well within it however loaded the machine is.
constexpr int kEndMs = 15000;

// Bytes the data window shows one character each, in no short cycle.
QByteArray Printable(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char('A' + (i * 7 + i / 26) % 26);
    return b;
}

QString TodaysLogName()
{
    return CInputLog::FileNameFor(QDateTime::currentDateTime());
}

// The program in a folder, its settings pointing at a pseudo-terminal whose
// far end the test drives. A program still running at the end is killed.
struct ProgramRun
{
    explicit ProgramRun(const QString& folder) : dir(QFileInfo(folder).canonicalFilePath()) {}

    QString Path(const QString& name) const { return dir + QLatin1Char('/') + name; }
    QString Settings() const { return Path(QStringLiteral("VornTerm.cfg")); }
    bool WriteSettings() const { return WriteFile(Settings(), StoredConfig(config)); }

    // Starts it and waits until it has opened the port: its settings are
    // read and its signal handlers in place.
    bool Start(const QProcessEnvironment& env = {}, qint64 nFileSizeLimit = -1)
    {
        StartProgram(proc, dir, env, nFileSizeLimit);
        QDeadlineTimer deadline(kEndMs);
        while (!ProcessHasOpen(proc.processId(), pty.SlavePath()))
            if (deadline.hasExpired() || proc.waitForFinished(50))
                return false;
        return true;
    }

    // Sends the signal and waits for the end: how long it took, -1 for no end.
    qint64 End(int nSignal)
    {
        QElapsedTimer timer;
        timer.start();
        if (!SignalProgram(proc, nSignal) || !proc.waitForFinished(kEndMs))
            return -1;
        return timer.elapsed();
    }

    const QString dir;
    PtyPair pty;
    const CKrCommConfig config = ConfigFor(pty.SlavePath());
    QProcess proc;
};

} // namespace

// QSKIP only for a tool that is not installed; a desktop that fails to start
// fails the test.
#define NEED_DESKTOP()                                                                             \
    do {                                                                                           \
        if (m_desktop->ToolsMissing())                                                             \
            QSKIP(qPrintable(m_desktop->WhyNot()));                                                \
        QVERIFY2(m_desktop->WhyNot().isEmpty(), qPrintable(m_desktop->WhyNot()));                  \
    } while (false)

class TestProgramEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_desktop.reset(); }
    void exitReportsWhatItCouldNotWrite_data();
    void exitReportsWhatItCouldNotWrite();
    void killDuringTheLogWaitKeepsTheNewSettings();
    void hangupDuringAFloodLosesNoByte();
    void signalEndsANestedLoop_data();
    void signalEndsANestedLoop();
    void displayLossWritesWhatWaits();

private:
    // One step of drive.py on the running program; its answer.
    QString Drive(ProgramRun& run, const QStringList& step, PrivateDesktop* pDesktop = nullptr)
    {
        QProcess driver;
        const QString answer =
            (pDesktop ? pDesktop : m_desktop.get())->Drive(driver, run.proc.processId(), step);
        driver.waitForFinished(10000);
        return answer;
    }

    std::unique_ptr<PrivateDesktop> m_desktop;
};

void TestProgramEnd::initTestCase()
{
    QVERIFY2(QFileInfo::exists(ProgramPath()), "the vornterm program is not built");
    m_desktop = std::make_unique<PrivateDesktop>();
}

void TestProgramEnd::exitReportsWhatItCouldNotWrite_data()
{
    QTest::addColumn<bool>("bLog");
    QTest::newRow("settings on a full disk") << false;
    QTest::newRow("log under a file-size limit") << true;
}

void TestProgramEnd::exitReportsWhatItCouldNotWrite()
{
    QFETCH(bool, bLog);
    // The log's first bytes fit under the limit, and so do the settings.
    constexpr qint64 kLimit = 4096;
    const QByteArray fed = Printable(10000);
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("disk"));
    std::optional<CNoRoomFolder> disk;
    if (bLog) {
        NEED_DESKTOP();
        QVERIFY(QDir().mkdir(folder));
    } else {
        disk.emplace(CNoRoomFolder::FullDisk, folder);
        if (!disk->WhyNot().isEmpty())
            QSKIP(qPrintable(disk->WhyNot()));
    }
    ProgramRun run(folder);
    QVERIFY(run.WriteSettings());
    if (disk)
        QVERIFY(disk->Arm());
    QVERIFY(run.Start(bLog ? m_desktop->Environment() : QProcessEnvironment(), bLog ? kLimit : -1));
    if (bLog) {
        QCOMPARE(Drive(run, {QStringLiteral("log-on")}), QStringLiteral("checked"));
        QVERIFY(run.pty.WriteMaster(fed));
        QCOMPARE(Drive(run, {QStringLiteral("received"), QString::number(fed.size())}),
                 QStringLiteral("received"));
    }

    const qint64 nMs = run.End(SIGTERM);
    QVERIFY(nMs >= 0);
    qInfo("ended %lld ms after SIGTERM", nMs);
    QCOMPARE(run.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.proc.exitCode(), 1);
    const QString log = run.Path(TodaysLogName());
    const QString line =
        bLog ? QStringLiteral("VornTerm: %1 received bytes could not be written to the log file "
                              "'%2': File too large.")
                   .arg(QLocale(QLocale::English).toString(fed.size() - kLimit), log)
             : QStringLiteral("VornTerm: Error writing the configuration file. '%1': No space "
                              "left on device.")
                   .arg(run.Settings());
    const QString err = QString::fromLocal8Bit(run.proc.readAllStandardError());
    QVERIFY2(err.contains(line), qPrintable(err));
    // The old file on the full disk; the one the exit wrote under the limit.
    QCOMPARE(ReadFile(run.Settings()), StoredConfig(run.config));
    if (bLog)
        QCOMPARE(ReadFile(log), fed.left(kLimit));
}

void TestProgramEnd::killDuringTheLogWaitKeepsTheNewSettings()
{
    NEED_DESKTOP();
    QTemporaryDir tmp;
    ProgramRun run(tmp.path());
    QVERIFY(run.WriteSettings());
    // Another program holds the day's log: the exit waits for it.
    LogObstacle lock(LogObstacle::Locked, run.Path(TodaysLogName()));
    QVERIFY(lock.Place());
    QVERIFY(run.Start(m_desktop->Environment()));
    QCOMPARE(Drive(run, {QStringLiteral("log-on")}), QStringLiteral("checked"));
    QVERIFY(run.pty.WriteMaster(Printable(100)));
    QCOMPARE(Drive(run, {QStringLiteral("received"), QStringLiteral("100")}),
             QStringLiteral("received"));

    // Only the exit can bring the file back.
    QVERIFY(QFile::remove(run.Settings()));
    QVERIFY(SignalProgram(run.proc, SIGTERM));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(run.Settings()), kEndMs);
    QVERIFY(run.End(SIGKILL) >= 0);
    // Killed while the exit still waited for the log.
    QCOMPARE(run.proc.exitStatus(), QProcess::CrashExit);
    QCOMPARE(ReadFile(run.Settings()), StoredConfig(run.config));
}

void TestProgramEnd::hangupDuringAFloodLosesNoByte()
{
    NEED_DESKTOP();
    QTemporaryDir tmp;
    ProgramRun run(tmp.path());
    QVERIFY(run.WriteSettings());
    QVERIFY(run.Start(m_desktop->Environment()));
    QCOMPARE(Drive(run, {QStringLiteral("log-on")}), QStringLiteral("checked"));
    QVERIFY(QFile::remove(run.Settings()));

    // The far end writes as fast as the line takes it, SIGHUP comes after
    // 4 MiB (or 3 s), and the writing goes on until the program has ended.
    const QByteArray stream = Pattern(16 << 20);
    const int master = run.pty.MasterFd();
    qsizetype nWritten = 0;
    QElapsedTimer timer;
    timer.start();
    qint64 nSignalledAt = -1;
    while (!run.proc.waitForFinished(nSignalledAt < 0 ? 0 : 1)) {
        if (nSignalledAt < 0 && (nWritten >= 4 << 20 || timer.elapsed() > 3000)) {
            QVERIFY(SignalProgram(run.proc, SIGHUP));
            nSignalledAt = timer.elapsed();
        }
        QVERIFY2(nSignalledAt < 0 || timer.elapsed() - nSignalledAt < kEndMs, "no end");
        const ssize_t n = ::write(master, stream.constData() + nWritten,
                                  size_t(qMin<qsizetype>(1 << 16, stream.size() - nWritten)));
        if (n > 0) {
            nWritten += n;
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    QCOMPARE(run.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.proc.exitCode(), 0);

    // What the kernel still holds, through the pair's own slave side.
    const int slave = run.pty.SlaveFd();
    termios raw{};
    QCOMPARE(::tcgetattr(slave, &raw), 0);
    ::cfmakeraw(&raw);
    QCOMPARE(::tcsetattr(slave, TCSANOW, &raw), 0);
    ::fcntl(slave, F_SETFL, ::fcntl(slave, F_GETFL) | O_NONBLOCK);
    const QByteArray held = FdReadFor(slave, stream.size(), 1000);
    const QByteArray log = ReadFile(run.Path(TodaysLogName()));
    qInfo("%lld bytes written, %lld in the log, %lld still held by the kernel", qint64(nWritten),
          qint64(log.size()), qint64(held.size()));
    QVERIFY(!log.isEmpty());
    QVERIFY2(log == stream.left(log.size()), "the log is no prefix of what was written");
    QCOMPARE(log.size() + held.size(), nWritten);
    QVERIFY(held == stream.mid(log.size(), held.size()));
    QCOMPARE(ReadFile(run.Settings()), StoredConfig(run.config));
}

void TestProgramEnd::signalEndsANestedLoop_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QString>("shown");
    QTest::newRow("start-up box") << "box"
                                  << "box up";
    QTest::newRow("context menu") << "menu"
                                  << "menu up";
}

void TestProgramEnd::signalEndsANestedLoop()
{
    QFETCH(QString, step);
    QFETCH(QString, shown);
    NEED_DESKTOP();
    QTemporaryDir tmp;
    ProgramRun run(tmp.path());
    const bool bBox = step == QStringLiteral("box");
    // Settings cut short after their signature bring up the box at start-up.
    QVERIFY(bBox ? WriteFile(run.Settings(), "KRPC\001") : run.WriteSettings());
    StartProgram(run.proc, run.dir, m_desktop->Environment());
    QProcess driver;
    QCOMPARE(m_desktop->Drive(driver, run.proc.processId(), {step}), shown);

    QVERIFY(run.End(SIGTERM) >= 0);
    QCOMPARE(run.proc.exitStatus(), QProcess::NormalExit);
    // Nothing failed to be written.
    QCOMPARE(run.proc.exitCode(), 0);
    driver.closeWriteChannel();
    QVERIFY(driver.waitForFinished(10000));
    // Nobody is there to use the window: it never opens.
    if (bBox)
        QCOMPARE(QString::fromUtf8(driver.readAllStandardOutput()).trimmed(),
                 QStringLiteral("window not shown"));
}

void TestProgramEnd::displayLossWritesWhatWaits()
{
    // The X server dies under the program, which the toolkit answers with
    // exit(1) of its own: the exit still writes the settings and the bytes
    // waiting for the log, without a prompt.
    NEED_DESKTOP();
    PrivateDesktop desktop; // its own, to be killed
    QVERIFY2(desktop.WhyNot().isEmpty(), qPrintable(desktop.WhyNot()));
    QTemporaryDir tmp;
    ProgramRun run(tmp.path());
    QVERIFY(run.WriteSettings());
    const QString log = run.Path(TodaysLogName());
    LogObstacle lock(LogObstacle::Locked, log);
    QVERIFY(lock.Place());
    QVERIFY(run.Start(desktop.Environment()));
    QCOMPARE(Drive(run, {QStringLiteral("log-on")}, &desktop), QStringLiteral("checked"));
    const QByteArray fed = Printable(1000);
    QVERIFY(run.pty.WriteMaster(fed));
    QCOMPARE(Drive(run, {QStringLiteral("received"), QString::number(fed.size())}, &desktop),
             QStringLiteral("received"));
    QVERIFY(QFile::remove(run.Settings()));

    desktop.KillDisplay();
    // The settings come back only through the exit, which then waits for the
    // log: it is let go now.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(run.Settings()), kEndMs);
    QVERIFY(lock.Remove());
    QVERIFY(run.proc.waitForFinished(kEndMs));
    QCOMPARE(run.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.proc.exitCode(), 1);
    QCOMPARE(ReadFile(log), fed);
    QCOMPARE(ReadFile(run.Settings()), StoredConfig(run.config));
}

QTEST_GUILESS_MAIN(TestProgramEnd)
#include "tst_programend.moc"
