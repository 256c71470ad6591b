// Path resolution for the file store: every operation starts from its base
// folder and walks down, refusing any component that could lead elsewhere.
#include "store_paths.h"

#include <cstring>

#include "fs.h"
#include "settings.h"

const char kUnsentFolder[] = "!unsent";

size_t ComponentLength(const char* path) {
    const char* sep = strchr(path, '\\');
    return sep != nullptr ? static_cast<size_t>(sep - path) : strlen(path);
}

bool UsableComponent(const char* component, size_t length) {
    if (length == 0 || length > MaxComponent) return false;
    if (memchr(component, '/', length) != nullptr) return false;
    if (memchr(component, '\\', length) != nullptr) return false;
    char copy[ComponentBufferSize];
    memcpy(copy, component, length);
    copy[length] = '\0';
    if (strcmp(copy, ".") == 0 || strcmp(copy, "..") == 0) return false;
    return !FsReservedName(copy);
}

bool AppendComponent(char* full, const char* component, size_t length) {
    size_t used = strlen(full);
    char sep = FsSeparator();
    bool needSep = used > 0 && full[used - 1] != sep && full[used - 1] != '/';
    size_t needed = used + (needSep ? 1 : 0) + length;
    if (needed >= FullPathSize) return false;
    if (needSep) full[used++] = sep;
    memcpy(full + used, component, length);
    full[used + length] = '\0';
    return true;
}

static bool CopyBase(const char* folder, char* full) {
    size_t n = strnlen(folder, SettingPathSize);
    if (n == 0 || n >= SettingPathSize) return false;
    memcpy(full, folder, n);
    full[n] = '\0';
    return FsFolderReachable(full);
}

bool EnterBase(StoreBase base, char* full, bool createUnsent) {
    if (base == BaseIncoming) return CopyBase(InDirectory(), full);
    if (!CopyBase(OutDirectory(), full)) return false;
    if (base == BaseOutgoing) return true;
    if (!AppendComponent(full, kUnsentFolder, strlen(kUnsentFolder))) return false;
    if (createUnsent) FsMakeFolder(full);
    return FsIsFolder(full);
}

bool ResolveStoredFile(StoreBase base, const char* path, char* full) {
    if (path == nullptr || !EnterBase(base, full, false)) return false;
    for (;;) {
        size_t n = ComponentLength(path);
        if (!UsableComponent(path, n) || !AppendComponent(full, path, n)) return false;
        if (path[n] == '\0') return true;
        if (!FsIsFolder(full)) return false;
        path += n + 1;
    }
}
