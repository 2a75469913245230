#include "KrSocketTuning.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

void KrTuneKeepAlive(qintptr socket)
{
    const int fd = int(socket);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
    // Silent for 10 s, then a probe every 5 s; the third unanswered ends it.
    const int idle = 10, interval = 5, count = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

void KrDropOnClose(qintptr socket)
{
    const linger now{1, 0};
    ::setsockopt(int(socket), SOL_SOCKET, SO_LINGER, &now, sizeof now);
}
