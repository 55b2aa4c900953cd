// The counter text of UI text elements.
#include "game/kinds/ZKRCounterText.h"

#include <cstdio>

#include "ui/elements/UITextBase.h"

void FormatCounterText(int32_t value, bool onesAsZeros, char (&out)[kCounterTextCapacity]) {
    std::snprintf(out, sizeof out, "%d", static_cast<int>(value));
    if (!onesAsZeros) return;
    for (char* p = out + 1; *p; ++p)
        if (*p == '1') *p = '0';
}

void ZKRHackedSetCounterText(UITextBase* text, int32_t value, bool onesAsZeros) {
    if (!text) return;
    char buffer[kCounterTextCapacity];
    FormatCounterText(value, onesAsZeros, buffer);
    text->SetText(buffer);
}
