// Incoming names: every component made safe for this machine, folders created
// below the incoming folder, and a fresh name found when one is taken.
#include <cstdio>
#include <cstring>

#include "filestore.h"
#include "fs.h"
#include "store_paths.h"

namespace {

bool IsUnsafeChar(unsigned char c) {
    return (c >= 0x01 && c <= 0x1F) || strchr("/<>:\"|", c) != nullptr;
}

// A trailing dot or space becomes '_', a device name gets a leading '_'.
void AvoidReserved(char* name) {
    size_t n = strlen(name);
    if (n == 0 || !FsReservedName(name)) return;
    if (name[n - 1] == '.' || name[n - 1] == ' ') name[n - 1] = '_';
    if (!FsReservedName(name)) return;
    memmove(name + 1, name, n + 1);
    name[0] = '_';
}

// Safe form of one received component into out (ComponentBufferSize + 1
// bytes); empty when the component carries no name ("" or ".").
void MakeSafe(const char* component, size_t length, char* out) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(component[i]);
        out[i] = IsUnsafeChar(c) ? '_' : static_cast<char>(c);
    }
    out[length] = '\0';
    if (strcmp(out, ".") == 0) out[0] = '\0';
    if (strcmp(out, "..") == 0) strcpy(out, "__");
    AvoidReserved(out);
    if (IsPartialName(out)) out[0] = '_';  // that name belongs to partial files
}

bool AppendRelative(char* relative, const char* component) {
    size_t used = strlen(relative);
    size_t n = strlen(component);
    size_t needed = used + (used > 0 ? 1 : 0) + n;
    if (needed >= ReceivePathSize) return false;
    if (used > 0) relative[used++] = '\\';
    memcpy(relative + used, component, n + 1);
    return true;
}

// Creates (or enters) each folder of the received path; full and relative
// grow with the safe names. Returns the final name, or nullptr on failure.
const char* MakeIncomingFolders(const char* path, char* full, char* relative) {
    for (;;) {
        size_t n = ComponentLength(path);
        if (n > MaxComponent) return nullptr;
        if (path[n] == '\0') return path;
        char safe[ComponentBufferSize + 1];
        MakeSafe(path, n, safe);
        path += n + 1;
        if (safe[0] == '\0') continue;
        if (strlen(safe) > MaxComponent || !AppendRelative(relative, safe)) return nullptr;
        if (!AppendComponent(full, safe, strlen(safe))) return nullptr;
        if (FsMakeFolder(full) == FsFailed || !FsIsFolder(full)) return nullptr;
    }
}

// The first candidate of name that nothing in folder has, links and partial
// files included; false when none fits.
bool FreeCandidate(const char* folder, const char* name, size_t room, unsigned* counter) {
    for (unsigned n = 0; n <= MaxClashNumber; ++n) {
        char candidate[ComponentBufferSize];
        if (!NumberedName(name, n, room, candidate)) return false;
        if (FsReservedName(candidate)) continue;  // COM.txt numbered is COM1.txt
        char full[FullPathSize];
        memcpy(full, folder, strlen(folder) + 1);
        if (!AppendComponent(full, candidate, strlen(candidate))) return false;
        FsStamp taken;
        if (!FsStampOf(full, &taken)) {
            *counter = n;
            return true;
        }
    }
    return false;
}
}  // namespace

bool PrepareIncomingFile(char* receivePath) {
    if (receivePath == nullptr || strnlen(receivePath, ReceivePathSize) >= ReceivePathSize)
        return true;
    char full[FullPathSize];
    if (!EnterBase(BaseIncoming, full, false)) return true;
    char relative[ReceivePathSize] = "";
    const char* finalName = MakeIncomingFolders(receivePath, full, relative);
    if (finalName == nullptr) return true;
    SetIncomingText(IsTextFile(finalName));
    char safe[ComponentBufferSize + 1];
    MakeSafe(finalName, strlen(finalName), safe);
    if (safe[0] == '\0') strcpy(safe, "_");
    size_t used = strlen(relative);
    if (used + 2 >= ReceivePathSize) return true;
    size_t room = ReceivePathSize - 1 - used - (used > 0 ? 1 : 0);
    unsigned counter = 0;
    if (!FreeCandidate(full, safe, room, &counter)) return true;
    char chosen[ComponentBufferSize];
    NumberedName(safe, counter, room, chosen);
    if (!BeginPartialFile(full, safe, counter, room)) return true;
    AppendRelative(relative, chosen);
    memcpy(receivePath, relative, strlen(relative) + 1);
    return false;
}

// Candidate number `counter` for the name: stem, digits, suffix from the
// first dot.
bool NumberedName(const char* name, unsigned counter, size_t room, char* out) {
    int n;
    if (counter == 0) {
        n = snprintf(out, ComponentBufferSize, "%s", name);
    } else {
        const char* dot = strchr(name, '.');
        int stem = static_cast<int>(dot != nullptr ? dot - name : strlen(name));
        n = snprintf(out, ComponentBufferSize, "%.*s%u%s", stem, name, counter,
                     dot != nullptr ? dot : "");
    }
    return n > 0 && n <= MaxComponent && static_cast<size_t>(n) <= room;
}

void DisplayName(const char* path, char* dest) {
    dest[0] = '\0';
    if (path == nullptr) return;
    const char* last = path;
    for (;;) {
        size_t n = ComponentLength(path);
        if (n > MaxComponent) return;
        if (path[n] == '\0') break;
        path += n + 1;
        last = path;
    }
    size_t n = strlen(last);
    memcpy(dest, last, n + 1);
}
