// In-memory settings shared by the shell and the transfer engine.
#pragma once
#include <cstdint>

enum : int { SettingPathSize = 260, SettingExtensionsSize = 256 };

const char* InDirectory();
const char* OutDirectory();
uint8_t TranslateText();
const char* TextExtensions();

// Copies are bounded by the field sizes; an over-long text is cut.
void SetInDirectory(const char* path);
void SetOutDirectory(const char* path);
void SetTranslateText(uint8_t on);
void SetTextExtensions(const char* list);
