#pragma once
// Bytes written as text for a person: as a C string literal's contents,
// printable ASCII as itself, the quote and the backslash escaped, \r \n \t,
// every other byte as \xNN ("AB\r\n"). A hex digit after \xNN is escaped
// too, so the text means the same bytes in C. Copy as C String, the arrival
// times' lines of what was sent and vornterm-log's sent bytes all use it.
// Pure function, any thread.

#include <QByteArray>
#include <QString>

QString KrCString(const QByteArray& bytes);
