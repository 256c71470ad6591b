// What the file-store tests need from the machine beyond the file store's own
// layer: a scratch folder, old timestamps, sparse sizes, links.
#pragma once
#include <cstdint>
#include <string>

namespace storeos {
// A new empty folder under the system's temporary folder (native path).
std::string MakeTempRoot();
// Removes a tree, links removed and not followed; copes with long paths.
void RemoveTree(const std::string& path);
// Sets the last-write time of a file or folder to secondsAgo before now.
bool SetAge(const std::string& path, int secondsAgo);
// Makes an existing file exactly length bytes long (sparse where possible).
bool SetFileLength(const std::string& path, int64_t length);
// Symbolic link at link pointing to target; false where not available.
bool MakeSymlink(const std::string& target, const std::string& link);
// True when anything, a dangling link included, is at path.
bool Exists(const std::string& path);
}  // namespace storeos
