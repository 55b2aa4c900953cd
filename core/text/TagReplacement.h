#pragma once
// Expansion of tag placeholders ("^tag^") in UI text from a replacement container
// (the container itself belongs to the user interface).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

struct StringReplacementEntry {
    NameString tag;
    const char* text = nullptr;        // 8-bit text, used when !isWide
    bool isWide = false;
    const char16_t* wideText = nullptr;  // zero-terminated
};

class StringReplacementContainer {
public:
    virtual uint32_t GetEntryCount() const = 0;
    virtual const StringReplacementEntry* GetEntry(uint32_t index) const = 0;

protected:
    ~StringReplacementContainer() = default;
};

// Append the characters of a zero-terminated text, without the terminator. Into
// UTF-16 arrays each byte is widened unsigned. False when memory runs out.
bool AppendString(Dynarray<char>& out, const char* text);
bool AppendString(Dynarray<char16_t>& out, const char* text);

// Appends text to out with every "^tag^" replaced by the entry of that tag (found
// by a linear search by name): an empty tag, a tag of 64 units or more and an
// unknown tag are dropped with their carets; an opening '^' without a closing one
// ends the output there.
void AppendWithTagReplacement(Dynarray<char16_t>& out, const char16_t* text, const StringReplacementContainer& container);
