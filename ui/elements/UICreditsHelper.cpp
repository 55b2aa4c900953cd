// UICreditsHelper: the credits tokenizer.
#include "ui/elements/UICreditsHelper.h"

#include <cstring>
#include <utility>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/text/TextConversion.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringManager.h"
#include "ui/text/FontDraw.h"

namespace {

bool EndsString(char16_t c) { return c == 0 || c == u'<' || c == u'>' || c == u'\n'; }

}  // namespace

UICreditsHelper::UICreditsHelper(UICreditsHelper&& other) noexcept { *this = std::move(other); }

UICreditsHelper& UICreditsHelper::operator=(UICreditsHelper&& other) noexcept {
    if (this == &other) return *this;
    Clear();
    text = other.text, position = other.position, tokenEnd = other.tokenEnd, saved = other.saved;
    std::memcpy(tag, other.tag, sizeof tag);
    kind = other.kind, line = other.line;
    other.text = other.position = other.tokenEnd = nullptr;
    other.Clear();
    return *this;
}

void UICreditsHelper::Clear() {
    EngineFree(text);
    text = position = tokenEnd = nullptr;
    saved = 0;
    tag[0] = 0;
    kind = TOKEN_NONE;
    line = 0;
}

void UICreditsHelper::Open(const char* stringId) {
    Clear();
    const char16_t* found =
        gStringManager ? gStringManager->GetString(stringId, kCurrentTextLanguage, nullptr, true, true) : nullptr;
    const uint32_t length = UTF16Length(found);
    if (length == 0) return;
    text = static_cast<char16_t*>(EngineAlloc((length + 1) * sizeof(char16_t)));
    if (!text) return;
    std::memcpy(text, found, (length + 1) * sizeof(char16_t));
    position = text;
    SkipToken();
}

void UICreditsHelper::SyntaxError() {
    gLog.Error(LogCategory::Script, "Credits syntax error. Line: %d", int32_t(line));
    position = nullptr;
}

void UICreditsHelper::SkipToken() {
    if (!position) return;
    // Put back what the current token's terminator replaced and move past the token.
    if (kind == TOKEN_TAG) {
        *tokenEnd = saved;
        position = tokenEnd + 1;
    } else if (kind == TOKEN_STRING) {
        *tokenEnd = saved;
        position = tokenEnd;
    }
    kind = TOKEN_NONE;
    for (;;) {
        const char16_t c = *position;
        if (c == u'\t' || c == u' ') {
            ++position;
            continue;
        }
        if (c == u'\n') {
            ++line;
            ++position;
            continue;
        }
        if (c == 0) {
            position = nullptr;
            return;
        }
        if (c == u'>') {
            SyntaxError();
            return;
        }
        char16_t* end = position + 1;
        if (c == u'<') {
            while (*end && *end != u'<' && *end != u'\n' && *end != u'>') ++end;
            if (*end != u'>') {
                SyntaxError();
                return;
            }
            uint32_t n = 0;
            for (const char16_t* p = position + 1; p < end && n < kMaxTag; ++p) tag[n++] = char(*p);
            tag[n] = 0;
            kind = TOKEN_TAG;
        } else {
            while (!EndsString(*end)) ++end;
            kind = TOKEN_STRING;
        }
        saved = *end;
        *end = 0;
        tokenEnd = end;
        return;
    }
}

Vector UICreditsHelper::TransferText(UITextBase* element) {
    if (!element) return Vector();
    if (kind != TOKEN_STRING || !position) {
        element->SetTextUnicharPtr(nullptr);
        return Vector();
    }
    element->SetTextUnicharPtr(position);
    const ResourceFont* font = element->GetFont();
    if (!font) return Vector();
    const Vector size = MeasureTextW(*font, position, 0, 0, false);
    const Vector& scale = element->GetTextScale();
    return Vector(size.x * scale.x, size.y * scale.y, 0, 0);
}
