// The port object on a serial device: a pseudo-terminal stands in for the
// device, its master side for the far end of the line.

#include "CKrCommPort.h"
#include "FileBytes.h"
#include "KrSerialSystem.h"
#include "PortHelpers.h"
#include "PtyPair.h"
#include "SocatPty.h"
#include "TryTimeout.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Drops the effective user id to an unprivileged one while it lives, so that
// file permissions apply to a test that runs as root.
class EffectiveUser
{
public:
    explicit EffectiveUser(uid_t uid) : m_saved(::geteuid()) { m_bOk = ::seteuid(uid) == 0; }
    ~EffectiveUser()
    {
        if (m_bOk)
            (void)::seteuid(m_saved);
    }
    bool Ok() const { return m_bOk; }

private:
    uid_t m_saved;
    bool m_bOk = false;
};

// The folder where serial programs put their lock files: the system's own
// when the test may write there, else one of its own that the port is told
// of. Removes the lock file written through it.
class LockFolder
{
public:
    LockFolder() : m_strDir(KrSerialLockDirs().value(0))
    {
        if (::access(QFile::encodeName(m_strDir).constData(), W_OK) != 0)
            KrSetSerialLockDirs({m_strDir = m_own.path()});
    }
    ~LockFolder()
    {
        QFile::remove(m_strPath);
        KrSetSerialLockDirs({});
    }
    // Another program's lock for the device at `device`: named after its
    // path below /dev, '/' as '_'.
    QString Write(QString device, const QByteArray& content)
    {
        m_strPath = m_strDir + QStringLiteral("/LCK..") +
                    device.remove(QRegularExpression(QStringLiteral("^/dev/")))
                        .replace(QLatin1Char('/'), QLatin1Char('_'));
        return WriteFile(m_strPath, content) ? m_strPath : QString();
    }

private:
    QTemporaryDir m_own;
    QString m_strDir;
    QString m_strPath;
};

} // namespace

class TestPortSerial : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bytesFromTheLineReachTheReceiverInOrder();
    void writtenBytesReachTheLineInOrder();
    void pendingCountFollowsTheDevice();
    void lineSettingsReachTheDevice_data();
    void lineSettingsReachTheDevice();
    void oneAndAHalfStopBitsOnAPseudoTerminal();
    void pseudoTerminalsAreRecognised();
    void missingDeviceIsNoSuchDevice();
    void deviceHeldByAnotherPortIsInUse();
    void deviceWithoutAccessIsPermissionDenied();
    void lockFileOfAnotherProgram_data();
    void lockFileOfAnotherProgram();
    void binaryLockThatLooksLikeText();
    void nameThatIsNoSerialDevice_data();
    void nameThatIsNoSerialDevice();
    void systemErrorsInPlainWords_data();
    void systemErrorsInPlainWords();
    void vanishingDeviceIsLost();
    void reopenAfterClose();
    void stalledLineAndBusyReceiverNeverHoldTheOwner();
    void closeKeepsWhatWasRead();
};

void TestPortSerial::bytesFromTheLineReachTheReceiverInOrder()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, ConfigFor(pty.SlavePath()), &rx), qPrintable(port.GetLastError()));
    QCOMPARE(port.GetDescription(), pty.SlavePath() + QStringLiteral(" 115200,8,N,1"));

    const QByteArray expected = AllByteValues() + Pattern(100000) + AllByteValues();
    QVERIFY(pty.WriteMaster(expected));
    QTRY_COMPARE_WITH_TIMEOUT(rx.Data().size(), expected.size(), 20000);
    QVERIFY(rx.Data() == expected);
    QVERIFY(!rx.OnUiThread());
}

void TestPortSerial::writtenBytesReachTheLineInOrder()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, ConfigFor(pty.SlavePath())), qPrintable(port.GetLastError()));

    QCOMPARE(port.Write("hello\r\n", -1), 7);
    QCOMPARE(pty.ReadMasterFor(7), QByteArray("hello\r\n"));

    // Far more than the terminal and the driver buffer at once, so it goes
    // out piecemeal while the master drains it.
    const QByteArray big = Pattern(256 * 1024);
    QCOMPARE(port.Write(big.constData(), int(big.size())), int(big.size()));
    QVERIFY(port.GetPendingCount() > 0);
    const QByteArray got = pty.ReadMasterFor(big.size(), 20000);
    QCOMPARE(got.size(), big.size());
    QVERIFY(got == big);
    QTRY_COMPARE(port.GetPendingCount(), qint64(0));
}

void TestPortSerial::pendingCountFollowsTheDevice()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, ConfigFor(pty.SlavePath())), qPrintable(port.GetLastError()));

    // The far end reads nothing yet: only what the terminal itself can hold
    // (tens of KiB) can have been handed over, the rest is still pending.
    constexpr qint64 kTotal = 1024 * 1024;
    constexpr qint64 kTerminalHolds = 256 * 1024; // generous
    const QByteArray big = Pattern(kTotal);
    QCOMPARE(port.Write(big.constData(), int(big.size())), int(kTotal));
    QVERIFY(port.GetPendingCount() >= kTotal - kTerminalHolds);

    // What the far end has read has been handed over.
    const QByteArray first = pty.ReadMasterFor(300 * 1024, 20000);
    QCOMPARE(first.size(), 300 * 1024);
    // The serial driver reports a write when it starts the next one, so the
    // last piece handed over may still count as pending.
    constexpr qint64 kReportLag = 64 * 1024;
    QTRY_VERIFY(port.GetPendingCount() <= kTotal - first.size() + kReportLag);
    QVERIFY(port.GetPendingCount() >= kTotal - first.size() - kTerminalHolds);

    const QByteArray rest = pty.ReadMasterFor(kTotal - first.size(), 20000);
    QVERIFY(first + rest == big);
    QTRY_COMPARE(port.GetPendingCount(), qint64(0));
}

void TestPortSerial::lineSettingsReachTheDevice_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("description");
    const auto row = [](const char* name, const char* field, const char* value, const char* text) {
        QTest::newRow(name) << QString(field) << QString(value) << QStringLiteral(" ") + text;
    };
    row("default 115200", "", "", "115200,8,N,1");
    row("9600", "baud", "9600", "9600,8,N,1");
    row("non-standard baud", "baud", "31250", "31250,8,N,1");
    row("5 data bits", "data", "5", "115200,5,N,1");
    row("6 data bits", "data", "6", "115200,6,N,1");
    row("7 data bits", "data", "7", "115200,7,N,1");
    row("odd parity", "parity", "O", "115200,8,O,1");
    row("even parity", "parity", "E", "115200,8,E,1");
    row("mark parity", "parity", "M", "115200,8,M,1");
    row("space parity", "parity", "S", "115200,8,S,1");
    row("2 stop bits", "stop", "2", "115200,8,N,2");
    row("RTS/CTS", "flow", "rtscts", "115200,8,N,1,RTS/CTS");
    row("XON/XOFF", "flow", "xonxoff", "115200,8,N,1,XON/XOFF");
}

void TestPortSerial::lineSettingsReachTheDevice()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, description);
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommConfig config = ConfigFor(pty.SlavePath());
    if (!field.isEmpty())
        QVERIFY(config.SetField(field, value, nullptr));
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, config), qPrintable(port.GetLastError()));
    QCOMPARE(port.GetDescription(), pty.SlavePath() + description);

    // The terminal's own settings show what the port made of them. A
    // pseudo-terminal stays at 8 bits without parity whatever is asked, so
    // data bits and parity can only be shown to be harmless here.
    termios t{};
    QCOMPARE(::tcgetattr(pty.SlaveFd(), &t), 0);
    if (config.nBaud == 9600)
        QCOMPARE(::cfgetospeed(&t), speed_t(B9600));
    if (config.nBaud == 115200)
        QCOMPARE(::cfgetospeed(&t), speed_t(B115200));
    QCOMPARE(bool(t.c_cflag & CSTOPB), config.stopBits == KrStopBits::Two);
    QCOMPARE(bool(t.c_cflag & CRTSCTS), config.flow == KrFlow::RtsCts);
    QCOMPARE(bool(t.c_iflag & IXON), config.flow == KrFlow::XonXoff);

    // Every byte value passes untouched both ways.
    QByteArray all = AllByteValues();
    if (config.flow == KrFlow::XonXoff)
        all.replace('\x11', "").replace('\x13', ""); // the flow control characters
    QCOMPARE(port.Write(all.constData(), int(all.size())), int(all.size()));
    QCOMPARE(pty.ReadMasterFor(all.size()), all);
}

void TestPortSerial::oneAndAHalfStopBitsOnAPseudoTerminal()
{
    // No driver here has a 1.5 setting for 8 data bits; a pseudo-terminal has
    // no stop bits at all and opens anyway.
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommConfig config = ConfigFor(pty.SlavePath());
    config.stopBits = KrStopBits::OneAndHalf;
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, config), qPrintable(port.GetLastError()));
    QCOMPARE(port.GetDescription(), pty.SlavePath() + QStringLiteral(" 115200,8,N,1.5"));
    QCOMPARE(port.Write("ok", 2), 2);
    QCOMPARE(pty.ReadMasterFor(2), QByteArray("ok"));
}

void TestPortSerial::pseudoTerminalsAreRecognised()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    QVERIFY(KrIsPseudoTerminal(pty.SlavePath()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttyV0"));
    QVERIFY(QFile::link(pty.SlavePath(), link));
    QVERIFY(KrIsPseudoTerminal(link));
    QVERIFY(!KrIsPseudoTerminal(QStringLiteral("/dev/ttyS0")));
    QVERIFY(!KrIsPseudoTerminal(dir.filePath(QStringLiteral("missing"))));
}

void TestPortSerial::missingDeviceIsNoSuchDevice()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ttyUSB9"));
    CKrCommPortEx port;
    port.SetConfig(ConfigFor(path, 9600));
    QVERIFY(!OpenSettled(port));
    QVERIFY(!port.IsOpen());
    QCOMPARE(port.GetLastError(), QStringLiteral("no such device"));
    QCOMPARE(port.GetDescription(),
             path + QStringLiteral(" 9600,8,N,1 - not open: no such device"));
    QCOMPARE(port.Write("x", 1), -1);
}

void TestPortSerial::deviceHeldByAnotherPortIsInUse()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommPortEx first;
    QVERIFY2(OpenPort(first, ConfigFor(pty.SlavePath())), qPrintable(first.GetLastError()));

    CKrCommPortEx second;
    second.SetConfig(ConfigFor(pty.SlavePath()));
    QVERIFY(!OpenSettled(second));
    QCOMPARE(second.GetLastError(), QStringLiteral("the device is in use by another program"));
    QCOMPARE(
        second.GetDescription(),
        pty.SlavePath() +
            QStringLiteral(" 115200,8,N,1 - not open: the device is in use by another program"));

    // Once the first lets go, the second gets it. Close may return before
    // the first's thread has let go: an open refused then is tried again.
    first.Close();
    second.Open();
    QTRY_VERIFY2(second.IsOpen(), qPrintable(second.GetLastError()));
}

void TestPortSerial::deviceWithoutAccessIsPermissionDenied()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Reachable for everybody, the file itself for nobody.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                                  QFileDevice::ExeGroup));
    const QString path = dir.filePath(QStringLiteral("ttyS7"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0), 0);

    CKrCommPortEx port;
    port.SetConfig(ConfigFor(path, 9600));
    bool opened = false;
    {
        // root passes every permission check: act as an ordinary user.
        std::unique_ptr<EffectiveUser> user;
        if (::geteuid() == 0) {
            user = std::make_unique<EffectiveUser>(65534);
            QVERIFY2(user->Ok(), std::strerror(errno));
        }
        opened = OpenSettled(port); // the attempt ends while the user is dropped
    }
    QVERIFY(!opened);
    QCOMPARE(port.GetLastError(),
             QStringLiteral("permission denied - is the user in the dialout group?"));
    QCOMPARE(port.GetDescription(),
             path + QStringLiteral(" 9600,8,N,1 - not open: permission denied - is the user in "
                                   "the dialout group?"));
}

void TestPortSerial::lockFileOfAnotherProgram_data()
{
    // The lock's content, %1 the holder's pid in a field of `width`; "binary"
    // for a native int.
    QTest::addColumn<QString>("form");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("byLinkName"); // the lock names the link, not the device
    QTest::addColumn<QString>("held");    // why the port is in use; %1 the pid
    const QString byProcess = QStringLiteral("process %1 holds its lock file");
    QTest::newRow("ASCII in 10 columns") << "%1\n" << 10 << false << byProcess;
    QTest::newRow("binary int") << "binary" << 0 << false << byProcess;
    QTest::newRow("pid, program and host lines") << "%1\nminiterm\nlocalhost\n"
                                                 << 0 << false << byProcess;
    QTest::newRow("named after the link") << "%1\n" << 10 << true << byProcess;
    // Perhaps still being written by its program: held until it is 10 s old.
    QTest::newRow("no process named") << "garbage %1\n"
                                      << 0 << false << "its lock file names no process yet";
}

void TestPortSerial::lockFileOfAnotherProgram()
{
    QFETCH(QString, form);
    QFETCH(int, width);
    QFETCH(bool, byLinkName);
    QFETCH(QString, held);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SocatPty pty(dir.path());
    QVERIFY2(pty.Start(), qPrintable(pty.Error()));
    const QString device = QFileInfo(pty.DevicePath()).canonicalFilePath();

    // Another program: a live process of our own making, ended by its id.
    QProcess holder;
    holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(holder.waitForStarted(5000));
    const int pid = int(holder.processId());
    const QByteArray content = form == QLatin1String("binary")
                                   ? QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid)
                                   : form.arg(pid, width).toLatin1();
    LockFolder locks;
    const QString lock = locks.Write(byLinkName ? pty.DevicePath() : device, content);
    QVERIFY(!lock.isEmpty());

    CKrCommPortEx port;
    port.SetConfig(ConfigFor(pty.DevicePath()));
    QVERIFY(!OpenSettled(port));
    QCOMPARE(port.GetLastError(),
             QStringLiteral("the device is in use by another program (%1)")
                 .arg(QString(held).replace(QLatin1String("%1"), QString::number(pid))));
    QCOMPARE(port.GetStatus().error, KrPortError::InUse);
    QCOMPARE(ReadFile(lock), content); // neither removed nor replaced
    port.Close();
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY(holder.waitForFinished(5000));
    if (!held.startsWith(QLatin1String("process"))) { // a lock left unfilled for good
        const struct timeval aged[2] = {{::time(nullptr) - 20, 0}, {::time(nullptr) - 20, 0}};
        QCOMPARE(::utimes(QFile::encodeName(lock).constData(), aged), 0);
    }
    // Stale now: it goes (or becomes our own driver's), and the port opens.
    QVERIFY2(OpenSettled(port), qPrintable(port.GetLastError()));
    const QByteArray now = ReadFile(lock);
    QVERIFY2(now.isEmpty() || now.startsWith(QByteArray::number(::getpid()) + '\n'),
             now.constData());
}

void TestPortSerial::binaryLockThatLooksLikeText()
{
    // A native int whose bytes read as text name process 1: ' ' '1' 0 0 is
    // process 12576. That one is gone, so the lock is stale.
    int pid = 0;
    for (const char space : {' ', '\t', '\v', '\f', '\r'}) {
        const int candidate = uchar(space) | '1' << 8;
        if (::kill(candidate, 0) != 0 && errno == ESRCH) {
            pid = candidate;
            break;
        }
    }
    if (pid == 0)
        QSKIP("processes 12553 to 12576 all live");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SocatPty pty(dir.path());
    QVERIFY2(pty.Start(), qPrintable(pty.Error()));
    LockFolder locks;
    const QString lock = locks.Write(QFileInfo(pty.DevicePath()).canonicalFilePath(),
                                     QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid));
    QVERIFY(!lock.isEmpty());
    CKrCommPortEx port;
    port.SetConfig(ConfigFor(pty.DevicePath()));
    QVERIFY2(OpenSettled(port), qPrintable(port.GetLastError()));
}

void TestPortSerial::nameThatIsNoSerialDevice_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("regular file") << "file"
                                  << "not a serial device";
    QTest::newRow("/dev/null") << "null"
                               << "not a serial device";
    QTest::newRow("FIFO") << "fifo"
                          << "not a serial device";
    QTest::newRow("folder") << "folder"
                            << "is a folder";
}

void TestPortSerial::nameThatIsNoSerialDevice()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("ttyX0"));
    const QByteArray file = QFile::encodeName(path);
    if (kind == QLatin1String("file"))
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    else if (kind == QLatin1String("null"))
        path = QStringLiteral("/dev/null");
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(file.constData(), 0600), 0);
    else
        QVERIFY(QDir().mkdir(path));

    CKrCommPortEx port;
    port.SetConfig(ConfigFor(path, 9600));
    // The attempt ends by itself: nobody ever opens the FIFO's other end.
    QVERIFY(!OpenSettled(port));
    QCOMPARE(port.GetLastError(), reason);
    QCOMPARE(port.GetStatus().error, KrPortError::NotSerialDevice);
}

void TestPortSerial::systemErrorsInPlainWords_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const QString permission =
        QStringLiteral("permission denied - is the user in the dialout group?");
    QTest::newRow("ENOENT") << ENOENT << "no such device";
    QTest::newRow("ENODEV") << ENODEV << "no such device";
    QTest::newRow("ENXIO") << ENXIO << "no such device";
    QTest::newRow("EACCES") << EACCES << permission;
    QTest::newRow("EPERM") << EPERM << permission;
    QTest::newRow("EBUSY") << EBUSY << "the device is in use by another program";
    QTest::newRow("EIO: the system's text") << EIO << "Input/output error";
}

void TestPortSerial::systemErrorsInPlainWords()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(KrOpenFailureText(KrOpenFailureFromSystemError(code),
                               QString::fromLocal8Bit(std::strerror(code))),
             text);
    QCOMPARE(KrOpenFailureText(KrOpenFailure::Other, QString()),
             QStringLiteral("the device could not be opened"));
}

void TestPortSerial::vanishingDeviceIsLost()
{
    auto pty = std::make_unique<PtyPair>();
    QVERIFY(pty->IsValid());
    const QString path = pty->SlavePath();
    CollectingReceiver rx;
    RecordingListener states;
    CKrCommPortEx port;
    port.SetStateListener(&states);
    QVERIFY2(OpenPort(port, ConfigFor(path), &rx), qPrintable(port.GetLastError()));
    QTRY_COMPARE(states.LastState(), KrPortState::Open);
    QVERIFY(pty->WriteMaster("before"));
    QTRY_COMPARE(rx.Data(), QByteArray("before"));

    pty.reset(); // the far end and our own hold on the terminal go
    QTRY_COMPARE(states.LastState(), KrPortState::Lost);
    QVERIFY(!port.IsOpen());
    const CKrCommPortStatus lost = states.Last();
    QCOMPARE(lost.error, KrPortError::Removed);
    QCOMPARE(lost.strReason, QStringLiteral("the device was removed"));
    QCOMPARE(port.GetLastError(), lost.strReason);
    QCOMPARE(port.GetDescription(),
             path + QStringLiteral(" 115200,8,N,1 - disconnected: the device was removed"));
    QCOMPARE(lost.strDescription, port.GetDescription());
    QCOMPARE(port.Write("x", 1), -1);
    QCOMPARE(port.GetPendingCount(), qint64(0));
    port.Close();
    QTRY_COMPARE(states.LastState(), KrPortState::Closed);
    QCOMPARE(port.GetDescription(), path + QStringLiteral(" 115200,8,N,1 - not open: port closed"));
}

void TestPortSerial::reopenAfterClose()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CollectingReceiver rx;
    CKrCommPortEx port;
    QVERIFY(OpenPort(port, ConfigFor(pty.SlavePath()), &rx));
    port.Close();
    QCOMPARE(port.GetDescription(),
             pty.SlavePath() + QStringLiteral(" 115200,8,N,1 - not open: port closed"));
    QVERIFY(pty.WriteMaster("lost"));
    QVERIFY(OpenSettled(port));
    QVERIFY(pty.WriteMaster("found"));
    QTRY_VERIFY(rx.Data().endsWith("found"));
    QVERIFY(!rx.Data().contains("lost") || rx.Data() == "lostfound");
}

void TestPortSerial::stalledLineAndBusyReceiverNeverHoldTheOwner()
{
    // The far end reads nothing and the receiver is stuck inside OnReceive,
    // holding the I/O thread: neither may hold the owner's Close or Open (they
    // return long before the receiver would let go), nor let the write queue
    // grow without bound.
    struct StuckReceiver : CKrCommReceiver
    {
        QSemaphore entered, release;
        void OnReceive(const char*, int) override
        {
            entered.release();
            release.tryAcquire(1, 20000);
        }
    } rx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, ConfigFor(pty.SlavePath()), &rx), qPrintable(port.GetLastError()));
    const QByteArray block = Pattern(8 * 1024 * 1024);
    QCOMPARE(port.Write(block.constData(), int(block.size())), int(block.size()));
    QVERIFY(pty.WriteMaster("x"));
    QVERIFY(rx.entered.tryAcquire(1, 20000));

    // Waiting for either would take the receiver's 20 s or forever; the
    // bound leaves a loaded machine a wide margin below that.
    constexpr qint64 kBoundMs = 10000;
    QElapsedTimer timer;
    timer.start();
    port.Close();
    QVERIFY2(timer.elapsed() < kBoundMs, qPrintable(QString::number(timer.elapsed())));
    // Still opening while the I/O thread is held; open once it is free, with
    // nothing of the old queue left.
    timer.restart();
    port.Open();
    QVERIFY2(timer.elapsed() < kBoundMs, qPrintable(QString::number(timer.elapsed())));
    rx.release.release();
    QTRY_VERIFY_WITH_TIMEOUT(port.IsOpen(), 20000);
    QCOMPARE(port.GetPendingCount(), qint64(0));

    // 64 MiB may wait; a write beyond takes what fits.
    qint64 nAccepted = 0;
    int nLast = 0;
    for (int i = 0; i < 9; ++i) {
        nLast = port.Write(block.constData(), int(block.size()));
        nAccepted += nLast;
    }
    QVERIFY(nLast < block.size());
    QVERIFY(nAccepted <= CKrCommPort::kMaxQueued + 256 * 1024); // what the terminal took
    QVERIFY(port.GetPendingCount() <= CKrCommPort::kMaxQueued);
    timer.restart();
    port.Close();
    QVERIFY2(timer.elapsed() < kBoundMs, qPrintable(QString::number(timer.elapsed())));
}

void TestPortSerial::closeKeepsWhatWasRead()
{
    // The receiver is held inside its call when Close comes: the block it
    // holds still arrives, then the close is carried out and nothing more
    // comes; what came is the start of what was sent, in order.
    struct HeldReceiver : CollectingReceiver
    {
        QSemaphore entered, release;
        std::atomic<bool> bHeld{true};
        void OnReceive(const char* pData, int nLength) override
        {
            if (bHeld.exchange(false)) {
                entered.release();
                release.tryAcquire(1, 20000);
            }
            CollectingReceiver::OnReceive(pData, nLength);
        }
    } rx;
    PtyPair pty;
    QVERIFY(pty.IsValid());
    CKrCommPortEx port;
    QVERIFY2(OpenPort(port, ConfigFor(pty.SlavePath()), &rx), qPrintable(port.GetLastError()));
    // Small enough for the pseudo-terminal to hold what the held receiver
    // has not read yet, so the write never waits for the receiver.
    const QByteArray sent = Pattern(16 * 1024);
    QVERIFY(pty.WriteMaster(sent, 20000));
    QVERIFY(rx.entered.tryAcquire(1, 20000));
    port.Close();
    rx.release.release();
    QVERIFY(port.WaitSettled(20000));
    const QByteArray got = rx.Data(); // read once: nothing comes after the close
    QVERIFY(!got.isEmpty());
    QVERIFY(got == sent.left(got.size()));
    QTest::qWait(50);
    QCOMPARE(rx.Data().size(), got.size());
}

QTEST_GUILESS_MAIN(TestPortSerial)
#include "tst_portserial.moc"
