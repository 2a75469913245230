// Modem control through the terminal ioctls: TIOCMGET, TIOCMBIS/TIOCMBIC,
// TIOCSBRK/TIOCCBRK, and TIOCMIWAIT on a thread of its own, which sleeps in
// the kernel until an input line changes, so an idle port costs no wake-up.
// That thread is woken for its end by a signal whose handler does nothing;
// the wait then returns EINTR.

#include "KrModemControl.h"

#include "KrThreadName.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// How long StopWatching tries to wake the waiting thread, one signal per
// step (a signal that came just before the thread entered the wait is lost).
constexpr int kStopSteps = 200;
constexpr auto kStopStep = std::chrono::milliseconds(5);
// A driver whose wait returns more often than this in a second does not
// really wait: its lines are read on the timer instead.
constexpr int kMaxWakesPerSecond = 200;

int WakeSignal()
{
    return SIGRTMAX - 2;
}

void OnWakeSignal(int) {}

// Installs the do-nothing handler once; false when the signal is taken by
// someone else.
bool WakeSignalReady()
{
    static const bool bReady = [] {
        struct sigaction old = {};
        if (::sigaction(WakeSignal(), nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            return false;
        struct sigaction sa = {};
        sa.sa_handler = &OnWakeSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the wait returns EINTR
        return ::sigaction(WakeSignal(), &sa, nullptr) == 0;
    }();
    return bReady;
}

QString SystemText(int nErrno)
{
    return QString::fromLocal8Bit(std::strerror(nErrno));
}

// What the waiting thread shares with its owner. The thread holds it too, so
// that a thread that would not end (it never did) could be let go safely.
struct CWaiter
{
    int fd = -1; // a descriptor of its own, closed by the thread as it ends
    std::atomic<bool> bStop{false};
    std::atomic<bool> bWatching{true};
    std::mutex mutex;
    std::condition_variable ended;
    bool bEnded = false;           // under mutex
    std::function<void()> changed; // under mutex; cleared by StopWatching

    void Tell()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (changed)
            changed();
    }

    void Run()
    {
        KrNameThisThread("KrComm lines");
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, WakeSignal());
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        auto windowStart = std::chrono::steady_clock::now();
        int nWakes = 0;
        while (!bStop.load()) {
            if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) == 0) {
                const auto now = std::chrono::steady_clock::now();
                if (now - windowStart >= std::chrono::seconds(1)) {
                    windowStart = now;
                    nWakes = 0;
                }
                if (++nWakes > kMaxWakesPerSecond)
                    break;
                Tell();
                continue;
            }
            if (errno != EINTR)
                break; // cannot wait (EINVAL, ENOTTY), or the device failed (EIO)
        }
        ::close(fd);
        bWatching = false;
        if (!bStop.load())
            Tell(); // the owner reads the lines otherwise from now on
        std::lock_guard<std::mutex> lock(mutex);
        bEnded = true;
        ended.notify_all();
    }
};

class CKrModemControlUnix : public CKrModemControl
{
public:
    explicit CKrModemControlUnix(int fd) : m_fd(fd) {}
    ~CKrModemControlUnix() override { StopWatching(); }

    bool Read(KrLines* pLines, QString* pWhy) override
    {
        int nBits = 0;
        if (::ioctl(m_fd, TIOCMGET, &nBits) != 0) {
            *pWhy = SystemText(errno);
            return false;
        }
        pLines->Set(KrLine::Dtr, nBits & TIOCM_DTR);
        pLines->Set(KrLine::Rts, nBits & TIOCM_RTS);
        pLines->Set(KrLine::Cts, nBits & TIOCM_CTS);
        pLines->Set(KrLine::Dsr, nBits & TIOCM_DSR);
        pLines->Set(KrLine::Dcd, nBits & TIOCM_CD);
        pLines->Set(KrLine::Ri, nBits & TIOCM_RI);
        return true;
    }

    bool SetOutputs(quint8 nLines, quint8 nOn, QString* pWhy) override
    {
        int nSet = 0;
        int nClear = 0;
        for (const auto& [line, nBit] :
             {std::pair{KrLine::Dtr, TIOCM_DTR}, std::pair{KrLine::Rts, TIOCM_RTS}}) {
            if (nLines & KrLineBit(line))
                ((nOn & KrLineBit(line)) ? nSet : nClear) |= nBit;
        }
        int nResult = 0;
        if (nSet && nClear) {
            // One on, one off: both in the one call that sets all lines.
            int nBits = 0;
            nResult = ::ioctl(m_fd, TIOCMGET, &nBits);
            nBits = (nBits | nSet) & ~nClear;
            if (nResult == 0)
                nResult = ::ioctl(m_fd, TIOCMSET, &nBits);
        } else if (nSet || nClear) {
            nResult = ::ioctl(m_fd, nSet ? TIOCMBIS : TIOCMBIC, nSet ? &nSet : &nClear);
        }
        return Done(nResult, pWhy);
    }

    bool SetBreak(bool bOn, QString* pWhy) override
    {
        return Done(::ioctl(m_fd, bOn ? TIOCSBRK : TIOCCBRK), pWhy);
    }

    bool StartWatching(std::function<void()> changed) override
    {
        StopWatching();
        if (!WakeSignalReady())
            return false;
        auto pWaiter = std::make_shared<CWaiter>();
        pWaiter->fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        if (pWaiter->fd < 0)
            return false;
        pWaiter->changed = std::move(changed);
        try {
            m_thread = std::thread([pWaiter] { pWaiter->Run(); });
        } catch (const std::system_error&) {
            // No thread to be had: the lines are read on the timer.
            ::close(pWaiter->fd);
            return false;
        }
        m_pWaiter = pWaiter;
        return true;
    }

    bool IsWatching() const override { return m_pWaiter && m_pWaiter->bWatching.load(); }

    void StopWatching() override
    {
        if (!m_pWaiter)
            return;
        std::unique_lock<std::mutex> lock(m_pWaiter->mutex);
        m_pWaiter->changed = nullptr;
        m_pWaiter->bStop = true;
        for (int i = 0; i < kStopSteps && !m_pWaiter->bEnded; ++i) {
            ::pthread_kill(m_thread.native_handle(), WakeSignal());
            m_pWaiter->ended.wait_for(lock, kStopStep, [this] { return m_pWaiter->bEnded; });
        }
        const bool bEnded = m_pWaiter->bEnded;
        lock.unlock();
        if (bEnded)
            m_thread.join();
        else
            m_thread.detach(); // holds its own descriptor and calls no one
        m_pWaiter.reset();
    }

private:
    static bool Done(int nResult, QString* pWhy)
    {
        if (nResult == 0)
            return true;
        *pWhy = SystemText(errno);
        return false;
    }

    int m_fd;
    std::shared_ptr<CWaiter> m_pWaiter;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<CKrModemControl> KrSystemModemControl(qintptr handle)
{
    return std::make_unique<CKrModemControlUnix>(int(handle));
}
