// Records what the engine asks of the front end.
#pragma once
#include <cstdint>
#include <vector>

#include "status.h"

namespace fakefront {
struct Event { int16_t event; int32_t bytesLeft, totalBytes; int16_t errors, files; };

void Reset();
int TransferModeCount();
int IdleModeCount();
// A progress function that records each call and answers with the cancel flag.
uint16_t RecordProgress(TransferStatus* status, int16_t event);
const std::vector<Event>& Events();
// Makes RecordProgress request Cancel at its nth call (from 1); 0 never.
void CancelAtCall(int n);
}  // namespace fakefront
