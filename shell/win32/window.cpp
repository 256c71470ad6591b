// The main window: a dialog template of the program's own class, its timer,
// and the command table.
#include <windows.h>

#include "driver.h"
#include "message.h"
#include "program.h"
#include "resource.h"
#include "settings_store.h"

namespace {
enum : UINT_PTR { PollTimer = 1 };
enum : UINT { PollPeriodMs = 500 };

bool windowDestroyed = false;

void RegisterMainClass() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = programInstance;
    windowClass.hIcon = LoadIconA(programInstance, "MOSSLANE");
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = "MOSSLANE";
    windowClass.lpszClassName = "MossLane";
    RegisterClassA(&windowClass);
}

void RunSetIncoming(int) { ChooseIncomingFolder(); }
void RunSetOutgoing(int) { ChooseOutgoingFolder(); }
void RunTextFiles(int) { EditTextFilePreferences(); }
void RunCleanRegistry(int) {
    DeleteSettingsKey();
    EndProcess(ExitSuccess);
}
void RunExit(int) {
    QuitHelp();
    DestroyWindow(mainWindow);
}
void RunHelpContents(int) { ShowHelpContents(); }
void RunAbout(int) { ShowAboutWindow(); }

typedef void (*Command)(int id);
const Command kCommands[] = {
    nullptr,           // 0: no command
    RunSetIncoming,    // IDM_SET_INCOMING
    RunSetOutgoing,    // IDM_SET_OUTGOING
    RunTextFiles,      // IDM_TEXT_FILES
    SelectSerialPort,  // IDM_COM1
    SelectSerialPort,  // IDM_COM2
    SelectSerialPort,  // IDM_COM3
    SelectSerialPort,  // IDM_COM4
    SelectBaudRate,    // IDM_BAUD_115200
    SelectBaudRate,    // IDM_BAUD_57600
    SelectBaudRate,    // IDM_BAUD_19200
    SelectHandshake,   // IDM_HANDSHAKE_CTS
    SelectHandshake,   // IDM_HANDSHAKE_NONE
    RunCleanRegistry,  // IDM_CLEAN_REGISTRY
    RunExit,           // IDM_EXIT
    RunHelpContents,   // IDM_HELP_CONTENTS
    RunAbout,          // IDM_ABOUT
};
const WPARAM kLastCommand = sizeof kCommands / sizeof kCommands[0] - 1;

void OnTimer() {
    if (TransferBusy()) return;
    PollTick();
    // A log-off during a transfer destroyed the window inside the engine's
    // pump, which may have taken the quit message: ask again.
    if (windowDestroyed) PostQuitMessage(0);
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    // Id 6 is COM3 from the menu and Cancel from the button.
    if (lParam != 0 && LOWORD(wParam) == IDC_CANCEL && HIWORD(wParam) == BN_CLICKED) {
        RequestCancel();
        return 0;
    }
    if (wParam >= 1 && wParam <= kLastCommand) {
        kCommands[wParam](static_cast<int>(wParam));
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

void OnDestroy() {
    windowDestroyed = true;
    // A transfer still running in a nested loop stops at its next report.
    if (TransferBusy()) RequestCancel();
    PostQuitMessage(0);
}
}  // namespace

void CreateMainWindow() {
    RegisterMainClass();
    mainWindow = CreateDialogParamA(programInstance, "MOSSLANE", nullptr, nullptr, 0);
    if (mainWindow == nullptr || SetTimer(mainWindow, PollTimer, PollPeriodMs, nullptr) == 0) {
        ShowMessage(MessageLowMemory);
        EndProcess(ExitFailure);
    }
    CenterWindow(mainWindow);
    // Always minimised at start; a transfer restores it for its duration.
    ShowWindow(mainWindow, SW_MINIMIZE);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER: OnTimer(); return 0;
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_CLOSE: SendMessageA(window, WM_COMMAND, IDM_EXIT, 0); return 0;
    case WM_QUERYENDSESSION: SendMessageA(window, WM_COMMAND, IDM_EXIT, 0); return TRUE;
    case WM_DESTROY: OnDestroy(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
