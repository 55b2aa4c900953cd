#include "engine/script/LuaUnicodeRegistry.h"

#include <unordered_map>

const char16_t kEmptyLuaUnicodeText[1] = {0};

namespace {

// Built on first use and kept to the end of the process: buffers registered by objects of
// static storage may unregister during its teardown.
std::unordered_map<const void*, uint32_t>& Buffers() {
    static auto* buffers = new std::unordered_map<const void*, uint32_t>{{kEmptyLuaUnicodeText, 1}};
    return *buffers;
}

}  // namespace

void RegisterLuaUnicodeBuffer(const char16_t* buffer, uint32_t count) {
    if (!buffer || buffer == kEmptyLuaUnicodeText) return;
    if (count == 0) {
        Buffers().erase(buffer);
        return;
    }
    Buffers()[buffer] = count;
}

void UnregisterLuaUnicodeBuffer(const char16_t* buffer) {
    if (buffer && buffer != kEmptyLuaUnicodeText) Buffers().erase(buffer);
}

uint32_t LuaUnicodeBufferCount(const void* pointer) {
    if (!pointer) return 0;
    const auto found = Buffers().find(pointer);
    return found == Buffers().end() ? 0 : found->second;
}

const char16_t* CheckedLuaUnicodeBuffer(const void* pointer, uint32_t* count) {
    const uint32_t n = LuaUnicodeBufferCount(pointer);
    if (count) *count = n;
    return n ? static_cast<const char16_t*>(pointer) : nullptr;
}

uint32_t LuaUnicodeBufferRegistrySize() { return static_cast<uint32_t>(Buffers().size()); }
