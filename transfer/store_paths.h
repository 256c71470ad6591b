// Shared inside the file store: turning base + relative path into a full
// native path without ever leaving the base folder.
#pragma once
#include <cstddef>

#include "filestore.h"

enum : int {
    // A 259-character base, a 1019-character relative path grown by safe
    // names and clash digits, and separators, with room to spare.
    FullPathSize = 2048,
    ComponentBufferSize = MaxComponent + 2,
};

extern const char kUnsentFolder[];  // "!unsent"

// A component that can be used as it is: not empty, not "." or "..", no
// separator of either kind, shorter than 260 and not reserved by the platform.
bool UsableComponent(const char* component, size_t length);
// Appends a separator and the component to the full path; false when it would
// not fit.
bool AppendComponent(char* full, const char* component, size_t length);
// Copies the full path of a base folder into full and checks it can be
// entered. For unsent, createUnsent makes "!unsent" when it is missing.
bool EnterBase(StoreBase base, char* full, bool createUnsent);
// Full path of an existing file below base: every folder on the way must be a
// real folder, every component usable.
bool ResolveStoredFile(StoreBase base, const char* path, char* full);
// Length of the component starting at path (up to a backslash or the end).
size_t ComponentLength(const char* path);

// Candidate `counter` for a name: stem, digits, suffix from the first dot (the
// name itself for 0), into out (ComponentBufferSize bytes). False when it
// would be longer than a component or than room.
bool NumberedName(const char* name, unsigned counter, size_t room, char* out);
// Enough tries for any real folder; a peer cannot keep us looping for ever.
constexpr unsigned MaxClashNumber = 99999;
// Creates the partial file for candidate `counter` of safeName in folder (a
// full path) and remembers them for the finish. False on failure.
bool BeginPartialFile(const char* folder, const char* safeName, unsigned counter, size_t room);

// Flags of the incoming file being received (owned by the text module).
void SetIncomingText(bool isText);
void ClearLineEndCarry();
