// The one progress record of a transfer, and the progress function that shows it.
#pragma once
#include <cstdint>

enum : uint16_t { DirectionSending = 0, DirectionReceiving = 1 };

struct TransferStatus {
    int32_t fileSize;
    int32_t totalBytes;
    int32_t bytesLeft;
    int16_t errors;      // the codec's count of consecutive errors
    int16_t files;
    uint16_t direction;
    const char* currentName;
};

enum : int16_t { Counters = 0, FileStarted = 1, BatchFinished = 2, TransferOpening = 3 };

// Shows the record for the event, serves the front end, returns nonzero once
// the user has asked to cancel this transfer.
typedef uint16_t (*ProgressFn)(TransferStatus* status, int16_t event);

// Adds bytes moved to the batch total, which stops at its largest value
// rather than overflowing in a batch of 2 GiB or more.
void CountMovedBytes(TransferStatus* status, int32_t count);

// The program's record.
TransferStatus* CurrentTransferStatus();
