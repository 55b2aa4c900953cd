// GameStringPartitioner: line-by-line showing of a localised string.
#include "ui/elements/GameStringPartitioner.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/text/TextConversion.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringManager.h"

bool GameStringPartitioner::StartGameStringPartitioning(const char* stringId, UITextBase* target, float totalTime) {
    if (!stringId) return false;
    const char* speakerName = nullptr;
    const char16_t* found =
        gStringManager ? gStringManager->GetString(stringId, kCurrentTextLanguage, &speakerName, true, true) : nullptr;
    speaker = speakerName;
    if (!found) {
        gLog.Warning(LogCategory::RenderDevice, "stringId %s is empty!", stringId);
        return target != nullptr;
    }
    if (!target) return false;
    // Own copy: the store's text lives only until its next load.
    const uint32_t length = UTF16Length(found);
    text.Clear();
    if (!text.Reserve(length + 1)) return true;
    std::memcpy(text.data, found, length * sizeof(char16_t));
    text.data[length] = 0;
    text.count = length + 1;
    // Parts start at the text and after every line feed that does not end it. A new
    // start replaces the parts of the string shown before (they index the old copy).
    parts.Clear();
    parts.Add(0);
    for (uint32_t i = 0; i < length; ++i)
        if (text.data[i] == u'\n' && i + 1 < length) parts.Add(i + 1);
    partTime = totalTime / float(parts.count);
    element = target;
    if (partTime > 0.0f) {
        ShowPart(0);
    } else {
        // No time per part: the last part at once, and done.
        ShowPart(parts.count - 1);
        currentPart = kFinished;
    }
    return true;
}

void GameStringPartitioner::ShowPart(uint32_t index) {
    UITextBase* target = element.Get();
    if (!target || index >= parts.count) return;
    const uint32_t start = parts[index];
    const uint32_t end = index + 1 < parts.count ? parts[index + 1] - 1 : text.count - 1;
    const uint32_t length = std::min(end - start, kMaxPartCharacters);
    char16_t buffer[kMaxPartCharacters + 1];
    uint32_t n = 0;
    while (n < length && text.data[start + n]) {
        buffer[n] = text.data[start + n];
        ++n;
    }
    // A part cut at the limit never ends in half a surrogate pair.
    if (n == kMaxPartCharacters && (buffer[n - 1] & 0xFC00) == 0xD800) --n;
    buffer[n] = 0;
    target->RemoveAllActions(0xFFFFFFFFu);
    target->SetTextSmooth(fadeTime, buffer, fadeFlags, 0);
    currentPart = index;
}

void GameStringPartitioner::Update(float seconds) {
    if (currentPart == kFinished || parts.count == 0) return;
    if (!(partTime > 0.0f)) {
        ShowPart(parts.count - 1);
        currentPart = kFinished;
        return;
    }
    const float k = std::trunc(seconds / partTime);
    if (!(k >= 0.0f)) return;
    if (k >= float(parts.count)) {
        currentPart = kFinished;
        return;
    }
    if (uint32_t(k) != currentPart) ShowPart(uint32_t(k));
}

void GameStringPartitioner::Clear() {
    UITextBase* target = element.Get();
    if (!target) return;
    target->RemoveAllActions(0xFFFFFFFFu);
    target->SetTextSmooth(fadeTime, static_cast<const char16_t*>(nullptr), fadeFlags, 0);
}
