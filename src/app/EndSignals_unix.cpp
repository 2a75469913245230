// SIGTERM, SIGINT and SIGHUP reach the event loop through a socket pair: the
// handler only writes one byte (or, at a second signal, ends the process).

#include "CEndOnSignal.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_fds[2] = {-1, -1};
volatile sig_atomic_t g_nFirst = 0;

void HandleSignal(int nSignal)
{
    // Only async-signal-safe work here.
    if (g_nFirst != 0) {
        // Asked twice: the exit's work is given up and the signal's own
        // action ends the process as soon as this handler returns.
        struct sigaction sa = {};
        sa.sa_handler = SIG_DFL;
        sigemptyset(&sa.sa_mask);
        sigaction(nSignal, &sa, nullptr);
        raise(nSignal);
        return;
    }
    g_nFirst = nSignal;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &c, 1);
}

class CSignalWatcher : public QObject
{
public:
    CSignalWatcher(QObject* pParent, void (*onSignal)(QObject*), QObject* pContext)
        : QObject(pParent), m_notifier(g_fds[1], QSocketNotifier::Read, this), m_onSignal(onSignal),
          m_pContext(pContext)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] {
            char buf[16];
            while (::read(g_fds[1], buf, sizeof buf) > 0) {
            }
            m_onSignal(m_pContext);
        });
    }

private:
    QSocketNotifier m_notifier;
    void (*m_onSignal)(QObject*);
    QObject* m_pContext;
};

} // namespace

QObject* InstallEndSignals(QObject* pParent, void (*onSignal)(QObject*), QObject* pContext)
{
    // Made once and never closed: a handler still running elsewhere as the
    // handlers are removed can then never write into a descriptor that was
    // closed and handed out again (a file being saved, say).
    if (g_fds[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return nullptr;
    char buf[16];
    while (::read(g_fds[1], buf, sizeof buf) > 0) {
    } // a byte from an earlier instance is not news for this one
    g_nFirst = 0;
    auto* pWatcher = new CSignalWatcher(pParent, onSignal, pContext);
    struct sigaction sa = {};
    sa.sa_handler = HandleSignal;
    sigemptyset(&sa.sa_mask);
    for (const int nSignal : kSignals)
        sigaddset(&sa.sa_mask, nSignal); // one handler at a time
    sa.sa_flags = SA_RESTART;
    for (const int nSignal : kSignals)
        sigaction(nSignal, &sa, nullptr);
    // Standard error may be a pipe whose reader went with the terminal: a
    // report written there must fail, not end the program.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    return pWatcher;
}

void RemoveEndSignals(QObject* pWatcher)
{
    if (!pWatcher)
        return;
    for (const int nSignal : kSignals)
        signal(nSignal, SIG_DFL);
    delete pWatcher;
    g_nFirst = 0;
}

int EndSignalReceived()
{
    return g_nFirst;
}
