// The serial port as the menu sets it: port, speed and handshaking loaded on
// the first open, re-opened on every choice, shown by check marks.
#include <windows.h>

#include "message.h"
#include "program.h"
#include "resource.h"
#include "serial.h"
#include "stored_settings.h"

namespace {
// 0 = not loaded yet: read from the store at the next open.
uint8_t serialPort = 0;
uint32_t baudRate = 0;
uint8_t handShake = 0;

const uint8_t kDefaultPort = 2;
const uint32_t kDefaultBaudRate = 57600;
const uint8_t kDefaultHandShake = HandshakeCts;

UINT BaudItem(uint32_t rate) {
    switch (rate) {
    case 115200: return IDM_BAUD_115200;
    case 57600: return IDM_BAUD_57600;
    case 19200: return IDM_BAUD_19200;
    default: return 0;
    }
}

void CheckLineItems() {
    HMENU menu = GetMenu(mainWindow);
    CheckMenuItem(menu, IDM_COM1 - 1 + serialPort, MF_BYCOMMAND | MF_CHECKED);
    if (UINT item = BaudItem(baudRate)) CheckMenuItem(menu, item, MF_BYCOMMAND | MF_CHECKED);
    CheckMenuItem(menu, handShake == HandshakeCts ? IDM_HANDSHAKE_CTS : IDM_HANDSHAKE_NONE,
                  MF_BYCOMMAND | MF_CHECKED);
}

bool OpenDevice() {
    if (serialPort < 1 || serialPort > 4) return false;
    char device[] = "COM0";
    device[3] = static_cast<char>('0' + serialPort);
    return SerialOpenDevice(device, baudRate, handShake) != 0;
}
}  // namespace

int OpenSerialPort() {
    LoadLineSetting("SerialPort", &serialPort, 1, &kDefaultPort);
    // Speed and handshaking are loaded even when there is no port to open.
    LoadLineSetting("BaudRate", &baudRate, 4, &kDefaultBaudRate);
    LoadLineSetting("HandShake", &handShake, 1, &kDefaultHandShake);
    if (!OpenDevice()) {
        // A device that opened but refused its settings stays held until the next close.
        ShowMessage(MessagePortUnavailable);
        return 0;
    }
    CheckLineItems();
    return 1;
}

void CloseSerialPort() {
    SerialCloseDevice();
    HMENU menu = GetMenu(mainWindow);
    for (UINT item = IDM_COM1; item <= IDM_HANDSHAKE_NONE; ++item) {
        CheckMenuItem(menu, item, MF_BYCOMMAND | MF_UNCHECKED);
    }
}

void SelectSerialPort(int id) {
    CloseSerialPort();
    uint8_t chosen = id >= IDM_COM1 && id <= IDM_COM4 ? static_cast<uint8_t>(id - IDM_COM1 + 1) : 0;
    if (StoreLineSetting("SerialPort", &serialPort, 1, &chosen)) OpenSerialPort();
}

void SelectBaudRate(int id) {
    CloseSerialPort();
    uint32_t chosen = id == IDM_BAUD_115200 ? 115200
                      : id == IDM_BAUD_57600 ? 57600
                      : id == IDM_BAUD_19200 ? 19200
                                             : 0;
    if (StoreLineSetting("BaudRate", &baudRate, 4, &chosen)) OpenSerialPort();
}

void SelectHandshake(int id) {
    CloseSerialPort();
    uint8_t chosen = id == IDM_HANDSHAKE_CTS ? HandshakeCts : id == IDM_HANDSHAKE_NONE ? HandshakeNone : 0;
    if (StoreLineSetting("HandShake", &handShake, 1, &chosen)) OpenSerialPort();
}
