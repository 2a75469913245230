#include "ReceiveBuffer.h"

namespace ReceiveBuffer {

int AppendAndTrim(QByteArray& buffer, const QByteArray& text)
{
    buffer.append(text);
    if (buffer.size() > kLimit) {
        buffer.remove(0, kTrim);
        return kTrim;
    }
    return 0;
}

QByteArray FormatHex(const QByteArray& data)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QByteArray out(data.size() * 5, Qt::Uninitialized);
    char* p = out.data();
    for (const char ch : data) {
        const auto b = static_cast<unsigned char>(ch);
        *p++ = '[';
        *p++ = kDigits[b >> 4];
        *p++ = kDigits[b & 0xF];
        *p++ = ']';
        *p++ = ' ';
    }
    return out;
}

} // namespace ReceiveBuffer
