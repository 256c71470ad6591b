// Module-wide state of the library: one instance per loading process.
#pragma once

// The library's own module, for its strings and dialog templates.
void _StateSetModule(void *module);
void *_StateModule();

// A transmission is running.
long _StateBusy();
void _StateSetBusy(long value);

// Abort requested: tested by a transmission between its phases.
long _StateAbort();
// Abort the current wait: tested by the response waits and the line reader.
long _StateAbortWait();
void _StateClearAbortWait();
// Clears the busy flag and both abort flags at the end of a transmission.
void _StateFinishTransmission();

// Digit after "M" in the modem set-up command.
long _StateSpeakerMode();

// Sent at the end of the login line.
const char *_StateLibraryVersion();
// Three characters, also the head of the customer code sent at login.
const char *_StateClientCode();
