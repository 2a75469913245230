#include "KrWinError.h"

#include <windows.h>

QString KrWinErrorText(unsigned long nCode)
{
    // Asked of the system itself: the C library's numbers overlap these
    // codes (13 is "Permission denied" there, "The data is invalid" here).
    wchar_t* pText = nullptr;
    const DWORD nLength = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(nCode), 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
    QString strText;
    if (nLength && pText)
        strText = QString::fromWCharArray(pText, int(nLength)).trimmed();
    if (pText)
        ::LocalFree(pText);
    if (strText.endsWith(QLatin1Char('.')))
        strText.chop(1);
    return strText.isEmpty() ? QStringLiteral("system error %1").arg(nCode) : strText;
}
