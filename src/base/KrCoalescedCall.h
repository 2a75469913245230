#pragma once
// Brings "something changed" to the thread of an object as one queued call,
// however often it is asked for meanwhile: at most one call is on its way at
// a time, and a request made while the call runs brings another. This is how
// the program's threads hand news to each other's event loops (the port's
// I/O thread to the user-interface thread, any writer to the I/O thread).
//
// Request() from any thread; the function runs on the target's thread. The
// object lives no longer than its target (make it a member of the target or
// of something the target owns), so that no call arrives after it is gone.

#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>

class KrCoalescedCall
{
public:
    KrCoalescedCall(QObject* pTarget, std::function<void()> fn)
        : m_pTarget(pTarget), m_fn(std::move(fn))
    {
    }
    KrCoalescedCall(const KrCoalescedCall&) = delete;
    KrCoalescedCall& operator=(const KrCoalescedCall&) = delete;

    void Request()
    {
        if (m_bQueued.exchange(true))
            return;
        // Qt's event queue hands the call over safely, but with futexes the
        // thread checker cannot see; in a build for the checker the call is
        // made under a lock that the receiving side takes before it reads
        // anything of the call, so the hand-over is one the checker sees too.
        // Neither side holds it for longer than the posting, and the posting
        // never calls back. Other builds go without: the woken thread would
        // mostly find the lock still held and sleep once more on it, two
        // more switches for every hand-over.
        std::unique_lock<std::mutex> posting(s_posting, std::defer_lock);
        if (kThreadChecker)
            posting.lock();
        QMetaObject::invokeMethod(
            m_pTarget,
            [this] {
                Received();
                // Cleared first: news that comes while the call runs asks again.
                m_bQueued = false;
                m_fn();
            },
            Qt::QueuedConnection);
    }
    // A call is on its way.
    bool IsPending() const { return m_bQueued.load(); }

private:
    static void Received()
    {
        if (kThreadChecker)
            std::lock_guard<std::mutex> posted(s_posting);
    }

#ifdef KR_THREAD_CHECKER
    static constexpr bool kThreadChecker = true;
#else
    static constexpr bool kThreadChecker = false;
#endif

    static inline std::mutex s_posting;
    QObject* m_pTarget;
    std::function<void()> m_fn;
    std::atomic<bool> m_bQueued{false};
};
