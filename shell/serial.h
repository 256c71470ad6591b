// The serial line as the transfer engine sees it: primitives that never wait.
#pragma once
#include <cstdint>

// 1 if exactly one byte was read into dest, else 0.
uint16_t SerialReadByte(uint8_t* dest);
// Bytes read (0 to length) from what has already arrived; 0 on failure.
int16_t SerialReadBlock(uint8_t* buffer, int16_t length);
// Nonzero if the write call succeeded; a partial write still counts as success.
int SerialWriteByte(uint8_t byte);
int SerialWriteBlock(const uint8_t* buffer, int16_t length);
// Discards whatever input is waiting.
void PurgeSerialInput();

enum : int { AwaitedNothing = 0, AwaitedInput = 1, AwaitedMessage = 2 };
// Gives the processor back until input is waiting, the milliseconds pass, or
// (where the front end has a message queue) a window message is waiting, and
// says which. It may return early; callers poll their countdown as before.
// wanted is how many bytes the caller needs: once the first has come, the wait
// may sleep on for about the time the rest take on the line, so that a long
// packet costs a few wake-ups rather than one per byte.
int SerialAwaitInput(uint32_t milliseconds, int16_t wanted);

enum : uint8_t { HandshakeCts = 1, HandshakeNone = 2 };

// Opens and configures the device (8N1, DTR and RTS on, reads return at once,
// optional CTS output flow control). Nonzero on success. A device that opened
// but refused its settings stays held until SerialCloseDevice.
int SerialOpenDevice(const char* device, uint32_t baudRate, uint8_t handShake);
void SerialCloseDevice();
