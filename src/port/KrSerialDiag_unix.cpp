#include "KrSerialDiag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

QString DevicePath(const QString& portName)
{
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

// Serial programs, the serial driver of our own toolkit included, mark a
// device as taken with a UUCP-style lock file "LCK..<name>" whose first line
// is the holder's process id.
bool LockHeldByLiveProcess(const QString& path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList dirs = {QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),
                              QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
                              QStringLiteral("/var/spool/uucp"), QDir::tempPath()};
    for (const QString& dir : dirs) {
        QFile lock(dir + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QByteArray first = lock.read(64).split('\n').value(0).trimmed();
        bool ok = false;
        const qint64 pid = first.toLongLong(&ok);
        if (ok && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
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
