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
