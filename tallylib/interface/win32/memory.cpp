#include "memory.h"

#include <windows.h>

void *_MemAlloc(std::size_t count) { return HeapAlloc(GetProcessHeap(), 0, count); }

int _MemFree(void *block)
{
    if (block) HeapFree(GetProcessHeap(), 0, block);
    return 0;
}
