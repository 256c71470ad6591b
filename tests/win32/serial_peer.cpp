// The test's end of the cable: a second communications port of the same machine.
#include "serial_peer.h"

#include <windows.h>

namespace {
HANDLE peer = INVALID_HANDLE_VALUE;
HANDLE held = INVALID_HANDLE_VALUE;
char ordinaryFile[MAX_PATH];

void CloseIfOpen(HANDLE* handle) {
    if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
}
}  // namespace

bool PeerOpen(const char* device) {
    peer = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE) return false;
    DCB line = {};
    line.DCBlength = sizeof(DCB);
    line.BaudRate = 57600;
    line.fBinary = 1;
    line.ByteSize = 8;
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 2000};
    return SetCommState(peer, &line) && SetCommTimeouts(peer, &timeouts);
}

void PeerClose() {
    CloseIfOpen(&peer);
}

bool PeerWrite(const uint8_t* data, int length) {
    DWORD wrote = 0;
    return WriteFile(peer, data, static_cast<DWORD>(length), &wrote, nullptr) &&
           wrote == static_cast<DWORD>(length);
}

int PeerReadSome(uint8_t* buffer, int length) {
    DWORD got = 0;
    if (!ReadFile(peer, buffer, static_cast<DWORD>(length), &got, nullptr)) return 0;
    return static_cast<int>(got);
}

bool HoldDevice(const char* device) {
    held = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return held != INVALID_HANDLE_VALUE;
}

void ReleaseHeldDevice() {
    CloseIfOpen(&held);
}

bool SecondOpenRefused() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

bool LeaveForeignSettings(const char*) { return false; }
bool DeviceIsRaw(const char*) { return true; }

const char* MissingDeviceName() {
    return "COM9";
}

const char* CreateOrdinaryFile() {
    char dir[MAX_PATH];
    DWORD length = GetTempPathA(sizeof dir, dir);
    if (length == 0 || length >= sizeof dir) return nullptr;
    if (GetTempFileNameA(dir, "mos", 0, ordinaryFile) == 0) return nullptr;
    return ordinaryFile;
}

void RemoveOrdinaryFile() {
    if (ordinaryFile[0] != '\0') DeleteFileA(ordinaryFile);
    ordinaryFile[0] = '\0';
}

namespace {
HANDLE background = nullptr;
void (*backgroundJob)(void*);
void* backgroundArg;

DWORD WINAPI RunBackgroundJob(void*) {
    backgroundJob(backgroundArg);
    return 0;
}
}  // namespace

bool StartBackground(void (*job)(void*), void* arg) {
    backgroundJob = job;
    backgroundArg = arg;
    background = CreateThread(nullptr, 0, RunBackgroundJob, nullptr, 0, nullptr);
    return background != nullptr;
}

void JoinBackground() {
    WaitForSingleObject(background, INFINITE);
    CloseHandle(background);
    background = nullptr;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    // Both times count 100 ns units.
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7;
}

namespace {
DWORD queueThread = 0;
}  // namespace

bool PrepareMessageQueue() {
    queueThread = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // a thread's first call makes its queue
    return true;
}

void PostWakeMessage() {
    PostThreadMessageA(queueThread, WM_USER, 0, 0);
}
