// How a relative path is written on the wire. The engine stores and opens files
// by their local names and converts only where a header is built or read; by
// default the two forms are the same bytes.
#pragma once
#include <cstddef>

// Converts the NUL-terminated in into out (size bytes, always terminated).
// False when the result does not fit.
typedef bool (*PathConvertFn)(const char* in, char* out, size_t size);

// Either may be nullptr for "unchanged".
void SetWirePathFunctions(PathConvertFn localToWire, PathConvertFn wireToLocal);
bool LocalToWirePath(const char* local, char* wire, size_t size);
bool WireToLocalPath(const char* wire, char* local, size_t size);
