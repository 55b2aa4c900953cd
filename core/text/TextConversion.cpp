// UTF-8 <-> UTF-16 conversion, the upper-case table and small text helpers.
#include "core/text/TextConversion.h"

#include <cstdlib>
#include <cstring>

namespace {

// Lower units: the fixed ranges of the table with their simple upper-case mapping,
// plus the exceptions U+0258 -> U+018E, Georgian U+10D0..10F5 -> U+10A0..10C5 and
// U+1F80..87/90..97/A0..A7 -> the prosgegrammeni forms (+8). Not in it: U+0289,
// U+0450 and U+045D, mapped only by newer Unicode data, and U+0131 (dotless i to
// ASCII 'I', which lower-casing cannot undo).
const UTF16CasePair kCaseTable[] = {
#include "core/text/CaseTable.inc"
};
constexpr uint32_t kCaseTableSize = sizeof(kCaseTable) / sizeof(kCaseTable[0]);
static_assert(kCaseTableSize == 666, "the upper-case table has 666 pairs");

char16_t UpperOf(char16_t c) {
    const UTF16CasePair key{c, 0};
    const void* hit = std::bsearch(&key, kCaseTable, kCaseTableSize, sizeof(UTF16CasePair), CompareUTF16CasePair);
    return hit ? static_cast<const UTF16CasePair*>(hit)->upper : c;
}

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[0..n); returns the bytes used (a maximal invalid
// subpart counts as one replacement character).
size_t DecodeUTF8(const uint8_t* s, size_t n, char32_t& cp) {
    const uint8_t b0 = s[0];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len;
    char32_t min;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        cp = kReplacement;
        return 1;
    }
    (void)min;
    for (size_t i = 1; i < len; ++i) {
        if (i >= n) {
            cp = kReplacement;
            return i;
        }
        const uint8_t b = s[i];
        const uint8_t l = i == 1 ? lo : 0x80;
        const uint8_t h = i == 1 ? hi : 0xBF;
        if (b < l || b > h) {
            cp = kReplacement;
            return i;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    return len;
}

}  // namespace

void ReplaceChar(char* text, char from, char to) {
    if (!text) return;
    for (; *text; ++text)
        if (*text == from) *text = to;
}

uint32_t UTF16Length(const char16_t* text) {
    uint32_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

int CompareUTF16CasePair(const void* a, const void* b) {
    return static_cast<int>(static_cast<const UTF16CasePair*>(a)->lower) -
           static_cast<int>(static_cast<const UTF16CasePair*>(b)->lower);
}

const UTF16CasePair* GetUTF16CaseTable(uint32_t* count) {
    if (count) *count = kCaseTableSize;
    return kCaseTable;
}

void ToUpperUTF16(char16_t* text, bool skipTags) {
    if (!text) return;
    for (char16_t* p = text; *p; ++p) {
        if (skipTags && *p == u'|') {
            char16_t* close = p + 1;
            while (*close && *close != u'|') ++close;
            if (!*close) return;
            p = close;
            continue;
        }
        *p = UpperOf(*p);
    }
}

bool WideToMultiByte(char* out, uint32_t outSize, const char16_t* text, int32_t length, uint32_t) {
    if (!text || length == 0 || (length < 0 && text[0] == 0)) {
        if (out && outSize) out[0] = 0;
        return true;
    }
    const size_t n = length < 0 ? UTF16Length(text) + 1 : static_cast<size_t>(length);
    size_t w = 0;
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        uint8_t buf[4];
        size_t len;
        if (cp < 0x80) {
            buf[0] = static_cast<uint8_t>(cp);
            len = 1;
        } else if (cp < 0x800) {
            buf[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
            buf[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
            len = 2;
        } else if (cp < 0x10000) {
            buf[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
            buf[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
            len = 3;
        } else {
            buf[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
            buf[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
            buf[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
            len = 4;
        }
        if (!out || w + len > outSize) return false;
        std::memcpy(out + w, buf, len);
        w += len;
    }
    return w > 0;
}

bool MultiByteToWide(char16_t* out, uint32_t outSize, const char* text, int32_t length, uint32_t) {
    if (!text || length == 0 || (length < 0 && text[0] == 0)) {
        if (out && outSize) out[0] = 0;
        return true;
    }
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    const size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
    size_t w = 0;
    for (size_t i = 0; i < n;) {
        char32_t cp;
        i += DecodeUTF8(s + i, n - i, cp);
        const size_t units = cp >= 0x10000 ? 2 : 1;
        if (!out || w + units > outSize) return false;
        if (units == 2) {
            out[w++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out[w++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out[w++] = static_cast<char16_t>(cp);
        }
    }
    return w > 0;
}

bool MultiByteToWideZ(char16_t* out, uint32_t outSize, const char* text, uint32_t codePage) {
    return MultiByteToWide(out, outSize, text, text ? static_cast<int32_t>(std::strlen(text)) : 0, codePage);
}

uint32_t UTF8ToUTF16(char16_t* out, uint32_t outSize, const char* text, uint32_t length) {
    if (!out || !text) return 0;
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    uint32_t w = 0;
    for (size_t i = 0; i < length;) {
        char32_t cp;
        i += DecodeUTF8(s + i, length - i, cp);
        if (cp >= 0x10000) {
            if (w + 2 > outSize) break;
            out[w++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out[w++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            if (w + 1 > outSize) break;
            out[w++] = static_cast<char16_t>(cp);
        }
    }
    return w;
}
