// Presses a button of another program's window, as a user would.
// Usage: tally_press_button TITLE CONTROL-ID [TIMEOUT-MS]
// Waits for a top-level window with that caption, then sends it the command
// of the control. Exit 0 when pressed, 1 when the window never appeared.
#include <windows.h>

#include <cstdlib>

#include "helper_ready.h"

int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    int control = std::atoi(argv[2]);
    DWORD timeout = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 20000;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHelperReadyEvent);
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    DWORD start = GetTickCount();
    HWND window = nullptr;
    while (!(window = FindWindowA(nullptr, argv[1]))) {
        if (GetTickCount() - start > timeout) return 1;
        Sleep(2);
    }
    HWND button = GetDlgItem(window, control);
    // What a click on the button sends: its id, BN_CLICKED and its handle.
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return 0;
}
