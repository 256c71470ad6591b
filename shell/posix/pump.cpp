// Without a window system there is no message queue to serve.
#include "pump.h"

#include "tick.h"

int DispatchOneMessage() {
    return 0;
}

void DispatchAllMessages() {
}

int AwaitMessage(uint32_t milliseconds) {
    SleepMs(milliseconds);
    return 0;
}
