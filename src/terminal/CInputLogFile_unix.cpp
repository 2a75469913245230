#include "CInputLogFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

CInputLogFile::~CInputLogFile()
{
    Close();
}

bool CInputLogFile::Open(const QString& strName)
{
    Close();
    const QByteArray path = QFile::encodeName(strName);
    int fd;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_strError = qt_error_string(errno);
        return false;
    }
    // Advisory: every writer of the log takes it, and none of them may wait
    // for another on the port's reading thread.
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
    // A short write means the next one reports why (disk full, size limit).
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

void CInputLogFile::Close()
{
    if (m_hFile >= 0) {
        // Closing releases the lock as well.
        ::close(int(m_hFile));
        m_hFile = -1;
    }
}
