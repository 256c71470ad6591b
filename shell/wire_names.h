// Names between this machine's UTF-8 and the forms a peer may put on the wire:
// Windows ANSI (code page 1252), UTF-8, or bytes taken as they are.
#pragma once
#include <cstddef>

enum WireNames { WireCp1252, WireUtf8, WireBytes };

// "cp1252", "utf-8" or "bytes"; false for anything else.
bool ParseWireNames(const char* text, WireNames* names);
const char* WireNamesText(WireNames names);

// Each converts the NUL-terminated in into out (size bytes, always terminated)
// and returns false when the result does not fit. A character the target
// cannot hold (no code page 1252 form, an undefined code page byte, a broken
// UTF-8 sequence) becomes '_' and sets *lossy when lossy is given.
bool Utf8ToCp1252(const char* in, char* out, size_t size, bool* lossy = nullptr);
bool Cp1252ToUtf8(const char* in, char* out, size_t size, bool* lossy = nullptr);
// UTF-8 kept as it is, with broken sequences made '_'.
bool CleanUtf8(const char* in, char* out, size_t size, bool* lossy = nullptr);

// Local (UTF-8) to wire and back for the chosen form; bytes copies unchanged.
bool LocalToWire(WireNames names, const char* in, char* out, size_t size, bool* lossy = nullptr);
bool WireToLocal(WireNames names, const char* in, char* out, size_t size, bool* lossy = nullptr);
