#pragma once
// While an instance lives the system starts no new thread for this process,
// as when the user's limit on processes is reached: the soft RLIMIT_NPROC is
// 0. The limit does not bind root, so a root process takes the real and
// effective user 65534 meanwhile, keeping 0 as its saved user to come back.
// Linux; made and destroyed on the test's main thread.

#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

class CNoNewThreads
{
public:
    CNoNewThreads()
    {
        if (::getrlimit(RLIMIT_NPROC, &m_saved) != 0) {
            m_strWhyNot = Why("getrlimit");
            return;
        }
        if (::geteuid() == 0) {
            if (::setresuid(65534, 65534, 0) != 0) {
                m_strWhyNot = Why("setresuid");
                return;
            }
            m_bUserDropped = true;
        }
        rlimit none = m_saved;
        none.rlim_cur = 0;
        if (::setrlimit(RLIMIT_NPROC, &none) != 0)
            m_strWhyNot = Why("setrlimit");
        else
            m_bLimited = true;
    }
    ~CNoNewThreads()
    {
        if (m_bLimited)
            ::setrlimit(RLIMIT_NPROC, &m_saved);
        if (m_bUserDropped)
            (void)::setresuid(0, 0, 0);
    }
    CNoNewThreads(const CNoNewThreads&) = delete;
    CNoNewThreads& operator=(const CNoNewThreads&) = delete;

    // Empty when the limit is in force.
    QString WhyNot() const { return m_strWhyNot; }

private:
    static QString Why(const char* call)
    {
        return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                            QString::fromLocal8Bit(std::strerror(errno)));
    }

    rlimit m_saved = {};
    bool m_bUserDropped = false;
    bool m_bLimited = false;
    QString m_strWhyNot;
};
