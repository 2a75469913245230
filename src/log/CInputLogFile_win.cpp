#include "CInputLogFile.h"
#include "KrWinError.h"

#include <windows.h>

#include <algorithm>

CInputLogFile::~CInputLogFile()
{
    Close();
}

bool CInputLogFile::OpenFor(const QString& strName, bool bReadable)
{
    Close();
    // No sharing: another program cannot open the log while it is written.
    // A link under the log's name is opened as itself, not followed.
    const DWORD nAccess =
        bReadable ? GENERIC_READ | GENERIC_WRITE : FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    HANDLE h =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(strName.utf16()), nAccess, 0, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD nError = ::GetLastError();
        m_strError = nError == ERROR_SHARING_VIOLATION ? QStringLiteral("In use by another program")
                                                       : KrWinErrorText(nError);
        return false;
    }
    // Only a file on a disk takes the log: not a link, a pipe or a device.
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

qint64 CInputLogFile::Append(const char* pData, qint64 nLength)
{
    if (m_hFile == -1) {
        m_strError = QStringLiteral("File not open");
        return 0;
    }
    HANDLE h = reinterpret_cast<HANDLE>(m_hFile);
    // A handle that may also write elsewhere (a readable one) writes where
    // its pointer is: at the end, as an append-only handle always does.
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

qint64 CInputLogFile::Size()
{
    LARGE_INTEGER size = {};
    if (m_hFile == -1 || !::GetFileSizeEx(reinterpret_cast<HANDLE>(m_hFile), &size)) {
        m_strError = KrWinErrorText(::GetLastError());
        return -1;
    }
    return qint64(size.QuadPart);
}

void CInputLogFile::Close()
{
    if (m_hFile != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
        m_hFile = -1;
    }
}
