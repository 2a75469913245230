#pragma once
// Bytes written as text, both ways: what a user types to send or to find
// (text with escapes, hex bytes, or text as the data window shows it) and
// what the program puts on the clipboard (hex, a C string). Every parse
// error gives the position and states the accepted form.
// Pure functions, any thread.

#include <QByteArray>
#include <QString>

namespace ByteSyntax {

// Where an error is: a person counts characters, an editor UTF-16 units
// (a character outside the Basic Multilingual Plane is two). The message
// counts characters from 1 and quotes the whole character; nErrorAt and
// nErrorLength are the units an editor selects.
struct Parsed
{
    QByteArray bytes;
    int nErrorAt = -1;    // index of the faulty character's first UTF-16 unit
    int nErrorLength = 0; // its UTF-16 units
    QString strError;     // "character 4: ...; <the accepted form>"

    bool IsValid() const { return nErrorAt < 0; }
};

// Text with the escapes \r \n \t \\ and \xNN (exactly two hex digits);
// every other character is the byte the data window shows it for (code
// page 437: ASCII as itself).
Parsed FromEscaped(const QString& text);
// Hex bytes: pairs of hex digits, separated by spaces or not, each pair
// optionally in brackets as the hex display shows it: "0D 0A", "[0D] [0A]",
// "0d0a".
Parsed FromHex(const QString& text);
// What to find in the hex display: hex bytes, or text with escapes when it
// holds a backslash ("\r\n").
Parsed FromFindInHex(const QString& text);
// Every character as the byte the data window shows it for, no escapes.
Parsed FromShown(const QString& text);

// "41 42 0D 0A".
QString ToHex(const QByteArray& bytes);
// A C string literal's contents: printable ASCII as itself, the quote and
// the backslash escaped, \r \n \t, every other byte as \xNN ("AB\r\n"). A hex digit after
// \xNN is escaped too, so the text means the same bytes in C and here.
QString ToCString(const QByteArray& bytes);

} // namespace ByteSyntax
