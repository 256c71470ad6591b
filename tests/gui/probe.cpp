// Loaded into MossLane.exe by the driver's window hook: reads the main window's
// menu from inside the program, since menus of another process cannot be read.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "probe.h"

namespace {

struct Report {
    char* text;
    size_t size;
    size_t used;
};

void Append(Report* report, const char* line) {
    size_t length = strlen(line);
    if (report->used + length + 1 > report->size) return;
    memcpy(report->text + report->used, line, length + 1);
    report->used += length;
}

void ReportItems(Report* report, HMENU menu) {
    int count = GetMenuItemCount(menu);
    for (int pos = 0; pos < count; ++pos) {
        HMENU sub = GetSubMenu(menu, pos);
        if (sub) {
            ReportItems(report, sub);
            continue;
        }
        UINT id = GetMenuItemID(menu, pos);
        UINT state = GetMenuState(menu, pos, MF_BYPOSITION);
        if (state & MF_SEPARATOR) continue;
        char name[64] = "";
        GetMenuStringA(menu, pos, name, sizeof name, MF_BYPOSITION);
        char line[128];
        snprintf(line, sizeof line, "item %u checked=%d grayed=%d %s\n", id, (state & MF_CHECKED) ? 1 : 0,
                 (state & (MF_GRAYED | MF_DISABLED)) ? 1 : 0, name);
        Append(report, line);
    }
}

void ReportMenus(HWND window, Report* report) {
    HMENU bar = GetMenu(window);
    int count = bar ? GetMenuItemCount(bar) : 0;
    for (int pos = 0; pos < count; ++pos) {
        UINT state = GetMenuState(bar, pos, MF_BYPOSITION);
        char name[64] = "";
        GetMenuStringA(bar, pos, name, sizeof name, MF_BYPOSITION);
        for (char* c = name; *c; ++c)
            if (static_cast<unsigned char>(*c) < 0x20) *c = '~';
        char line[128];
        snprintf(line, sizeof line, "bar %d grayed=%d %s\n", pos, (state & (MF_GRAYED | MF_DISABLED)) ? 1 : 0,
                 name);
        Append(report, line);
        HMENU sub = GetSubMenu(bar, pos);
        if (sub) ReportItems(report, sub);
    }
    HMENU system = GetSystemMenu(window, FALSE);
    if (system) {
        UINT state = GetMenuState(system, SC_CLOSE, MF_BYCOMMAND);
        char line[64];
        snprintf(line, sizeof line, "close grayed=%d\n",
                 state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) ? 1 : 0);
        Append(report, line);
    }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    static UINT probeMessage = RegisterWindowMessageA(kProbeMessage);
    if (code == HC_ACTION) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == probeMessage) {
            HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kProbeMapping);
            if (mapping) {
                char* text = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kProbeSize));
                if (text) {
                    Report report = {text, kProbeSize, 0};
                    text[0] = '\0';
                    ReportMenus(call->hwnd, &report);
                    Append(&report, "end\n");
                    UnmapViewOfFile(text);
                }
                CloseHandle(mapping);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
