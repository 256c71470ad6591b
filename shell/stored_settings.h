// The settings fields as they are loaded from and stored into the settings
// store: each at its field's exact size, defaults written back when missing.
#pragma once
#include <cstdint>

// Start-up loads, run inside the caller's open bracket.
// Reads a folder into its field; false when it is missing or of another size.
bool LoadFolderSetting(const char* name, void (*store)(const char* path));
// "TranslateText" and "TextExtensions", each given its default when missing.
void LoadTextSettings();

// Each opens and closes the key; nothing is reported when the store is unavailable.
void StoreFolderSetting(const char* name, const char* path);
void StoreTextSettings();

// Loads one line setting only while its field is still 0: a missing or
// wrongly sized value takes the fallback, written back. With the store
// unavailable the field stays 0.
void LoadLineSetting(const char* name, void* field, uint32_t size, const void* fallback);
// Sets the field to chosen and stores it; false when the store is unavailable
// (the field then keeps its value) or the write fails.
bool StoreLineSetting(const char* name, void* field, uint32_t size, const void* chosen);
