#pragma once
// The receive text buffer's rules, free of any window.
// Pure functions, any thread; the window calls them under its lock.

#include <QByteArray>

namespace ReceiveBuffer {

// Above this many characters the buffer is trimmed ...
constexpr int kLimit = 500000;
// ... by dropping this many from its front, at most once per append.
constexpr int kTrim = 250000;

// Appends `text` and trims once if the buffer grew past kLimit. Returns the
// number of characters dropped from the front (0 or kTrim).
int AppendAndTrim(QByteArray& buffer, const QByteArray& text);

// A byte as the hex display shows it, "[%-2.2X] ": 0x41 as "[41] ". Writes
// kHexGroup characters (char or QChar) at pOut.
constexpr int kHexGroup = 5;
template <typename Char> inline void HexGroup(unsigned char byte, Char* pOut)
{
    constexpr char kDigits[] = "0123456789ABCDEF";
    pOut[0] = Char('[');
    pOut[1] = Char(kDigits[byte >> 4]);
    pOut[2] = Char(kDigits[byte & 0x0F]);
    pOut[3] = Char(']');
    pOut[4] = Char(' ');
}

// Bytes as the hex display shows them: each as HexGroup, one after the other,
// with no line breaks. Writes nLength * kHexGroup characters at pOut. The
// data window's hex rows and the window's FormatHexData are made by it.
template <typename Char> inline void FormatHexData(const char* pData, qsizetype nLength, Char* pOut)
{
    for (qsizetype i = 0; i < nLength; ++i, pOut += kHexGroup)
        HexGroup(static_cast<unsigned char>(pData[i]), pOut);
}

} // namespace ReceiveBuffer
