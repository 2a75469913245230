#include "CloseOnSignal.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_fds[2] = {-1, -1};

void HandleSignal(int)
{
    // Only async-signal-safe work here: wake the event loop.
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &c, 1);
}

} // namespace

CloseOnSignal::CloseOnSignal(QWidget* pWindow) : m_pWindow(pWindow)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CloseOnSignal::OnSignal);

    struct sigaction sa = {};
    sa.sa_handler = HandleSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

CloseOnSignal::~CloseOnSignal()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    delete m_pNotifier;
    for (int& fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void CloseOnSignal::OnSignal()
{
    char buf[16];
    while (::read(g_fds[1], buf, sizeof buf) > 0) {
    }
    // Dialogs open on top of the window (About, Configure Port, a message)
    // are cancelled first, so that their loops end and the window's can.
    for (QWidget* pTop : QApplication::topLevelWidgets()) {
        auto* pDialog = qobject_cast<QDialog*>(pTop);
        if (pDialog && pDialog != m_pWindow && pDialog->isVisible())
            pDialog->reject();
    }
    if (m_pWindow)
        m_pWindow->close();
}
