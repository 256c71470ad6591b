#pragma once
#include <cstdint>

// Arm by storing a positive number of milliseconds in *countdown, then poll.
// 1 once that much time has passed since the first poll, else 0. One reference
// tick is shared by all countdowns, so poll only one at a time.
uint16_t TimeoutExpired(int32_t* countdown);
