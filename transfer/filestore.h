// The outgoing and incoming folders as the transfer engine uses them.
// Paths here are relative to a base folder, components separated by backslash.
#pragma once
#include <cstdint>
#include "fs.h"

enum StoreBase { BaseIncoming, BaseOutgoing, BaseUnsent };

enum : int {
    MaxListedPath = 1019,     // longest relative path the scan offers
    MaxComponent = 259,       // longest folder or file name
    ReceivePathSize = 1100,   // a sent path, safe-name growth and clash digits
    DisplayNameSize = 260,
};

// Null-terminated array of relative paths, or nullptr when nothing was found.
char** ScanOutgoing();
// Frees the list; with moveUnsent, every non-empty entry goes to "!unsent" first.
void ReleaseFileList(char** list, bool moveUnsent);
void MoveToUnsent(const char* path);
// Creates the folders of path below base. False only when base cannot be entered.
bool MakeFolders(const char* path, StoreBase base);

// Creates a new empty incoming file for the received path (ReceivePathSize
// bytes); on success the buffer holds the path actually created. True on failure.
bool PrepareIncomingFile(char* receivePath);
// Incoming opens for writing, outgoing for reading; kNoFile on failure.
FsHandle OpenStoredFile(const char* path, StoreBase base);
bool ReadOutgoing(FsHandle file, uint8_t* buffer, int count);        // true on failure
bool WriteIncoming(FsHandle file, const uint8_t* data, int count);   // true on failure
int32_t StoredFileSize(FsHandle file);  // -1 when unknown or 2 GiB or more
void CloseStoredFile(FsHandle file);
void DeleteStoredFile(const char* path, StoreBase base);

// Last component of path into dest (DisplayNameSize bytes); empty when a
// component is too long.
void DisplayName(const char* path, char* dest);
bool IsTextFile(const char* name);
