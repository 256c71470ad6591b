#include "fake_fs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "fs.h"

namespace {
struct Node {
    bool folder;
    std::string data;
    int64_t modifiedMs;
    uint64_t identity;
};
struct Open {
    std::string path;
    size_t position;
    bool forWrite;
};
struct Listing {
    std::vector<FsEntry> entries;
    size_t next;
};

std::map<std::string, Node> nodes;
std::map<FsHandle, Open> open;
std::vector<fakefs::Entry> journal;
std::function<size_t()> momentSource;
FsHandle nextHandle = 1;
uint64_t nextIdentity = 1;
int64_t clockMs = 1700000000000;
size_t fileLimit = SIZE_MAX;
bool flushFails = false;
bool renameFails = false;
fakefs::DeleteFault deleteFault = fakefs::DeleteFault::None;
std::string confinedTo;

void Note(const std::string& op) {
    journal.push_back({op, momentSource ? momentSource() : 0});
}

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool IsFolderNode(const std::string& path) {
    if (path == "/") return true;
    auto it = nodes.find(path);
    return it != nodes.end() && it->second.folder;
}

// A changing operation outside the folder a test confined the engine to is
// the fault the fuzz targets look for: stop at once.
void CheckConfined(const char* op, const std::string& path) {
    if (confinedTo.empty()) return;
    bool below = path.size() > confinedTo.size() + 1 &&
                 path.compare(0, confinedTo.size(), confinedTo) == 0 &&
                 path[confinedTo.size()] == '/';
    bool plain = path.find("//") == std::string::npos;
    for (size_t at = confinedTo.size(); plain && at < path.size();) {
        size_t end = path.find('/', at + 1);
        std::string component = path.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        if (component.empty() || component == "." || component == "..") plain = false;
        at = end == std::string::npos ? path.size() : end;
    }
    if (below && plain) return;
    fprintf(stderr, "fake file system: %s outside %s: %s\n", op, confinedTo.c_str(), path.c_str());
    abort();
}

bool MakeNode(const std::string& path, bool folder) {
    if (nodes.count(path) != 0 || path == "/" || !IsFolderNode(Parent(path))) return false;
    nodes[path] = Node{folder, "", clockMs, nextIdentity++};
    return true;
}
}  // namespace

namespace fakefs {
void Reset() {
    nodes.clear();
    open.clear();
    journal.clear();
    momentSource = nullptr;
    fileLimit = SIZE_MAX;
    flushFails = renameFails = false;
    deleteFault = DeleteFault::None;
    confinedTo.clear();
}
void MakeFolder(const std::string& path) {
    if (path != "/" && !IsFolderNode(Parent(path))) MakeFolder(Parent(path));
    MakeNode(path, true);
}
void PutFile(const std::string& path, const std::string& content) {
    MakeFolder(Parent(path));
    MakeNode(path, false);
    nodes[path].data = content;
    nodes[path].modifiedMs = clockMs - 60000;  // settled long ago
}
bool Exists(const std::string& path) { return nodes.count(path) != 0; }
std::string Content(const std::string& path) {
    auto it = nodes.find(path);
    return it == nodes.end() ? "<none>" : it->second.data;
}
std::vector<std::string> Tree() {
    std::vector<std::string> all;
    for (const auto& n : nodes) all.push_back(n.second.folder ? n.first + "/" : n.first);
    std::sort(all.begin(), all.end());
    return all;
}
const std::vector<Entry>& Journal() { return journal; }
void SetMomentSource(std::function<size_t()> source) { momentSource = std::move(source); }
void SetFileLimit(size_t limit) { fileLimit = limit; }
void SetFlushFails(bool fail) { flushFails = fail; }
void SetRenameFails(bool fail) { renameFails = fail; }
void SetDeleteFault(DeleteFault fault) { deleteFault = fault; }
void SetConfinedTo(const std::string& folder) { confinedTo = folder; }
}  // namespace fakefs

char FsSeparator() { return '/'; }
bool FsReservedName(const char*) { return false; }

FsResult FsMakeFolder(const char* path) {
    if (nodes.count(path) != 0 || strcmp(path, "/") == 0) return FsExists;
    CheckConfined("mkdir", path);
    if (!MakeNode(path, true)) return FsFailed;
    Note(std::string("mkdir ") + path);
    return FsOk;
}
bool FsIsFolder(const char* path) { return IsFolderNode(path); }
bool FsFolderReachable(const char* path) { return path[0] != '\0' && IsFolderNode(path); }

FsResult FsCreateNew(const char* path) {
    if (nodes.count(path) != 0) return FsExists;
    CheckConfined("create", path);
    if (!MakeNode(path, false)) return FsFailed;
    Note(std::string("create ") + path);
    return FsOk;
}

FsHandle FsOpen(const char* path, bool forWrite) {
    auto it = nodes.find(path);
    if (it == nodes.end() || it->second.folder) return kNoFile;
    if (forWrite) CheckConfined("open for writing", path);
    FsHandle h = nextHandle++;
    open[h] = Open{path, 0, forWrite};
    return h;
}

int FsRead(FsHandle file, void* buffer, int count) {
    auto it = open.find(file);
    if (it == open.end() || it->second.forWrite || count < 0) return -1;
    const std::string& data = nodes[it->second.path].data;
    size_t n = std::min(static_cast<size_t>(count), data.size() - std::min(data.size(), it->second.position));
    memcpy(buffer, data.data() + it->second.position, n);
    it->second.position += n;
    return static_cast<int>(n);
}

int FsWrite(FsHandle file, const void* data, int count) {
    auto it = open.find(file);
    if (it == open.end() || !it->second.forWrite || count < 0) return -1;
    auto node = nodes.find(it->second.path);
    if (node == nodes.end()) return -1;
    std::string& content = node->second.data;
    size_t room = fileLimit > it->second.position ? fileLimit - it->second.position : 0;
    size_t n = std::min(static_cast<size_t>(count), room);
    if (n == 0 && count > 0) return -1;
    if (content.size() < it->second.position + n) content.resize(it->second.position + n);
    memcpy(&content[it->second.position], data, n);
    it->second.position += n;
    node->second.modifiedMs = clockMs;
    Note("write " + it->second.path);
    return static_cast<int>(n);
}

int64_t FsSize(FsHandle file) {
    auto it = open.find(file);
    return it == open.end() ? -1 : static_cast<int64_t>(nodes[it->second.path].data.size());
}

bool FsFlush(FsHandle file) {
    auto it = open.find(file);
    if (it == open.end() || flushFails) return false;
    Note("flush " + it->second.path);
    return true;
}

void FsClose(FsHandle file) { open.erase(file); }

bool FsDeleteFile(const char* path) {
    auto it = nodes.find(path);
    if (it == nodes.end() || it->second.folder) return false;
    if (deleteFault == fakefs::DeleteFault::Refused) return false;
    if (deleteFault == fakefs::DeleteFault::Ignored) return true;
    CheckConfined("delete", path);
    nodes.erase(it);
    Note(std::string("delete ") + path);
    return true;
}

bool FsMoveFile(const char* from, const char* to) {
    auto it = nodes.find(from);
    if (renameFails || it == nodes.end() || it->second.folder || !IsFolderNode(Parent(to))) return false;
    CheckConfined("move", from);
    CheckConfined("move", to);
    Node moved = it->second;
    nodes.erase(it);
    nodes[to] = moved;
    Note(std::string("rename ") + from + " " + to);
    return true;
}

FsResult FsRenameNew(const char* from, const char* to) {
    if (nodes.count(to) != 0) return FsExists;
    return FsMoveFile(from, to) ? FsOk : FsFailed;
}

bool FsFlushFolder(const char* path) {
    if (flushFails || !IsFolderNode(path)) return false;
    Note(std::string("flushfolder ") + path);
    return true;
}

bool FsRemoveFolder(const char* path) {
    if (!IsFolderNode(path) || strcmp(path, "/") == 0) return false;
    std::string prefix = std::string(path) + "/";
    auto child = nodes.lower_bound(prefix);
    if (child != nodes.end() && child->first.compare(0, prefix.size(), prefix) == 0) return false;
    CheckConfined("remove folder", path);
    nodes.erase(path);
    return true;
}

FsDir FsOpenDir(const char* path) {
    if (!IsFolderNode(path)) return nullptr;
    std::string prefix = strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
    Listing* listing = new Listing{{}, 0};
    for (auto it = nodes.lower_bound(prefix); it != nodes.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        std::string rest = it->first.substr(prefix.size());
        if (rest.find('/') != std::string::npos || rest.size() >= sizeof(FsEntry{}.name)) continue;
        FsEntry e;
        memcpy(e.name, rest.c_str(), rest.size() + 1);
        e.isFolder = it->second.folder;
        listing->entries.push_back(e);
    }
    return listing;
}

bool FsNextEntry(FsDir dir, FsEntry* entry) {
    Listing* listing = static_cast<Listing*>(dir);
    if (listing->next >= listing->entries.size()) return false;
    *entry = listing->entries[listing->next++];
    return true;
}

void FsCloseDir(FsDir dir) { delete static_cast<Listing*>(dir); }

bool FsLastWriteTime(const char* path, FsTime* time) {
    if (nodes.count(path) == 0 && !IsFolderNode(path)) return false;
    *time = FsTime{2026, 1, 1, 0, 0, 0};
    return true;
}

void FsNowUtc(FsTime* time) { *time = FsTime{2026, 1, 1, 0, 0, 0}; }

bool FsStampOf(const char* path, FsStamp* stamp) {
    auto it = nodes.find(path);
    if (it == nodes.end()) return false;
    *stamp = FsStamp{static_cast<int64_t>(it->second.data.size()), it->second.modifiedMs,
                     it->second.identity};
    return true;
}

int64_t FsNowMs() { return clockMs; }
