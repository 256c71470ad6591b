// Files a started batch did not send go to "!unsent", where later scans
// leave them alone.
#include <cstdlib>
#include <cstring>

#include "filestore.h"
#include "fs.h"
#include "store_paths.h"

bool MakeFolders(const char* path, StoreBase base) {
    char full[FullPathSize];
    if (path == nullptr || !EnterBase(base, full, true)) return false;
    for (;;) {
        size_t n = ComponentLength(path);
        if (path[n] == '\0') return true;
        // Stop quietly: the move that follows then fails on its own.
        if (!UsableComponent(path, n) || !AppendComponent(full, path, n)) return true;
        if (FsMakeFolder(full) == FsFailed || !FsIsFolder(full)) return true;
        path += n + 1;
    }
}

void MoveToUnsent(const char* path) {
    size_t unsentLength = strlen(kUnsentFolder);
    if (path == nullptr || strlen(path) + unsentLength + 1 >= 260) return;
    if (!MakeFolders(path, BaseUnsent)) return;
    char target[FullPathSize];
    memcpy(target, kUnsentFolder, unsentLength);
    target[unsentLength] = '\\';
    memcpy(target + unsentLength + 1, path, strlen(path) + 1);
    char from[FullPathSize];
    char to[FullPathSize];
    if (!ResolveStoredFile(BaseOutgoing, path, from)) return;
    if (!ResolveStoredFile(BaseOutgoing, target, to)) return;
    FsDeleteFile(to);
    FsMoveFile(from, to);
}

void ReleaseFileList(char** list, bool moveUnsent) {
    if (list == nullptr) return;
    for (char** entry = list; *entry != nullptr; ++entry) {
        if (moveUnsent && (*entry)[0] != '\0') MoveToUnsent(*entry);
        free(*entry);
    }
    free(list);
}
