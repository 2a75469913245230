#include "CLogIndexFile.h"

#include <cerrno>
#include <unistd.h>

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
