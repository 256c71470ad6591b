// mosslane_driver: does to a running MossLane.exe what a user does with the
// mouse, from another process of the same Wine prefix, and prints what it sees.
// Every wait has a deadline; exit code 0 = done, 1 = not found or failed, 2 = usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "probe.h"

namespace {

const char* const kMainClass = "MossLane";
const char* const kDialogClass = "#32770";
const int kPollMs = 50;

struct Found {
    const char* className;
    const char* title;  // nullptr: any
    bool visibleOnly;   // a dialog counts once it is shown, after its hook has placed it
    HWND window;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data) {
    Found* found = reinterpret_cast<Found*>(data);
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, found->className) != 0) return TRUE;
    if (found->visibleOnly && !IsWindowVisible(window)) return TRUE;
    if (found->title) {
        char title[256] = "";
        GetWindowTextA(window, title, sizeof title);
        if (strcmp(title, found->title) != 0) return TRUE;
    }
    found->window = window;
    return FALSE;
}

HWND FindTopLevel(const char* className, const char* title, bool visibleOnly = false) {
    Found found = {className, title, visibleOnly, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

HWND WaitTopLevel(const char* className, const char* title, DWORD timeoutMs, bool visibleOnly = true) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindTopLevel(className, title, visibleOnly);
        if (window) return window;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

HWND MainWindow() {
    return FindTopLevel(kMainClass, nullptr);
}

// WM_GETTEXT is answered by the window's own thread; a deadline keeps a busy
// program (the one-second pause after a transfer) from hanging the driver.
std::string TextOf(HWND window) {
    char text[512] = "";
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                             &ignored))
        return "<no answer>";
    return text;
}

bool SetText(HWND window, const char* text) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &ignored) != 0;
}

void PrintEscaped(const std::string& text) {
    for (unsigned char c : text) {
        if (c == '\r') continue;
        if (c == '\n') fputs("\\n", stdout);
        else putchar(c);
    }
}

int Usage() {
    fputs("usage: mosslane_driver COMMAND ...\n"
          "  wait-main MS | wait-window CLASS TITLE|- MS | wait-gone CLASS TITLE|- MS\n"
          "  command ID | click-cancel | close | endsession | texts | menu [CLASS] | rect CLASS TITLE|-\n"
          "  message-box MS [BUTTON] | chooser TITLE MS FOLDER|--file=PATH|--cancel|--leave\n"
          "  textprefs MS [--ext TEXT] [--check 0|1] (--ok|--cancel|--leave)\n"
          "  close-window CLASS | post-key CLASS VK | hold-port COMn MS | show | volatile-key PATH\n",
          stderr);
    return 2;
}

const char* TitleArg(const char* arg) {
    return strcmp(arg, "-") == 0 ? nullptr : arg;
}

int NeedMain(HWND* main) {
    *main = MainWindow();
    if (!*main) fputs("no main window\n", stderr);
    return *main ? 0 : 1;
}

int CmdWaitMain(DWORD ms) {
    HWND window = WaitTopLevel(kMainClass, nullptr, ms, false);
    if (!window) return 1;
    printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return 0;
}

int CmdWaitWindow(const char* cls, const char* title, DWORD ms) {
    HWND window = WaitTopLevel(cls, title, ms);
    if (!window) return 1;
    printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return 0;
}

int CmdWaitGone(const char* cls, const char* title, DWORD ms) {
    HWND window = FindTopLevel(cls, title);
    return !window || WaitGone(window, ms) ? 0 : 1;
}

// A menu command reaches the window procedure as WM_COMMAND with the id and lParam 0.
int CmdCommand(int id) {
    HWND main;
    if (NeedMain(&main)) return 1;
    return PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0) ? 0 : 1;
}

int CmdClickCancel() {
    HWND main;
    if (NeedMain(&main)) return 1;
    HWND button = GetDlgItem(main, 6);
    if (!button) return 1;
    if (!IsWindowVisible(button)) fputs("Cancel button is hidden\n", stderr);
    return PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 1;
}

int CmdClose() {
    HWND main;
    if (NeedMain(&main)) return 1;
    return PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
}

int CmdEndSession() {
    HWND main;
    if (NeedMain(&main)) return 1;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &result)) {
        // The program may end while answering; that is an answer too.
        puts(IsWindow(main) ? "no answer" : "window gone");
        return IsWindow(main) ? 1 : 0;
    }
    printf("%llu\n", static_cast<unsigned long long>(result));
    return 0;
}

int CmdTexts() {
    HWND main;
    if (NeedMain(&main)) return 1;
    const int ids[] = {7, 1, 2, 3, 4, 5, 6};
    for (int id : ids) {
        HWND control = GetDlgItem(main, id);
        printf("%d=", id);
        if (control) PrintEscaped(TextOf(control));
        else fputs("<missing>", stdout);
        putchar('\n');
    }
    HWND cancel = GetDlgItem(main, 6);
    printf("cancel-visible=%d\n", cancel && IsWindowVisible(cancel) ? 1 : 0);
    printf("caption=%s\n", TextOf(main).c_str());
    printf("visible=%d iconic=%d\n", IsWindowVisible(main) ? 1 : 0, IsIconic(main) ? 1 : 0);
    return 0;
}

// Menus live in the program's own process: a hook loads the probe there and
// the probe writes what it reads into shared memory.
int CmdMenu(const char* cls) {
    HWND main = FindTopLevel(cls, nullptr);
    if (!main) return 1;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kProbeSize, kProbeMapping);
    if (!mapping) return 1;
    char* text = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kProbeSize));
    HMODULE probe = LoadLibraryA("mosslane_probe.dll");
    HOOKPROC hook = probe ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe, "ProbeHook"))) : nullptr;
    int status = 1;
    if (text && hook) {
        text[0] = '\0';
        DWORD thread = GetWindowThreadProcessId(main, nullptr);
        HHOOK installed = SetWindowsHookExA(WH_CALLWNDPROC, hook, probe, thread);
        if (installed) {
            DWORD_PTR ignored = 0;
            UINT message = RegisterWindowMessageA(kProbeMessage);
            DWORD start = GetTickCount();
            while (!strstr(text, "end\n") && GetTickCount() - start < 10000) {
                SendMessageTimeoutA(main, message, 0, 0, SMTO_NORMAL, 2000, &ignored);
                if (!strstr(text, "end\n")) Sleep(kPollMs);
            }
            UnhookWindowsHookEx(installed);
            if (strstr(text, "end\n")) {
                fputs(text, stdout);
                status = 0;
            } else {
                fputs("the probe did not answer\n", stderr);
            }
        }
    }
    if (text) UnmapViewOfFile(text);
    CloseHandle(mapping);
    return status;
}

int CmdRect(const char* cls, const char* title) {
    HWND window = FindTopLevel(cls, title);
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) return 1;
    printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return 0;
}

// A message box is a dialog without the chooser's file-name box; its text is
// the static with the longest text.
struct BoxSearch {
    HWND box;
};

BOOL CALLBACK LongestStatic(HWND child, LPARAM data) {
    std::string* best = reinterpret_cast<std::string*>(data);
    char name[64] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0) {
        std::string text = TextOf(child);
        if (text.size() > best->size()) *best = text;
    }
    return TRUE;
}

BOOL CALLBACK MatchMessageBox(HWND window, LPARAM data) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, kDialogClass) != 0 || !IsWindowVisible(window)) return TRUE;
    if (GetDlgItem(window, 1152) || GetDlgItem(window, 3)) return TRUE;
    reinterpret_cast<BoxSearch*>(data)->box = window;
    return FALSE;
}

int CmdMessageBox(DWORD ms, int button) {
    DWORD start = GetTickCount();
    BoxSearch search = {nullptr};
    for (;;) {
        EnumWindows(MatchMessageBox, reinterpret_cast<LPARAM>(&search));
        if (search.box || GetTickCount() - start >= ms) break;
        Sleep(kPollMs);
    }
    if (!search.box) return 1;
    std::string text;
    EnumChildWindows(search.box, LongestStatic, reinterpret_cast<LPARAM>(&text));
    printf("caption=%s\ntext=", TextOf(search.box).c_str());
    PrintEscaped(text);
    putchar('\n');
    HWND owner = GetWindow(search.box, GW_OWNER);
    printf("owned=%d\n", owner ? 1 : 0);
    if (button > 0) {
        PostMessageA(search.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(search.box, button)));
        if (!WaitGone(search.box, 10000)) return 1;
    }
    return 0;
}

// The folder chooser returns the probe name joined to the folder it shows;
// putting a full path into the hidden name box and pressing Select is what
// navigating there and pressing Select gives.
int CmdChooser(const char* title, DWORD ms, const char* folder) {
    HWND dialog = WaitTopLevel(kDialogClass, title, ms);
    if (!dialog) {
        fprintf(stderr, "no dialog \"%s\"\n", title);
        return 1;
    }
    RECT rect;
    GetWindowRect(dialog, &rect);
    HWND name = GetDlgItem(dialog, 1152);
    printf("rect=%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    printf("name=%s\n", name ? TextOf(name).c_str() : "<missing>");
    HWND current = GetDlgItem(dialog, 1088);
    printf("folder=%s\n", current ? TextOf(current).c_str() : "<missing>");
    if (strcmp(folder, "--leave") == 0) return 0;
    if (strcmp(folder, "--cancel") == 0) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    } else {
        if (!name) return 1;
        std::string path;
        if (strncmp(folder, "--file=", 7) == 0) {
            path = folder + 7;  // a file chooser: the file itself
        } else {
            path = folder;
            if (!path.empty() && path.back() != '\\') path += '\\';
            path += "!moss~lane!.ml";
        }
        if (!SetText(name, path.c_str())) return 1;
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    }
    if (!WaitGone(dialog, 10000)) {
        fputs("the chooser stayed open\n", stderr);
        return 1;
    }
    return 0;
}

int CmdTextPrefs(int argc, char** argv) {
    if (argc < 1) return Usage();
    HWND dialog = WaitTopLevel(kDialogClass, "Text File Preferences", strtoul(argv[0], nullptr, 10));
    if (!dialog) return 1;
    HWND edit = GetDlgItem(dialog, 3);
    HWND check = GetDlgItem(dialog, 4);
    if (!edit || !check) return 1;
    DWORD_PTR checked = 0;
    SendMessageTimeoutA(check, BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &checked);
    printf("ext=%s\ncheck=%d\n", TextOf(edit).c_str(), static_cast<int>(checked));
    int button = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--ext") == 0 && i + 1 < argc) {
            if (!SetText(edit, argv[++i])) return 1;
        } else if (strcmp(argv[i], "--check") == 0 && i + 1 < argc) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(check, BM_SETCHECK, atoi(argv[++i]) ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL, 5000,
                                &ignored);
        } else if (strcmp(argv[i], "--ok") == 0) {
            button = IDOK;
        } else if (strcmp(argv[i], "--cancel") == 0) {
            button = IDCANCEL;
        } else if (strcmp(argv[i], "--leave") != 0) {
            return Usage();
        }
    }
    if (!button) return 0;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    return WaitGone(dialog, 10000) ? 0 : 1;
}

int CmdCloseWindow(const char* cls) {
    HWND window = FindTopLevel(cls, nullptr);
    if (!window) return 1;
    PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitGone(window, 10000) ? 0 : 1;
}

int CmdPostKey(const char* cls, int vk) {
    HWND window = FindTopLevel(cls, nullptr);
    if (!window) return 1;
    return PostMessageA(window, WM_KEYDOWN, vk, 1) ? 0 : 1;
}

// Another program holding the port: opened exclusively, as any program does.
int CmdHoldPort(const char* port, DWORD ms) {
    HANDLE handle = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open %s\n", port);
        return 1;
    }
    puts("holding");
    fflush(stdout);
    Sleep(ms);
    CloseHandle(handle);
    return 0;
}

// Shows the minimised main window, as a click on its icon does, for a picture of it.
int CmdShow() {
    HWND main;
    if (NeedMain(&main)) return 1;
    ShowWindowAsync(main, SW_RESTORE);
    DWORD start = GetTickCount();
    while (IsIconic(main) && GetTickCount() - start < 5000) Sleep(kPollMs);
    return IsIconic(main) ? 1 : 0;
}

// A volatile key cannot have lasting sub-keys: creating the settings key under
// one fails, as a key the user may not write does.
int CmdVolatileKey(const char* path) {
    HKEY key;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  &key, &disposition);
    if (result != ERROR_SUCCESS) {
        fprintf(stderr, "cannot create volatile key %s: %ld\n", path, result);
        return 1;
    }
    RegCloseKey(key);
    printf("%s\n", disposition == REG_CREATED_NEW_KEY ? "created" : "existed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* cmd = argv[1];
    int n = argc - 2;
    char** a = argv + 2;
    int status = 2;
    if (!strcmp(cmd, "wait-main") && n == 1) status = CmdWaitMain(strtoul(a[0], nullptr, 10));
    else if (!strcmp(cmd, "wait-window") && n == 3) status = CmdWaitWindow(a[0], TitleArg(a[1]), strtoul(a[2], nullptr, 10));
    else if (!strcmp(cmd, "wait-gone") && n == 3) status = CmdWaitGone(a[0], TitleArg(a[1]), strtoul(a[2], nullptr, 10));
    else if (!strcmp(cmd, "command") && n == 1) status = CmdCommand(atoi(a[0]));
    else if (!strcmp(cmd, "click-cancel") && n == 0) status = CmdClickCancel();
    else if (!strcmp(cmd, "close") && n == 0) status = CmdClose();
    else if (!strcmp(cmd, "endsession") && n == 0) status = CmdEndSession();
    else if (!strcmp(cmd, "texts") && n == 0) status = CmdTexts();
    else if (!strcmp(cmd, "menu") && n <= 1) status = CmdMenu(n == 1 ? a[0] : kMainClass);
    else if (!strcmp(cmd, "rect") && n == 2) status = CmdRect(a[0], TitleArg(a[1]));
    else if (!strcmp(cmd, "message-box") && (n == 1 || n == 2))
        status = CmdMessageBox(strtoul(a[0], nullptr, 10), n == 2 ? atoi(a[1]) : 0);
    else if (!strcmp(cmd, "chooser") && n == 3) status = CmdChooser(a[0], strtoul(a[1], nullptr, 10), a[2]);
    else if (!strcmp(cmd, "textprefs")) status = CmdTextPrefs(n, a);
    else if (!strcmp(cmd, "post-key") && n == 2) status = CmdPostKey(a[0], static_cast<int>(strtol(a[1], nullptr, 0)));
    else if (!strcmp(cmd, "close-window") && n == 1) status = CmdCloseWindow(a[0]);
    else if (!strcmp(cmd, "show") && n == 0) status = CmdShow();
    else if (!strcmp(cmd, "volatile-key") && n == 1) status = CmdVolatileKey(a[0]);
    else if (!strcmp(cmd, "hold-port") && n == 2) status = CmdHoldPort(a[0], strtoul(a[1], nullptr, 10));
    else return Usage();
    fflush(stdout);
    return status;
}
