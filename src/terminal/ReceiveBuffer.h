#pragma once
// The receive text buffer's rules, free of any window.

#include <QByteArray>

namespace ReceiveBuffer {

// Above this many characters the buffer is trimmed ...
constexpr int kLimit = 500000;
// ... by dropping this many from its front, at most once per append.
constexpr int kTrim = 250000;

// Appends `text` and trims once if the buffer grew past kLimit. Returns the
// number of characters dropped from the front (0 or kTrim).
int AppendAndTrim(QByteArray& buffer, const QByteArray& text);

// Every byte as "[%-2.2X] ": "[41] [0D] [FF] ".
QByteArray FormatHex(const QByteArray& data);

} // namespace ReceiveBuffer
