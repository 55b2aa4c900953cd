#include "engine/script/LuaUnicodeString.h"

#include <cstring>

#include "core/Memory.h"
#include "engine/script/LuaUnicodeRegistry.h"

LuaUnicodeString& LuaUnicodeString::operator=(const LuaUnicodeString& other) {
    if (this != &other) Set(other.GetUnicharPtr());
    return *this;
}

LuaUnicodeString::~LuaUnicodeString() {
    UnregisterLuaUnicodeBuffer(buffer);
    EngineFree(buffer);
}

const char16_t* LuaUnicodeString::GetUnicharPtr() const { return count ? buffer : kEmptyLuaUnicodeText; }

void LuaUnicodeString::Publish() const {
    if (count)
        RegisterLuaUnicodeBuffer(buffer, count);
    else
        UnregisterLuaUnicodeBuffer(buffer);
}

bool LuaUnicodeString::Reserve(uint32_t elements) {
    if (elements <= capacity) return true;
    if (elements < capacity * 2) elements = capacity * 2;
    char16_t* grown = static_cast<char16_t*>(EngineAlloc(size_t(elements) * sizeof(char16_t)));
    if (!grown) return false;
    std::memset(grown, 0, size_t(elements) * sizeof(char16_t));
    if (buffer) std::memcpy(grown, buffer, size_t(count) * sizeof(char16_t));
    UnregisterLuaUnicodeBuffer(buffer);
    EngineFree(buffer);
    buffer = grown;
    capacity = elements;
    return true;
}

void LuaUnicodeString::Set(const char16_t* text) {
    if (!text || !*text) {
        Clear();
        return;
    }
    uint32_t n = 0;
    while (text[n]) ++n;
    if (!Reserve(n + 1)) return;
    std::memcpy(buffer, text, size_t(n) * sizeof(char16_t));
    buffer[n] = 0;
    count = n + 1;
    Publish();
}

void LuaUnicodeString::Resize(uint32_t newCount) {
    if (newCount > count) {
        if (!Reserve(newCount)) return;
        std::memset(buffer + count, 0, size_t(newCount - count) * sizeof(char16_t));
    } else if (buffer) {
        std::memset(buffer + newCount, 0, size_t(count - newCount) * sizeof(char16_t));
    }
    count = newCount;
    if (count) buffer[count - 1] = 0;
    Publish();
}

void LuaUnicodeString::Clear() {
    if (buffer) std::memset(buffer, 0, size_t(capacity) * sizeof(char16_t));
    count = 0;
    Publish();
}

void LuaUnicodeString::AppendChar(char16_t c) {
    const uint32_t newCount = count ? count + 1 : 2;
    if (!Reserve(newCount)) return;
    buffer[newCount - 2] = c;
    buffer[newCount - 1] = 0;
    count = newCount;
    Publish();
}

void LuaUnicodeString::RemoveLastChar() {
    if (count <= 1) return;
    --count;
    buffer[count - 1] = 0;
    Publish();
}
