// The settings store in the registry under the current user; every value is
// REG_BINARY of its field's size, texts included.
#include "settings_store.h"

#include <windows.h>

#include <cstring>

namespace {
const char kKeyPath[] = "Software\\Vantree\\MossLane";
enum : uint32_t { LargestField = 260 };

HKEY settingsKey = nullptr;
bool keyOpen = false;
}  // namespace

int OpenSettingsKey() {
    if (keyOpen) return 1;
    HKEY key = nullptr;
    DWORD disposition = 0;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        settingsKey = nullptr;
        return 0;
    }
    settingsKey = key;
    keyOpen = true;
    return 1;
}

void CloseSettingsKey() {
    if (!keyOpen) return;
    RegCloseKey(settingsKey);
    settingsKey = nullptr;
    keyOpen = false;
}

int ReadSetting(const char* name, void* field, uint32_t size) {
    if (size > LargestField || !OpenSettingsKey()) return 0;
    // A shorter value would otherwise overwrite the start of the field.
    BYTE stored[LargestField];
    DWORD length = size;
    if (RegQueryValueExA(settingsKey, name, nullptr, nullptr, stored, &length) != ERROR_SUCCESS ||
        length != size) {
        return 0;
    }
    memcpy(field, stored, size);
    return 1;
}

int WriteSetting(const char* name, const void* field, uint32_t size) {
    if (!OpenSettingsKey()) return 0;
    return RegSetValueExA(settingsKey, name, 0, REG_BINARY, static_cast<const BYTE*>(field), size) ==
           ERROR_SUCCESS;
}

void DeleteSettingsKey() {
    CloseSettingsKey();
    RegDeleteKeyA(HKEY_CURRENT_USER, kKeyPath);
}
