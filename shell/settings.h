// In-memory settings shared by the shell and the transfer engine.
#pragma once
#include <cstdint>

enum : int { SettingPathSize = 260, SettingExtensionsSize = 256 };

// TranslateText: 0 stores text files as they come, 1 with CR LF line ends;
// 2, which only the Linux front end sets, with LF line ends.
enum : uint8_t { TranslateOff = 0, TranslateCrLf = 1, TranslateLf = 2 };

const char* InDirectory();
const char* OutDirectory();
uint8_t TranslateText();
const char* TextExtensions();

// Copies are bounded by the field sizes; an over-long text is cut.
void SetInDirectory(const char* path);
void SetOutDirectory(const char* path);
void SetTranslateText(uint8_t on);
void SetTextExtensions(const char* list);
