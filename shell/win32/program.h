// What the parts of the Windows program share: the instance, the main
// window, and the operations each menu command runs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "status.h"

extern HINSTANCE programInstance;
extern HWND mainWindow;  // 0 until created: boxes shown before that have no owner

// Copies text into dest of size bytes, cut to fit; the rest of dest is untouched.
inline void CopyText(char* dest, size_t size, const char* text) {
    size_t length = strnlen(text, size - 1);
    memcpy(dest, text, length);
    dest[length] = '\0';
}

enum : UINT { ExitSuccess = 0, ExitFailure = 0xFFFFFFFF };  // -1 when start-up cannot go on

// Ends the process at once, without the orderly shutdown.
[[noreturn]] void EndProcess(UINT exitCode);
void CenterWindow(HWND window);
// The busy flag held around a nested loop that must not start a poll.
bool HoldBusy();
void ReleaseBusy(bool previous);

// Start-up and the window.
void LoadSettings();
void CreateMainWindow();
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The serial port and its menu items.
int OpenSerialPort();
void CloseSerialPort();
void SelectSerialPort(int id);
void SelectBaudRate(int id);
void SelectHandshake(int id);

// The status panel.
uint16_t ReportProgress(TransferStatus* status, int16_t event);

// Folders and text files.
int ChooseIncomingFolder();
int ChooseOutgoingFolder();
UINT_PTR CALLBACK FolderDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void EditTextFilePreferences();

// Help and About.
void ShowHelpContents();
void QuitHelp();
void ShowAboutWindow();
