#include "status.h"

namespace {
TransferStatus transferStatus = {0, 0, 0, 0, 0, DirectionSending, ""};
}

TransferStatus* CurrentTransferStatus() { return &transferStatus; }
