#include "status.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "memory.h"
#include "resource.h"
#include "state.h"
#include "substitution.h"

namespace {

constexpr int STATUS_BUFFER_SIZE = 162;

long statusLevel = 0;
TallyCard_StatusCallback statusCallback = nullptr;
HWND statusDialog = nullptr;
HWND statusText = nullptr;
long infoCodes = 0;
char *statusBuffer = nullptr;

INT_PTR CALLBACK StatusDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

HINSTANCE Module() { return static_cast<HINSTANCE>(_StateModule()); }

// Loads message id (at most 80 characters); the number of characters loaded.
int LoadMessage(long id, char *out)
{
    out[0] = '\0';
    if (id <= 0 || id > 0xFFFF) return 0;
    int n = LoadStringA(Module(), static_cast<UINT>(id), out, SUBST_TEXT_MAX + 1);
    if (n <= 0) out[0] = '\0';
    return n > 0 ? n : 0;
}

// Fills statusBuffer for a text-mode message; false when there is nothing to show.
bool ComposeText(long level, long id, const char *format, va_list args)
{
    if (level == STATUS_TRACE) {
        if (!format) return false;
        std::vsnprintf(statusBuffer, STATUS_BUFFER_SIZE, format, args);
        statusBuffer[STATUS_BUFFER_SIZE - 1] = '\0';
    } else if (LoadMessage(id, statusBuffer) == 0) {
        return false;
    }
    if (id % 2 == 0) _SubstituteAll(statusBuffer, SUBST_TRACE_MAX);
    return true;
}

}  // namespace

void _StatusOpen(void *parentWindow, long level, TallyCard_StatusCallback callback)
{
    if (!statusBuffer) statusBuffer = static_cast<char *>(_MemAlloc(STATUS_BUFFER_SIZE));
    if (statusBuffer) statusBuffer[0] = '\0';
    statusLevel = level;
    if (callback) {
        statusCallback = callback;
        return;
    }
    if (level == 0) return;
    infoCodes = 0;
    statusDialog = CreateDialogA(Module(), IDD_STATUS, static_cast<HWND>(parentWindow), StatusDialogProc);
    statusText = statusDialog ? GetDlgItem(statusDialog, IDC_STATUS_TEXT) : nullptr;
}

int _StatusMessage(long level, long id, const char *format, ...)
{
    if (level > statusLevel) return 1;
    if (infoCodes && statusCallback) {
        statusCallback(static_cast<intptr_t>(id));
        return 0;
    }
    // Without a buffer (no memory at open) text messages are dropped.
    if (!statusBuffer) return 1;
    va_list args;
    va_start(args, format);
    bool composed = ComposeText(level, id, format, args);
    va_end(args);
    if (!composed) return 1;
    if (statusCallback) statusCallback(reinterpret_cast<intptr_t>(statusBuffer));
    else if (statusText) SetWindowTextA(statusText, statusBuffer);
    return 0;
}

int _StatusCodeMode() { return infoCodes != 0; }

void _StatusClose()
{
    statusLevel = 0;
    statusCallback = nullptr;
    if (statusDialog) DestroyWindow(statusDialog);
    statusDialog = nullptr;
    statusText = nullptr;
    _MemFree(statusBuffer);
    statusBuffer = nullptr;
}

extern "C" long TALLY_CDECL TallyCard_InfoCodes(long codeMode)
{
    // A transmission keeps the mode it started with.
    if (!_StateBusy()) infoCodes = codeMode;
    return codeMode;
}

extern "C" long TALLY_CDECL TallyCard_CodeToString(long id, char *out81)
{
    if (!out81) return 0;
    int loaded = LoadMessage(id, out81);
    if (loaded > 0) _SubstituteAll(out81);
    return loaded;
}

extern "C" long TALLY_CDECL TallyCard_StringSub(char *text81)
{
    if (!text81) return 1;
    return _SubstituteAll(text81);
}
