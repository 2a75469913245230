#pragma once
// Where received data may be saved: a new name, or a regular file, also
// through a link (the link stays; its file gets the new content). Never a
// FIFO, a device, a socket or a folder, nor a link to one or to nothing:
// "replacing" those would wait for a reader, write to hardware, destroy
// something that is no file, or write somewhere else than the name says.
// Any thread.

#include <QString>

namespace SaveTarget {

// Why `path` may not be saved to ("a FIFO (named pipe), not a regular
// file"); empty when it may.
QString Refusal(const QString& path);

// What an existing path is when it is not a regular file, following links:
// "a FIFO (named pipe)", "a character device", "a folder", ... Platform part.
QString KindOf(const QString& path);

} // namespace SaveTarget
