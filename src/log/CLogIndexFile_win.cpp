#include "CLogIndexFile.h"
#include "KrWinError.h"

#include <windows.h>

#include <algorithm>

qint64 CLogIndexFile::ReadAt(qint64 nOffset, char* pData, qint64 nLength)
{
    qint64 nDone = 0;
    while (nDone < nLength) {
        OVERLAPPED at = {};
        const quint64 nAt = quint64(nOffset + nDone);
        at.Offset = DWORD(nAt & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(nAt >> 32);
        DWORD n = 0;
        const DWORD nChunk = DWORD((std::min<qint64>)(nLength - nDone, 1 << 30));
        if (!::ReadFile(reinterpret_cast<HANDLE>(m_hFile), pData + nDone, nChunk, &n, &at)) {
            const DWORD nError = ::GetLastError();
            if (nError == ERROR_HANDLE_EOF)
                break;
            m_strError = KrWinErrorText(nError);
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
    HANDLE h = reinterpret_cast<HANDLE>(m_hFile);
    LARGE_INTEGER at = {};
    at.QuadPart = nSize;
    if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
        m_strError = KrWinErrorText(::GetLastError());
        return false;
    }
    return true;
}
