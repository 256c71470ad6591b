// Drive enumeration and per-drive type and size codes.
#include <windows.h>
#include <winioctl.h>

#include "tallylib.h"

namespace {

constexpr long LAST_DRIVE = 25;

struct DriveKind {
    long type;
    long size;
};

constexpr DriveKind UNDETERMINED = {0, 0};
constexpr DriveKind NO_SUCH_DRIVE = {2, 0};
constexpr DriveKind DISK_360K = {4, 360};
constexpr DriveKind DISK_1200K = {8, 1200};
constexpr DriveKind DISK_720K = {16, 720};
constexpr DriveKind DISK_1440K = {32, 1440};
constexpr DriveKind DISK_2880K = {64, 2880};
constexpr long TYPE_FIXED = 128;
constexpr DriveKind NETWORK = {256, 0};
constexpr DriveKind CDROM = {5, 0};
constexpr long TYPE_RAMDISK = 512;

struct Root {
    char text[4];
};

Root RootOf(long drive) { return Root{{static_cast<char>('A' + drive), ':', '\\', '\0'}}; }

// Total size in units of 1,000,000 bytes; 0 when the query fails.
long TotalMegabytes(const char *root)
{
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return 0;
    unsigned long long bytes = 1ULL * sectorsPerCluster * bytesPerSector * totalClusters;
    return static_cast<long>(bytes / 1000000);
}

DriveKind KindOfMedia(MEDIA_TYPE media)
{
    switch (media) {
    case F5_1Pt2_512: return DISK_1200K;
    case F3_1Pt44_512: return DISK_1440K;
    case F3_2Pt88_512: return DISK_2880K;
    case F3_720_512: return DISK_720K;
    case F5_360_512: return DISK_360K;
    default: return UNDETERMINED;
    }
}

// The last media type the drive supports tells the diskette kind.
DriveKind ProbeRemovable(long drive)
{
    char device[] = "\\\\.\\A:";
    device[4] = static_cast<char>('A' + drive);
    HANDLE h = CreateFileA(device, 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return UNDETERMINED;
    DISK_GEOMETRY records[5];
    DWORD returned = 0;
    DriveKind kind = UNDETERMINED;
    if (DeviceIoControl(h, IOCTL_DISK_GET_MEDIA_TYPES, nullptr, 0, records, sizeof records, &returned, nullptr)) {
        DWORD count = returned / sizeof(DISK_GEOMETRY);
        if (count > 0 && count <= 5) kind = KindOfMedia(records[count - 1].MediaType);
    }
    CloseHandle(h);
    return kind;
}

DriveKind KindOf(long drive)
{
    Root root = RootOf(drive);
    switch (GetDriveTypeA(root.text)) {
    case DRIVE_NO_ROOT_DIR: return NO_SUCH_DRIVE;
    case DRIVE_REMOVABLE: return ProbeRemovable(drive);
    case DRIVE_FIXED: return {TYPE_FIXED, TotalMegabytes(root.text)};
    case DRIVE_REMOTE: return NETWORK;
    case DRIVE_CDROM: return CDROM;
    case DRIVE_RAMDISK: return {TYPE_RAMDISK, TotalMegabytes(root.text)};
    default: return UNDETERMINED;
    }
}

bool IsPresent(long drive)
{
    Root root = RootOf(drive);
    switch (GetDriveTypeA(root.text)) {
    case DRIVE_REMOVABLE:
    case DRIVE_FIXED:
    case DRIVE_REMOTE:
    case DRIVE_CDROM:
    case DRIVE_RAMDISK: return true;
    default: return false;
    }
}

}  // namespace

extern "C" long TALLY_CDECL TallyCard_GetNextDrive(long previous)
{
    if (previous < -1 || previous > LAST_DRIVE - 1) return -1;
    for (long d = previous + 1; d <= LAST_DRIVE; ++d)
        if (IsPresent(d)) return d;
    return -1;
}

extern "C" long TALLY_CDECL TallyCard_DriveData(long drive, long *type, long *size)
{
    if (drive < 0 || drive > LAST_DRIVE || !type || !size) return -1;
    DriveKind kind = KindOf(drive);
    // An unknown B: is reported as absent, as it is on single-floppy machines.
    if (drive == 1 && GetDriveTypeA("B:\\") == DRIVE_UNKNOWN) kind = NO_SUCH_DRIVE;
    *type = kind.type;
    *size = kind.size;
    return 0;
}
