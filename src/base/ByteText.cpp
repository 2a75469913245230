#include "ByteText.h"

QString KrCString(const QByteArray& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QString out;
    bool bAfterHex = false;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        const bool bHexDigit =
            (b >= '0' && b <= '9') || (b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F');
        const bool bPrintable = b >= 0x20 && b < 0x7F && !(bAfterHex && bHexDigit);
        bAfterHex = false;
        switch (b) {
        case '\r':
            out += QLatin1String("\\r");
            continue;
        case '\n':
            out += QLatin1String("\\n");
            continue;
        case '\t':
            out += QLatin1String("\\t");
            continue;
        case '\\':
            out += QLatin1String("\\\\");
            continue;
        case '"':
            out += QLatin1String("\\\"");
            continue;
        default:
            break;
        }
        if (bPrintable) {
            out += QLatin1Char(char(b));
        } else {
            out += QLatin1String("\\x");
            out += QLatin1Char(kDigits[b >> 4]);
            out += QLatin1Char(kDigits[b & 0x0F]);
            bAfterHex = true;
        }
    }
    return out;
}
