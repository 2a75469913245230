#pragma once
// Colours as the program stores them: 32-bit values laid out 0x00BBGGRR.
// Plain values, any thread.

#include <QColor>
#include <cstdint>

using COLORREF = std::uint32_t;

constexpr COLORREF RGB(int r, int g, int b)
{
    return COLORREF(r & 0xFF) | (COLORREF(g & 0xFF) << 8) | (COLORREF(b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF cr) { return int(cr & 0xFF); }
constexpr int GetGValue(COLORREF cr) { return int((cr >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF cr) { return int((cr >> 16) & 0xFF); }

inline QColor ToQColor(COLORREF cr) { return QColor(GetRValue(cr), GetGValue(cr), GetBValue(cr)); }
inline COLORREF FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }
