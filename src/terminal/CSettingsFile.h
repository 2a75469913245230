#pragma once
// The settings file "VornTerm.cfg" in the current directory: opened for one
// operation at a time. A save writes a temporary file beside it and renames
// it over the old one, so no reader ever finds it short or empty.

#include <QString>
#include <functional>

class CArchive;

namespace SettingsFile {

constexpr const char* kFileName = "VornTerm.cfg";

enum class Result { Ok, NotOpened, Failed };

// Opens the file and runs `serialize` on a loading archive. NotOpened when
// the file is missing or unreadable; Failed when `serialize` (or the archive)
// threw, with the reason in `error`.
Result Load(const std::function<void(CArchive&)>& serialize, QString* error = nullptr);

// Runs `serialize` on a storing archive and replaces the file with the
// result. NotOpened, and nothing touched, when the file or its folder is not
// writable; Failed, with the old file intact, when writing failed.
Result Save(const std::function<void(CArchive&)>& serialize, QString* error = nullptr);

// A file that carries no write permission at all counts as read-only, even
// for a user (such as root) whom the system would let write it.
bool IsReadOnly(const QString& path);

} // namespace SettingsFile
