#include "memory.h"

#include <cstdlib>

void *_MemAlloc(std::size_t count) { return std::malloc(count); }

int _MemFree(void *block)
{
    std::free(block);
    return 0;
}
