#pragma once
#include <cstddef>

namespace os {

// Aligned heap block; null when memory is exhausted or alignment is not a power of two.
void* AlignedAlloc(size_t size, size_t alignment);
void AlignedFree(void* block);

}  // namespace os
