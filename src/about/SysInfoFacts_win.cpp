// The Windows queries behind the System Information texts. Win32 and the
// standard library only.

#include "SysInfoFactsWin.h"

#include <windows.h>

#include <cstring>

namespace winfacts {

namespace {

constexpr DWORD kNameBufferSize = 260;

// A registry value read as text; data that fills the buffer without a
// terminator is cut at the buffer's end.
TextValue ReadTextValue(HKEY hKey, const char* name)
{
    TextValue result;
    char buffer[kNameBufferSize] = {};
    DWORD size = sizeof(buffer);
    if (RegQueryValueExA(hKey, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS) {
        result.bRead = true;
        const DWORD limit = size < sizeof(buffer) ? size : DWORD(sizeof(buffer));
        result.value.assign(buffer, strnlen(buffer, limit));
    }
    return result;
}

} // namespace

Disk QueryDisk()
{
    Disk facts;
    ULARGE_INTEGER availableToCaller = {};
    ULARGE_INTEGER total = {};
    ULARGE_INTEGER totalFree = {};
    if (GetDiskFreeSpaceExA(nullptr, &availableToCaller, &total, &totalFree)) {
        facts.bQueried = true;
        facts.totalBytes = total.QuadPart;
        facts.freeBytes = totalFree.QuadPart;
    }
    return facts;
}

Memory QueryMemory()
{
    Memory facts;
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    if (GlobalMemoryStatusEx(&status)) {
        facts.totalPhys = status.ullTotalPhys;
        facts.availPhys = status.ullAvailPhys;
        facts.totalVirtual = status.ullTotalVirtual;
        facts.availVirtual = status.ullAvailVirtual;
    }
    return facts;
}

Version QueryVersion()
{
    Version facts;
    OSVERSIONINFOA info = {};
    static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExA(&info);
    facts.platformId = info.dwPlatformId;
    facts.major = info.dwMajorVersion;
    facts.minor = info.dwMinorVersion;
    facts.csdVersion.assign(info.szCSDVersion,
                            strnlen(info.szCSDVersion, sizeof(info.szCSDVersion)));
    return facts;
}

KeyListing QuerySubKeys(const char* key)
{
    KeyListing listing;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ENUMERATE_SUB_KEYS, &hKey) != ERROR_SUCCESS)
        return listing;
    listing.bOpened = true;
    for (DWORD index = 0;; ++index) {
        char name[kNameBufferSize] = {};
        DWORD size = kNameBufferSize;
        FILETIME lastWrite = {};
        SubKey call;
        call.bOk = RegEnumKeyExA(hKey, index, name, &size, nullptr, nullptr, nullptr, &lastWrite) ==
                   ERROR_SUCCESS;
        if (call.bOk)
            call.name.assign(name, strnlen(name, kNameBufferSize));
        listing.calls.push_back(call);
        if (!call.bOk)
            break;
    }
    RegCloseKey(hKey);
    return listing;
}

Processor QueryProcessor(const char* processorKey, bool bReadRegistry)
{
    Processor facts;
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    facts.level = info.wProcessorLevel;
    if (!bReadRegistry)
        return facts;

    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, processorKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return facts;
    facts.bKeyOpened = true;
    facts.identifier = ReadTextValue(hKey, "Identifier");
    facts.vendorIdentifier = ReadTextValue(hKey, "VendorIdentifier");
    facts.processorName = ReadTextValue(hKey, "ProcessorName");
    facts.processorNameString = ReadTextValue(hKey, "ProcessorNameString");
    RegCloseKey(hKey);
    return facts;
}

User QueryUser()
{
    User facts;
    char name[kNameBufferSize] = {};
    DWORD size = kNameBufferSize;
    if (GetUserNameA(name, &size)) {
        facts.bOk = true;
        facts.name.assign(name, strnlen(name, kNameBufferSize));
    }
    return facts;
}

} // namespace winfacts
