// The system facts of a Linux machine. The OS name comes from os-release,
// the service-pack line carries the kernel, the processor line the CPU model.

#include "SysInfoLinuxParsers.h"
#include "SysInfoTexts.h"

#include <QFile>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <netinet/in.h>
#include <vector>

namespace {

QByteArray ReadSystemFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll(); // /proc files report size 0; readAll reads to the end
}

bool KernelOffersTcpIpv4()
{
    if (QFile::exists(QStringLiteral("/proc/net/tcp")))
        return true;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

class CLinuxSysInfoSource : public CSysInfoSource
{
public:
    DiskFacts QueryDisk() override
    {
        DiskFacts facts;
        struct statvfs st = {};
        if (::statvfs(".", &st) == 0) {
            facts.bQueried = true;
            facts.totalBytes = quint64(st.f_blocks) * st.f_frsize;
            facts.freeBytes = quint64(st.f_bfree) * st.f_frsize;
        }
        return facts;
    }

    MemoryFacts QueryMemory() override { return ParseMemInfo(ReadSystemFile("/proc/meminfo")); }

    VersionFacts QueryVersion() override
    {
        VersionFacts facts;
        facts.bFromLinux = true;
        struct utsname un = {};
        if (::uname(&un) == 0)
            facts.csdVersion = QByteArray(un.sysname) + ' ' + QByteArray(un.release);
        QByteArray osRelease = ReadSystemFile("/etc/os-release");
        if (osRelease.isEmpty())
            osRelease = ReadSystemFile("/usr/lib/os-release");
        facts.prettyName = ParseOsReleasePrettyName(osRelease);
        return facts;
    }

    ProtocolFacts QueryProtocols(const QByteArray&) override
    {
        ProtocolFacts facts;
        facts.bFromLinux = true;
        facts.bTcpIpv4 = KernelOffersTcpIpv4();
        return facts;
    }

    ProcessorFacts QueryProcessor(const QByteArray&) override
    {
        ProcessorFacts facts;
        facts.bFromLinux = true;
        facts.modelName = ParseCpuModelName(ReadSystemFile("/proc/cpuinfo"));
        return facts;
    }

    UserFacts QueryUser() override
    {
        UserFacts facts;
        long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
        struct passwd pwd = {};
        struct passwd* result = nullptr;
        if (::getpwuid_r(::geteuid(), &pwd, buffer.data(), buffer.size(), &result) == 0 && result &&
            result->pw_name) {
            facts.bOk = true;
            facts.name = QByteArray(result->pw_name);
        }
        return facts;
    }
};

} // namespace

CSysInfoSource& PlatformSysInfoSource()
{
    static CLinuxSysInfoSource source;
    return source;
}
