#include "core/text/TagReplacement.h"

void AppendString(std::u16string& out, const char* text) {
    if (!text) return;
    for (const char* p = text; *p; ++p) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
}

void AppendWithTagReplacement(std::u16string& out, const char16_t* text, const StringReplacementContainer& container) {
    if (!text) return;
    constexpr size_t kMaxTag = 64;
    const char16_t* p = text;
    for (;;) {
        while (*p && *p != u'^') out.push_back(*p++);
        if (!*p) return;
        const char16_t* open = p;
        const char16_t* close = open + 1;
        while (*close && *close != u'^') ++close;
        if (!*close) return;  // unclosed: the rest is dropped
        const size_t len = static_cast<size_t>(close - open - 1);
        p = close + 1;
        if (len == 0 || len >= kMaxTag) continue;
        char narrow[kMaxTag];
        for (size_t i = 0; i < len; ++i) narrow[i] = static_cast<char>(open[1 + i] & 0xFF);
        const NameString tag(narrow, len);
        for (uint32_t i = 0; i < container.GetEntryCount(); ++i) {
            const StringReplacementEntry* e = container.GetEntry(i);
            if (!e || e->tag != tag) continue;
            if (e->isWide) {
                if (e->wideText) out.append(e->wideText);
            } else {
                AppendString(out, e->text);
            }
            break;
        }
    }
}
