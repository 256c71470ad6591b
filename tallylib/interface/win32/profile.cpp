// Machine profile: processor, memory, version, video, mouse, ports, printer.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "device_entry.h"
#include "tallylib.h"

namespace {

const char ADAPTER_KEY[] = "HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter";
const char MONITOR_KEY[] = "Enum\\Monitor\\Default_Monitor\\0001";
constexpr DWORD SUBKEY_NAME_SIZE = 50;
constexpr DWORD TEXT_VALUE_SIZE = 95;
constexpr REGSAM BROWSE_RIGHTS = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;

// Reads a text value into out (95 bytes), always terminated; "" on failure.
void QueryText(HKEY key, const char *name, char *out)
{
    DWORD size = TEXT_VALUE_SIZE;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(out), &size);
    if (rc != ERROR_SUCCESS || size == 0) size = 0;
    out[size < TEXT_VALUE_SIZE ? size : TEXT_VALUE_SIZE - 1] = '\0';
}

// Opens suffix below the first adapter sub-key that has it.
bool OpenAdapterChild(const char *suffix, REGSAM rights, HKEY *found)
{
    HKEY adapters;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ADAPTER_KEY, 0, BROWSE_RIGHTS, &adapters) != ERROR_SUCCESS) return false;
    bool opened = false;
    char name[SUBKEY_NAME_SIZE];
    char path[SUBKEY_NAME_SIZE + 64];
    for (DWORD i = 0; !opened && RegEnumKeyA(adapters, i, name, SUBKEY_NAME_SIZE) == ERROR_SUCCESS; ++i) {
        std::snprintf(path, sizeof path, "%s%s", name, suffix);
        opened = RegOpenKeyExA(adapters, path, 0, rights, found) == ERROR_SUCCESS;
    }
    RegCloseKey(adapters);
    return opened;
}

// 1 with the identifier of the first adapter child found, else 0.
long AdapterIdentifier(const char *suffix, char *out)
{
    HKEY child;
    if (!OpenAdapterChild(suffix, KEY_QUERY_VALUE, &child)) return 0;
    QueryText(child, "Identifier", out);
    RegCloseKey(child);
    return 1;
}

bool IsWindows95Family()
{
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// Counts the devices "COM1".. or "LPT1".. that open, stopping at the first that does not.
long ProbePortDevices(const char *prefix)
{
    char name[8];
    for (int n = 1; n <= 9; ++n) {
        std::snprintf(name, sizeof name, "%s%d", prefix, n);
        HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return n - 1;
        CloseHandle(h);
    }
    return 9;
}

long CountControllers(const char *suffix)
{
    HKEY controllers;
    if (!OpenAdapterChild(suffix, BROWSE_RIGHTS, &controllers)) return 0;
    DWORD count = 0;
    if (RegQueryInfoKeyA(controllers, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        count = 0;
    RegCloseKey(controllers);
    return static_cast<long>(count);
}

}  // namespace

extern "C" long TALLY_CDECL TallyCard_CPUtype(void)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    switch (info.dwProcessorType) {
    case PROCESSOR_INTEL_386: return 0x21;
    case PROCESSOR_INTEL_486: return 0x41;
    default: return 0x81;
    }
}

extern "C" long TALLY_CDECL TallyCard_MemoryData(long selector)
{
    switch (selector) {
    case 1: {
        MEMORYSTATUS status;
        status.dwLength = sizeof status;
        GlobalMemoryStatus(&status);
        return static_cast<long>(status.dwTotalPhys / 1000);
    }
    case 2:
    case 4: return 0;
    default: return -1;
    }
}

extern "C" long TALLY_CDECL TallyCard_OSversion(long kind, char *out)
{
    if (kind == 1 || !out) return 0;
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) info.dwMajorVersion = info.dwMinorVersion = 0;
    std::sprintf(out, "%ld.%02ld", static_cast<long>(info.dwMajorVersion % 100),
                 static_cast<long>(info.dwMinorVersion % 100));
    return 0;
}

extern "C" long TALLY_CDECL TallyCard_VideoType(void) { return 1; }

extern "C" long TALLY_CDECL TallyCard_VideoType32(char *out95)
{
    if (!out95) return 0;
    out95[0] = '\0';
    if (LOBYTE(LOWORD(GetVersion())) < 4) return AdapterIdentifier("\\DisplayController\\0", out95);
    HKEY monitor;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MONITOR_KEY, 0, BROWSE_RIGHTS, &monitor) != ERROR_SUCCESS) return 0;
    QueryText(monitor, "DeviceDesc", out95);
    RegCloseKey(monitor);
    return 1;
}

extern "C" long TALLY_CDECL TallyCard_MouseType(void) { return GetSystemMetrics(SM_MOUSEPRESENT) ? 2 : 1; }

extern "C" long TALLY_CDECL TallyCard_MouseType32(char *out95)
{
    if (!out95) return 0;
    out95[0] = '\0';
    return AdapterIdentifier("\\PointerController\\0\\PointerPeripheral\\0", out95);
}

extern "C" long TALLY_CDECL TallyCard_Ports(long kind)
{
    // Kinds other than parallel count serial ports on both families.
    if (IsWindows95Family()) return ProbePortDevices(kind == 2 ? "LPT" : "COM");
    return CountControllers(kind == 2 ? "\\ParallelController" : "\\SerialController");
}

extern "C" long TALLY_CDECL TallyCard_DefaultPrinter(char *out, long size)
{
    if (size <= 0 || !out) return -1;
    char entry[81];
    GetProfileStringA("windows", "device", ",,,", entry, sizeof entry);
    return _DeviceEntryPrinterName(entry, out, size);
}

extern "C" long TALLY_CDECL TallyCard_PrinterStatus(void) { return -1; }

extern "C" long TALLY_STDCALL TallyCard_Hardware(long) { return 1; }
