// Records the message boxes the code under test would have shown.
#pragma once
#include <cstdint>

namespace fakemessage {
void Reset();
int Count();            // messages shown since Reset
uint16_t Last();        // id of the latest, 0 when none
}  // namespace fakemessage
