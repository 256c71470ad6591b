/* Ids of the program's resources, grouped by kind. The menu, the main dialog,
   the icon and the bitmap are all named MOSSLANE. */
#ifndef MOSSLANE_RESOURCE_H
#define MOSSLANE_RESOURCE_H

/* Menu commands */
#define IDM_SET_INCOMING 1
#define IDM_SET_OUTGOING 2
#define IDM_TEXT_FILES 3
#define IDM_COM1 4
#define IDM_COM2 5
#define IDM_COM3 6
#define IDM_COM4 7
#define IDM_BAUD_115200 8
#define IDM_BAUD_57600 9
#define IDM_BAUD_19200 10
#define IDM_HANDSHAKE_CTS 11
#define IDM_HANDSHAKE_NONE 12
#define IDM_CLEAN_REGISTRY 13
#define IDM_EXIT 14
#define IDM_HELP_CONTENTS 15
#define IDM_ABOUT 16

/* Main window (status panel) controls */
#define IDC_NAME 1
#define IDC_BYTES_LEFT 2
#define IDC_ERRORS 3
#define IDC_FILES 4
#define IDC_TOTAL_BYTES 5
#define IDC_CANCEL 6
#define IDC_STATE 7

/* Text File Preferences controls */
#define IDC_EXTENSIONS 3
#define IDC_TRANSLATE 4

/* Strings */
#define IDS_NEEDS_WIN32 1
#define IDS_ALREADY_RUNNING 2
#define IDS_LOW_MEMORY 3
#define IDS_NO_ACCELERATORS 4
#define IDS_PORT_UNAVAILABLE 5
#define IDS_RESOURCE_MISSING 6
#define IDS_DISK_ERROR 7
#define IDS_DATE 13

#endif
