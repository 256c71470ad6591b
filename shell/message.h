#pragma once
#include <cstdint>

enum : uint16_t {
    MessageLowMemory = 3,        // "Memory is getting low."
    MessagePortUnavailable = 5,  // "The serial port is not available."
    MessageDiskError = 7,        // "A disk error has occurred."
};

// Shows string-table message id to the user; returns when it has been seen.
void ShowMessage(uint16_t id);
