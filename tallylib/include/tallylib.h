/* tallylib: machine profile, card printing, stamps and card transmission
   for a host program that loads tallylib.dll.

   Calling conventions: every export is __cdecl (the caller removes the
   arguments) except TallyCard_Hardware, which is __stdcall and removes its
   own 4-byte argument on 32-bit Windows. The status callback is __stdcall.
   All texts are ANSI and null-terminated. Bind by name or by ordinal
   (ordinals are given beside each declaration). */
#ifndef TALLYLIB_H
#define TALLYLIB_H

#ifdef _WIN32
#define TALLY_CDECL __cdecl
#define TALLY_STDCALL __stdcall
#else
#define TALLY_CDECL
#define TALLY_STDCALL
#endif

#if defined(TALLYLIB_BUILDING) || !defined(_WIN32)
#define TALLY_API
#else
#define TALLY_API __declspec(dllimport)
#endif

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define TALLY_OK 0
#define TALLY_ERR_FILE 101       /* card file unusable, or no stamp under the key */
#define TALLY_ERR_BUSY 102       /* a transmission is already running */
#define TALLY_ERR_NO_MODEM 104   /* no modem answered */
#define TALLY_ERR_MEMORY 105     /* a working buffer could not be obtained */
#define TALLY_ERR_DIAL 106
#define TALLY_ERR_LOGIN 107
#define TALLY_ERR_BLOCKS 108
#define TALLY_ERR_HANGUP 109
#define TALLY_ERR_ABORTED 110    /* TallyCard_Abort, or Abort in the printing window */
#define TALLY_ERR_TOO_LONG 111   /* stamp value over 80 characters */
#define TALLY_ERR_NO_PRINTER 112
#define TALLY_ERR_PRINT 114      /* the print job could not be started or ended */

/* Status message levels for TallyCard_Transmit. */
#define STATUS_MAIN 1
#define STATUS_PROGRESS 2
#define STATUS_DETAIL 3
#define STATUS_TRACE 4

/* Receives a pointer to the message text (text mode, valid during the call
   only) or the message id (code mode, see TallyCard_InfoCodes). */
typedef void (TALLY_STDCALL *TallyCard_StatusCallback)(intptr_t textOrId);

/* 1 */ TALLY_API long TALLY_CDECL TallyCard_Transmit(long unused, void *parentWindow,
    TallyCard_StatusCallback callback, long level, const char *cardPath, const char *phone,
    const char *customerId, long dialAttempts, long dialWaitSeconds, long firstPort,
    long speed, long protocol, long blockSize, long dialFlags);
/* 2 */ TALLY_API long TALLY_CDECL TallyCard_ReadStamp(const char *iniPath, const char *key, char *out80);
/* 3 */ TALLY_API long TALLY_CDECL TallyCard_Stamp(const char *iniPath, const char *key, const char *value);
/* 4 */ TALLY_API long TALLY_CDECL TallyCard_Print(const char *cardPath, long setupDialog);
/* 5 */ TALLY_API void TALLY_CDECL TallyCard_Abort(void);
/* 6 */ TALLY_API long TALLY_CDECL TallyCard_Speaker(long mode);
/* 7 */ TALLY_API long TALLY_STDCALL TallyCard_Hardware(long ignored);
/* 8 */ TALLY_API long TALLY_CDECL TallyCard_CPUtype(void);
/* 9 */ TALLY_API long TALLY_CDECL TallyCard_MemoryData(long selector);
/* 10 */ TALLY_API long TALLY_CDECL TallyCard_VideoType(void);
/* 11 */ TALLY_API long TALLY_CDECL TallyCard_GetNextDrive(long previous);
/* 12 */ TALLY_API long TALLY_CDECL TallyCard_DriveData(long drive, long *type, long *size);
/* 13 */ TALLY_API long TALLY_CDECL TallyCard_MouseType(void);
/* 14 */ TALLY_API long TALLY_CDECL TallyCard_DefaultPrinter(char *out, long size);
/* 15 */ TALLY_API long TALLY_CDECL TallyCard_PrinterStatus(void);
/* 16 */ TALLY_API long TALLY_CDECL TallyCard_Ports(long kind);
/* 17 */ TALLY_API long TALLY_CDECL TallyCard_OSversion(long kind, char *out);
/* 18 */ TALLY_API long TALLY_CDECL TallyCard_MouseType32(char *out95);
/* 19 */ TALLY_API long TALLY_CDECL TallyCard_VideoType32(char *out95);
/* 21 */ TALLY_API long TALLY_CDECL TallyCard_FindModem(long *port, long *speed, long unused);
/* 22 */ TALLY_API long TALLY_CDECL TallyCard_StringSub(char *text81);
/* 23 */ TALLY_API long TALLY_CDECL TallyCard_InfoCodes(long codeMode);
/* 24 */ TALLY_API long TALLY_CDECL TallyCard_CodeToString(long id, char *out81);
/* 30 */ TALLY_API char *TALLY_CDECL TallyCard_ZrClientCode(char *out4);

#ifdef __cplusplus
}
#endif

#endif
