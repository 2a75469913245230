#pragma once
// Code page 437, the character set of the data window's font: every byte
// value, control bytes included, has a visible glyph.
// Pure functions, any thread.

#include <QChar>
#include <QString>

class CCp437
{
public:
    // The glyph of one byte. 0x00 is a blank cell (never a string terminator).
    static QChar ToUnicode(unsigned char byte) { return QChar(s_table[byte]); }

    // Every byte as its glyph, one character per byte.
    static QString Decode(const char* pData, qsizetype nLength);

private:
    static const char16_t s_table[256];
};
