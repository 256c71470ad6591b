// The start-up load of the folder and text-file settings; a folder that is
// missing or not plainly a folder is asked for again.
#include <windows.h>

#include "message.h"
#include "program.h"
#include "settings.h"
#include "settings_store.h"
#include "stored_settings.h"

namespace {
// Valid only when read and the path is a folder with no other attribute.
bool LoadFolder(const char* name, void (*store)(const char*), const char* (*stored)()) {
    return LoadFolderSetting(name, store) && GetFileAttributesA(stored()) == FILE_ATTRIBUTE_DIRECTORY;
}
}  // namespace

void LoadSettings() {
    if (!OpenSettingsKey()) {
        ShowMessage(MessageDiskError);
        EndProcess(ExitFailure);
    }
    bool incomingValid = LoadFolder("InDirectory", SetInDirectory, InDirectory);
    bool outgoingValid = LoadFolder("OutDirectory", SetOutDirectory, OutDirectory);
    LoadTextSettings();
    CloseSettingsKey();
    // The choosers store what the user picks; cancelling one ends the program.
    if (!incomingValid && !ChooseIncomingFolder()) EndProcess(ExitFailure);
    if (!outgoingValid && !ChooseOutgoingFolder()) EndProcess(ExitFailure);
}
