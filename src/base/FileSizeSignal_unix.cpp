#include "FileSizeSignal.h"

#include <csignal>

void IgnoreFileSizeSignal()
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGXFSZ, &sa, nullptr);
}
