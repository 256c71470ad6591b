// File-system operations on full native paths; one implementation per platform.
// Everything the file store decides is portable; this only touches the disk.
#pragma once
#include <cstdint>

typedef intptr_t FsHandle;
constexpr FsHandle kNoFile = -1;

enum FsResult { FsOk, FsExists, FsFailed };

struct FsTime { int year, month, day, hour, minute, second; };  // UTC

struct FsEntry {
    char name[260];
    bool isFolder;
};

typedef void* FsDir;

// The native separator for joining a base folder and relative components.
char FsSeparator();
// True for names the platform would not store as ordinary files (device names
// and the like), which the file store then renames.
bool FsReservedName(const char* component);

FsResult FsMakeFolder(const char* path);
// True for a real folder; a symbolic link or other redirection is not one.
bool FsIsFolder(const char* path);
// True when path leads to a folder, links followed: for the base folders the
// user chose, which may themselves be reached through a link.
bool FsFolderReachable(const char* path);
// Creates a new empty file; FsExists when something already has that name.
FsResult FsCreateNew(const char* path);
// Opens an existing regular file, never through a symbolic link.
FsHandle FsOpen(const char* path, bool forWrite);
int FsRead(FsHandle file, void* buffer, int count);          // bytes read, -1 on error
int FsWrite(FsHandle file, const void* data, int count);     // bytes written, -1 on error
int64_t FsSize(FsHandle file);                               // -1 on error
void FsClose(FsHandle file);
// Writes what the file holds through to the disk; false when that failed.
bool FsFlush(FsHandle file);
bool FsDeleteFile(const char* path);
bool FsMoveFile(const char* from, const char* to);
// Renames a file, never replacing one: FsExists when to is taken.
FsResult FsRenameNew(const char* from, const char* to);
// Makes the names in a folder durable (a rename into it); false on failure.
bool FsFlushFolder(const char* path);
bool FsRemoveFolder(const char* path);

// Lists a folder without "." and "..", and without anything that is neither a
// real folder nor a regular file (symbolic links, junctions, devices, pipes);
// nullptr when it cannot be listed.
FsDir FsOpenDir(const char* path);
bool FsNextEntry(FsDir dir, FsEntry* entry);
void FsCloseDir(FsDir dir);

bool FsLastWriteTime(const char* path, FsTime* time);
void FsNowUtc(FsTime* time);

// What tells one version of a file from the next: its size, its last write
// in milliseconds on the scale of FsNowMs, and which file it is (0 where the
// platform cannot say). Links are not followed; false when nothing is at
// path, so it also tells whether a name is taken.
struct FsStamp {
    int64_t size;
    int64_t modifiedMs;
    uint64_t identity;
};
bool FsStampOf(const char* path, FsStamp* stamp);
int64_t FsNowMs();
