// The front end's message queue, served from inside long transfers.
#pragma once
#include <cstdint>

// Takes at most one pending message and dispatches it; nonzero if there was one.
int DispatchOneMessage();
// Dispatches every pending message.
void DispatchAllMessages();
// Sleeps until a message is waiting or the milliseconds pass; nonzero if one is waiting.
int AwaitMessage(uint32_t milliseconds);
