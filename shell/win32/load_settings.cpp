// The start-up load of the folder and text-file settings; a folder that is
// missing or not plainly a folder is asked for again.
#include <windows.h>

#include <cstring>

#include "message.h"
#include "program.h"
#include "settings.h"
#include "settings_store.h"

namespace {
enum : UINT { ExitFailure = 0xFFFFFFFF };

// Read into the field; valid only when the path is a folder with no other attribute.
bool LoadFolder(const char* name, void (*store)(const char*)) {
    char path[SettingPathSize];
    if (!ReadSetting(name, path, sizeof path)) return false;
    path[sizeof path - 1] = '\0';
    store(path);
    return GetFileAttributesA(path) == FILE_ATTRIBUTE_DIRECTORY;
}

void LoadTextSettings() {
    uint8_t translate = 0;
    if (ReadSetting("TranslateText", &translate, sizeof translate)) {
        SetTranslateText(translate);
    } else {
        translate = 1;
        SetTranslateText(translate);
        WriteSetting("TranslateText", &translate, sizeof translate);
    }
    char extensions[SettingExtensionsSize];
    if (ReadSetting("TextExtensions", extensions, sizeof extensions)) {
        extensions[sizeof extensions - 1] = '\0';
        SetTextExtensions(extensions);
    } else {
        memset(extensions, 0, sizeof extensions);
        strcpy(extensions, ".txt");
        SetTextExtensions(extensions);
        WriteSetting("TextExtensions", extensions, sizeof extensions);
    }
}
}  // namespace

void LoadSettings() {
    if (!OpenSettingsKey()) {
        ShowMessage(MessageDiskError);
        EndProcess(ExitFailure);
    }
    bool incomingValid = LoadFolder("InDirectory", SetInDirectory);
    bool outgoingValid = LoadFolder("OutDirectory", SetOutDirectory);
    LoadTextSettings();
    CloseSettingsKey();
    // The choosers store what the user picks; cancelling one ends the program.
    if (!incomingValid && !ChooseIncomingFolder()) EndProcess(ExitFailure);
    if (!outgoingValid && !ChooseOutgoingFolder()) EndProcess(ExitFailure);
}
