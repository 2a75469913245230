#pragma once
// The system's side of received files, one implementation per platform
// (XferFileIo_unix.cpp, XferFileIo_win.cpp). No state: the caller's thread.

#include <QFile>
#include <QString>

namespace XferFileIo {

// Forces what was written to `file` onto the disk; false with the system's
// reason in *pError.
bool SyncToDisk(QFile& file, QString* pError);

// Whether this system can store a file called strName (a name without
// folders); false with the reason in *pWhy, such as a name Windows reserves.
bool NameAllowed(const QString& strName, QString* pWhy);

} // namespace XferFileIo
