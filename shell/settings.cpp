// The settings the engine reads, held for the whole run. Fields keep the sizes
// of their stored registry values.
#include "settings.h"

#include <cstring>

namespace {
char inDirectory[SettingPathSize];
char outDirectory[SettingPathSize];
uint8_t translateText = 1;
char textExtensions[SettingExtensionsSize];

void CopyBounded(char* field, int size, const char* text) {
    if (text == nullptr) text = "";
    size_t n = strnlen(text, static_cast<size_t>(size - 1));
    memcpy(field, text, n);
    field[n] = '\0';
}
}  // namespace

const char* InDirectory() { return inDirectory; }
const char* OutDirectory() { return outDirectory; }
uint8_t TranslateText() { return translateText; }
const char* TextExtensions() { return textExtensions; }

void SetInDirectory(const char* path) { CopyBounded(inDirectory, SettingPathSize, path); }
void SetOutDirectory(const char* path) { CopyBounded(outDirectory, SettingPathSize, path); }
void SetTranslateText(uint8_t on) { translateText = on; }
void SetTextExtensions(const char* list) {
    CopyBounded(textExtensions, SettingExtensionsSize, list);
}
