#pragma once
// The system's text for a Windows error code (GetLastError), for messages
// that name a resource and the reason. Windows-only files use it; any thread.

#include <QString>

QString KrWinErrorText(unsigned long nCode);
