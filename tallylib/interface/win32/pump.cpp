#include "pump.h"

#include <windows.h>

void _PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

unsigned long _PumpMessagesFor(unsigned long ms)
{
    // Busy polling on purpose: the abort control must stay responsive
    // without a timer or a second thread.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return elapsed;
        _PumpMessages();
    }
}

unsigned long _WaitSeconds(unsigned long seconds) { return _PumpMessagesFor(seconds * 1000); }
