#pragma once
#include "status.h"

// Receives a batch from a peer whose link request was just answered.
void ReceiveBatch(ProgressFn progress);
