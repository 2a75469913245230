#include "KrSerialSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString DevicePath(const QString& portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

// The name serial programs give a device's lock file.
QString LockFileName(const QString& path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

// The process a lock file names: a binary int in the system's byte order in
// a file of exactly that size with a zero byte (every pid has one, no text
// does: its other bytes may look like digits), else ASCII digits on the first
// line (in a field of 10 characters or not, as older and newer programs
// write it). 0 when it names no process.
qint64 LockPid(const QByteArray& content)
{
    qint64 pid = 0;
    if (content.size() == qsizetype(sizeof(int)) && content.contains('\0')) {
        int n = 0;
        std::memcpy(&n, content.constData(), sizeof n);
        pid = n;
    } else {
        pid = content.split('\n').value(0).trimmed().toLongLong();
    }
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() ? pid : 0;
}

bool ProcessAlive(qint64 pid)
{
    // A process of another user answers "not permitted", yet it lives.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A lock file that names no process may be one another program has just
// made and not yet filled in: it counts as held for this long after it was
// last written.
constexpr time_t kUnfilledLockSecs = 10;

// The live process that holds the lock file `path`, 0 when none does, or
// KrLockBeingWritten for a fresh lock that names no process yet. With
// bRemoveStale, a lock whose process is gone, or that has named none for
// kUnfilledLockSecs, is removed - the very file that was read, not one
// another program put there meanwhile.
qint64 LiveLockHolder(const QString& path, bool bRemoveStale)
{
    const QByteArray file = QFile::encodeName(path);
    // Without waiting on a pipe or following a link planted under the name.
    const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st = {};
    QByteArray content(128, Qt::Uninitialized);
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, content.data(), size_t(content.size()));
    ::close(fd);
    if (n < 0)
        return 0; // not a lock file anyone wrote: not ours to judge
    content.truncate(n);
    const qint64 pid = LockPid(content);
    if (pid > 0 && ProcessAlive(pid))
        return pid;
    if (pid == 0 && ::time(nullptr) - st.st_mtime < kUnfilledLockSecs)
        return KrLockBeingWritten;
    struct stat now = {};
    if (bRemoveStale && ::lstat(file.constData(), &now) == 0 && now.st_dev == st.st_dev &&
        now.st_ino == st.st_ino)
        ::unlink(file.constData());
    return 0;
}

bool LockHeldByLiveProcess(const QString& path)
{
    // Every folder where programs, the serial driver of our own toolkit
    // included, put such locks; a lock of this very process counts too.
    const QStringList dirs = {QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),
                              QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
                              QStringLiteral("/var/spool/uucp"), QDir::tempPath()};
    for (const QString& dir : dirs) {
        if (LiveLockHolder(dir + QLatin1Char('/') + LockFileName(path), false) != 0)
            return true;
    }
    return false;
}

} // namespace

KrOpenFailure KrOpenFailureFromSystemError(int code)
{
    switch (code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return KrOpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM:
    case EROFS:
        return KrOpenFailure::PermissionDenied;
    case EBUSY:
        return KrOpenFailure::InUse;
    default:
        return KrOpenFailure::Other;
    }
}

KrOpenFailure KrDiagnosePermissionFailure(const QString& portName)
{
    const QByteArray path = QFile::encodeName(DevicePath(portName));
    // With the effective ids, as open(2) itself checks.
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0) {
        const KrOpenFailure f = KrOpenFailureFromSystemError(errno);
        if (f != KrOpenFailure::Other)
            return f;
    }
    if (LockHeldByLiveProcess(DevicePath(portName)))
        return KrOpenFailure::InUse;
    // A terminal opened exclusively (TIOCEXCL) refuses further opens with
    // EBUSY.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return KrOpenFailureFromSystemError(errno);
    ::close(fd);
    return KrOpenFailure::Other;
}

KrOpenFailure KrDiagnoseDeviceKind(const QString& portName)
{
    const QByteArray path = QFile::encodeName(DevicePath(portName));
    struct stat st = {};
    if (::stat(path.constData(), &st) != 0)
        return KrOpenFailure::Other;
    if (S_ISDIR(st.st_mode))
        return KrOpenFailure::IsFolder;
    if (!S_ISCHR(st.st_mode))
        return KrOpenFailure::NotSerialDevice;
    // A character device: a terminal, or something like /dev/null. Only a
    // device node is opened here, and without waiting.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return KrOpenFailure::Other;
    const bool bTerminal = ::isatty(fd) == 1;
    ::close(fd);
    return bTerminal ? KrOpenFailure::Other : KrOpenFailure::NotSerialDevice;
}

qint64 KrForeignLockHolder(const QString& portName)
{
    const QString path = DevicePath(portName);
    QStringList names{LockFileName(path)};
    // Other programs name the lock after the device itself, not the link
    // (/dev/serial/by-id/...) that leads to it.
    const QString target = QFileInfo(path).canonicalFilePath();
    if (!target.isEmpty() && !names.contains(LockFileName(target)))
        names << LockFileName(target);
    const qint64 self = ::getpid();
    QStringList seen;
    for (const QString& dir : KrSerialLockDirs()) {
        const QString real = QFileInfo(dir).canonicalFilePath(); // /var/lock may be /run/lock
        if (real.isEmpty() || seen.contains(real))
            continue;
        seen << real;
        for (const QString& name : names) {
            const qint64 pid = LiveLockHolder(real + QLatin1Char('/') + name, true);
            if (pid != 0 && pid != self)
                return pid;
        }
    }
    return 0;
}

bool KrIsPseudoTerminal(const QString& portName)
{
    // Through symbolic links, as virtual ports are often named by one.
    const QString path = QFileInfo(DevicePath(portName)).canonicalFilePath();
    return path.startsWith(QLatin1String("/dev/pts/")) ||
           path.startsWith(QLatin1String("/dev/ttys")) || path == QLatin1String("/dev/ptmx");
}

bool KrDeviceExists(const QString& portName)
{
    // The link itself may be left behind by a device that went: follow it.
    return ::access(QFile::encodeName(DevicePath(portName)).constData(), F_OK) == 0;
}

bool KrReadWaiting(qintptr handle, QByteArray& data, qsizetype nMax, QString* pError)
{
    const int fd = int(handle);
    while (data.size() < nMax) {
        const qsizetype nOld = data.size();
        data.resize(nMax);
        const ssize_t n = ::read(fd, data.data() + nOld, size_t(nMax - nOld));
        const int nErrno = errno;
        data.resize(nOld + qMax<qsizetype>(n, 0));
        if (n > 0)
            continue;
        // A terminal set to return at once (VMIN and VTIME 0) reads 0 bytes
        // when nothing waits; a hang-up is seen by the driver's own read.
        if (n == 0 || nErrno == EAGAIN || nErrno == EWOULDBLOCK || nErrno == EINTR)
            return true;
        if (pError)
            *pError = QString::fromLocal8Bit(std::strerror(nErrno));
        return false;
    }
    return true;
}

qint64 KrWriteNow(qintptr handle, const char* pData, qint64 nLength)
{
    if (nLength <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::write(int(handle), pData, size_t(nLength));
        if (n >= 0)
            return qint64(n);
        if (errno != EINTR)
            return 0;
    }
}
