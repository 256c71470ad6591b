// The poll cycle that starts transfers in either direction.
#pragma once
#include <cstdint>
#include "status.h"

// Called on every timer tick while not busy.
void PollTick();
bool TryReceive();
void TrySend();

bool TransferBusy();
void SetTransferBusy(bool busy);
bool CancelRequested();
void RequestCancel();
void ClearCancel();

// The front end's progress function; the driver hands it to the engine.
void SetProgressFunction(ProgressFn progress);
