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

// Starts an incoming file for the received path (ReceivePathSize bytes): the
// final name is chosen (made safe, numbered when taken) and the data goes to
// a partial file beside it until FinishIncomingFile. On success the buffer
// holds the path the file will have. True on failure.
bool PrepareIncomingFile(char* receivePath);
// The partial file of the prepared incoming file, open for writing; kNoFile
// on failure.
FsHandle OpenIncomingFile();
// Flushes and closes the file, then gives it its final name (numbered
// further if that was taken meanwhile); the buffer is updated to it. Only
// after this returns false is the file safe on disk. True on failure.
bool FinishIncomingFile(FsHandle file, char* receivePath);
// Removes the partial file of an incoming file that was not finished.
void DiscardIncomingFile();
// Removes the partial files a run that ended abruptly left in the incoming
// folder; for the front ends' start-up, before the first transfer.
void RemoveIncomingLeftovers();
// True for the names partial files have; no incoming name is ever one and
// the outgoing scan skips them.
bool IsPartialName(const char* name);
// Incoming opens for writing, outgoing for reading; kNoFile on failure.
FsHandle OpenStoredFile(const char* path, StoreBase base);
bool ReadOutgoing(FsHandle file, uint8_t* buffer, int count);        // true on failure
bool WriteIncoming(FsHandle file, const uint8_t* data, int count);   // true on failure
int32_t StoredFileSize(FsHandle file);  // -1 when unknown or 2 GiB or more
void CloseStoredFile(FsHandle file);
void DeleteStoredFile(const char* path, StoreBase base);
// The stamp of a stored file by relative path; false when there is none.
bool StoredFileStamp(const char* path, StoreBase base, FsStamp* stamp);

// Last component of path into dest (DisplayNameSize bytes); empty when a
// component is too long.
void DisplayName(const char* path, char* dest);
bool IsTextFile(const char* name);
