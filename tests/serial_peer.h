// The far end of the null-modem cable, opened by the test beside the port
// under test, and the platform's ways of making an open fail.
#pragma once
#include <cstdint>

bool PeerOpen(const char* device);
void PeerClose();
bool PeerWrite(const uint8_t* data, int length);
// Whatever has arrived, without waiting; 0 when nothing has.
int PeerReadSome(uint8_t* buffer, int length);

// Opens the device the way another program holding the port would.
bool HoldDevice(const char* device);
// False where the platform lets a second exclusive open of a port succeed
// (Wine does, for COM ports mapped to ptys).
bool SecondOpenRefused();
void ReleaseHeldDevice();

// Leaves settings on the device that would alter bytes (software flow control,
// character mapping), as a previous program might; false where the platform
// has no such settings to leave.
bool LeaveForeignSettings(const char* device);
// True when the device passes every byte as it is.
bool DeviceIsRaw(const char* device);

// A device name that does not exist on this platform.
const char* MissingDeviceName();
// Creates an empty ordinary file, for opening something that is not a serial
// port; its path, or nullptr on failure.
const char* CreateOrdinaryFile();
void RemoveOrdinaryFile();

// Runs job(arg) on a thread of its own, so the peer can read while the port
// under test is inside a long write; one job at a time.
bool StartBackground(void (*job)(void*), void* arg);
void JoinBackground();

// Processor time this process has used so far, user and system, in seconds.
double ProcessCpuSeconds();

// Makes this thread's message queue ready for PostWakeMessage, which any thread
// may call; false where the platform has no message queue.
bool PrepareMessageQueue();
void PostWakeMessage();
