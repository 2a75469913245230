#pragma once
// The system calls behind the settings file, one implementation per platform
// (SettingsFileIo_unix.cpp, SettingsFileIo_win.cpp). No state of their own:
// they run on the caller's thread, which for the Terminal window is the
// user-interface thread.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace SettingsFileIo {

enum class Status
{
    Ok,
    NotOpened,
    Failed
};

// Reads the whole of `path` into `pData` without waiting on anything. Only a
// regular file is read: a FIFO, device, folder or socket, like a file that
// cannot be opened, is NotOpened. A file longer than nMax bytes, or one whose
// read fails part-way, is Failed. `pError` gets the reason in both cases.
Status Read(const QString& path, qint64 nMax, QByteArray* pData, QString* pError);

// True when Replace may put a new file at `path`: nothing is there, or a
// regular file (not a link to one) that carries write permission, in a folder
// that can take a new file. Otherwise false with the reason in `pError`.
bool CanReplace(const QString& path, QString* pError);

// Writes `data` to a new file beside `path`, forces it to the disk and only
// then renames it over `path`, so that `path` holds either its old content or
// all of `data`. NotOpened (nothing touched) when CanReplace says no or the
// new file cannot be created; Failed, with the new file removed and the old
// one intact, when a write, the flush or the rename fails.
Status Replace(const QString& path, const QByteArray& data, QString* pError);

// Renames `from` to `to`, replacing whatever file is at `to`.
bool Rename(const QString& from, const QString& to, QString* pError);

} // namespace SettingsFileIo
