#include "SettingsFileIo.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

void SetError(QString* pError, const QString& text)
{
    if (pError)
        *pError = text;
}

int OpenFile(const QByteArray& name, int nFlags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(name.constData(), nFlags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes the descriptor when the scope ends, unless Release() took it.
class CFd
{
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    // Closes now; the system's error number, or 0.
    int Close()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int m_fd;
};

// "it is a FIFO", for anything that is not a regular file.
QString NotRegular(mode_t mode)
{
    const char* what = "not a regular file";
    if (S_ISLNK(mode))
        what = "a symbolic link";
    else if (S_ISDIR(mode))
        what = "a folder";
    else if (S_ISFIFO(mode))
        what = "a FIFO";
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        what = "a device";
    else if (S_ISSOCK(mode))
        what = "a socket";
    return QStringLiteral("it is %1, not a regular file").arg(QLatin1String(what));
}

// Write permission is judged by the mode bits as well as by access(): a file
// or folder without any write bit counts as read-only even for root, whom the
// system would let write it.
bool IsWritable(const QByteArray& name, const struct stat& st)
{
    return (st.st_mode & kAnyWrite) && ::access(name.constData(), W_OK) == 0;
}

QByteArray FolderOf(const QString& path)
{
    return QFile::encodeName(QFileInfo(path).absolutePath());
}

// Writes all of `data`; 0 or the system's error number.
int WriteAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qint64 nLeft = data.size();
    while (nLeft > 0) {
        const ssize_t n = ::write(fd, p, size_t(nLeft));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        p += n;
        nLeft -= n;
    }
    return 0;
}

// A new file beside `path`, created only if no file of its name exists and
// never through a link.
int CreateBeside(const QString& path, QByteArray* pName)
{
    for (int nTry = 0; nTry < 16; ++nTry) {
        *pName = QFile::encodeName(path) + ".new-" +
                 QByteArray::number(QRandomGenerator::global()->generate(), 16);
        const int fd =
            OpenFile(*pName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

namespace SettingsFileIo {

Status Read(const QString& path, qint64 nMax, QByteArray* pData, QString* pError)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at before opening, so that a device is not even opened.
    struct stat st;
    if (::stat(name.constData(), &st) != 0) {
        SetError(pError, qt_error_string(errno));
        return Status::NotOpened;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(pError, NotRegular(st.st_mode));
        return Status::NotOpened;
    }
    // Without O_NONBLOCK, a FIFO put in the file's place after the look would
    // hold the open until some writer came.
    CFd fd(OpenFile(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0) {
        SetError(pError, qt_error_string(errno));
        return Status::NotOpened;
    }
    if (::fstat(fd.Get(), &st) != 0) {
        SetError(pError, qt_error_string(errno));
        return Status::NotOpened;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(pError, NotRegular(st.st_mode));
        return Status::NotOpened;
    }
    const QString tooLong =
        QStringLiteral("the file is longer than the %1 bytes a configuration can take").arg(nMax);
    if (st.st_size > nMax) {
        SetError(pError, tooLong);
        return Status::Failed;
    }
    // One byte more than allowed is asked for, to notice a file that grew
    // since fstat().
    QByteArray data(int(nMax) + 1, Qt::Uninitialized);
    qint64 nGot = 0;
    while (nGot < data.size()) {
        const ssize_t n = ::read(fd.Get(), data.data() + nGot, size_t(data.size() - nGot));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetError(pError, qt_error_string(errno));
            return Status::Failed;
        }
        if (n == 0)
            break;
        nGot += n;
    }
    if (nGot > nMax) {
        SetError(pError, tooLong);
        return Status::Failed;
    }
    data.truncate(int(nGot));
    *pData = data;
    return Status::Ok;
}

bool CanReplace(const QString& path, QString* pError)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            SetError(pError, NotRegular(st.st_mode));
            return false;
        }
        if (!IsWritable(name, st)) {
            SetError(pError, QStringLiteral("the file is read-only"));
            return false;
        }
    } else if (errno != ENOENT) {
        SetError(pError, qt_error_string(errno));
        return false;
    }
    const QByteArray folder = FolderOf(path);
    if (::stat(folder.constData(), &st) != 0) {
        SetError(pError, qt_error_string(errno));
        return false;
    }
    if (!IsWritable(folder, st)) {
        SetError(pError, QStringLiteral("its folder is read-only"));
        return false;
    }
    return true;
}

Status Replace(const QString& path, const QByteArray& data, QString* pError)
{
    if (!CanReplace(path, pError))
        return Status::NotOpened;
    const QByteArray name = QFile::encodeName(path);
    struct stat old;
    const bool bOld = ::lstat(name.constData(), &old) == 0;

    QByteArray tempName;
    CFd fd(CreateBeside(path, &tempName));
    if (fd.Get() < 0) {
        const int nError = errno;
        SetError(pError, qt_error_string(nError));
        // No room for even an empty file is a failed write; anything else
        // means the folder does not take new files.
        return nError == ENOSPC || nError == EDQUOT ? Status::Failed : Status::NotOpened;
    }

    int nError = 0;
    if (bOld) {
        // The new file keeps the old one's permissions and, where the system
        // allows it, its owner.
        if (::fchmod(fd.Get(), old.st_mode & 07777) != 0)
            nError = errno;
        if (nError == 0 && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
            // Not allowed to give it away: it stays the writer's.
        }
    }
    if (nError == 0)
        nError = WriteAll(fd.Get(), data);
    if (nError == 0 && ::fsync(fd.Get()) != 0)
        nError = errno;
    if (nError == 0)
        nError = fd.Close();
    // Whatever came to `path` in the meantime is replaced only if it too is a
    // regular file; a link is never written through, nor replaced.
    struct stat now;
    if (nError == 0 && ::lstat(name.constData(), &now) == 0 && !S_ISREG(now.st_mode)) {
        ::unlink(tempName.constData());
        SetError(pError, NotRegular(now.st_mode));
        return Status::NotOpened;
    }
    if (nError == 0 && ::rename(tempName.constData(), name.constData()) != 0)
        nError = errno;
    if (nError != 0) {
        ::unlink(tempName.constData());
        SetError(pError, qt_error_string(nError));
        return Status::Failed;
    }
    // The rename itself reaches the disk with the folder.
    CFd folder(OpenFile(FolderOf(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0)
        ::fsync(folder.Get());
    return Status::Ok;
}

bool Rename(const QString& from, const QString& to, QString* pError)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    SetError(pError, qt_error_string(errno));
    return false;
}

} // namespace SettingsFileIo
