// Without a window system there is no message queue to serve.
#include "pump.h"

int DispatchOneMessage() {
    return 0;
}

void DispatchAllMessages() {
}
