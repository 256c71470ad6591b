#include "substitution.h"

#include <cstring>

#include "memory.h"

namespace {

constexpr int TOKEN_COUNT = 10;
constexpr int WORK_SIZE = SUBST_TEXT_MAX + 1;

struct Field {
    const char *token;
    int size;
};

// The order matters: a value holding a later token is substituted again.
constexpr Field fields[TOKEN_COUNT] = {
    {"$#", 40}, {"$P", 32}, {"$B", 32}, {"$F", 104}, {"$L", 32},
    {"$S", 32}, {"$A", 16}, {"$N", 16}, {"$I", 56},  {"$W", 12},
};

char values[TOKEN_COUNT][104];

int FieldIndex(const char *token)
{
    if (!token) return -1;
    for (int i = 0; i < TOKEN_COUNT; ++i)
        if (std::strncmp(fields[i].token, token, 3) == 0) return i;
    return -1;
}

// Appends up to count characters of src at *length, never past SUBST_TEXT_MAX.
void Append(char *work, int *length, const char *src, std::size_t count)
{
    std::size_t room = static_cast<std::size_t>(SUBST_TEXT_MAX - *length);
    std::size_t n = count < room ? count : room;
    std::memcpy(work + *length, src, n);
    *length += static_cast<int>(n);
}

}  // namespace

int _SubstituteToken(char *text, const char *token, const char *value, int searchMax)
{
    if (!text || !token || std::strlen(token) != 2 || searchMax < 0) return 1;
    std::size_t length = strnlen(text, static_cast<std::size_t>(searchMax));
    std::size_t at = 0;
    while (at + 2 <= length && std::memcmp(text + at, token, 2) != 0) ++at;
    if (at + 2 > length) return 1;

    char *work = static_cast<char *>(_MemAlloc(WORK_SIZE));
    if (!work) return 1;
    std::memset(work, 0, WORK_SIZE);
    int built = 0;
    Append(work, &built, text, at);
    if (value) Append(work, &built, value, strnlen(value, SUBST_TEXT_MAX));
    Append(work, &built, text + at + 2, length - at - 2);
    std::memcpy(text, work, WORK_SIZE);
    _MemFree(work);
    return 0;
}

void _SubstituteSetValue(const char *token, const char *value)
{
    int i = FieldIndex(token);
    if (i < 0) return;
    std::size_t size = static_cast<std::size_t>(fields[i].size);
    std::size_t n = value ? strnlen(value, size - 1) : 0;
    std::memcpy(values[i], value ? value : "", n);
    values[i][n] = '\0';
}

const char *_SubstituteValue(const char *token)
{
    int i = FieldIndex(token);
    return i < 0 ? "" : values[i];
}

void _SubstituteClearAll()
{
    for (auto &value : values) value[0] = '\0';
}

int _SubstituteAll(char *text, int searchMax)
{
    int result = 1;
    for (int i = 0; i < TOKEN_COUNT; ++i) result = _SubstituteToken(text, fields[i].token, values[i], searchMax);
    return result;
}
