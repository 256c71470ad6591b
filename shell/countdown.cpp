#include "countdown.h"

#include "tick.h"

namespace {
uint32_t referenceTick = 0;  // tick of the last call, shared by every countdown
}

uint16_t TimeoutExpired(int32_t* countdown) {
    uint32_t now = TickCount();
    if (*countdown > 0) {
        *countdown = -*countdown;
        referenceTick = now;
    }
    if (now != referenceTick) {
        // A wrapped tick counts as one millisecond rather than a huge jump.
        uint32_t step = now > referenceTick ? now - referenceTick : 1;
        int64_t sum = static_cast<int64_t>(*countdown) + step;
        *countdown = sum > 0 ? 0 : static_cast<int32_t>(sum);
        referenceTick = now;
    }
    return *countdown >= 0 ? 1 : 0;
}
