// The incoming file being received: written under a partial name beside its
// final one, flushed, then renamed, so that no name a user or a program looks
// for ever shows half a file.
#include <cstdio>
#include <cstring>

#include "filestore.h"
#include "fs.h"
#include "store_paths.h"

namespace {
const char kPartialPrefix[] = "!partial.";
constexpr size_t PartialPrefixLength = sizeof kPartialPrefix - 1;
constexpr size_t MaxPartialDigits = 9;
constexpr unsigned MaxPartialNumber = 999;

// The prepared file: where it is written, where it goes, and how its final
// name was chosen so that a clash at the finish numbers on from there.
struct Pending {
    bool active;
    char folder[FullPathSize];
    char partial[FullPathSize];
    char safeName[ComponentBufferSize + 1];
    unsigned counter;
    size_t room;
};
Pending pending;
// A partial file that could not be removed when its transfer failed (the
// folder had turned read-only, say): tried again before the next file.
char stale[FullPathSize];

bool LowerEquals(const char* name, const char* lower, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

bool JoinInto(char* out, const char* folder, const char* name) {
    size_t n = strlen(folder);
    if (n >= FullPathSize) return false;
    memcpy(out, folder, n + 1);
    return AppendComponent(out, name, strlen(name));
}

// Renames the partial file to the first free candidate from the chosen one
// on; the name it got goes into finalName.
bool RenameToFinal(char* finalName) {
    for (unsigned n = pending.counter; n <= MaxClashNumber; ++n) {
        if (!NumberedName(pending.safeName, n, pending.room, finalName)) return false;
        if (FsReservedName(finalName)) continue;
        char target[FullPathSize];
        if (!JoinInto(target, pending.folder, finalName)) return false;
        FsResult result = FsRenameNew(pending.partial, target);
        if (result == FsOk) return true;
        if (result == FsFailed) return false;
    }
    return false;
}

// Replaces the last component of the receive path by name.
void SetLastComponent(char* receivePath, const char* name) {
    char* last = strrchr(receivePath, '\\');
    size_t keep = last != nullptr ? static_cast<size_t>(last - receivePath) + 1 : 0;
    size_t n = strlen(name);
    if (keep + n >= ReceivePathSize) return;  // the room check made it fit
    memcpy(receivePath + keep, name, n + 1);
}

// Whether the file is gone once deleted. Its absence decides, not the delete's
// own result: Wine removes a file when its handle closes and reports success
// even when the folder forbids it.
bool RemovedForGood(const char* path) {
    FsDeleteFile(path);
    FsStamp there;
    return !FsStampOf(path, &there);
}

void RemoveLeftoversIn(char* full, int depth) {
    FsDir dir = FsOpenDir(full);
    if (dir == nullptr) return;
    size_t length = strlen(full);
    FsEntry entry;
    while (FsNextEntry(dir, &entry)) {
        if (!AppendComponent(full, entry.name, strlen(entry.name))) continue;
        if (entry.isFolder && depth < MaxListedPath / 2) {
            RemoveLeftoversIn(full, depth + 1);
        } else if (!entry.isFolder && IsPartialName(entry.name)) {
            FsDeleteFile(full);
        }
        full[length] = '\0';
    }
    FsCloseDir(dir);
}
}  // namespace

bool IsPartialName(const char* name) {
    if (name == nullptr || !LowerEquals(name, kPartialPrefix, PartialPrefixLength)) return false;
    const char* digits = name + PartialPrefixLength;
    size_t n = strlen(digits);
    if (n == 0 || n > MaxPartialDigits) return false;
    for (size_t i = 0; i < n; ++i)
        if (digits[i] < '0' || digits[i] > '9') return false;
    return true;
}

bool BeginPartialFile(const char* folder, const char* safeName, unsigned counter, size_t room) {
    DiscardIncomingFile();
    if (stale[0] != '\0' && RemovedForGood(stale)) stale[0] = '\0';
    if (strlen(folder) >= FullPathSize || strlen(safeName) > ComponentBufferSize) return false;
    memcpy(pending.folder, folder, strlen(folder) + 1);
    memcpy(pending.safeName, safeName, strlen(safeName) + 1);
    pending.counter = counter;
    pending.room = room;
    // Another run on the same folder may be receiving too: its partial file
    // keeps its number.
    for (unsigned n = 0; n <= MaxPartialNumber; ++n) {
        char name[PartialPrefixLength + MaxPartialDigits + 1];
        snprintf(name, sizeof name, "%s%u", kPartialPrefix, n);
        if (!JoinInto(pending.partial, folder, name)) return false;
        FsResult result = FsCreateNew(pending.partial);
        if (result == FsOk) {
            pending.active = true;
            return true;
        }
        if (result == FsFailed) return false;
    }
    return false;
}

FsHandle OpenIncomingFile() {
    ClearLineEndCarry();
    if (!pending.active) return kNoFile;
    return FsOpen(pending.partial, true);
}

bool FinishIncomingFile(FsHandle file, char* receivePath) {
    bool flushed = file != kNoFile && FsFlush(file);
    CloseStoredFile(file);
    if (!pending.active || !flushed) return true;
    char finalName[ComponentBufferSize];
    if (!RenameToFinal(finalName)) return true;
    pending.active = false;
    SetLastComponent(receivePath, finalName);
    // The new name must survive a power cut as the data does.
    return !FsFlushFolder(pending.folder);
}

void DiscardIncomingFile() {
    if (!pending.active) return;
    pending.active = false;
    if (!RemovedForGood(pending.partial)) memcpy(stale, pending.partial, sizeof stale);
}

void RemoveIncomingLeftovers() {
    char full[FullPathSize];
    if (!EnterBase(BaseIncoming, full, false)) return;
    RemoveLeftoversIn(full, 0);
}
