// Help > Contents: the help file from the settings, else the one beside the
// program, else the one the user picks; and the viewer's quit at Exit.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "program.h"
#include "settings_store.h"

namespace {
enum : DWORD { PathSize = 260, FileFound = 0 };
enum : DWORD { ChooserFlags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_NONETWORKBUTTON };
const char kFilter[] = "Help Files (*.HLP)\0*.hlp\0";

char HelpFile[PathSize];
char initialFolder[PathSize];

// The program's own path with its last three characters replaced by "hlp".
void DefaultHelpPath(char* path) {
    DWORD length = GetModuleFileNameA(nullptr, path, PathSize);
    if (length < 3 || length >= PathSize) {
        path[0] = '\0';
        return;
    }
    memcpy(path + length - 3, "hlp", 3);
}

// 0 when the path exists, else the platform's error code.
DWORD TestPath(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? FileFound : GetLastError();
}

void ProgramFolder(char* folder) {
    GetModuleFileNameA(nullptr, folder, PathSize);
    folder[PathSize - 1] = '\0';
    char* lastSeparator = strrchr(folder, '\\');
    if (lastSeparator != nullptr) lastSeparator[1] = '\0';
}

bool ChooseHelpFile() {
    HelpFile[0] = '\0';
    ProgramFolder(initialFolder);
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = mainWindow;
    request.hInstance = programInstance;
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = HelpFile;
    request.nMaxFile = sizeof HelpFile;
    request.lpstrInitialDir = initialFolder;
    request.lpstrTitle = "Open Help File";
    request.Flags = ChooserFlags;
    request.lpstrDefExt = "hlp";
    request.lpfnHook = FolderDialogHook;
    bool previous = HoldBusy();
    BOOL chosen = GetOpenFileNameA(&request);
    ReleaseBusy(previous);
    return chosen && HelpFile[0] != '\0';
}

void StoreHelpFile() {
    char field[PathSize] = {};
    CopyText(field, sizeof field, HelpFile);
    WriteSetting("HelpFile", field, sizeof field);
}

// Finds the help file, asking the user as the last resort; FileFound when there
// is one. A path found without being stored (the default, or a chosen file)
// is stored, so the next time it is opened directly.
DWORD LocateHelpFile() {
    char defaultPath[PathSize];
    DefaultHelpPath(defaultPath);
    bool stored = ReadSetting("HelpFile", HelpFile, sizeof HelpFile) != 0;
    if (stored) {
        HelpFile[sizeof HelpFile - 1] = '\0';
    } else {
        strcpy(HelpFile, defaultPath);
    }
    DWORD status = TestPath(HelpFile);
    if (status == ERROR_FILE_NOT_FOUND && TestPath(defaultPath) == FileFound) {
        strcpy(HelpFile, defaultPath);
        stored = false;
        status = FileFound;
    }
    if (status == ERROR_FILE_NOT_FOUND && ChooseHelpFile()) {
        stored = false;
        status = FileFound;
    }
    if (status == FileFound && !stored) StoreHelpFile();
    return status;
}
}  // namespace

void ShowHelpContents() {
    if (!OpenSettingsKey()) return;
    // Any other failure, such as a stored folder that is gone, shows nothing.
    if (LocateHelpFile() == FileFound) WinHelpA(mainWindow, HelpFile, HELP_CONTENTS, 0);
    CloseSettingsKey();
}

void QuitHelp() {
    WinHelpA(mainWindow, HelpFile, HELP_QUIT, 0);
}
