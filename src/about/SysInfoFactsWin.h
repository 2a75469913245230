#pragma once
// The facts the Windows platform reports for the System Information texts.
// Plain standard-library types: the query file that fills them is built
// against the Win32 headers alone.
// Filled and read on the user-interface thread.

#include <cstdint>
#include <string>
#include <vector>

namespace winfacts {

struct Disk
{
    bool bQueried = false;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
};

struct Memory
{
    std::uint64_t totalPhys = 0;
    std::uint64_t availPhys = 0;
    std::uint64_t totalVirtual = 0;
    std::uint64_t availVirtual = 0;
};

struct Version
{
    std::uint32_t platformId = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string csdVersion;
};

struct SubKey
{
    bool bOk = false;
    std::string name;
};

struct KeyListing
{
    bool bOpened = false;
    std::vector<SubKey> calls; // in index order; the last one is the call that failed
};

struct TextValue
{
    bool bRead = false;
    std::string value;
};

struct Processor
{
    std::uint16_t level = 0;
    bool bKeyOpened = false;
    TextValue identifier;
    TextValue vendorIdentifier;
    TextValue processorName;
    TextValue processorNameString;
};

struct User
{
    bool bOk = false;
    std::string name;
};

// The drive of the current directory (GetDiskFreeSpaceExA).
Disk QueryDisk();
// GlobalMemoryStatusEx.
Memory QueryMemory();
// GetVersionExA.
Version QueryVersion();
// The sub-keys of HKEY_LOCAL_MACHINE\<key>, up to the first failing call.
KeyListing QuerySubKeys(const char* key);
// The processor level (GetSystemInfo) and, when bReadRegistry, the text
// values of HKEY_LOCAL_MACHINE\<processorKey>.
Processor QueryProcessor(const char* processorKey, bool bReadRegistry);
// GetUserNameA.
User QueryUser();

} // namespace winfacts
