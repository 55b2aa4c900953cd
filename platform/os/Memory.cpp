#include "platform/os/Memory.h"

#include <cstdlib>

namespace os {

void* AlignedAlloc(size_t size, size_t alignment) {
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return nullptr;
    void* block = nullptr;
    if (posix_memalign(&block, alignment, size ? size : 1) != 0) return nullptr;
    return block;
}

void AlignedFree(void* block) { std::free(block); }

}  // namespace os
