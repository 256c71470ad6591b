// The outgoing scan: a depth-first list of the files waiting to be sent, with
// empty sub-folders cleared away as it goes.
#include <cstdlib>
#include <cstring>

#include "filestore.h"
#include "fs.h"
#include "message.h"
#include "store_paths.h"

namespace {
// Folders this many seconds old or less may still be filling up.
constexpr int64_t EmptyFolderGrace = 60;
constexpr int NotListed = -1;
// A file written this recently may still be growing: it waits for a later scan.
constexpr int64_t SettleMs = 2000;

// State of the scan in progress; the recursion itself only keeps its
// directory handle and one entry per level.
char prefix[MaxListedPath + 1];
size_t prefixLength = 0;
char scratch[FullPathSize];
char** list = nullptr;
int listCount = 0;
bool lowMemory = false;

// Seconds from the date fields with 365.25 days a year and the month lengths
// of a common year: coarse around the new year and leap days, which only
// moves the moment an empty folder goes.
int64_t AgeSeconds(const FsTime& t) {
    static const int daysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int month = t.month >= 1 && t.month <= 12 ? t.month : 1;
    int64_t days = daysBefore[month - 1] + t.day;
    return int64_t{t.year} * 31557600 + days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

bool EqualsNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// Full native path of the prefix, optionally with one more name, in scratch.
bool ScratchPath(const char* name) {
    scratch[0] = '\0';
    if (!EnterBase(BaseOutgoing, scratch, false)) return false;
    const char* p = prefix;
    while (*p != '\0') {
        size_t n = ComponentLength(p);
        if (!AppendComponent(scratch, p, n)) return false;
        p += n + (p[n] == '\\' ? 1 : 0);
    }
    return name == nullptr || AppendComponent(scratch, name, strlen(name));
}

void PushPrefix(const char* name) {
    if (prefixLength > 0) prefix[prefixLength++] = '\\';
    size_t n = strlen(name);
    memcpy(prefix + prefixLength, name, n + 1);
    prefixLength += n;
}

void PopPrefix(size_t length) {
    prefixLength = length;
    prefix[length] = '\0';
}

// Appends prefix\name to the list; false when memory ran out.
bool AddFile(const char* name) {
    size_t n = strlen(name);
    char* path = static_cast<char*>(malloc(prefixLength + n + 2));
    if (path == nullptr) return false;
    char** grown = static_cast<char**>(realloc(list, sizeof(char*) * (listCount + 2)));
    if (grown == nullptr) {
        free(path);
        return false;
    }
    list = grown;
    memcpy(path, prefix, prefixLength);
    size_t at = prefixLength;
    if (at > 0) path[at++] = '\\';
    memcpy(path + at, name, n + 1);
    list[listCount++] = path;
    list[listCount] = nullptr;
    return true;
}

int ListFolder(bool topLevel);

// A file still being written, or a partial file of an incoming transfer
// (which may share the folder), is not offered.
bool Offerable(const char* name) {
    if (IsPartialName(name)) return false;
    FsStamp stamp;
    if (!ScratchPath(name) || !FsStampOf(scratch, &stamp)) return false;
    int64_t age = FsNowMs() - stamp.modifiedMs;
    // A time ahead of the clock came with the file (an unpacked archive),
    // it does not mean a writer is at work.
    return age >= SettleMs || age < -SettleMs;
}

// Lists a sub-folder and removes it when it is empty and has been for a while.
void ScanSubFolder(const char* name) {
    FsTime changed;
    bool timeKnown = ScratchPath(name) && FsLastWriteTime(scratch, &changed);
    size_t parentLength = prefixLength;
    PushPrefix(name);
    int entries = ListFolder(false);
    PopPrefix(parentLength);
    if (entries != 0 || !timeKnown) return;
    FsTime now;
    FsNowUtc(&now);
    if (AgeSeconds(now) - AgeSeconds(changed) > EmptyFolderGrace && ScratchPath(name))
        FsRemoveFolder(scratch);
}

// Lists the folder named by the prefix; returns its entry count, or
// NotListed when it could not be read.
int ListFolder(bool topLevel) {
    if (!ScratchPath(nullptr)) return NotListed;
    FsDir dir = FsOpenDir(scratch);
    if (dir == nullptr) return NotListed;
    int entries = 0;
    FsEntry entry;
    while (FsNextEntry(dir, &entry)) {
        if (entry.isFolder && EqualsNoCase(entry.name, kUnsentFolder)) continue;
        ++entries;
        // A backslash inside a name cannot travel in a relative path.
        if (prefixLength + strlen(entry.name) >= MaxListedPath || strchr(entry.name, '\\'))
            continue;
        if (entry.isFolder) {
            ScanSubFolder(entry.name);
        } else if (!Offerable(entry.name)) {
            continue;
        } else if (!AddFile(entry.name)) {
            if (topLevel) lowMemory = true;
            break;
        }
    }
    FsCloseDir(dir);
    return entries;
}
}  // namespace

char** ScanOutgoing() {
    list = static_cast<char**>(malloc(sizeof(char*)));
    if (list == nullptr) {
        ShowMessage(MessageLowMemory);
        return nullptr;
    }
    list[0] = nullptr;
    listCount = 0;
    lowMemory = false;
    PopPrefix(0);
    ListFolder(true);
    char** found = list;
    list = nullptr;
    // Shown once the scan's own state is free: the box serves window messages.
    if (lowMemory) ShowMessage(MessageLowMemory);
    if (listCount == 0) {
        free(found);
        return nullptr;
    }
    return found;
}
