#include "core/text/TagReplacement.h"

#include <cstring>

#include "core/text/TextConversion.h"

namespace {

// Grows out by n units and returns where they go (null when memory runs out).
template <class T>
T* Extend(Dynarray<T>& out, size_t n) {
    const uint32_t at = out.Count();
    if (n > 0xFFFFFFFFu - at || !out.Resize(at + static_cast<uint32_t>(n))) return nullptr;
    return out.data + at;
}

void Append(Dynarray<char16_t>& out, const char16_t* units, size_t n) {
    if (char16_t* d = n ? Extend(out, n) : nullptr) std::memcpy(d, units, n * sizeof(char16_t));
}

}  // namespace

bool AppendString(Dynarray<char>& out, const char* text) {
    const size_t n = text ? std::strlen(text) : 0;
    if (n == 0) return true;
    char* d = Extend(out, n);
    if (d) std::memcpy(d, text, n);
    return d != nullptr;
}

bool AppendString(Dynarray<char16_t>& out, const char* text) {
    const size_t n = text ? std::strlen(text) : 0;
    if (n == 0) return true;
    char16_t* d = Extend(out, n);
    if (!d) return false;
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    return true;
}

bool AppendUTF8(Dynarray<char16_t>& out, const char* text) {
    const size_t n = text ? std::strlen(text) : 0;
    if (n == 0) return true;
    // Every byte gives at most one unit (a four-byte sequence gives two).
    const uint32_t at = out.Count();
    char16_t* d = Extend(out, n);
    if (!d) return false;
    const uint32_t units = UTF8ToUTF16(d, static_cast<uint32_t>(n), text, static_cast<uint32_t>(n));
    out.Resize(at + units);
    return true;
}

void AppendWithTagReplacement(Dynarray<char16_t>& out, const char16_t* text, const TagReplacementSource& source) {
    if (!text) return;
    constexpr size_t kMaxTag = 64;
    const char16_t* p = text;
    for (;;) {
        const char16_t* run = p;
        while (*p && *p != u'^') ++p;
        Append(out, run, static_cast<size_t>(p - run));
        if (!*p) return;
        const char16_t* open = p;
        const char16_t* close = open + 1;
        while (*close && *close != u'^') ++close;
        if (!*close) return;  // unclosed: the rest is dropped
        const size_t len = static_cast<size_t>(close - open - 1);
        p = close + 1;
        if (len == 0 || len >= kMaxTag) continue;
        char narrow[kMaxTag];
        bool hasZero = false;
        for (size_t i = 0; i < len; ++i) {
            narrow[i] = static_cast<char>(open[1 + i] & 0xFF);
            hasZero |= narrow[i] == 0;
        }
        // A unit whose low byte is 0 (U+0100, U+4E00, ...) would end the interned name
        // early and match a shorter tag, or the empty one: no entry's tag holds a 0 byte.
        if (hasZero) continue;
        const NameString tag(narrow, len);
        for (uint32_t i = 0; i < source.GetEntryCount(); ++i) {
            const StringReplacementEntry* e = source.GetEntry(i);
            if (!e || e->tag != tag) continue;
            if (e->isWide) {
                const Dynarray<char16_t>& w = e->wideText;
                uint32_t n = 0;
                while (n < w.Count() && w.data[n]) ++n;
                Append(out, w.data, n);
            } else {
                AppendUTF8(out, e->text.Raw());
            }
            break;
        }
    }
}
