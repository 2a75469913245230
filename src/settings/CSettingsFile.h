#pragma once
// The settings file "VornTerm.cfg" in the current directory: opened for one
// operation at a time, on the caller's thread (the user-interface thread in
// the Terminal window). Only a regular file is read or replaced; a save
// writes a new file beside it, forces it to the disk and renames it over the
// old one, so no reader ever finds it short or empty.

#include <QByteArray>
#include <QString>
#include <functional>

class CArchive;

namespace SettingsFile {

constexpr const char* kFileName = "VornTerm.cfg";
// Where a file that failed to load is kept before start-up writes a new one.
constexpr const char* kDamagedName = "VornTerm.cfg.bad";
// A configuration is a few dozen bytes; a longer file than this is damaged.
constexpr qint64 kMaxFileSize = 64 * 1024;

enum class Result
{
    Ok,
    NotOpened,
    Failed
};

// Reads the file and runs `serialize` on a loading archive over its bytes.
// NotOpened when the file is missing, unreadable or not a regular file (a
// FIFO, device or folder is never waited on); Failed when it is longer than
// kMaxFileSize, its read failed part-way or `serialize` (or the archive)
// threw. The reason goes to `error` in both cases.
Result Load(const std::function<void(CArchive&)>& serialize, QString* error = nullptr);

// The reading itself, on bytes already in memory: `serialize` runs on a
// loading archive over `data`, and whatever it leaves unread is ignored. Ok,
// or Failed with the reason in `error`.
Result LoadFrom(const QByteArray& data, const std::function<void(CArchive&)>& serialize,
                QString* error = nullptr);

// Runs `serialize` on a storing archive and replaces the file with the
// result. NotOpened, and nothing touched, when the file is read-only, is not
// a regular file (a symbolic link is neither followed nor replaced) or its
// folder is read-only; Failed, with the old file intact, when `serialize`
// threw or a write or the flush to the disk failed. The reason goes to
// `error` in both cases.
Result Save(const std::function<void(CArchive&)>& serialize, QString* error = nullptr);

// Renames the file to kDamagedName, replacing an older one, when Save could
// replace it (so a read-only file, a link or anything not a regular file is
// left where it is). True when it was renamed.
bool KeepDamaged(QString* error = nullptr);

} // namespace SettingsFile
