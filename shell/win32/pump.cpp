// The thread's message queue, drained without waiting.
#include "pump.h"

#include <windows.h>

int DispatchOneMessage() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return 0;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return 1;
}

void DispatchAllMessages() {
    while (DispatchOneMessage()) {
    }
}

int AwaitMessage(uint32_t milliseconds) {
    MSG message;
    // The wait below wakes only for messages that came after the last look.
    if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) return 1;
    return MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT) == WAIT_OBJECT_0
               ? 1
               : 0;
}
