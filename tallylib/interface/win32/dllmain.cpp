#include <windows.h>

#include "state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) _StateSetModule(instance);
    return TRUE;
}
