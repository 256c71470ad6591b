// The per-user settings store: one key of fixed-size values. A value is
// accepted only when its stored length equals its field's size exactly.
#pragma once
#include <cstdint>

// Nonzero once the key is open (created when missing); opening an open key is free.
int OpenSettingsKey();
void CloseSettingsKey();
// Both open the key when it is closed and leave it open for the caller's bracket.
// On a failed read the field is left as it was.
int ReadSetting(const char* name, void* field, uint32_t size);
int WriteSetting(const char* name, const void* field, uint32_t size);
// Removes the key and every value in it.
void DeleteSettingsKey();
