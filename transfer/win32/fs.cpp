// Win32 file system for the file store. Short paths use the ANSI calls that
// every Windows has; paths of 248 characters or more go through the wide
// calls with the \\?\ prefix, which lifts the MAX_PATH limit on NT.
#include "fs.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {
constexpr size_t LongPathFrom = 248;
constexpr int WidePathSize = 2100;

struct NativePath {
    bool wide;
    wchar_t widePath[WidePathSize];
};

// False when the path cannot be expressed (too long or not convertible).
bool ToNative(const char* path, NativePath* out) {
    out->wide = strlen(path) >= LongPathFrom;
    if (!out->wide) return true;
    const wchar_t* prefix = L"\\\\?\\";
    const char* rest = path;
    if (strncmp(path, "\\\\?\\", 4) == 0) {
        prefix = L"";
    } else if (path[0] == '\\' && path[1] == '\\') {
        prefix = L"\\\\?\\UNC\\";
        rest = path + 2;
    }
    size_t p = wcslen(prefix);
    memcpy(out->widePath, prefix, p * sizeof(wchar_t));
    int n = MultiByteToWideChar(CP_ACP, 0, rest, -1, out->widePath + p,
                                WidePathSize - static_cast<int>(p));
    if (n <= 0) return false;
    // The prefixed form takes no forward slashes.
    for (wchar_t* c = out->widePath; *c != 0; ++c) {
        if (*c == L'/') *c = L'\\';
    }
    return true;
}

DWORD Attributes(const char* path) {
    NativePath np;
    if (!ToNative(path, &np)) return INVALID_FILE_ATTRIBUTES;
    return np.wide ? GetFileAttributesW(np.widePath) : GetFileAttributesA(path);
}

HANDLE CreateNative(const char* path, DWORD access, DWORD disposition) {
    NativePath np;
    if (!ToNative(path, &np)) return INVALID_HANDLE_VALUE;
    if (np.wide)
        return CreateFileW(np.widePath, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsLinkTag(DWORD attributes, DWORD tag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The reparse tag of one file, as the directory lists it; a file that cannot
// be looked up counts as a link.
DWORD ReparseTag(const char* path) {
    NativePath np;
    if (!ToNative(path, &np)) return IO_REPARSE_TAG_SYMLINK;
    WIN32_FIND_DATAA ansi;
    WIN32_FIND_DATAW wide;
    HANDLE h = np.wide ? FindFirstFileW(np.widePath, &wide) : FindFirstFileA(path, &ansi);
    if (h == INVALID_HANDLE_VALUE) return IO_REPARSE_TAG_SYMLINK;
    FindClose(h);
    return np.wide ? wide.dwReserved0 : ansi.dwReserved0;
}

bool EqualsNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

bool IsDeviceName(const char* stem, size_t n) {
    static const char* const plain[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* name : plain) {
        if (n == 3 && EqualsNoCase(stem, name, 3)) return true;
    }
    if (n != 4 || !(EqualsNoCase(stem, "COM", 3) || EqualsNoCase(stem, "LPT", 3))) return false;
    unsigned char digit = static_cast<unsigned char>(stem[3]);
    // Superscript 1, 2 and 3 of the ANSI code page count as digits here too.
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

struct FindState {
    HANDLE handle;
    bool wide;
    bool pending;
    WIN32_FIND_DATAA ansi;
    WIN32_FIND_DATAW wideData;
};

// The current find result as an entry; false when it is to be left out.
bool TakeEntry(FindState* f, FsEntry* entry) {
    DWORD attributes = f->wide ? f->wideData.dwFileAttributes : f->ansi.dwFileAttributes;
    DWORD tag = f->wide ? f->wideData.dwReserved0 : f->ansi.dwReserved0;
    if (IsLinkTag(attributes, tag)) return false;
    bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (f->wide) {
        BOOL lossy = FALSE;
        int n = WideCharToMultiByte(CP_ACP, 0, f->wideData.cFileName, -1, entry->name,
                                    sizeof entry->name, nullptr, &lossy);
        if (n <= 0 || lossy) return false;
    } else {
        size_t n = strlen(f->ansi.cFileName);
        if (n >= sizeof entry->name) return false;
        memcpy(entry->name, f->ansi.cFileName, n + 1);
    }
    if (strcmp(entry->name, ".") == 0 || strcmp(entry->name, "..") == 0) return false;
    entry->isFolder = folder;
    return true;
}

bool FindNext(FindState* f) {
    return f->wide ? FindNextFileW(f->handle, &f->wideData) != 0
                   : FindNextFileA(f->handle, &f->ansi) != 0;
}

void ToFsTime(const SYSTEMTIME& st, FsTime* out) {
    out->year = st.wYear;
    out->month = st.wMonth;
    out->day = st.wDay;
    out->hour = st.wHour;
    out->minute = st.wMinute;
    out->second = st.wSecond;
}
}  // namespace

char FsSeparator() { return '\\'; }

bool FsReservedName(const char* component) {
    size_t n = strlen(component);
    if (n == 0) return false;
    if (component[n - 1] == '.' || component[n - 1] == ' ') return true;
    if (strchr(component, ':') != nullptr) return true;  // a drive or a stream, not a file
    const char* dot = strchr(component, '.');
    size_t stem = dot != nullptr ? static_cast<size_t>(dot - component) : n;
    while (stem > 0 && component[stem - 1] == ' ') --stem;  // "CON .txt" is CON too
    return IsDeviceName(component, stem);
}

FsResult FsMakeFolder(const char* path) {
    NativePath np;
    if (!ToNative(path, &np)) return FsFailed;
    BOOL made = np.wide ? CreateDirectoryW(np.widePath, nullptr) : CreateDirectoryA(path, nullptr);
    if (made) return FsOk;
    return GetLastError() == ERROR_ALREADY_EXISTS ? FsExists : FsFailed;
}

bool FsIsFolder(const char* path) {
    DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 && (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool FsFolderReachable(const char* path) {
    DWORD a = Attributes(path);
    return path[0] != '\0' && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FsResult FsCreateNew(const char* path) {
    HANDLE h = CreateNative(path, GENERIC_WRITE, CREATE_NEW);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return FsOk;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return FsExists;
    // A folder of that name answers "access denied"; it still takes the name.
    return Attributes(path) != INVALID_FILE_ATTRIBUTES ? FsExists : FsFailed;
}

FsHandle FsOpen(const char* path, bool forWrite) {
    DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) != 0) return kNoFile;
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkTag(a, ReparseTag(path))) return kNoFile;
    HANDLE h = CreateNative(path, forWrite ? GENERIC_WRITE : GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return kNoFile;
    return reinterpret_cast<FsHandle>(h);
}

int FsRead(FsHandle file, void* buffer, int count) {
    int done = 0;
    while (done < count) {
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file), static_cast<char*>(buffer) + done,
                      static_cast<DWORD>(count - done), &got, nullptr))
            return -1;
        if (got == 0) break;
        done += static_cast<int>(got);
    }
    return done;
}

int FsWrite(FsHandle file, const void* data, int count) {
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(count), &written,
                   nullptr))
        return -1;
    return static_cast<int>(written);
}

int64_t FsSize(FsHandle file) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(reinterpret_cast<HANDLE>(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}

void FsClose(FsHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

bool FsFlush(FsHandle file) { return FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0; }

bool FsDeleteFile(const char* path) {
    NativePath np;
    if (!ToNative(path, &np)) return false;
    return (np.wide ? DeleteFileW(np.widePath) : DeleteFileA(path)) != 0;
}

// MoveFile never replaces an existing file, which is what FsRenameNew needs.
bool FsMoveFile(const char* from, const char* to) {
    NativePath a;
    NativePath b;
    if (!ToNative(from, &a) || !ToNative(to, &b)) return false;
    if (a.wide || b.wide) {
        if (!a.wide && MultiByteToWideChar(CP_ACP, 0, from, -1, a.widePath, WidePathSize) <= 0)
            return false;
        if (!b.wide && MultiByteToWideChar(CP_ACP, 0, to, -1, b.widePath, WidePathSize) <= 0)
            return false;
        return MoveFileW(a.widePath, b.widePath) != 0;
    }
    return MoveFileA(from, to) != 0;
}

FsResult FsRenameNew(const char* from, const char* to) {
    if (FsMoveFile(from, to)) return FsOk;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return FsExists;
    return Attributes(to) != INVALID_FILE_ATTRIBUTES ? FsExists : FsFailed;
}

// The file system keeps its own names safe (NTFS logs them, FAT writes the
// directory through); a folder handle for flushing needs rights Windows 95
// does not give.
bool FsFlushFolder(const char*) { return true; }

bool FsRemoveFolder(const char* path) {
    NativePath np;
    if (!ToNative(path, &np)) return false;
    return (np.wide ? RemoveDirectoryW(np.widePath) : RemoveDirectoryA(path)) != 0;
}

FsDir FsOpenDir(const char* path) {
    char pattern[WidePathSize];
    size_t n = strlen(path);
    if (n + 3 > sizeof pattern) return nullptr;
    memcpy(pattern, path, n);
    if (n > 0 && pattern[n - 1] != '\\' && pattern[n - 1] != '/') pattern[n++] = '\\';
    pattern[n++] = '*';
    pattern[n] = '\0';
    FindState* f = static_cast<FindState*>(calloc(1, sizeof(FindState)));
    NativePath* np = static_cast<NativePath*>(malloc(sizeof(NativePath)));
    bool ok = f != nullptr && np != nullptr && ToNative(pattern, np);
    if (ok) {
        f->wide = np->wide;
        f->handle = f->wide ? FindFirstFileW(np->widePath, &f->wideData)
                            : FindFirstFileA(pattern, &f->ansi);
        ok = f->handle != INVALID_HANDLE_VALUE;
    }
    free(np);
    if (!ok) {
        free(f);
        return nullptr;
    }
    f->pending = true;
    return f;
}

bool FsNextEntry(FsDir dir, FsEntry* entry) {
    FindState* f = static_cast<FindState*>(dir);
    for (;;) {
        if (!f->pending && !FindNext(f)) return false;
        f->pending = false;
        if (TakeEntry(f, entry)) return true;
    }
}

void FsCloseDir(FsDir dir) {
    FindState* f = static_cast<FindState*>(dir);
    FindClose(f->handle);
    free(f);
}

bool FsLastWriteTime(const char* path, FsTime* time) {
    NativePath np;
    if (!ToNative(path, &np)) return false;
    // Finding the entry itself gives its time on every Windows; the attribute
    // query that would also do came only with Windows 98.
    FILETIME written;
    if (np.wide) {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW(np.widePath, &found);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        written = found.ftLastWriteTime;
    } else {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA(path, &found);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        written = found.ftLastWriteTime;
    }
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&written, &st)) return false;
    ToFsTime(st, time);
    return true;
}

namespace {
int64_t FileTimeMs(const FILETIME& t) {
    uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000);
}
}  // namespace

bool FsStampOf(const char* path, FsStamp* stamp) {
    NativePath np;
    if (!ToNative(path, &np)) return false;
    FILETIME written;
    DWORD high, low;
    if (np.wide) {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW(np.widePath, &found);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        written = found.ftLastWriteTime;
        high = found.nFileSizeHigh;
        low = found.nFileSizeLow;
    } else {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA(path, &found);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        written = found.ftLastWriteTime;
        high = found.nFileSizeHigh;
        low = found.nFileSizeLow;
    }
    stamp->size = (static_cast<int64_t>(high) << 32) | low;
    stamp->modifiedMs = FileTimeMs(written);
    stamp->identity = 0;
    return true;
}

int64_t FsNowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now);
}

void FsNowUtc(FsTime* time) {
    SYSTEMTIME st;
    GetSystemTime(&st);
    ToFsTime(st, time);
}
