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
    // Sleeps between dispatches but wakes for every message, so the abort
    // control stays responsive without spending the processor.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return elapsed;
        _PumpMessages();
        DWORD left = ms - elapsed;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, left < 10 ? left : 10, QS_ALLINPUT);
    }
}

unsigned long _WaitSeconds(unsigned long seconds) { return _PumpMessagesFor(seconds * 1000); }
