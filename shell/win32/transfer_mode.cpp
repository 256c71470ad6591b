// The main window around a transfer: in front with its commands locked while
// it runs, then reset to idle and minimised.
#include <windows.h>

#include "frontend.h"
#include "program.h"
#include "resource.h"

namespace {
enum : UINT { FileMenuPosition = 0, HelpMenuPosition = 1 };

void LockCommands(UINT state) {
    EnableMenuItem(GetSystemMenu(mainWindow, FALSE), SC_CLOSE, MF_BYCOMMAND | state);
    HMENU bar = GetMenu(mainWindow);
    EnableMenuItem(bar, FileMenuPosition, MF_BYPOSITION | state);
    EnableMenuItem(bar, HelpMenuPosition, MF_BYPOSITION | state);
}

void ResetPanel() {
    SetDlgItemTextA(mainWindow, IDC_STATE, "Idle");
    ShowWindow(GetDlgItem(mainWindow, IDC_CANCEL), SW_HIDE);
    SetDlgItemTextA(mainWindow, IDC_NAME, "");
    SetDlgItemTextA(mainWindow, IDC_BYTES_LEFT, "0");
    SetDlgItemTextA(mainWindow, IDC_ERRORS, "0");
    SetDlgItemTextA(mainWindow, IDC_FILES, "0");
    SetDlgItemTextA(mainWindow, IDC_TOTAL_BYTES, "0");
}
}  // namespace

void ShowTransferMode() {
    LockCommands(MF_GRAYED);
    SetForegroundWindow(mainWindow);
    ShowWindow(mainWindow, SW_RESTORE);
}

void ShowIdleMode() {
    ResetPanel();
    ShowWindow(mainWindow, SW_MINIMIZE);
    LockCommands(MF_ENABLED);
}
