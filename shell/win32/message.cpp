// Numbered message boxes, window centring and the busy flag around nested loops.
#include "message.h"

#include <windows.h>

#include "driver.h"
#include "program.h"

void EndProcess(UINT exitCode) {
    ExitProcess(exitCode);
}

bool HoldBusy() {
    bool previous = TransferBusy();
    SetTransferBusy(true);
    return previous;
}

void ReleaseBusy(bool previous) {
    SetTransferBusy(previous);
}

void ShowMessage(uint16_t id) {
    char text[256];
    if (LoadStringA(programInstance, id, text, sizeof text) <= 0) text[0] = '\0';
    // The box runs a message loop: a tick in it must not start a poll, for
    // example while the outgoing scan reports low memory.
    bool previous = HoldBusy();
    MessageBoxA(mainWindow, text, nullptr, MB_OK | MB_ICONEXCLAMATION);
    ReleaseBusy(previous);
}

// Centred across, a third of the free height from the top.
void CenterWindow(HWND window) {
    RECT outer;
    if (!GetWindowRect(window, &outer)) return;
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 3;
    MoveWindow(window, x, y, width, height, FALSE);
}
