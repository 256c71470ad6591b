#pragma once
#include "status.h"

// Sends the files of the list (relative paths, ended by a null pointer) to a
// peer that has accepted the link. Each sent file's string is emptied.
void SendBatch(ProgressFn progress, char** fileList);
