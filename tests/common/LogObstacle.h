#pragma once
// Things in the way of the day's log, each made for real: another holder of
// its lock, a folder, a FIFO (with or without a reader), a symbolic link (to a
// file or to nothing), a read-only file for an ordinary user (the effective
// user drops to "nobody", since root passes every permission check) and a
// file-size limit. Place() puts one where the log should be, setting aside a
// log that is there; Remove() takes it away and puts the log back. Used on
// the test's thread; the effective user and the size limit hold for the
// whole process while the obstacle is in place.

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
        DanglingLink,
        ReadOnlyForUser,
        SizeLimit
    };

    LogObstacle(Kind kind, const QString& strLog)
        : m_kind(kind), m_strLog(strLog), m_strAside(strLog + QStringLiteral(".aside")),
          m_strTarget(QFileInfo(strLog).dir().filePath(QStringLiteral("elsewhere.txt")))
    {
    }
    ~LogObstacle() { Remove(); }
    LogObstacle(const LogObstacle&) = delete;
    LogObstacle& operator=(const LogObstacle&) = delete;

    // The reason the log gives while the obstacle is in place.
    QString Reason() const
    {
        switch (m_kind) {
        case Locked:
            return QStringLiteral("In use by another program");
        case Folder:
            return qt_error_string(EISDIR);
        case Fifo:
        case FifoWithReader:
            return QStringLiteral("not a regular file");
        case Link:
        case DanglingLink:
            return QStringLiteral("is a symbolic link");
        case ReadOnlyForUser:
            return qt_error_string(EACCES);
        case SizeLimit:
            return qt_error_string(EFBIG);
        }
        return QString();
    }

    bool Place()
    {
        const QByteArray log = QFile::encodeName(m_strLog);
        const bool bHadLog = QFile::exists(m_strLog);
        switch (m_kind) {
        case Locked:
            m_fd = ::open(log.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            return m_bPlaced = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
        case ReadOnlyForUser: {
            // Anybody may enter the folder and read the log; nobody else may write.
            const QByteArray dir = QFile::encodeName(QFileInfo(m_strLog).absolutePath());
            if (!bHadLog && !QFile(m_strLog).open(QIODevice::WriteOnly))
                return false;
            m_bPlaced = ::chmod(dir.constData(), 0755) == 0 && ::chmod(log.constData(), 0444) == 0;
            m_bUserDropped = m_bPlaced && ::geteuid() == 0 && ::seteuid(65534) == 0;
            return m_bPlaced && (m_bUserDropped || ::geteuid() != 0);
        }
        case SizeLimit: {
            // No byte more fits in the log; the write fails instead of the
            // signal ending the process.
            m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &m_savedLimit);
            rlimit limit = m_savedLimit;
            limit.rlim_cur = rlim_t(QFileInfo(m_strLog).size());
            return m_bPlaced = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
        default:
            break;
        }
        if (bHadLog && !QFile::rename(m_strLog, m_strAside))
            return false;
        m_bAside = bHadLog;
        m_bPlaced = true;
        switch (m_kind) {
        case Folder:
            return QDir().mkdir(m_strLog);
        case Fifo:
            return ::mkfifo(log.constData(), 0666) == 0;
        case FifoWithReader:
            m_fd = ::mkfifo(log.constData(), 0666) == 0
                       ? ::open(log.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                       : -1;
            return m_fd >= 0;
        case Link: {
            QFile target(m_strTarget);
            if (!target.open(QIODevice::WriteOnly) || target.write("elsewhere") != 9)
                return false;
            target.close();
            return ::symlink(QFile::encodeName(m_strTarget).constData(), log.constData()) == 0;
        }
        case DanglingLink:
            return ::symlink(QFile::encodeName(m_strTarget).constData(), log.constData()) == 0;
        default:
            return false;
        }
    }

    // True when nothing reached what the obstacle stands for: a link's
    // target, the FIFO's reader.
    bool Untouched() const
    {
        switch (m_kind) {
        case FifoWithReader: {
            char c;
            return ::read(m_fd, &c, 1) <= 0;
        }
        case Link: {
            QFile target(m_strTarget);
            return target.open(QIODevice::ReadOnly) && target.readAll() == "elsewhere";
        }
        case DanglingLink:
            return !QFileInfo::exists(m_strTarget);
        default:
            return true;
        }
    }

    bool Remove()
    {
        if (!m_bPlaced)
            return true;
        m_bPlaced = false;
        bool bOk = true;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        switch (m_kind) {
        case Locked:
            return true;
        case ReadOnlyForUser:
            if (m_bUserDropped)
                bOk = ::seteuid(0) == 0;
            m_bUserDropped = false;
            return bOk && ::chmod(QFile::encodeName(m_strLog).constData(), 0644) == 0;
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
            bOk = QFile::rename(m_strAside, m_strLog) && bOk;
        m_bAside = false;
        return bOk;
    }

private:
    Kind m_kind;
    QString m_strLog;
    QString m_strAside;
    QString m_strTarget;
    int m_fd = -1;
    bool m_bPlaced = false;
    bool m_bAside = false;
    bool m_bUserDropped = false;
    rlimit m_savedLimit{};
    void (*m_oldSignal)(int) = SIG_DFL;
};
