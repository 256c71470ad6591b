// Opening, reading, sizing and deleting stored files by relative path.
#include "filestore.h"

#include "store_paths.h"

FsHandle OpenStoredFile(const char* path, StoreBase base) {
    ClearLineEndCarry();
    char full[FullPathSize];
    if (!ResolveStoredFile(base, path, full)) return kNoFile;
    return FsOpen(full, base == BaseIncoming);
}

bool ReadOutgoing(FsHandle file, uint8_t* buffer, int count) {
    if (file == kNoFile || count < 0) return true;
    return FsRead(file, buffer, count) != count;
}

int32_t StoredFileSize(FsHandle file) {
    if (file == kNoFile) return -1;
    int64_t size = FsSize(file);
    if (size < 0 || size >= INT64_C(2147483648)) return -1;
    return static_cast<int32_t>(size);
}

void CloseStoredFile(FsHandle file) {
    if (file != kNoFile) FsClose(file);
}

void DeleteStoredFile(const char* path, StoreBase base) {
    char full[FullPathSize];
    if (ResolveStoredFile(base, path, full)) FsDeleteFile(full);
}

bool StoredFileStamp(const char* path, StoreBase base, FsStamp* stamp) {
    char full[FullPathSize];
    return ResolveStoredFile(base, path, full) && FsStampOf(full, stamp);
}
