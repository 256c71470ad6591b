// Printing a card file, with a small window whose Abort button stops the job.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "device_entry.h"
#include "page_layout.h"
#include "resource.h"
#include "state.h"
#include "tallylib.h"

namespace {

constexpr UINT MEASURE_FORMAT = DT_CALCRECT | DT_NOPREFIX | DT_NOCLIP | DT_EXPANDTABS | DT_WORDBREAK;
constexpr UINT DRAW_FORMAT = DT_NOPREFIX | DT_NOCLIP | DT_EXPANDTABS | DT_WORDBREAK;
// Room for the zero fill that ends the text, and a cap that keeps size + 10 in range.
constexpr DWORD TEXT_SLACK = 10;
constexpr DWORD MAX_CARD_SIZE = 0x7FFFFFF0;

long printAborted = 0;
HWND printWindow = nullptr;
PRINTDLGA printSetup;
char profileBuffer[80];

INT_PTR CALLBACK PrintDialogProc(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && wParam == IDC_PRINT_ABORT) {
        printAborted = 1;
        return TRUE;
    }
    return FALSE;
}

// Called by the platform while the job spools, and by the library after each
// page, since some platforms (Wine) call it only when the job starts: the
// Abort button works here.
BOOL CALLBACK PrintAbortProc(HDC, int)
{
    MSG msg;
    while (!printAborted && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (printWindow && IsDialogMessageA(printWindow, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return !printAborted;
}

HDC AskForPrinter()
{
    std::memset(&printSetup, 0, sizeof printSetup);
    printSetup.lStructSize = sizeof printSetup;
    printSetup.Flags = PD_PRINTSETUP | PD_RETURNDC;
    printSetup.nCopies = 1;
    if (!PrintDlgA(&printSetup)) return nullptr;
    if (printSetup.hDevMode) GlobalFree(printSetup.hDevMode);
    if (printSetup.hDevNames) GlobalFree(printSetup.hDevNames);
    return printSetup.hDC;
}

HDC DefaultPrinter()
{
    GetProfileStringA("windows", "device", ",,,", profileBuffer, sizeof profileBuffer);
    DeviceEntry entry;
    if (!_DeviceEntrySplit(profileBuffer, &entry)) return nullptr;
    return CreateDCA(entry.driver, entry.device, entry.port, nullptr);
}

struct Page {
    HDC dc;
    LONG right;
};

long MeasureOnPage(const char *text, long length, void *context)
{
    const Page *page = static_cast<const Page *>(context);
    RECT rect = {0, 0, page->right, 0};
    return DrawTextA(page->dc, text, static_cast<int>(length), &rect, MEASURE_FORMAT);
}

// Lays the text out page by page; 0, or 114 when a page could not be ended.
long PrintPages(HDC dc, const char *text)
{
    long pageHeight = GetDeviceCaps(dc, VERTRES);
    TEXTMETRICA metrics;
    if (!GetTextMetricsA(dc, &metrics)) metrics.tmMaxCharWidth = 0;
    Page page = {dc, GetDeviceCaps(dc, HORZRES) - 4 * metrics.tmMaxCharWidth};
    for (;;) {
        long length = static_cast<long>(std::strlen(text));
        PageCut cut = _PageCut(text, length, pageHeight, MeasureOnPage, &page);
        RECT rect = {0, 0, page.right, pageHeight};
        DrawTextA(dc, text, static_cast<int>(cut.length), &rect, DRAW_FORMAT);
        if (!cut.more) return TALLY_OK;
        // The caller ends the last page; an aborted job has no next one.
        if (EndPage(dc) <= 0) return TALLY_ERR_PRINT;
        if (!PrintAbortProc(dc, 0)) return TALLY_ERR_ABORTED;
        StartPage(dc);
        text += cut.length;
    }
}

long ReadAndPrint(HDC dc, HANDLE file, DWORD size)
{
    if (size > MAX_CARD_SIZE) return TALLY_ERR_MEMORY;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + TEXT_SLACK);
    if (!block) return TALLY_ERR_MEMORY;
    long result = TALLY_ERR_MEMORY;
    char *text = static_cast<char *>(GlobalLock(block));
    if (text) {
        DWORD got = 0;
        ReadFile(file, text, size + 4, &got, nullptr);
        text[size < got ? size : got] = '\0';
        result = PrintPages(dc, text);
        GlobalUnlock(block);
    }
    GlobalFree(block);
    return result;
}

long PrintCardFile(HDC dc, const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return TALLY_ERR_FILE;
    DWORD size = SetFilePointer(file, 0, nullptr, FILE_END);
    long result = TALLY_ERR_FILE;
    if (size != INVALID_SET_FILE_POINTER && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0)
        result = ReadAndPrint(dc, file, size);
    CloseHandle(file);
    return result;
}

long PrintDocument(HDC dc, const char *path)
{
    DOCINFOA doc;
    std::memset(&doc, 0, sizeof doc);
    doc.cbSize = sizeof doc;
    doc.lpszDocName = path;
    // A job that cannot start prints nothing: report it as a print failure,
    // never as the platform's 0, which would read as success.
    if (StartDocA(dc, &doc) <= 0) return TALLY_ERR_PRINT;
    StartPage(dc);
    long result = PrintCardFile(dc, path);
    if (EndPage(dc) <= 0) result = TALLY_ERR_PRINT;
    if (!PrintAbortProc(dc, 0)) {
        AbortDoc(dc);
        return TALLY_ERR_ABORTED;
    }
    if (EndDoc(dc) <= 0) result = TALLY_ERR_PRINT;
    return result;
}

}  // namespace

extern "C" long TALLY_CDECL TallyCard_Print(const char *cardPath, long setupDialog)
{
    if (!cardPath) return TALLY_ERR_FILE;
    HDC dc = setupDialog ? AskForPrinter() : DefaultPrinter();
    if (!dc) return TALLY_ERR_NO_PRINTER;
    printAborted = 0;
    printWindow = CreateDialogA(static_cast<HINSTANCE>(_StateModule()), IDD_PRINT, nullptr, PrintDialogProc);
    Escape(dc, SETABORTPROC, 0, reinterpret_cast<LPCSTR>(PrintAbortProc), nullptr);
    long result = PrintDocument(dc, cardPath);
    DeleteDC(dc);
    if (printWindow) DestroyWindow(printWindow);
    printWindow = nullptr;
    return printAborted ? TALLY_ERR_ABORTED : result;
}
