// tallylib.dll bound at run time, as a host binds it: every export by name.
#pragma once

#include <windows.h>

#include "tallylib.h"

struct TallyLib {
    HMODULE module;
    decltype(&TallyCard_Transmit) Transmit;
    decltype(&TallyCard_ReadStamp) ReadStamp;
    decltype(&TallyCard_Stamp) Stamp;
    decltype(&TallyCard_Print) Print;
    decltype(&TallyCard_Abort) Abort;
    decltype(&TallyCard_Speaker) Speaker;
    decltype(&TallyCard_Hardware) Hardware;
    decltype(&TallyCard_CPUtype) CPUtype;
    decltype(&TallyCard_MemoryData) MemoryData;
    decltype(&TallyCard_VideoType) VideoType;
    decltype(&TallyCard_GetNextDrive) GetNextDrive;
    decltype(&TallyCard_DriveData) DriveData;
    decltype(&TallyCard_MouseType) MouseType;
    decltype(&TallyCard_DefaultPrinter) DefaultPrinter;
    decltype(&TallyCard_PrinterStatus) PrinterStatus;
    decltype(&TallyCard_Ports) Ports;
    decltype(&TallyCard_OSversion) OSversion;
    decltype(&TallyCard_MouseType32) MouseType32;
    decltype(&TallyCard_VideoType32) VideoType32;
    decltype(&TallyCard_FindModem) FindModem;
    decltype(&TallyCard_StringSub) StringSub;
    decltype(&TallyCard_InfoCodes) InfoCodes;
    decltype(&TallyCard_CodeToString) CodeToString;
    decltype(&TallyCard_ZrClientCode) ZrClientCode;
};

template <typename F>
inline bool TallyBind(HMODULE module, const char *name, F *slot)
{
    *slot = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return *slot != nullptr;
}

// Loads the library beside the program; false when it or an export is missing.
inline bool TallyLoad(TallyLib *lib)
{
    lib->module = LoadLibraryA("tallylib.dll");
    if (!lib->module) return false;
    HMODULE m = lib->module;
    return TallyBind(m, "TallyCard_Transmit", &lib->Transmit) && TallyBind(m, "TallyCard_ReadStamp", &lib->ReadStamp) &&
           TallyBind(m, "TallyCard_Stamp", &lib->Stamp) && TallyBind(m, "TallyCard_Print", &lib->Print) &&
           TallyBind(m, "TallyCard_Abort", &lib->Abort) && TallyBind(m, "TallyCard_Speaker", &lib->Speaker) &&
           TallyBind(m, "TallyCard_Hardware", &lib->Hardware) && TallyBind(m, "TallyCard_CPUtype", &lib->CPUtype) &&
           TallyBind(m, "TallyCard_MemoryData", &lib->MemoryData) &&
           TallyBind(m, "TallyCard_VideoType", &lib->VideoType) &&
           TallyBind(m, "TallyCard_GetNextDrive", &lib->GetNextDrive) &&
           TallyBind(m, "TallyCard_DriveData", &lib->DriveData) &&
           TallyBind(m, "TallyCard_MouseType", &lib->MouseType) &&
           TallyBind(m, "TallyCard_DefaultPrinter", &lib->DefaultPrinter) &&
           TallyBind(m, "TallyCard_PrinterStatus", &lib->PrinterStatus) && TallyBind(m, "TallyCard_Ports", &lib->Ports) &&
           TallyBind(m, "TallyCard_OSversion", &lib->OSversion) &&
           TallyBind(m, "TallyCard_MouseType32", &lib->MouseType32) &&
           TallyBind(m, "TallyCard_VideoType32", &lib->VideoType32) &&
           TallyBind(m, "TallyCard_FindModem", &lib->FindModem) &&
           TallyBind(m, "TallyCard_StringSub", &lib->StringSub) &&
           TallyBind(m, "TallyCard_InfoCodes", &lib->InfoCodes) &&
           TallyBind(m, "TallyCard_CodeToString", &lib->CodeToString) &&
           TallyBind(m, "TallyCard_ZrClientCode", &lib->ZrClientCode);
}
