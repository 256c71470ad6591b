#include "state.h"

#include "tallylib.h"

namespace {
void *moduleInstance = nullptr;
long busyFlag = 0;
long abortFlag = 0;
long abortWaitFlag = 0;
long speakerMode = 1;
const char libraryVersion[4] = "1.6";
const char clientCode[4] = "006";
}  // namespace

void _StateSetModule(void *module) { moduleInstance = module; }
void *_StateModule() { return moduleInstance; }

long _StateBusy() { return busyFlag; }
void _StateSetBusy(long value) { busyFlag = value; }

long _StateAbort() { return abortFlag; }
long _StateAbortWait() { return abortWaitFlag; }
void _StateClearAbortWait() { abortWaitFlag = 0; }

void _StateFinishTransmission()
{
    busyFlag = 0;
    abortFlag = 0;
    abortWaitFlag = 0;
}

long _StateSpeakerMode() { return speakerMode; }
const char *_StateLibraryVersion() { return libraryVersion; }
const char *_StateClientCode() { return clientCode; }

extern "C" void TALLY_CDECL TallyCard_Abort(void)
{
    // A second request while one is pending changes nothing.
    if (abortFlag) return;
    abortFlag = 1;
    abortWaitFlag = 1;
}

extern "C" long TALLY_CDECL TallyCard_Speaker(long mode)
{
    speakerMode = mode;
    return mode;
}
