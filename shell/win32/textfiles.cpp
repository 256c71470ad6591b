// The Text File Preferences dialog: the extension list and whether incoming
// text files get CR LF line ends.
#include <windows.h>

#include "extensions.h"
#include "program.h"
#include "resource.h"
#include "settings.h"
#include "stored_settings.h"

namespace {
enum : INT_PTR { EndedOk = IDOK, EndedCancel = IDCANCEL };

void InitDialog(HWND dialog) {
    CenterWindow(dialog);
    CheckDlgButton(dialog, IDC_TRANSLATE, TranslateText() != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(dialog, IDC_EXTENSIONS, TextExtensions());
    SendDlgItemMessageA(dialog, IDC_EXTENSIONS, EM_SETSEL, 0, 0x7FFF);
    SetFocus(GetDlgItem(dialog, IDC_EXTENSIONS));
}

// The new values are in force at once; the caller stores them.
void TakeValues(HWND dialog) {
    SetTranslateText(IsDlgButtonChecked(dialog, IDC_TRANSLATE) == BST_CHECKED ? 1 : 0);
    char list[SettingExtensionsSize] = {};
    GetDlgItemTextA(dialog, IDC_EXTENSIONS, list, sizeof list);
    NormalizeExtensionList(list);
    SetTextExtensions(list);
}

INT_PTR CALLBACK TextFilesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: InitDialog(dialog); return FALSE;  // focus already set
    case WM_COMMAND:
        if (wParam == IDOK) {
            TakeValues(dialog);
            EndDialog(dialog, EndedOk);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(dialog, EndedCancel);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

// The poll goes on while the dialog is open: a transfer may run inside it.
void EditTextFilePreferences() {
    if (DialogBoxParamA(programInstance, "TEXTFILES", mainWindow, TextFilesDialogProc, 0) == EndedOk) {
        StoreTextSettings();
    }
}
