// The status panel: what each progress event shows, and the message pump
// that keeps the window alive and Cancel working inside a transfer.
#include <windows.h>

#include "driver.h"
#include "filestore.h"
#include "program.h"
#include "pump.h"
#include "resource.h"

namespace {
char panelText[260];

void ShowLong(int id, int32_t value) {
    wsprintfA(panelText, "%ld", static_cast<long>(value));
    SetDlgItemTextA(mainWindow, id, panelText);
}

void ShowShort(int id, int16_t value) {
    wsprintfA(panelText, "%d", static_cast<int>(value));
    SetDlgItemTextA(mainWindow, id, panelText);
}

void ShowCounters(const TransferStatus* status) {
    if (status->bytesLeft == 0 && status->errors == 0 && status->totalBytes == 0) return;
    ShowLong(IDC_BYTES_LEFT, status->bytesLeft);
    ShowShort(IDC_ERRORS, status->errors);
    ShowLong(IDC_TOTAL_BYTES, status->totalBytes);
}

void ShowFileStarted(const TransferStatus* status) {
    SetDlgItemTextA(mainWindow, IDC_STATE,
                    status->direction == DirectionReceiving ? "Receiving:" : "Sending:");
    static_assert(sizeof panelText >= DisplayNameSize, "a display name fits the panel buffer");
    DisplayName(status->currentName != nullptr ? status->currentName : "", panelText);
    SetDlgItemTextA(mainWindow, IDC_NAME, panelText);
    ShowShort(IDC_FILES, status->files);
    ShowLong(IDC_TOTAL_BYTES, status->totalBytes);
}

void ShowBatchFinished(const TransferStatus* status) {
    ShowWindow(GetDlgItem(mainWindow, IDC_CANCEL), SW_HIDE);
    SetDlgItemTextA(mainWindow, IDC_STATE, "Finished");
    SetDlgItemTextA(mainWindow, IDC_NAME, "");
    ShowShort(IDC_FILES, status->files);
    ShowLong(IDC_TOTAL_BYTES, status->totalBytes);
}

void ShowTransferOpening() {
    ClearCancel();
    SetDlgItemTextA(mainWindow, IDC_STATE, "Handshaking...");
    ShowWindow(GetDlgItem(mainWindow, IDC_CANCEL), SW_SHOW);
}
}  // namespace

uint16_t ReportProgress(TransferStatus* status, int16_t event) {
    switch (event) {
    case Counters: ShowCounters(status); break;
    case FileStarted: ShowFileStarted(status); break;
    case BatchFinished: ShowBatchFinished(status); break;
    case TransferOpening: ShowTransferOpening(); break;
    default: break;
    }
    // Ticks served here start no poll: the driver holds the busy flag.
    DispatchAllMessages();
    return CancelRequested() ? 1 : 0;
}
