#include "KrWinError.h"
#include "SettingsFileIo.h"

#include <QRandomGenerator>

#include <windows.h>

namespace {

void SetError(QString* pError, const QString& text)
{
    if (pError)
        *pError = text;
}

const wchar_t* Wide(const QString& s)
{
    return reinterpret_cast<const wchar_t*>(s.utf16());
}

// Closes the handle when the scope ends.
class CHandle
{
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    // Closes now; the system's error code, or 0.
    DWORD Close()
    {
        if (!IsValid())
            return 0;
        const BOOL bOk = ::CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
        return bOk ? 0 : ::GetLastError();
    }

private:
    HANDLE m_h;
};

bool IsDiskFull(DWORD nError)
{
    return nError == ERROR_DISK_FULL || nError == ERROR_HANDLE_DISK_FULL;
}

// Another program holding the file, or no right to change it: the file is
// then not openable for writing.
bool IsRefused(DWORD nError)
{
    return nError == ERROR_ACCESS_DENIED || nError == ERROR_SHARING_VIOLATION ||
           nError == ERROR_LOCK_VIOLATION || nError == ERROR_WRITE_PROTECT;
}

} // namespace

namespace SettingsFileIo {

Status Read(const QString& path, qint64 nMax, QByteArray* pData, QString* pError)
{
    // Others may read the file meanwhile, but not change it.
    CHandle h(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid()) {
        SetError(pError, KrWinErrorText(::GetLastError()));
        return Status::NotOpened;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(h.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetError(pError, QStringLiteral("it is not a regular file"));
        return Status::NotOpened;
    }
    const QString tooLong =
        QStringLiteral("the file is longer than the %1 bytes a configuration can take").arg(nMax);
    const qint64 nSize = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (nSize > nMax) {
        SetError(pError, tooLong);
        return Status::Failed;
    }
    QByteArray data(int(nMax) + 1, Qt::Uninitialized);
    qint64 nGot = 0;
    while (nGot < data.size()) {
        DWORD n = 0;
        if (!::ReadFile(h.Get(), data.data() + nGot, DWORD(data.size() - nGot), &n, nullptr)) {
            SetError(pError, KrWinErrorText(::GetLastError()));
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
    const DWORD nAttributes = ::GetFileAttributesW(Wide(path));
    if (nAttributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD nError = ::GetLastError();
        if (nError == ERROR_FILE_NOT_FOUND)
            return true;
        SetError(pError, KrWinErrorText(nError));
        return false;
    }
    if (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        SetError(pError, QStringLiteral("it is a link, not a regular file"));
        return false;
    }
    if (nAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetError(pError, QStringLiteral("it is a folder, not a regular file"));
        return false;
    }
    if (nAttributes & FILE_ATTRIBUTE_READONLY) {
        SetError(pError, QStringLiteral("the file is read-only"));
        return false;
    }
    return true;
}

Status Replace(const QString& path, const QByteArray& data, QString* pError)
{
    if (!CanReplace(path, pError))
        return Status::NotOpened;
    QString tempName;
    HANDLE hNew = INVALID_HANDLE_VALUE;
    for (int nTry = 0; nTry < 16 && hNew == INVALID_HANDLE_VALUE; ++nTry) {
        tempName = path + QStringLiteral(".new-") +
                   QString::number(QRandomGenerator::global()->generate(), 16);
        hNew = ::CreateFileW(Wide(tempName), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hNew == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    CHandle h(hNew);
    if (!h.IsValid()) {
        const DWORD nError = ::GetLastError();
        SetError(pError, KrWinErrorText(nError));
        return IsDiskFull(nError) ? Status::Failed : Status::NotOpened;
    }

    DWORD nError = 0;
    qint64 nDone = 0;
    while (nError == 0 && nDone < data.size()) {
        DWORD n = 0;
        if (!::WriteFile(h.Get(), data.constData() + nDone, DWORD(data.size() - nDone), &n,
                         nullptr))
            nError = ::GetLastError();
        else if (n == 0)
            nError = ERROR_DISK_FULL;
        nDone += n;
    }
    if (nError == 0 && !::FlushFileBuffers(h.Get()))
        nError = ::GetLastError();
    if (nError == 0)
        nError = h.Close();
    if (nError == 0 && !::MoveFileExW(Wide(tempName), Wide(path),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        nError = ::GetLastError();
        if (IsRefused(nError)) {
            ::DeleteFileW(Wide(tempName));
            SetError(pError, KrWinErrorText(nError));
            return Status::NotOpened;
        }
    }
    if (nError != 0) {
        h.Close();
        ::DeleteFileW(Wide(tempName));
        SetError(pError, KrWinErrorText(nError));
        return Status::Failed;
    }
    return Status::Ok;
}

bool Rename(const QString& from, const QString& to, QString* pError)
{
    if (::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    SetError(pError, KrWinErrorText(::GetLastError()));
    return false;
}

} // namespace SettingsFileIo
