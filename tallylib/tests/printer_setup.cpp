// Installs a PostScript printer on LPT1: as the default printer of the
// prefix, with Wine's generic PPD taken from winspool.drv's resources.
#include <windows.h>
#include <winspool.h>

#include <cstdio>

namespace {

char driverName[] = "Tally Test Driver";
char printerName[] = "Tally Test Printer";

bool WriteGenericPpd(const char *path)
{
    HMODULE spool = LoadLibraryExA("winspool.drv", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = spool ? FindResourceA(spool, MAKEINTRESOURCEA(1), "PPDFILE") : nullptr;
    HGLOBAL data = found ? LoadResource(spool, found) : nullptr;
    if (!data) return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, LockResource(data), SizeofResource(spool, found), &written, nullptr);
    CloseHandle(file);
    return ok;
}

}  // namespace

int main()
{
    // Written straight into the driver directory, where the driver looks for it.
    char ppd[MAX_PATH];
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE *>(ppd), MAX_PATH - 32, &needed)) {
        std::printf("no printer driver directory\n");
        return 1;
    }
    CreateDirectoryA(ppd, nullptr);
    lstrcatA(ppd, "\\tally-generic.ppd");
    if (!WriteGenericPpd(ppd)) {
        std::printf("cannot write the PPD\n");
        return 1;
    }
    char wineps[] = "wineps.drv";
    DRIVER_INFO_3A driver = {};
    driver.cVersion = 3;
    driver.pName = driverName;
    driver.pDriverPath = wineps;
    driver.pDataFile = ppd;
    driver.pConfigFile = wineps;
    if (!AddPrinterDriverExA(nullptr, 3, reinterpret_cast<BYTE *>(&driver), APD_COPY_NEW_FILES)) {
        std::printf("AddPrinterDriverExA failed: %lu\n", GetLastError());
        return 1;
    }
    char port[] = "LPT1:", processor[] = "winprint", datatype[] = "RAW";
    PRINTER_INFO_2A info = {};
    info.pPrinterName = printerName;
    info.pPortName = port;
    info.pDriverName = driverName;
    info.pPrintProcessor = processor;
    info.pDatatype = datatype;
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE *>(&info));
    if (!printer) {
        std::printf("AddPrinterA failed: %lu\n", GetLastError());
        return 1;
    }
    ClosePrinter(printer);
    if (!SetDefaultPrinterA(printerName)) {
        std::printf("SetDefaultPrinterA failed: %lu\n", GetLastError());
        return 1;
    }
    char device[100];
    GetProfileStringA("windows", "device", "", device, sizeof device);
    std::printf("%s\n", device);
    return 0;
}
