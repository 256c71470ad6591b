#include "status.h"

#include <cstdint>

namespace {
TransferStatus transferStatus = {0, 0, 0, 0, 0, DirectionSending, ""};
}

TransferStatus* CurrentTransferStatus() { return &transferStatus; }

void CountMovedBytes(TransferStatus* status, int32_t count) {
    int64_t total = static_cast<int64_t>(status->totalBytes) + count;
    status->totalBytes = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}
