#include "CLogIndexFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

QString OpenFailureText(const QByteArray& path, int nError)
{
    struct stat st = {};
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("is a symbolic link");
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return QStringLiteral("not a regular file");
    }
    return qt_error_string(nError);
}

} // namespace

CLogIndexFile::~CLogIndexFile()
{
    Close();
}

bool CLogIndexFile::Open(const QString& strName)
{
    Close();
    const QByteArray path = QFile::encodeName(strName);
    int fd;
    do {
        fd = ::open(path.constData(),
                    O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_strError = OpenFailureText(path, errno);
        return false;
    }
    struct stat st = {};
    const bool bStat = ::fstat(fd, &st) == 0;
    if (!bStat || !S_ISREG(st.st_mode)) {
        const int nError = errno;
        ::close(fd);
        m_strError = bStat ? QStringLiteral("not a regular file") : qt_error_string(nError);
        return false;
    }
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

qint64 CLogIndexFile::Size()
{
    struct stat st = {};
    if (m_hFile < 0 || ::fstat(int(m_hFile), &st) != 0) {
        m_strError = qt_error_string(m_hFile < 0 ? EBADF : errno);
        return -1;
    }
    return qint64(st.st_size);
}

qint64 CLogIndexFile::ReadAt(qint64 nOffset, char* pData, qint64 nLength)
{
    qint64 nDone = 0;
    while (nDone < nLength) {
        const ssize_t n =
            ::pread(int(m_hFile), pData + nDone, size_t(nLength - nDone), off_t(nOffset + nDone));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_strError = qt_error_string(errno);
            return -1;
        }
        if (n == 0)
            break;
        nDone += n;
    }
    return nDone;
}

bool CLogIndexFile::Truncate(qint64 nSize)
{
    int rc;
    do {
        rc = ::ftruncate(int(m_hFile), off_t(nSize));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        m_strError = qt_error_string(errno);
    return rc == 0;
}

qint64 CLogIndexFile::Append(const char* pData, qint64 nLength)
{
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

void CLogIndexFile::Close()
{
    if (m_hFile >= 0) {
        ::close(int(m_hFile));
        m_hFile = -1;
    }
}
