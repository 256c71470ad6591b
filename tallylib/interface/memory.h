// Blocks of the library's heap.
#pragma once
#include <cstddef>

// A block of count bytes, or null.
void *_MemAlloc(std::size_t count);
// Releases a block; null is accepted. Always 0.
int _MemFree(void *block);
