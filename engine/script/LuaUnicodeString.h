#pragma once
// LuaUnicodeString: a growable array of UTF-16 characters kept NUL-terminated, passed
// between scripts and the engine (player names, chat, text input, localised strings).
// Its element count includes the terminating zero; an empty string without a buffer has
// count 0. The buffer grows by reallocation with a copy of the old characters.
//
// Threads: main thread, like the scripts that own it.
#include <cstdint>

class LuaUnicodeString {
public:
    LuaUnicodeString() = default;
    explicit LuaUnicodeString(const char16_t* text) { Set(text); }
    LuaUnicodeString(const LuaUnicodeString& other) { Set(other.GetUnicharPtr()); }
    LuaUnicodeString& operator=(const LuaUnicodeString& other);
    ~LuaUnicodeString();

    // Copies a NUL-terminated string (null clears).
    void Set(const char16_t* text);
    // New count; added elements are zero, and the last element is always the terminator.
    void Resize(uint32_t newCount);
    // Zeroes the buffer; count 0.
    void Clear();
    // The character goes before the terminator (the count grows by 2 from 0, else by 1).
    void AppendChar(char16_t c);
    // Only when a character is present: the count drops by 1 and the new last element is
    // the terminator.
    void RemoveLastChar();

    // The characters; the shared empty text when there are none (never null).
    const char16_t* GetUnicharPtr() const;
    // Characters without the terminator.
    uint32_t GetLength() const { return count ? count - 1 : 0; }
    uint32_t GetCount() const { return count; }

private:
    bool Reserve(uint32_t elements);
    void Publish() const;  // registers the buffer and count (or unregisters when empty)

    char16_t* buffer = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};
