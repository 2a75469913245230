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

} // namespace ReceiveBuffer
