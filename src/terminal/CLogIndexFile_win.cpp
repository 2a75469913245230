#include "CLogIndexFile.h"
#include "KrWinError.h"

#include <windows.h>

#include <algorithm>

CLogIndexFile::~CLogIndexFile()
{
    Close();
}

bool CLogIndexFile::Open(const QString& strName)
{
    Close();
    HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(strName.utf16()),
                             GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD nError = ::GetLastError();
        m_strError = nError == ERROR_SHARING_VIOLATION ? QStringLiteral("In use by another program")
                                                       : KrWinErrorText(nError);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool bDisk = ::GetFileType(h) == FILE_TYPE_DISK;
    const bool bInfo = bDisk && ::GetFileInformationByHandle(h, &info);
    if (!bInfo ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        const DWORD nError = ::GetLastError();
        ::CloseHandle(h);
        if (bInfo && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            m_strError = QStringLiteral("is a symbolic link");
        else if (bDisk && !bInfo)
            m_strError = KrWinErrorText(nError);
        else
            m_strError = QStringLiteral("not a regular file");
        return false;
    }
    m_hFile = reinterpret_cast<qintptr>(h);
    return true;
}

qint64 CLogIndexFile::Size()
{
    LARGE_INTEGER size = {};
    if (m_hFile == -1 || !::GetFileSizeEx(reinterpret_cast<HANDLE>(m_hFile), &size)) {
        m_strError = KrWinErrorText(::GetLastError());
        return -1;
    }
    return qint64(size.QuadPart);
}

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

qint64 CLogIndexFile::Append(const char* pData, qint64 nLength)
{
    HANDLE h = reinterpret_cast<HANDLE>(m_hFile);
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        m_strError = KrWinErrorText(::GetLastError());
        return 0;
    }
    qint64 nDone = 0;
    while (nDone < nLength) {
        const DWORD nChunk = DWORD((std::min<qint64>)(nLength - nDone, 1 << 30));
        DWORD n = 0;
        if (!::WriteFile(h, pData + nDone, nChunk, &n, nullptr)) {
            nDone += n;
            m_strError = KrWinErrorText(::GetLastError());
            break;
        }
        if (n == 0) {
            m_strError = KrWinErrorText(ERROR_DISK_FULL);
            break;
        }
        nDone += n;
    }
    return nDone;
}

void CLogIndexFile::Close()
{
    if (m_hFile != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
        m_hFile = -1;
    }
}
