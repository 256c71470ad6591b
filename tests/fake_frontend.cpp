#include "fake_frontend.h"

#include "driver.h"
#include "frontend.h"
#include "status.h"

namespace {
int transferModes = 0;
int idleModes = 0;
int calls = 0;
int cancelAt = 0;
std::vector<fakefront::Event> events;
}  // namespace

namespace fakefront {
void Reset() {
    transferModes = idleModes = calls = cancelAt = 0;
    events.clear();
    ClearCancel();
}
int TransferModeCount() { return transferModes; }
int IdleModeCount() { return idleModes; }
const std::vector<Event>& Events() { return events; }
void CancelAtCall(int n) { cancelAt = n; }

uint16_t RecordProgress(TransferStatus* s, int16_t event) {
    ++calls;
    if (event == TransferOpening) ClearCancel();
    if (cancelAt != 0 && calls >= cancelAt) RequestCancel();
    events.push_back({event, s->bytesLeft, s->totalBytes, s->errors, s->files});
    return CancelRequested() ? 1 : 0;
}
}  // namespace fakefront

void ShowTransferMode() { ++transferModes; }
void ShowIdleMode() { ++idleModes; }
