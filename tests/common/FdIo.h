#pragma once
// Bounded reads and writes on a non-blocking descriptor (a pseudo-terminal's
// far end), shared by the pty fixtures. Every wait ends by its timeout.

#include <QByteArray>
#include <QDeadlineTimer>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

inline bool FdWait(int fd, short events, const QDeadlineTimer& deadline)
{
    const qint64 left = deadline.remainingTime();
    if (left <= 0)
        return false;
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, int(qMin<qint64>(left, 1000))) >= 0;
}

// Writes all of data; false when that does not succeed within timeoutMs.
inline bool FdWriteAll(int fd, const QByteArray& data, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (done < data.size() && fd >= 0) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (!FdWait(fd, POLLOUT, deadline))
            return false;
    }
    return done == data.size();
}

// Reads until n bytes arrived or timeoutMs passed; returns what arrived.
inline QByteArray FdReadFor(int fd, qsizetype n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QByteArray got;
    char buf[65536];
    while (got.size() < n && fd >= 0) {
        const ssize_t r = ::read(fd, buf, size_t(qMin<qsizetype>(sizeof buf, n - got.size())));
        if (r > 0) {
            got.append(buf, qsizetype(r));
            continue;
        }
        if (r == 0 || (errno != EAGAIN && errno != EINTR))
            break; // EIO: no other end open any more
        if (!FdWait(fd, POLLIN, deadline))
            break;
    }
    return got;
}
