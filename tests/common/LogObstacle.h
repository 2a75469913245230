#pragma once
// Things in the way of the day's log, each made for real: another holder of
// its lock, a folder, a FIFO (with or without a reader), a symbolic link to
// another file, a read-only
// file for an ordinary user (the effective user drops to "nobody": root
// passes every permission check) and a file-size limit. Place() puts one
// where the log should be, setting a log that is there aside; Remove() takes
// it away and puts the log back. Used on the test's thread; the user and the
// limit hold for the whole process while the obstacle is in place.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class LogObstacle
{
public:
    enum Kind
    {
        Locked,
        Folder,
        Fifo,
        FifoWithReader,
        Link,
        ReadOnlyForUser,
        SizeLimit
    };

    LogObstacle(Kind kind, const QString& strLog)
        : m_kind(kind), m_strLog(strLog), m_log(QFile::encodeName(strLog)),
          m_strTarget(QFileInfo(strLog).dir().filePath(QStringLiteral("elsewhere.txt")))
    {
    }
    ~LogObstacle() { Remove(); }
    LogObstacle(const LogObstacle&) = delete;
    LogObstacle& operator=(const LogObstacle&) = delete;

    // The reason the log gives while the obstacle is in place.
    QString Reason() const
    {
        const QString reasons[] = {QStringLiteral("In use by another program"),
                                   qt_error_string(EISDIR),
                                   QStringLiteral("not a regular file"),
                                   QStringLiteral("not a regular file"),
                                   QStringLiteral("is a symbolic link"),
                                   qt_error_string(EACCES),
                                   qt_error_string(EFBIG)};
        return reasons[m_kind];
    }

    bool Place()
    {
        m_bPlaced = true;
        switch (m_kind) {
        case Locked:
            m_fd = ::open(m_log.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            return m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
        case ReadOnlyForUser: {
            // Anybody may enter the folder and read the log, nobody write it.
            const QByteArray dir = QFile::encodeName(QFileInfo(m_strLog).absolutePath());
            QFile log(m_strLog);
            if (!log.open(QIODevice::Append) || ::chmod(dir.constData(), 0755) != 0 ||
                ::chmod(m_log.constData(), 0444) != 0)
                return false;
            m_bUserDropped = ::geteuid() == 0 && ::seteuid(65534) == 0;
            return m_bUserDropped || ::geteuid() != 0;
        }
        case SizeLimit: {
            // No byte more fits; the write fails instead of the signal ending
            // the process.
            m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &m_savedLimit);
            rlimit limit = m_savedLimit;
            limit.rlim_cur = rlim_t(QFileInfo(m_strLog).size());
            return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
        default:
            break;
        }
        m_bAside = QFile::exists(m_strLog);
        if (m_bAside && !QFile::rename(m_strLog, Aside()))
            return false;
        if (m_kind == Folder)
            return QDir().mkdir(m_strLog);
        if (m_kind == Fifo || m_kind == FifoWithReader) {
            if (::mkfifo(m_log.constData(), 0666) != 0)
                return false;
            if (m_kind == FifoWithReader)
                m_fd = ::open(m_log.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            return m_kind == Fifo || m_fd >= 0;
        }
        QFile target(m_strTarget);
        return target.open(QIODevice::WriteOnly) && target.write("elsewhere") == 9 &&
               target.flush() &&
               ::symlink(QFile::encodeName(m_strTarget).constData(), m_log.constData()) == 0;
    }

    // True when nothing reached the file a link points to, or a FIFO's reader.
    bool Untouched() const
    {
        char c;
        QFile target(m_strTarget);
        if (m_kind == FifoWithReader)
            return ::read(m_fd, &c, 1) <= 0;
        return m_kind != Link ||
               (target.open(QIODevice::ReadOnly) && target.readAll() == "elsewhere");
    }

    bool Remove()
    {
        if (!m_bPlaced)
            return true;
        m_bPlaced = false;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        bool bOk = true;
        switch (m_kind) {
        case Locked:
            return true;
        case ReadOnlyForUser:
            bOk = !m_bUserDropped || ::seteuid(0) == 0;
            m_bUserDropped = false;
            return ::chmod(m_log.constData(), 0644) == 0 && bOk;
        case SizeLimit:
            bOk = ::setrlimit(RLIMIT_FSIZE, &m_savedLimit) == 0;
            std::signal(SIGXFSZ, m_oldSignal);
            return bOk;
        case Folder:
            bOk = QDir().rmdir(m_strLog);
            break;
        default:
            bOk = QFile::remove(m_strLog);
            QFile::remove(m_strTarget);
            break;
        }
        if (m_bAside)
            bOk = QFile::rename(Aside(), m_strLog) && bOk;
        m_bAside = false;
        return bOk;
    }

private:
    QString Aside() const { return m_strLog + QStringLiteral(".aside"); }

    Kind m_kind;
    QString m_strLog;
    QByteArray m_log;
    QString m_strTarget;
    int m_fd = -1;
    bool m_bPlaced = false;
    bool m_bAside = false;
    bool m_bUserDropped = false;
    rlimit m_savedLimit{};
    void (*m_oldSignal)(int) = SIG_DFL;
};
