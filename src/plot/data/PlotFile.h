#pragma once
// Writing an export of the plot (CSV, picture) to a file the user named:
// only to a new name or over a regular file, never through a link or into a
// FIFO, device or folder; the content goes to a new file beside the target,
// which replaces the target only once it was written completely, so a failed
// write leaves the target as it was.
//
// Plain functions: any thread, each blocking for the disk; the plot window
// calls Write on a thread of its own.

#include <QString>
#include <functional>

class QIODevice;

namespace PlotFile {

// Whether `path` may be written: nothing is there, or a regular file. Else
// false with the reason in pError ("it is a symbolic link").
bool CanWrite(const QString& path, QString* pError);

// Checks `path` (CanWrite), then calls `write` with a new file beside it and
// renames that over `path` when `write` returned true. False with the reason
// in pError (the system's, or what `write` gave) otherwise, the target
// untouched and the new file removed.
bool Write(const QString& path, const std::function<bool(QIODevice&, QString*)>& write,
           QString* pError);

} // namespace PlotFile
