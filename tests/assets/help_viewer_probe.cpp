// Opens a help file in the platform's help viewer the way Moss Lane does
// (WinHelpA with HELP_CONTENTS), reads back what the viewer shows, saves a
// screenshot of its window, follows jumps by clicking them, and quits it.
//
//   help_viewer_probe FILE.hlp SHOT.bmp [LABEL | index:KEYWORD ...]
//
// Prints lines for the test to check:
//   CONTENTS <text of the first topic shown, line ends as \n>
//   JUMP <label> -> <first line of the topic the click led to>
//   INDEX <keyword> -> <first line of the topic the index entry led to>
//   ERRORBOX <text>     whenever the viewer put up a message box (answered)
//   QUIT ok | QUIT still-open
// Exit code 0 when every step could be carried out.

#include <windows.h>
#include <richedit.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile LONG errorBoxes = 0;
// Set while the viewer's own index dialog is expected on screen.
volatile LONG indexExpected = 0;

std::string WindowText(HWND window)
{
    int length = (int)SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(length + 1, '\0');
    int got = (int)SendMessageA(window, WM_GETTEXT, length + 1, (LPARAM)&text[0]);
    text.resize(got > 0 ? got : 0);
    return text;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
{
    if (_stricmp(ClassOf(child).c_str(), "Static") == 0)
        *(std::string*)param += WindowText(child) + " ";
    return TRUE;
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM)
{
    if (!indexExpected && IsWindowVisible(window) && ClassOf(window) == "#32770") {
        std::string text;
        EnumChildWindows(window, CollectStatic, (LPARAM)&text);
        printf("ERRORBOX %s\n", text.c_str());
        fflush(stdout);
        InterlockedIncrement(&errorBoxes);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// A box left open would block WinHelpA and the viewer for ever: answer it.
DWORD WINAPI Watchdog(LPVOID)
{
    for (;;) {
        EnumWindows(AnswerBox, 0);
        Sleep(200);
    }
}

BOOL CALLBACK FindRichEdit(HWND child, LPARAM param)
{
    std::string name = ClassOf(child);
    for (char& c : name)
        c = (char)tolower((unsigned char)c);
    auto* found = (std::vector<HWND>*)param;
    if (name.find("richedit") != std::string::npos && IsWindowVisible(child))
        found->push_back(child);
    return TRUE;
}

// The viewer's topic text: the longest of its visible rich-edit panes.
HWND TopicPane(HWND viewer)
{
    std::vector<HWND> panes;
    EnumChildWindows(viewer, FindRichEdit, (LPARAM)&panes);
    HWND best = nullptr;
    size_t bestLength = 0;
    for (HWND pane : panes) {
        size_t length = WindowText(pane).size();
        if (!best || length > bestLength) {
            best = pane;
            bestLength = length;
        }
    }
    return best;
}

std::string FirstLine(const std::string& text)
{
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                i++;
            out += "\\n";
        } else if (text[i] == '\n') {
            out += "\\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(50);
    } while (GetTickCount() - start < ms);
}

// Waits until the viewer shows a topic whose first line is (or, with
// same false, is not) the given one.
bool WaitForTopic(HWND* viewer, std::string* text, const std::string& line, bool same, DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        Pump(100);
        *viewer = FindWindowA("MS_WINHELP", nullptr);
        if (!*viewer)
            continue;
        HWND pane = TopicPane(*viewer);
        if (!pane)
            continue;
        *text = WindowText(pane);
        if (!text->empty() && (FirstLine(*text) == line) == same)
            return true;
    }
    return false;
}

bool SaveScreenshot(HWND window, const char* path)
{
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
        DWORD imageSize = stride * (DWORD)height;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        FILE* out = ok ? fopen(path, "wb") : nullptr;
        ok = out && fwrite(&file, sizeof file, 1, out) == 1 &&
             fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             fwrite(bits, 1, imageSize, out) == imageSize;
        if (out && fclose(out) != 0)
            ok = false;
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// Clicks the first occurrence of label in the topic pane, as a user would.
bool ClickLabel(HWND pane, const std::string& label)
{
    std::string text = WindowText(pane);
    // The pane's character positions count a line end as one character.
    std::string flat;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        flat += text[i];
    }
    size_t at = flat.find(label);
    if (at == std::string::npos)
        return false;
    POINTL point = {};
    LPARAM index = (LPARAM)(at + label.size() / 2);
    SendMessageA(pane, EM_POSFROMCHAR, (WPARAM)&point, index);
    if (point.x == 0 && point.y == 0) {
        // Some rich-edit versions answer in the result, as an edit control does.
        LRESULT packed = SendMessageA(pane, EM_POSFROMCHAR, (WPARAM)index, 0);
        point.x = (short)LOWORD(packed);
        point.y = (short)HIWORD(packed);
    }
    POINT screen = {point.x + 2, point.y + 4};
    ClientToScreen(pane, &screen);
    SetForegroundWindow(GetAncestor(pane, GA_ROOT));
    SetCursorPos(screen.x, screen.y);
    Sleep(100);
    INPUT press[2] = {};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, press, sizeof press[0]) == 2;
}

struct Found {
    const char* className;
    const char* text;
    HWND window;
};

BOOL CALLBACK FindChild(HWND child, LPARAM param)
{
    auto* f = (Found*)param;
    if (_stricmp(ClassOf(child).c_str(), f->className) == 0 && (!f->text || WindowText(child) == f->text) &&
        IsWindowVisible(child)) {
        f->window = child;
        return FALSE;
    }
    return TRUE;
}

HWND Child(HWND parent, const char* className, const char* text)
{
    Found f = {className, text, nullptr};
    EnumChildWindows(parent, FindChild, (LPARAM)&f);
    return f.window;
}

BOOL CALLBACK FindIndexDialog(HWND window, LPARAM param)
{
    if (IsWindowVisible(window) && ClassOf(window) == "#32770" && Child(window, "ListBox", nullptr)) {
        *(HWND*)param = window;
        return FALSE;
    }
    return TRUE;
}

// Presses the viewer's Index button, picks the keyword and presses OK.
bool ChooseFromIndex(HWND viewer, const std::string& keyword)
{
    HWND button = Child(viewer, "Button", "&Index");
    if (!button) {
        printf("INDEX %s -> (no Index button)\n", keyword.c_str());
        return false;
    }
    InterlockedExchange(&indexExpected, 1);
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND dialog = nullptr;
    for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < 10000;) {
        Pump(100);
        EnumWindows(FindIndexDialog, (LPARAM)&dialog);
    }
    bool chosen = false;
    if (dialog) {
        HWND list = Child(dialog, "ListBox", nullptr);
        int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < count && !chosen; i++) {
            // The viewer's list holds wide strings; compare in the ANSI code page.
            wchar_t wide[256] = L"";
            char item[512] = "";
            if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 256 && SendMessageW(list, LB_GETTEXT, i, (LPARAM)wide) > 0)
                WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, nullptr, nullptr);
            if (keyword == item) {
                SendMessageA(list, LB_SETCURSEL, i, 0);
                chosen = true;
            }
        }
        if (!chosen)
            printf("INDEX %s -> (not in the index of %d entries)\n", keyword.c_str(), count);
        // OK takes the selection; Cancel just closes.
        PostMessageA(dialog, WM_COMMAND, chosen ? IDOK : IDCANCEL, 0);
        for (DWORD start = GetTickCount(); IsWindow(dialog) && IsWindowVisible(dialog) &&
                                           GetTickCount() - start < 10000;)
            Pump(100);
    } else {
        printf("INDEX %s -> (no index dialog)\n", keyword.c_str());
    }
    InterlockedExchange(&indexExpected, 0);
    return chosen;
}

struct Session {
    HWND owner;
    const char* helpFile;
    HWND viewer;
    std::string contents;   // the text of the contents topic
    int failures;
};

// WinHelpA with HELP_CONTENTS, then waits until the contents is on screen.
bool ShowContents(Session& s)
{
    WinHelpA(s.owner, s.helpFile, HELP_CONTENTS, 0);
    std::string shown;
    if (!WaitForTopic(&s.viewer, &shown, FirstLine(s.contents), true, 10000)) {
        printf("contents not shown again\n");
        s.failures++;
        return false;
    }
    return true;
}

void FollowJump(Session& s, const std::string& label)
{
    HWND pane = TopicPane(s.viewer);
    std::string shown;
    if (!pane || !ClickLabel(pane, label)) {
        printf("JUMP %s -> (label not found)\n", label.c_str());
        s.failures++;
    } else if (!WaitForTopic(&s.viewer, &shown, FirstLine(s.contents), false, 10000)) {
        printf("JUMP %s -> (nothing happened)\n", label.c_str());
        s.failures++;
    } else {
        printf("JUMP %s -> %s\n", label.c_str(), FirstLine(shown).c_str());
    }
}

void FollowIndex(Session& s, const std::string& keyword)
{
    std::string shown;
    if (!ChooseFromIndex(s.viewer, keyword)) {
        s.failures++;
    } else if (!WaitForTopic(&s.viewer, &shown, FirstLine(s.contents), false, 10000)) {
        printf("INDEX %s -> (nothing happened)\n", keyword.c_str());
        s.failures++;
    } else {
        printf("INDEX %s -> %s\n", keyword.c_str(), FirstLine(shown).c_str());
    }
}

bool QuitViewer(Session& s)
{
    WinHelpA(s.owner, s.helpFile, HELP_QUIT, 0);
    DWORD start = GetTickCount();
    while (FindWindowA("MS_WINHELP", nullptr) && GetTickCount() - start < 10000)
        Pump(100);
    bool closed = FindWindowA("MS_WINHELP", nullptr) == nullptr;
    printf("QUIT %s\n", closed ? "ok" : "still-open");
    return closed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: help_viewer_probe FILE.hlp SHOT.bmp [LABEL | index:KEYWORD ...]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HelpViewerProbe";
    RegisterClassA(&wc);
    Session s = {};
    s.helpFile = argv[1];
    s.owner = CreateWindowA("HelpViewerProbe", "probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            wc.hInstance, nullptr);
    if (!s.owner) {
        printf("no owner window\n");
        return 1;
    }

    if (!WinHelpA(s.owner, s.helpFile, HELP_CONTENTS, 0)) {
        printf("WinHelpA failed\n");
        s.failures++;
    }
    if (!WaitForTopic(&s.viewer, &s.contents, "", false, 30000)) {
        printf("no topic shown\n");
        QuitViewer(s);
        return 1;
    }
    // Let the viewer finish painting before the picture is taken.
    Pump(1500);
    s.contents = WindowText(TopicPane(s.viewer));
    printf("CONTENTS %s\n", Escaped(s.contents).c_str());
    if (!SaveScreenshot(s.viewer, argv[2])) {
        printf("screenshot failed\n");
        s.failures++;
    }

    for (int i = 3; i < argc; i++) {
        std::string step = argv[i];
        if (step.compare(0, 6, "index:") == 0)
            FollowIndex(s, step.substr(6));
        else
            FollowJump(s, step);
        ShowContents(s);
    }

    bool closed = QuitViewer(s);
    DestroyWindow(s.owner);
    return s.failures == 0 && closed && errorBoxes == 0 ? 0 : 1;
}
