// The About window: the program's picture with its version and date, closed
// by the first key or mouse press anywhere in the program.
#include <windows.h>

#include <cstring>

#include "program.h"
#include "resource.h"

namespace {
const char kAboutClass[] = "Brim About Box";
enum : int { PictureWidth = 376, PictureHeight = 200 };
enum : int { VersionBaseline = 90, DateBaseline = 113, FontHeight = 12 };
enum : DWORD { VersionBufferSize = 2048 };

bool aboutClassRegistered = false;
HWND aboutWindow = nullptr;
BYTE versionBuffer[VersionBufferSize];

LRESULT CALLBACK AboutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

bool RegisterAboutClass() {
    if (aboutClassRegistered) return true;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = AboutWndProc;
    windowClass.hInstance = programInstance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kAboutClass;
    aboutClassRegistered = RegisterClassA(&windowClass) != 0;
    return aboutClassRegistered;
}

HFONT MakeFont(const char* faceName, int16_t height) {
    LOGFONTA font = {};
    font.lfHeight = -height;  // a character height, not a cell height
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = PROOF_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    CopyText(font.lfFaceName, LF_FACESIZE, faceName);
    return CreateFontIndirectA(&font);
}

// The FileVersion string of the program's version block, in its first language.
int GetVersionString(char* dest, size_t size) {
    dest[0] = '\0';
    char path[256];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return 0;
    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeA(path, &handle);
    if (infoSize == 0) return 0;
    if (infoSize > VersionBufferSize) infoSize = VersionBufferSize;
    if (!GetFileVersionInfoA(path, 0, infoSize, versionBuffer)) return 0;
    WORD* translation = nullptr;
    UINT translationSize = 0;
    if (!VerQueryValueA(versionBuffer, "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &translationSize) ||
        translationSize < 2 * sizeof(WORD)) {
        return 0;
    }
    char query[64];
    wsprintfA(query, "\\StringFileInfo\\%04x%04x\\FileVersion", translation[0], translation[1]);
    char* version = nullptr;
    UINT versionSize = 0;
    if (!VerQueryValueA(versionBuffer, query, reinterpret_cast<void**>(&version), &versionSize) ||
        version == nullptr) {
        return 0;
    }
    CopyText(dest, size, version);
    return 1;
}

void DrawPicture(HDC dc) {
    HBITMAP picture = LoadBitmapA(programInstance, "MOSSLANE");
    if (picture == nullptr) return;
    HDC memory = CreateCompatibleDC(dc);
    if (memory != nullptr) {
        HGDIOBJ previous = SelectObject(memory, picture);
        BITMAP size = {};
        GetObjectA(picture, sizeof size, &size);
        BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
    DeleteObject(picture);
}

// Centred on the middle of the picture's left half.
void DrawCentred(HDC dc, const char* text, int baseline) {
    int length = static_cast<int>(strlen(text));
    SIZE extent = {};
    GetTextExtentPoint32A(dc, text, length, &extent);
    TextOutA(dc, (PictureWidth / 2 - extent.cx) / 2, baseline, text, length);
}

void PaintAbout(HDC dc) {
    DrawPicture(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_BASELINE | TA_LEFT);
    HFONT font = MakeFont("MS Sans Serif", FontHeight);
    if (font == nullptr) return;
    HGDIOBJ previous = SelectObject(dc, font);
    char line[80] = "version ";
    GetVersionString(line + strlen(line), sizeof line - strlen(line));
    DrawCentred(dc, line, VersionBaseline);
    char date[32];
    if (LoadStringA(programInstance, IDS_DATE, date, sizeof date) > 0) {
        DrawCentred(dc, date, DateBaseline);
    }
    SelectObject(dc, previous);
    DeleteObject(font);
}

LRESULT CALLBACK AboutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN: PostQuitMessage(0); return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintAbout(dc);
        EndPaint(window, &paint);
        return 0;
    }
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Only the About window's messages: the main window and its ticks wait.
void RunAboutLoop() {
    SetCapture(aboutWindow);
    MSG message;
    while (GetMessageA(&message, aboutWindow, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ReleaseCapture();
}
}  // namespace

void ShowAboutWindow() {
    if (!RegisterAboutClass()) return;
    int width = PictureWidth + 2 * GetSystemMetrics(SM_CXBORDER);
    int height = PictureHeight + 2 * GetSystemMetrics(SM_CYBORDER);
    aboutWindow = CreateWindowExA(0, kAboutClass, nullptr, WS_POPUP | WS_BORDER, 0, 0, width, height,
                                  nullptr, nullptr, programInstance, nullptr);
    if (aboutWindow == nullptr) return;
    CenterWindow(aboutWindow);
    ShowWindow(aboutWindow, SW_SHOW);
    UpdateWindow(aboutWindow);
    RunAboutLoop();
    DestroyWindow(aboutWindow);
    aboutWindow = nullptr;
}
