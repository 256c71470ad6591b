// The folder choosers: the platform's open dialog re-laid out so that only a
// folder can be picked. The file-name box, out of sight, holds a probe name,
// and the folder is what the dialog returns minus that name.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "program.h"
#include "settings.h"
#include "stored_settings.h"

namespace {
const char kProbeName[] = "!moss~lane!.ml";
const char kFilter[] = "-\0*.ml\0";  // the literal's own NUL ends the list
enum : DWORD { ChooserFlags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE | OFN_NONETWORKBUTTON };

struct FolderChooser {
    const char* title;
    const char* valueName;
    void (*store)(const char* path);
    char fileName[SettingPathSize];
    char initialFolder[SettingPathSize];
};

FolderChooser incomingChooser = {"Select Incoming Folder", "InDirectory", SetInDirectory, {}, {}};
FolderChooser outgoingChooser = {"Select Outgoing Folder", "OutDirectory", SetOutDirectory, {}, {}};

// The root of the drive that holds the Windows folder, such as C:\.
void SystemDriveRoot(char* folder) {
    UINT length = GetWindowsDirectoryA(folder, SettingPathSize);
    if (length < 3 || length >= SettingPathSize) {
        strcpy(folder, "C:\\");
        return;
    }
    folder[3] = '\0';
}

int ChooseFolder(FolderChooser* chooser) {
    strcpy(chooser->fileName, kProbeName);
    SystemDriveRoot(chooser->initialFolder);
    OPENFILENAMEA request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = mainWindow;
    request.hInstance = programInstance;
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = chooser->fileName;
    request.nMaxFile = sizeof chooser->fileName;
    request.lpstrInitialDir = chooser->initialFolder;
    request.lpstrTitle = chooser->title;
    request.Flags = ChooserFlags;
    request.lpfnHook = FolderDialogHook;
    request.lpTemplateName = "FILEOPEN";

    bool previous = HoldBusy();
    BOOL confirmed = GetOpenFileNameA(&request);
    ReleaseBusy(previous);
    // The separator before the probe name ends the folder: C:\OUT\x gives
    // C:\OUT, a drive root C:\x gives C: alone.
    if (!confirmed || chooser->fileName[0] == '\0' || request.nFileOffset == 0 ||
        request.nFileOffset >= sizeof chooser->fileName) {
        return 0;
    }
    chooser->fileName[request.nFileOffset - 1] = '\0';
    chooser->store(chooser->fileName);
    StoreFolderSetting(chooser->valueName, chooser->fileName);
    return 1;
}
}  // namespace

int ChooseIncomingFolder() { return ChooseFolder(&incomingChooser); }
int ChooseOutgoingFolder() { return ChooseFolder(&outgoingChooser); }

UINT_PTR CALLBACK FolderDialogHook(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return 0;
    CenterWindow(dialog);
    return 1;
}
