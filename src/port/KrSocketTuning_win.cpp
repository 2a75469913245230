#include "KrSocketTuning.h"

#include <winsock2.h>

void KrTuneKeepAlive(qintptr socket)
{
    const BOOL on = TRUE;
    ::setsockopt(SOCKET(socket), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

void KrDropOnClose(qintptr socket)
{
    const linger now{1, 0};
    ::setsockopt(SOCKET(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now),
                 sizeof now);
}
