#pragma once
// Expansion of tag placeholders ("^tag^") in UI text from a source of tag -> text
// entries. The concrete source, the shared StringReplacementContainer, belongs to the
// user interface (ui/localisation/StringReplacementContainer.h).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

// One tag and its replacement: the 8-bit text (UTF-8), or the wide text when that is
// not empty (isWide is "the wide text is not empty").
struct StringReplacementEntry {
    NameString tag;
    NameString text;
    bool isWide = false;
    Dynarray<char16_t> wideText;  // zero-terminated when isWide
};

// What the expansion reads: entries in order; the first entry of a tag wins.
class TagReplacementSource {
public:
    virtual uint32_t GetEntryCount() const = 0;
    // Null when the source cannot hand the entry out (it is then skipped).
    virtual const StringReplacementEntry* GetEntry(uint32_t index) const = 0;

protected:
    ~TagReplacementSource() = default;
};

// Append the characters of a zero-terminated text, without the terminator. Into
// UTF-16 arrays each byte is widened unsigned. False when memory runs out.
bool AppendString(Dynarray<char>& out, const char* text);
bool AppendString(Dynarray<char16_t>& out, const char* text);
// Appends a zero-terminated UTF-8 text decoded to UTF-16 (invalid bytes become
// U+FFFD). False when memory runs out.
bool AppendUTF8(Dynarray<char16_t>& out, const char* text);

// Appends text to out with every "^tag^" replaced by the entry of that tag (found
// by a linear search by name): an empty tag, a tag of 64 units or more and an
// unknown tag (also one with a unit whose low byte is 0) are dropped with their
// carets; an opening '^' without a closing one ends the output there. An entry's
// 8-bit text is decoded as UTF-8.
void AppendWithTagReplacement(Dynarray<char16_t>& out, const char16_t* text, const TagReplacementSource& source);
