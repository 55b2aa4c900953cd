#pragma once
// UICreditsHelper: reads a localised credits text as a stream of tokens for a script that
// builds the credits from them: tags ("<name>", on a line of their own or before text)
// and strings (text up to the next '<', '>' or line feed, trailing spaces included).
// Blanks and line feeds between tokens are skipped; a '>' outside a tag, or a '<' whose
// tag does not close on its line, ends the stream with "Credits syntax error. Line: %d"
// (lines count from 0).
//
// The helper owns a copy of the text and cuts tokens out of it in place (the character
// after a token is saved and put back when the next token is read).
//
// Threads: main thread.
#include <cstdint>

#include "core/math/Vector.h"

class UITextBase;

class UICreditsHelper {
public:
    enum : uint32_t { TOKEN_NONE = 0, TOKEN_TAG = 1, TOKEN_STRING = 2 };
    static constexpr uint32_t kMaxTag = 127;

    UICreditsHelper() = default;
    ~UICreditsHelper() { Clear(); }
    UICreditsHelper(const UICreditsHelper&) = delete;
    UICreditsHelper& operator=(const UICreditsHelper&) = delete;
    // Takes over the other's text and state; the other is left empty.
    UICreditsHelper(UICreditsHelper&& other) noexcept;
    UICreditsHelper& operator=(UICreditsHelper&& other) noexcept;

    // Looks the id up in the current language, keeps a copy (none when missing or empty)
    // and reads the first token.
    void Open(const char* stringId);
    // Reads the next token (nothing at the end).
    void SkipToken();
    bool IsEof() const { return position == nullptr; }
    bool IsTag() const { return kind == TOKEN_TAG; }
    bool IsString() const { return kind == TOKEN_STRING; }
    const char* GetTag() const { return tag; }
    // The current string token (null unless IsString).
    const char16_t* GetString() const { return kind == TOKEN_STRING ? position : nullptr; }
    // A string token becomes the element's text, and its size (measured with the
    // element's font, times its text scale; zero without a font) comes back; otherwise
    // the element's text is cleared and the size is zero.
    Vector TransferText(UITextBase* element);
    // Frees the text and resets every field.
    void Clear();

    uint32_t Line() const { return line; }

private:
    void SyntaxError();

    char16_t* text = nullptr;      // owned, zero-terminated
    char16_t* position = nullptr;  // null at the end
    char16_t* tokenEnd = nullptr;
    char16_t saved = 0;
    char tag[kMaxTag + 1] = {};
    uint32_t kind = TOKEN_NONE;
    uint32_t line = 0;
};
