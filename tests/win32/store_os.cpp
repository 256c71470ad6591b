#include "store_os.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace storeos {
namespace {
// Wide \\?\ form so that trees deeper than MAX_PATH can be cleaned up too.
std::wstring Long(const std::string& path) {
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return L"\\\\?\\" + wide;
}

void RemoveWide(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (a & FILE_ATTRIBUTE_DIRECTORY));
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(path.c_str());
        return;
    }
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &data);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") RemoveWide(path + L"\\" + name);
            } while (FindNextFileW(h, &data));
            FindClose(h);
        }
    }
    RemoveDirectoryW(path.c_str());
}

HANDLE OpenForChange(const std::string& path, DWORD access) {
    return CreateFileW(Long(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
}  // namespace

std::string MakeTempRoot() {
    char dir[MAX_PATH];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n >= sizeof dir) abort();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = std::string(dir) + "mosslane-store-" +
                                std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) return candidate;
    }
    abort();
}

void RemoveTree(const std::string& path) { RemoveWide(Long(path)); }

bool SetAge(const std::string& path, int secondsAgo) {
    HANDLE h = OpenForChange(path, FILE_WRITE_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= static_cast<ULONGLONG>(secondsAgo) * 10000000ULL;
    FILETIME then;
    then.dwLowDateTime = t.LowPart;
    then.dwHighDateTime = t.HighPart;
    BOOL ok = SetFileTime(h, nullptr, nullptr, &then);
    CloseHandle(h);
    return ok != 0;
}

bool SetFileLength(const std::string& path, int64_t length) {
    HANDLE h = OpenForChange(path, GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER at;
    at.QuadPart = length;
    BOOL ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok != 0;
}

bool MakeSymlink(const std::string&, const std::string&) { return false; }

bool Exists(const std::string& path) {
    return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace storeos
