#pragma once
// File-system faults provoked for real, for the suites of the settings file:
// a folder in which no file can grow (a filled 64 KiB tmpfs, or the process's
// file-size limit), the things that can stand where a regular file belongs,
// and a guard against a read that hangs. Linux; used on the test's main
// thread.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// A folder in which no file can grow. Made at construction; Arm() provokes
// the fault once the files meant to be there beforehand are written; Lift()
// (or destruction) undoes it.
class CNoRoomFolder
{
public:
    enum Kind
    {
        FullDisk,
        FileSizeLimit
    };

    CNoRoomFolder(Kind kind, const QString& path) : m_kind(kind), m_path(path)
    {
        QDir().mkpath(path);
        if (kind == FullDisk) {
            if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                        "size=64k") == 0)
                m_bMounted = true;
            else
                m_strWhyNot = QStringLiteral("mounting a 64 KiB tmpfs on %1: %2")
                                  .arg(path, qt_error_string(errno));
        }
    }
    ~CNoRoomFolder()
    {
        Lift();
        if (m_bMounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    CNoRoomFolder(const CNoRoomFolder&) = delete;
    CNoRoomFolder& operator=(const CNoRoomFolder&) = delete;

    // Empty when the fault can be provoked here; otherwise why not.
    QString WhyNot() const { return m_strWhyNot; }
    // The system's words for a file that cannot grow.
    QString Reason() const { return qt_error_string(m_kind == FullDisk ? ENOSPC : EFBIG); }

    // Fills the disk to the last block, or lowers the file-size limit to
    // nothing (SIGXFSZ ignored, so that a write fails with EFBIG instead of
    // ending the process). False when the fault did not take.
    bool Arm()
    {
        if (m_kind == FileSizeLimit) {
            m_oldXfsz = std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &m_oldLimit);
            struct rlimit none = m_oldLimit;
            none.rlim_cur = 0;
            m_bLimited = ::setrlimit(RLIMIT_FSIZE, &none) == 0;
            return m_bLimited;
        }
        const QByteArray filler = QFile::encodeName(m_path + QStringLiteral("/filler"));
        const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'f');
        int nError = 0;
        // Whole blocks first, then single bytes into the last partial one.
        for (const int nSize : {4096, 1}) {
            for (int i = 0; i < 1 << 16; ++i) {
                if (::write(fd, block.constData(), size_t(nSize)) < 0) {
                    nError = errno;
                    break;
                }
            }
        }
        ::close(fd);
        return nError == ENOSPC;
    }

    void Lift()
    {
        if (m_bLimited) {
            ::setrlimit(RLIMIT_FSIZE, &m_oldLimit);
            std::signal(SIGXFSZ, m_oldXfsz);
            m_bLimited = false;
        }
    }

private:
    Kind m_kind;
    QString m_path;
    QString m_strWhyNot;
    bool m_bMounted = false;
    bool m_bLimited = false;
    struct rlimit m_oldLimit = {};
    void (*m_oldXfsz)(int) = SIG_DFL;
};

// What may stand where a regular file belongs.
enum class NodeKind
{
    LinkToFile,
    LinkToFifo,
    LinkToDevice,
    DanglingLink,
    Fifo,
    Device,
    Folder
};

// Puts a `kind` at `path`; a link points to `target`, which gets `content`
// when it is a file. Empty when done, otherwise the system's reason.
inline QString MakeNode(NodeKind kind, const QString& path, const QString& target,
                        const QByteArray& content)
{
    const QByteArray p = QFile::encodeName(path);
    const QByteArray t = QFile::encodeName(target);
    const bool bLink = kind == NodeKind::LinkToFile || kind == NodeKind::LinkToFifo ||
                       kind == NodeKind::LinkToDevice || kind == NodeKind::DanglingLink;
    const QByteArray& where = bLink ? t : p;
    int rc = 0;
    switch (kind) {
    case NodeKind::LinkToFile: {
        QFile f(target);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return f.errorString();
        break;
    }
    case NodeKind::LinkToFifo:
    case NodeKind::Fifo:
        rc = ::mkfifo(where.constData(), 0666);
        break;
    case NodeKind::LinkToDevice:
    case NodeKind::Device:
        // The null device's numbers: harmless whatever is done to it.
        rc = ::mknod(where.constData(), S_IFCHR | 0666, makedev(1, 3));
        break;
    case NodeKind::Folder:
        rc = ::mkdir(p.constData(), 0777);
        break;
    case NodeKind::DanglingLink:
        break;
    }
    if (rc == 0 && bLink)
        rc = ::symlink(t.constData(), p.constData());
    return rc == 0 ? QString() : qt_error_string(errno);
}

// What stands at `path`, in words that change whenever it is replaced or
// written: its kind, a link's target, a file's inode and bytes.
inline QString Describe(const QString& path)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0)
        return QStringLiteral("nothing");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("link to ") + QFileInfo(path).symLinkTarget();
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("FIFO");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("folder");
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("device %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QStringLiteral("file %1: %2")
        .arg(st.st_ino)
        .arg(QString::fromLatin1(f.readAll().toHex()));
}

// Ends the process with a message when it is still inside this scope after
// `nSeconds`: a read that waits for a FIFO's writer then fails the suite
// instead of hanging it.
class CHangGuard
{
public:
    explicit CHangGuard(unsigned nSeconds)
    {
        std::signal(SIGALRM, [](int) {
            static const char kText[] = "FAIL: still waiting after the hang guard's time\n";
            (void)!::write(2, kText, sizeof kText - 1);
            ::_exit(1);
        });
        ::alarm(nSeconds);
    }
    ~CHangGuard()
    {
        ::alarm(0);
        std::signal(SIGALRM, SIG_DFL);
    }
    CHangGuard(const CHangGuard&) = delete;
    CHangGuard& operator=(const CHangGuard&) = delete;
};
