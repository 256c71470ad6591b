// The "device" entry of the "windows" profile section: "name,driver,port".
#pragma once

// Pieces of an entry split in place; null when missing.
struct DeviceEntry {
    char *device;
    char *driver;
    char *port;
};

// Splits entry in place: the device ends at a comma, driver and port at a
// comma or a space; leading separators are skipped. 1 when all three exist.
int _DeviceEntrySplit(char *entry, DeviceEntry *pieces);

// Copies the entry up to the comma after its first name into out (at most
// size - 1 characters and a terminator). 0, or -1 with out emptied when the
// entry names nothing; -1 with out untouched when size is not positive.
int _DeviceEntryPrinterName(const char *entry, char *out, long size);
