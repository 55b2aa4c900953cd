#pragma once
// The registry of live UTF-16 buffers that scripts may hand to natives as pointers.
//
// A script holds such a pointer as a light userdata (LuaUnicodeString.GetUnicharPtr, the
// text-input buffers of the UI). A light userdata is just an address, so before a
// binding passes one to a native it asks here: only the start of a buffer that is alive
// now reaches the native, with its element count; any other address reads as null, and
// a read of the buffer stops at its end. Owners register every change of their buffer's
// address or count and unregister before freeing it.
//
// Threads: main thread only.
#include <cstdint>

// Registers (or updates) the buffer with its element count, terminator included.
void RegisterLuaUnicodeBuffer(const char16_t* buffer, uint32_t count);
void UnregisterLuaUnicodeBuffer(const char16_t* buffer);
// The element count of the live buffer starting at pointer; 0 when there is none.
uint32_t LuaUnicodeBufferCount(const void* pointer);
// pointer as a buffer a native may read (null when it is not the start of a live one);
// count receives its element count when not null.
const char16_t* CheckedLuaUnicodeBuffer(const void* pointer, uint32_t* count = nullptr);
uint32_t LuaUnicodeBufferRegistrySize();

// The shared empty text (count 1), registered for the whole process: what an owner
// without characters hands out.
extern const char16_t kEmptyLuaUnicodeText[1];
