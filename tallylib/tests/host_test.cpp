// A host program's view of tallylib.dll: loaded with LoadLibraryA, every
// export bound by name and by ordinal, then called as a host calls them.
// Usage: tally_host_tests TEMP-DIR   (a scratch folder for profile files)
#include <windows.h>

#include <cstring>
#include <string>

#include "check.h"
#include "tally_loader.h"

namespace {

TallyLib lib;
std::string scratch;

struct Export {
    const char *name;
    int ordinal;
};

const Export exportTable[] = {
    {"TallyCard_Transmit", 1},      {"TallyCard_ReadStamp", 2},      {"TallyCard_Stamp", 3},
    {"TallyCard_Print", 4},         {"TallyCard_Abort", 5},          {"TallyCard_Speaker", 6},
    {"TallyCard_Hardware", 7},      {"TallyCard_CPUtype", 8},        {"TallyCard_MemoryData", 9},
    {"TallyCard_VideoType", 10},    {"TallyCard_GetNextDrive", 11},  {"TallyCard_DriveData", 12},
    {"TallyCard_MouseType", 13},    {"TallyCard_DefaultPrinter", 14}, {"TallyCard_PrinterStatus", 15},
    {"TallyCard_Ports", 16},        {"TallyCard_OSversion", 17},     {"TallyCard_MouseType32", 18},
    {"TallyCard_VideoType32", 19},  {"TallyCard_FindModem", 21},     {"TallyCard_StringSub", 22},
    {"TallyCard_InfoCodes", 23},    {"TallyCard_CodeToString", 24},  {"TallyCard_ZrClientCode", 30},
};

void *ByOrdinal(int ordinal)
{
    return reinterpret_cast<void *>(GetProcAddress(lib.module, MAKEINTRESOURCEA(ordinal)));
}

void ExportsByNameAndOrdinal()
{
    for (const Export &e : exportTable) {
        void *byName = reinterpret_cast<void *>(GetProcAddress(lib.module, e.name));
        CHECK_EQ(true, byName != nullptr, e.name);
        CHECK_EQ(true, byName == ByOrdinal(e.ordinal), std::string(e.name) + " by ordinal");
    }
    for (int empty : {20, 25, 26, 27, 28, 29, 31})
        CHECK_EQ(true, ByOrdinal(empty) == nullptr, "ordinal " + std::to_string(empty));
}

struct Message {
    long id;
    const char *text;
};

// Every message of the table, as the host reads it back before any transmission.
const Message messages[] = {
    {100, "Can't initialize COM"}, {102, "Can't reset COM"}, {104, "Looking for modem on COM at  baud."},
    {106, "Switching to  baud."}, {107, "Dialing the modem."}, {108, "Found a modem on COM"},
    {109, "Searching CONNECT string for baudrate."}, {111, "Dial failed!"},
    {114, "LogonID =  Password = "}, {115, "Reading the login information."},
    {117, "Sending login verification."}, {119, "Passwords don't match!"}, {121, "Logging in."},
    {123, "Can't get login verification!"}, {125, "Waiting for login verification."},
    {127, "We received login verification."}, {200, "Receiving to !"}, {201, "Transmitting the registration."},
    {203, "The ASCII protocol is unsupported at this time."}, {205, "The ZMODEM protocol is unsupported at this time."},
    {207, "The EXT1 protocol is unsupported at this time."}, {209, "The EXT2 protocol is unsupported at this time."},
    {211, "Unsupported protocol!"}, {213, "Transmitting with the TALLY protocol."}, {215, "Writing receive buffer."},
    {217, "Waiting for a block."}, {219, "Timeout reading a block."}, {221, "File reception complete"},
    {222, " bytes received ( ACK) ( NAK)"}, {223, "Bad buffer received!"},
    {224, "Partial file:  bytes received ( ACK) ( NAK)"}, {225, "Transmission successful"},
    {227, "Transmission failed"}, {301, "We got NO CARRIER from modem."}, {303, "Hanging up the phone."},
    {305, "Dropping DTR successfully hung up phone."}, {307, "Sending +++ to modem."},
    {309, "We got an OK from modem."}, {311, "Phone is hung up."}, {313, "ERROR - phone is NOT hung up!"},
    {401, "Registration successful!"}, {500, "Error opening !"}, {501, "Can't find a modem!"},
    {502, "Error writing to !"}, {503, "Aborting registration."}, {505, "User NOT logged in!"},
    {507, "Registration failed!"}, {509, "Maximum file size exceeded!"},
};

// Characters in the table's own text: each token counts its two characters.
long LoadedLength(const char *substituted, long id)
{
    static const struct { long id; long tokens; } withTokens[] = {
        {100, 1}, {102, 1}, {104, 2}, {106, 1}, {108, 1}, {114, 2}, {200, 1}, {222, 3}, {224, 3}, {500, 1}, {502, 1}};
    long length = static_cast<long>(std::strlen(substituted));
    for (const auto &t : withTokens)
        if (t.id == id) length += 2 * t.tokens;
    return length;
}

void MessageTexts()
{
    for (const Message &m : messages) {
        char out[81];
        std::memset(out, '#', sizeof out);
        long n = lib.CodeToString(m.id, out);
        CHECK_EQ(std::string(m.text), std::string(out), "message " + std::to_string(m.id));
        CHECK_EQ(LoadedLength(m.text, m.id), n, "length of message " + std::to_string(m.id));
    }
    char out[81];
    CHECK_EQ(35L, lib.CodeToString(222, out), "CodeToString(222)");
    for (long unknown : {0L, 103L, 315L, 999L, -1L, 70000L}) {
        std::strcpy(out, "old");
        CHECK_EQ(0L, lib.CodeToString(unknown, out), "unknown id " + std::to_string(unknown));
        CHECK_EQ(std::string(), std::string(out), "unknown id " + std::to_string(unknown));
    }
    CHECK_EQ(0L, lib.CodeToString(104, nullptr), "null output");
}

void StringSubstitution()
{
    const struct {
        const char *text;
        long result;
        const char *expected;
    } cases[] = {
        {"$P and $P", 1, " and $P"},  // before any transmission every value is empty
        {"port $P speed $B", 1, "port  speed "},
        {"pass $W.", 0, "pass ."},
        {"no tokens", 1, "no tokens"},
    };
    for (const auto &c : cases) {
        char text[81] = {};
        std::strcpy(text, c.text);
        CHECK_EQ(c.result, lib.StringSub(text), c.text);
        CHECK_EQ(std::string(c.expected), std::string(text), c.text);
    }
    // Over-long host text: only the first 80 characters take part.
    char longText[200];
    std::memset(longText, 'x', sizeof longText);
    std::memcpy(longText + 10, "$W", 2);
    longText[199] = '\0';
    CHECK_EQ(0L, lib.StringSub(longText), "long text");
    CHECK_EQ(78L, static_cast<long>(std::strlen(longText)), "long text cut to 80, less the token");
    CHECK_EQ('x', longText[81], "long text beyond 81 bytes untouched");
    CHECK_EQ(1L, lib.StringSub(nullptr), "null text");
}

void SmallExports()
{
    CHECK_EQ(0L, lib.Speaker(0), "Speaker(0)");
    CHECK_EQ(3L, lib.Speaker(3), "Speaker(3)");
    CHECK_EQ(1L, lib.Speaker(1), "Speaker(1)");
    CHECK_EQ(1L, lib.InfoCodes(1), "InfoCodes(1)");
    CHECK_EQ(0L, lib.InfoCodes(0), "InfoCodes(0)");
    CHECK_EQ(1L, lib.Hardware(12345), "Hardware");
    CHECK_EQ(1L, lib.VideoType(), "VideoType");
    CHECK_EQ(-1L, lib.PrinterStatus(), "PrinterStatus");
    CHECK_EQ(GetSystemMetrics(SM_MOUSEPRESENT) ? 2L : 1L, lib.MouseType(), "MouseType");

    char code[6] = "#####";
    CHECK_EQ(true, lib.ZrClientCode(code) == code, "ZrClientCode returns its buffer");
    CHECK_EQ(std::string("006"), std::string(code), "client code");
    CHECK_EQ('#', code[4], "client code writes 4 bytes");
    CHECK_EQ(true, lib.ZrClientCode(nullptr) == nullptr, "ZrClientCode(null)");

    lib.Abort();
    lib.Abort();
    long port = 1, speed = 2400;
    CHECK_EQ(0L, lib.FindModem(&port, &speed, 0), "FindModem without a modem");
    CHECK_EQ(0L, lib.FindModem(nullptr, nullptr, 0), "FindModem(null)");
    long r = lib.Transmit(0, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0, 0, 1, 2400, 0, 128, 0);
    CHECK_EQ(true, r != TALLY_OK, "Transmit without a card fails");
}

std::string ScratchFile(const char *name) { return scratch + "\\" + name; }

std::string FileText(const std::string &path)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing>";
    char buf[4096];
    DWORD got = 0;
    ReadFile(f, buf, sizeof buf, &got, nullptr);
    CloseHandle(f);
    return std::string(buf, got);
}

void Stamps()
{
    std::string ini = ScratchFile("stamps.ini");
    const char *path = ini.c_str();
    std::string v80(80, 'a'), v81(81, 'b');
    v80[0] = 'S';
    v80[79] = 'E';

    CHECK_EQ(1L, lib.Stamp(path, "Sent", "yes") != 0, "stamp a short value");
    CHECK_EQ(1L, lib.Stamp(path, "Long", v80.c_str()) != 0, "stamp 80 characters");
    CHECK_EQ(1L, lib.Stamp(path, "Empty", "") != 0, "stamp an empty value");
    std::string before = FileText(ini);
    CHECK_EQ(static_cast<long>(TALLY_ERR_TOO_LONG), lib.Stamp(path, "Long", v81.c_str()), "stamp 81 characters");
    CHECK_EQ(static_cast<long>(TALLY_ERR_TOO_LONG), lib.Stamp(path, "New", v81.c_str()), "stamp 81, new key");
    CHECK_EQ(before, FileText(ini), "81 characters leave the file unchanged");

    const struct {
        const char *key;
        long result;
        std::string value;
    } reads[] = {
        {"Sent", TALLY_OK, "yes"},
        {"Long", TALLY_OK, v80.substr(0, 79)},
        {"Empty", TALLY_ERR_FILE, ""},
        {"Never", TALLY_ERR_FILE, ""},
    };
    for (const auto &r : reads) {
        char out[80];
        std::memset(out, '#', sizeof out);
        CHECK_EQ(r.result, lib.ReadStamp(path, r.key, out), r.key);
        CHECK_EQ(r.value, std::string(out), r.key);
    }
    char out[80] = "old";
    std::string nowhere = ScratchFile("no-such-dir\\x.ini");
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.ReadStamp(nowhere.c_str(), "Sent", out), "missing file");
    CHECK_EQ(0L, lib.Stamp(nowhere.c_str(), "Sent", "yes"), "unwritable file");
    CHECK_EQ(0L, lib.Stamp(nullptr, "Sent", "yes"), "Stamp(null path)");
    CHECK_EQ(0L, lib.Stamp(path, nullptr, "yes"), "Stamp(null key)");
    CHECK_EQ(0L, lib.Stamp(path, "Sent", nullptr), "Stamp(null value)");
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.ReadStamp(path, "Sent", nullptr), "ReadStamp(null out)");
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.ReadStamp(nullptr, "Sent", out), "ReadStamp(null path)");
    std::string hugePath = scratch + "\\" + std::string(5000, 'p') + ".ini";
    std::string hugeKey(5000, 'k');
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.ReadStamp(hugePath.c_str(), "Sent", out), "over-long path");
    CHECK_EQ(0L, lib.Stamp(hugePath.c_str(), "Sent", "yes"), "over-long path cannot be written");
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.ReadStamp(path, hugeKey.c_str(), out), "over-long key");
    CHECK_EQ(static_cast<long>(TALLY_OK), lib.ReadStamp(path, "Sent", out), "Sent still there");
}

bool Present(long d)
{
    char root[] = "A:\\";
    root[0] = static_cast<char>('A' + d);
    UINT t = GetDriveTypeA(root);
    return t == DRIVE_REMOVABLE || t == DRIVE_FIXED || t == DRIVE_REMOTE || t == DRIVE_CDROM || t == DRIVE_RAMDISK;
}

long ExpectedType(long d, long *size)
{
    char root[] = "A:\\";
    root[0] = static_cast<char>('A' + d);
    *size = 0;
    switch (GetDriveTypeA(root)) {
    case DRIVE_NO_ROOT_DIR: return 2;
    case DRIVE_FIXED: {
        DWORD spc, bps, fc, tc;
        if (GetDiskFreeSpaceA(root, &spc, &bps, &fc, &tc)) *size = static_cast<long>(1ULL * spc * bps * tc / 1000000);
        return 128;
    }
    case DRIVE_REMOTE: return 256;
    case DRIVE_CDROM: return 5;
    case DRIVE_UNKNOWN: return d == 1 ? 2 : 0;
    default: return -99;  // removable and RAM disks are not expected under Wine
    }
}

void Drives()
{
    long expected = -1;
    for (long d = 0; d <= 25 && expected < 0; ++d)
        if (Present(d)) expected = d;
    long seen = 0;
    for (long d = lib.GetNextDrive(-1); d != -1; d = lib.GetNextDrive(d)) {
        CHECK_EQ(expected, d, "next drive");
        long type = -7, size = -7, wantSize = 0;
        CHECK_EQ(0L, lib.DriveData(d, &type, &size), "DriveData");
        CHECK_EQ(ExpectedType(d, &wantSize), type, "type of drive " + std::to_string(d));
        CHECK_EQ(wantSize, size, "size of drive " + std::to_string(d));
        ++seen;
        long next = -1;
        for (long n = d + 1; n <= 25 && next < 0; ++n)
            if (Present(n)) next = n;
        expected = next;
        if (seen > 26) break;
    }
    CHECK_EQ(true, seen > 0, "at least one drive");
    CHECK_EQ(-1L, expected, "enumeration reached the end");
    for (long bad : {-2L, 25L, 26L, -100L}) CHECK_EQ(-1L, lib.GetNextDrive(bad), "GetNextDrive " + std::to_string(bad));

    for (long d = 0; d <= 25; ++d) {
        if (Present(d)) continue;
        long type = -7, size = -7, wantSize = 0;
        CHECK_EQ(0L, lib.DriveData(d, &type, &size), "absent drive");
        CHECK_EQ(ExpectedType(d, &wantSize), type, "type of absent drive " + std::to_string(d));
        CHECK_EQ(0L, size, "size of absent drive");
    }
    for (long bad : {-1L, 26L, 1000L}) {
        long type = -7, size = -7;
        CHECK_EQ(-1L, lib.DriveData(bad, &type, &size), "DriveData " + std::to_string(bad));
        CHECK_EQ(-7L, type, "nothing written");
        CHECK_EQ(-7L, size, "nothing written");
    }
    CHECK_EQ(-1L, lib.DriveData(2, nullptr, nullptr), "DriveData(null)");
}

void MemoryProcessorAndVersion()
{
    MEMORYSTATUS status;
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    const struct { long selector, want; } memory[] = {
        {1, static_cast<long>(status.dwTotalPhys / 1000)}, {2, 0}, {3, -1}, {4, 0}, {0, -1}, {5, -1}};
    for (const auto &m : memory) CHECK_EQ(m.want, lib.MemoryData(m.selector), "MemoryData " + std::to_string(m.selector));

    SYSTEM_INFO info;
    GetSystemInfo(&info);
    long cpu = info.dwProcessorType == 386 ? 0x21 : info.dwProcessorType == 486 ? 0x41 : 0x81;
    CHECK_EQ(cpu, lib.CPUtype(), "CPUtype");

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    char want[32];
    wsprintfA(want, "%ld.%02ld", static_cast<long>(version.dwMajorVersion), static_cast<long>(version.dwMinorVersion));
    char out[32];
    for (long kind : {0L, 2L}) {
        std::strcpy(out, "untouched");
        CHECK_EQ(0L, lib.OSversion(kind, out), "OSversion");
        CHECK_EQ(std::string(want), std::string(out), "OSversion " + std::to_string(kind));
    }
    std::strcpy(out, "untouched");
    CHECK_EQ(0L, lib.OSversion(1, out), "OSversion(1)");
    CHECK_EQ(std::string("untouched"), std::string(out), "OSversion(1) leaves the buffer");
    CHECK_EQ(0L, lib.OSversion(0, nullptr), "OSversion(null)");
}

void SetKeyValue(const char *path, const char *name, const char *value)
{
    HKEY key;
    // Keys below HARDWARE are volatile, and so must their children be.
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        CHECK_EQ(std::string("created"), std::string(path), "registry");
        return;
    }
    if (name) RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value), lstrlenA(value) + 1);
    RegCloseKey(key);
}

// Registry probes: first as Wine sets up a prefix, then with the keys a
// machine of the older kind has.
void RegistryProbes()
{
    char out[95];
    std::strcpy(out, "old");
    long before = lib.VideoType32(out);
    HKEY probe;
    bool monitor = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Monitor\\Default_Monitor\\0001", 0, KEY_QUERY_VALUE,
                                 &probe) == ERROR_SUCCESS;
    if (monitor) RegCloseKey(probe);
    CHECK_EQ(monitor ? 1L : 0L, before, "VideoType32 as the prefix is");
    if (!monitor) CHECK_EQ(std::string(), std::string(out), "VideoType32 empties its buffer");

    const char *adapter = "HARDWARE\\DESCRIPTION\\System\\MultifunctionAdapter\\7";
    std::string pointer = std::string(adapter) + "\\PointerController\\0\\PointerPeripheral\\0";
    std::string serial = std::string(adapter) + "\\SerialController";
    std::string parallel = std::string(adapter) + "\\ParallelController";
    SetKeyValue("Enum\\Monitor\\Default_Monitor\\0001", "DeviceDesc", "Tally Test Monitor");
    SetKeyValue(pointer.c_str(), "Identifier", std::string(120, 'm').c_str());
    SetKeyValue((serial + "\\0").c_str(), nullptr, nullptr);
    SetKeyValue((serial + "\\1").c_str(), nullptr, nullptr);
    SetKeyValue((parallel + "\\0").c_str(), nullptr, nullptr);

    CHECK_EQ(1L, lib.VideoType32(out), "VideoType32");
    CHECK_EQ(std::string("Tally Test Monitor"), std::string(out), "monitor description");
    char wide[100];
    std::memset(wide, '#', sizeof wide);
    CHECK_EQ(1L, lib.MouseType32(wide), "MouseType32");
    CHECK_EQ(true, strnlen(wide, 95) < 95, "over-long identifier: terminated within 95 bytes");
    CHECK_EQ(std::string(5, '#'), std::string(wide + 95, 5), "over-long identifier: nothing past 95 bytes");
    CHECK_EQ(2L, lib.Ports(1), "serial ports");
    CHECK_EQ(1L, lib.Ports(2), "parallel ports");
    CHECK_EQ(0L, lib.VideoType32(nullptr), "VideoType32(null)");
    CHECK_EQ(0L, lib.MouseType32(nullptr), "MouseType32(null)");
}

void DefaultPrinterEntry()
{
    const struct {
        const char *entry;  // null: no entry at all
        long size;
        long result;
        const char *out;
    } cases[] = {
        {"Office Laser,wineps.drv,LPT1:", 81, 0, "Office Laser"},
        {"Office Laser,wineps.drv,LPT1:", 7, 0, "Office"},
        {"Office Laser,wineps.drv,LPT1:", 1, 0, ""},
        {"NameOnly", 81, 0, "NameOnly"},
        {",,,", 81, -1, ""},
        {nullptr, 81, -1, ""},
    };
    for (const auto &c : cases) {
        WriteProfileStringA("windows", "device", c.entry);
        char out[90];
        std::memset(out, '#', sizeof out);
        std::string label = std::string(c.entry ? c.entry : "(none)") + " size " + std::to_string(c.size);
        CHECK_EQ(c.result, lib.DefaultPrinter(out, c.size), label);
        CHECK_EQ(std::string(c.out), std::string(out, strnlen(out, sizeof out)), label);
        CHECK_EQ('#', out[c.size], label + ": nothing past the size");
    }
    char out[8] = "keep";
    CHECK_EQ(-1L, lib.DefaultPrinter(out, 0), "size 0");
    CHECK_EQ(std::string("keep"), std::string(out), "size 0 leaves the buffer");
    CHECK_EQ(-1L, lib.DefaultPrinter(out, -5), "negative size");
    CHECK_EQ(-1L, lib.DefaultPrinter(nullptr, 10), "null buffer");
}

}  // namespace

int main(int argc, char **argv)
{
    scratch = argc > 1 ? argv[1] : ".";
    if (!TallyLoad(&lib)) {
        std::printf("FAILED: cannot load tallylib.dll or bind its exports\n");
        return 1;
    }
    ExportsByNameAndOrdinal();
    MessageTexts();
    StringSubstitution();
    SmallExports();
    Stamps();
    Drives();
    MemoryProcessorAndVersion();
    RegistryProbes();
    DefaultPrinterEntry();
    CHECK_EQ(static_cast<long>(TALLY_ERR_FILE), lib.Print(nullptr, 0), "Print(null)");
    std::printf("%d failures\n", CheckFailures());
    return CheckFailures() == 0 ? 0 : 1;
}
