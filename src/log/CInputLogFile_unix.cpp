#include "CInputLogFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

const char kNotRegular[] = "not a regular file";
const char kSymbolicLink[] = "is a symbolic link";

// Why the name could not be opened, in plain words: what lies there when it
// is not a file the log may write, otherwise the system's reason.
QString OpenFailureText(const QByteArray& path, int nError)
{
    struct stat st = {};
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QString::fromLatin1(kSymbolicLink);
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return QString::fromLatin1(kNotRegular);
    }
    return qt_error_string(nError);
}

} // namespace

CInputLogFile::~CInputLogFile()
{
    Close();
}

bool CInputLogFile::OpenFor(const QString& strName, bool bReadable)
{
    Close();
    const QByteArray path = QFile::encodeName(strName);
    // Never waits (a FIFO without a reader fails at once) and never follows a
    // link planted under the log's name to some other file.
    int fd;
    do {
        fd = ::open(path.constData(),
                    (bReadable ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK |
                        O_NOFOLLOW,
                    0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_strError = OpenFailureText(path, errno);
        return false;
    }
    // Only a regular file takes the log: a FIFO that has a reader or a
    // device opens, but is no place for it.
    struct stat st = {};
    const bool bStat = ::fstat(fd, &st) == 0;
    if (!bStat || !S_ISREG(st.st_mode)) {
        const int nError = errno;
        ::close(fd);
        m_strError = bStat ? QString::fromLatin1(kNotRegular) : qt_error_string(nError);
        return false;
    }
    // Advisory: every writer of the log takes it, and none of them waits for
    // another.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        const int nError = errno;
        ::close(fd);
        m_strError = nError == EWOULDBLOCK ? QStringLiteral("In use by another program")
                                           : qt_error_string(nError);
        return false;
    }
    m_hFile = fd;
    return true;
}

qint64 CInputLogFile::Append(const char* pData, qint64 nLength)
{
    if (m_hFile < 0) {
        m_strError = QStringLiteral("File not open");
        return 0;
    }
    // A short write means the next one reports why (disk full, size limit:
    // the program ignores SIGXFSZ, so the limit comes back as EFBIG).
    qint64 nDone = 0;
    while (nDone < nLength) {
        const size_t nChunk = size_t(std::min<qint64>(nLength - nDone, 1 << 30));
        const ssize_t n = ::write(int(m_hFile), pData + nDone, nChunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_strError = qt_error_string(errno);
            break;
        }
        if (n == 0) {
            m_strError = qt_error_string(ENOSPC);
            break;
        }
        nDone += n;
    }
    return nDone;
}

qint64 CInputLogFile::Size()
{
    struct stat st = {};
    if (m_hFile < 0 || ::fstat(int(m_hFile), &st) != 0) {
        m_strError = qt_error_string(m_hFile < 0 ? EBADF : errno);
        return -1;
    }
    return qint64(st.st_size);
}

void CInputLogFile::Close()
{
    if (m_hFile >= 0) {
        // Closing releases the lock as well.
        ::close(int(m_hFile));
        m_hFile = -1;
    }
}
