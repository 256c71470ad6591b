// The status panel: what each progress event shows, and the message pump
// that keeps the window alive and Cancel working inside a transfer.
#include <windows.h>

#include <cstring>

#include "driver.h"
#include "filestore.h"
#include "program.h"
#include "pump.h"
#include "resource.h"

namespace {
char panelText[260];
char shownText[260];

// A control repaints whenever its text is set, at a cost (under Wine a round
// trip to the X server) paid between a packet and its answer: a text that
// has not changed is left alone.
void ShowText(int id, const char* text) {
    if (GetDlgItemTextA(mainWindow, id, shownText, sizeof shownText) > 0 &&
        strcmp(shownText, text) == 0)
        return;
    SetDlgItemTextA(mainWindow, id, text);
}

void ShowLong(int id, int32_t value) {
    wsprintfA(panelText, "%ld", static_cast<long>(value));
    ShowText(id, panelText);
}

void ShowShort(int id, int16_t value) {
    wsprintfA(panelText, "%d", static_cast<int>(value));
    ShowText(id, panelText);
}

void ShowCounters(const TransferStatus* status) {
    if (status->bytesLeft == 0 && status->errors == 0 && status->totalBytes == 0) return;
    ShowLong(IDC_BYTES_LEFT, status->bytesLeft);
    ShowShort(IDC_ERRORS, status->errors);
    ShowLong(IDC_TOTAL_BYTES, status->totalBytes);
}

void ShowFileStarted(const TransferStatus* status) {
    ShowText(IDC_STATE, status->direction == DirectionReceiving ? "Receiving:" : "Sending:");
    static_assert(sizeof panelText >= DisplayNameSize, "a display name fits the panel buffer");
    DisplayName(status->currentName != nullptr ? status->currentName : "", panelText);
    ShowText(IDC_NAME, panelText);
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
    // A window destroyed before this batch opened (a log-off while the link
    // was asked for) would see its cancel cleared by TransferOpening.
    if (MainWindowDestroyed()) RequestCancel();
    return CancelRequested() ? 1 : 0;
}
