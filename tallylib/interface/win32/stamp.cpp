#include <windows.h>

#include <cstring>

#include "state.h"
#include "tallylib.h"

namespace {
const char STAMP_SECTION[] = "STAMP";
constexpr std::size_t STAMP_VALUE_MAX = 80;
constexpr DWORD STAMP_READ_SIZE = 80;
}  // namespace

extern "C" long TALLY_CDECL TallyCard_ReadStamp(const char *iniPath, const char *key, char *out80)
{
    if (!out80) return TALLY_ERR_FILE;
    out80[0] = '\0';
    if (!iniPath || !key) return TALLY_ERR_FILE;
    DWORD n = GetPrivateProfileStringA(STAMP_SECTION, key, "", out80, STAMP_READ_SIZE, iniPath);
    return n == 0 ? TALLY_ERR_FILE : TALLY_OK;
}

extern "C" long TALLY_CDECL TallyCard_Stamp(const char *iniPath, const char *key, const char *value)
{
    // A null value would delete the key: refuse it like a failed write.
    if (!iniPath || !key || !value) return 0;
    if (strnlen(value, STAMP_VALUE_MAX + 1) > STAMP_VALUE_MAX) return TALLY_ERR_TOO_LONG;
    BOOL written = WritePrivateProfileStringA(STAMP_SECTION, key, value, iniPath);
    // The flush is still asked for, but its answer is not the write's: some
    // platforms report failure for it even after a good write.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, iniPath);
    return written ? 1 : 0;
}

extern "C" char *TALLY_CDECL TallyCard_ZrClientCode(char *out4)
{
    if (!out4) return out4;
    std::memcpy(out4, _StateClientCode(), 3);
    out4[3] = '\0';
    return out4;
}
