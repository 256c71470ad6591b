#include "stored_settings.h"

#include <cstring>

#include "settings.h"
#include "settings_store.h"

namespace {
const char kDefaultExtensions[] = ".txt";

// The whole field is stored; the bytes after the text are zero.
void PadText(char* field, uint32_t size, const char* text) {
    memset(field, 0, size);
    size_t length = strnlen(text, size - 1);
    memcpy(field, text, length);
}

bool IsUnset(const void* field, uint32_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(field);
    for (uint32_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}
}  // namespace

bool LoadFolderSetting(const char* name, void (*store)(const char* path)) {
    char path[SettingPathSize];
    if (!ReadSetting(name, path, sizeof path)) return false;
    path[sizeof path - 1] = '\0';
    store(path);
    return true;
}

void LoadTextSettings() {
    uint8_t translate = 0;
    if (!ReadSetting("TranslateText", &translate, sizeof translate)) {
        translate = 1;
        WriteSetting("TranslateText", &translate, sizeof translate);
    }
    SetTranslateText(translate);

    char extensions[SettingExtensionsSize];
    if (ReadSetting("TextExtensions", extensions, sizeof extensions)) {
        extensions[sizeof extensions - 1] = '\0';
    } else {
        PadText(extensions, sizeof extensions, kDefaultExtensions);
        WriteSetting("TextExtensions", extensions, sizeof extensions);
    }
    SetTextExtensions(extensions);
}

void StoreFolderSetting(const char* name, const char* path) {
    char field[SettingPathSize];
    PadText(field, sizeof field, path);
    if (!OpenSettingsKey()) return;
    WriteSetting(name, field, sizeof field);
    CloseSettingsKey();
}

void StoreTextSettings() {
    uint8_t translate = TranslateText();
    char extensions[SettingExtensionsSize];
    PadText(extensions, sizeof extensions, TextExtensions());
    if (!OpenSettingsKey()) return;
    WriteSetting("TranslateText", &translate, sizeof translate);
    WriteSetting("TextExtensions", extensions, sizeof extensions);
    CloseSettingsKey();
}

void LoadLineSetting(const char* name, void* field, uint32_t size, const void* fallback) {
    if (!IsUnset(field, size) || !OpenSettingsKey()) return;
    if (!ReadSetting(name, field, size)) {
        memcpy(field, fallback, size);
        WriteSetting(name, field, size);
    }
    CloseSettingsKey();
}

bool StoreLineSetting(const char* name, void* field, uint32_t size, const void* chosen) {
    if (!OpenSettingsKey()) return false;
    memcpy(field, chosen, size);
    bool stored = WriteSetting(name, field, size) != 0;
    CloseSettingsKey();
    return stored;
}
