#include "driver.h"

#include "codec.h"
#include "filestore.h"
#include "frontend.h"
#include "pump.h"
#include "receiver.h"
#include "sender.h"
#include "tick.h"

namespace {
bool busy = false;
bool cancelRequested = false;
uint32_t lastSendAttempt = 0;
ProgressFn progressFunction = nullptr;

const uint32_t kSendInterval = 10000;

uint16_t NoProgress(TransferStatus*, int16_t) { return cancelRequested ? 1 : 0; }

ProgressFn Progress() { return progressFunction ? progressFunction : NoProgress; }

void EnterTransferMode() {
    busy = true;
    ShowTransferMode();
}

// A pause in which the window is still served.
void PauseServingMessages(uint32_t milliseconds) {
    const uint32_t start = TickCount();
    for (;;) {
        uint32_t spent = TickCount() - start;
        if (spent >= milliseconds) return;
        if (AwaitMessage(milliseconds - spent)) DispatchAllMessages();
    }
}

void LeaveTransferMode() {
    PauseServingMessages(1000);  // the last panel texts stay readable for a moment
    ShowIdleMode();
    busy = false;
}
}  // namespace

bool TransferBusy() { return busy; }
void SetTransferBusy(bool value) { busy = value; }
bool CancelRequested() { return cancelRequested; }
void RequestCancel() { cancelRequested = true; }
void ClearCancel() { cancelRequested = false; }
void SetProgressFunction(ProgressFn progress) { progressFunction = progress; }

void PollTick() {
    if (TryReceive()) return;
    // Elapsed time, so that attempts go on across the tick count's wrap.
    if (TickCount() - lastSendAttempt <= kSendInterval) return;
    lastSendAttempt = TickCount();
    TrySend();
}

bool TryReceive() {
    if (!AnswerLink()) return false;
    EnterTransferMode();
    ReceiveBatch(Progress());
    LeaveTransferMode();
    return true;
}

void TrySend() {
    char** list = ScanOutgoing();
    if (list == nullptr) return;
    if (!RequestLink()) {
        ReleaseFileList(list, false);
        return;
    }
    EnterTransferMode();
    SendBatch(Progress(), list);
    ReleaseFileList(list, true);
    LeaveTransferMode();
}
