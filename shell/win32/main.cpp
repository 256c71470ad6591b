// The program's entry point: start-up in its fixed order, the message loop,
// the port closed at the end.
#include <windows.h>

#include "driver.h"
#include "message.h"
#include "program.h"

HINSTANCE programInstance = nullptr;
HWND mainWindow = nullptr;

namespace {
enum : uint16_t { MessageAlreadyRunning = 2 };

// The previous-instance argument is always null on 32-bit Windows, so a
// running copy is found by a named mutex it holds until it ends.
bool AnotherInstanceRunning() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Vantree.MossLane.Running");
    return mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
    programInstance = instance;
    mainWindow = nullptr;
    if (previous != nullptr || AnotherInstanceRunning()) {
        ShowMessage(MessageAlreadyRunning);
        return 0;
    }
    LoadSettings();
    CreateMainWindow();
    SetProgressFunction(ReportProgress);
    OpenSerialPort();
    MSG message = {};
    // GetMessage gives -1 on failure: end rather than spin.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CloseSerialPort();
    return static_cast<int>(message.wParam);
}
