// What the front end does around a transfer; each front end implements these.
#pragma once

// Bring the window forward and lock the commands that must not run mid-transfer.
void ShowTransferMode();
// Back to idle: panel reset, window minimised, commands unlocked.
void ShowIdleMode();
