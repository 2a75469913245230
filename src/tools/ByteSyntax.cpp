#include "ByteSyntax.h"

#include "ByteText.h"

#include "Cp437.h"

namespace ByteSyntax {

namespace {

const char kHexForm[] = "give bytes as pairs of hex digits, for example 0D 0A or [0D] [0A]";
const char kEscapeForm[] = "use \\r, \\n, \\t, \\\\ or \\xNN with two hex digits";

int HexValue(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The UTF-16 units of the character that begins at text[i]: 2 for a
// surrogate pair, else 1.
int UnitsAt(const QString& text, int i)
{
    return i + 1 < text.size() && text[i].isHighSurrogate() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

// The character at text[i], whole, in `pattern`; its code after it when it
// is not printable ASCII (a mark, a space, a letter that looks like another).
QString Quoted(const QString& text, int i, const char* pattern = "'%1'")
{
    const QString ch = text.mid(i, UnitsAt(text, i));
    const char32_t code = ch.size() == 2 ? QChar::surrogateToUcs4(ch[0], ch[1]) : ch[0].unicode();
    if (code >= 0x20 && code < 0x7F)
        return QString::fromLatin1(pattern).arg(ch);
    const QString hex = QStringLiteral("U+%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper();
    if (QChar::isSurrogate(code)) // half of a pair, which shows as nothing
        return QString::fromLatin1(pattern).arg(QChar(QChar::ReplacementCharacter)) +
               QStringLiteral(" (%1, half of a character)").arg(hex);
    return QString::fromLatin1(pattern).arg(ch) + QStringLiteral(" (%1)").arg(hex);
}

// The error at text[nAt]: counted in characters for the message, in units
// for the editor.
Parsed Fail(const QString& text, int nAt, const QString& what, const char* form)
{
    Parsed p;
    p.nErrorAt = nAt;
    p.nErrorLength = nAt < text.size() ? UnitsAt(text, nAt) : 0;
    int nCharacter = 1;
    for (int i = 0; i < nAt; i += UnitsAt(text, i))
        ++nCharacter;
    p.strError =
        QStringLiteral("character %1: %2; %3").arg(nCharacter).arg(what, QLatin1String(form));
    return p;
}

// The byte the data window shows as `ch`; -1 when there is none.
int ByteFor(QChar ch)
{
    if (ch.unicode() >= 0x20 && ch.unicode() < 0x7F)
        return ch.unicode();
    for (int b = 0; b < 256; ++b) {
        if (CCp437::ToUnicode(static_cast<unsigned char>(b)) == ch)
            return b == 0 ? 0x20 : b; // the blank cell is the space's
    }
    return -1;
}

} // namespace

Parsed FromShown(const QString& text)
{
    Parsed p;
    for (int i = 0; i < text.size(); ++i) {
        const int b = ByteFor(text[i]);
        if (b < 0)
            return Fail(
                text, i,
                QStringLiteral("%1 is no character of the data window").arg(Quoted(text, i)),
                "type the characters as the data window shows them");
        p.bytes.append(char(b));
    }
    return p;
}

Parsed FromEscaped(const QString& text)
{
    Parsed p;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch != QLatin1Char('\\')) {
            const int b = ByteFor(ch);
            if (b < 0)
                return Fail(
                    text, i,
                    QStringLiteral("%1 is no character of the data window").arg(Quoted(text, i)),
                    kEscapeForm);
            p.bytes.append(char(b));
            continue;
        }
        if (i + 1 >= text.size())
            return Fail(text, i, QStringLiteral("a lone \\ at the end"), kEscapeForm);
        const QChar e = text[++i];
        switch (e.unicode()) {
        case 'r':
            p.bytes.append('\r');
            break;
        case 'n':
            p.bytes.append('\n');
            break;
        case 't':
            p.bytes.append('\t');
            break;
        case '\\':
            p.bytes.append('\\');
            break;
        case '"': // as a C string writes it
            p.bytes.append('"');
            break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return Fail(text, i - 1, QStringLiteral("\\x needs two hex digits"), kEscapeForm);
            p.bytes.append(char(hi * 16 + lo));
            i += 2;
            break;
        }
        default: {
            Parsed bad = Fail(text, i - 1,
                              QStringLiteral("%1 is not an escape").arg(Quoted(text, i, "\\%1")),
                              kEscapeForm);
            bad.nErrorLength = 1 + UnitsAt(text, i); // the backslash and what follows
            return bad;
        }
        }
    }
    return p;
}

Parsed FromHex(const QString& text)
{
    Parsed p;
    int nBracket = -1; // where an open bracket stands
    int nHigh = -1;    // the first digit of a pair, and where
    int nHighAt = -1;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isSpace() || ch == QLatin1Char(',')) {
            if (nHigh >= 0)
                return Fail(text, nHighAt, QStringLiteral("a single hex digit"), kHexForm);
            continue;
        }
        if (ch == QLatin1Char('[')) {
            if (nBracket >= 0 || nHigh >= 0)
                return Fail(text, i, QStringLiteral("'[' inside a byte"), kHexForm);
            nBracket = i;
            continue;
        }
        if (ch == QLatin1Char(']')) {
            if (nBracket < 0 || nHigh >= 0 || p.bytes.isEmpty())
                return Fail(text, i, QStringLiteral("']' without a whole byte before it"),
                            kHexForm);
            nBracket = -1;
            continue;
        }
        const int v = HexValue(ch);
        if (v < 0)
            return Fail(text, i, QStringLiteral("%1 is not a hex digit").arg(Quoted(text, i)),
                        kHexForm);
        if (nHigh < 0) {
            nHigh = v;
            nHighAt = i;
        } else {
            p.bytes.append(char(nHigh * 16 + v));
            nHigh = -1;
        }
    }
    if (nHigh >= 0)
        return Fail(text, nHighAt, QStringLiteral("a single hex digit"), kHexForm);
    if (nBracket >= 0)
        return Fail(text, nBracket, QStringLiteral("'[' not closed"), kHexForm);
    return p;
}

Parsed FromFindInHex(const QString& text)
{
    return text.contains(QLatin1Char('\\')) ? FromEscaped(text) : FromHex(text);
}

QString ToHex(const QByteArray& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (!out.isEmpty())
            out += QLatin1Char(' ');
        out += QLatin1Char(kDigits[b >> 4]);
        out += QLatin1Char(kDigits[b & 0x0F]);
    }
    return out;
}

QString ToCString(const QByteArray& bytes)
{
    return KrCString(bytes);
}

} // namespace ByteSyntax
