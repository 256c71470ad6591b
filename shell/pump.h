// The front end's message queue, served from inside long transfers.
#pragma once

// Takes at most one pending message and dispatches it; nonzero if there was one.
int DispatchOneMessage();
// Dispatches every pending message.
void DispatchAllMessages();
