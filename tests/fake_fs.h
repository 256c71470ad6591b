// An in-memory file system behind the file-operation seam, for tests that
// need to see the order of disk operations or to make them fail, and for the
// fuzz targets, which must know that nothing is touched outside one folder.
// Paths use '/' and start at "/"; folders must be made before use.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace fakefs {

void Reset();
void MakeFolder(const std::string& path);
void PutFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);
std::string Content(const std::string& path);
// Every file and folder, sorted; folders end with '/'.
std::vector<std::string> Tree();

// One line per operation that changes or secures data: "write PATH",
// "flush PATH", "rename FROM TO", "flushfolder PATH", "delete PATH",
// "create PATH", "mkdir PATH"; each with the moment the test gave it.
struct Entry {
    std::string op;
    size_t moment;
};
const std::vector<Entry>& Journal();
// Supplies the moment for each journal entry (for instance how many line
// writes have happened so far).
void SetMomentSource(std::function<size_t()> source);

// Faults: writes fail once a file would grow beyond limit bytes (a full
// disk); flushes, renames or folder flushes fail.
void SetFileLimit(size_t limit);
void SetFlushFails(bool fail);
void SetRenameFails(bool fail);
// Deletes that fail, or that report success and keep the file (Wine's delete
// in a folder the user may not write to: the removal happens at close, and its
// failure goes unreported).
enum class DeleteFault { None, Refused, Ignored };
void SetDeleteFault(DeleteFault fault);

// Every operation that changes the disk must act strictly below this folder,
// through plain components (no ".", ".." or empty ones); anything else ends
// the process at once, as a fuzz target wants. Empty: no check.
void SetConfinedTo(const std::string& folder);

}  // namespace fakefs
