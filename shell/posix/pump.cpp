// Without a window system there is no message queue to serve.
#include "pump.h"

#include <ctime>

int DispatchOneMessage() {
    return 0;
}

void DispatchAllMessages() {
}

// A signal, the nearest thing to a message here, ends the sleep early.
int AwaitMessage(uint32_t milliseconds) {
    timespec span;
    span.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    span.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    nanosleep(&span, nullptr);
    return 0;
}
