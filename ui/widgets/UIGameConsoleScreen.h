#pragma once
// UIGameConsoleScreen: the in-game console, the one screen built in code. It shows the
// last eleven output lines (line 0 the newest, at the bottom) and a one-line command
// editor with a command history (the engine configuration's, newest first), recall by
// "!" expressions and tab completion.
//
// Main thread. The Game creates it, feeds it keys and characters while it is shown,
// appends log lines and takes the entered command each tick; its state word is the shown
// flag the Game reads (SetShown scales the background in or out).
#include <cstdint>

#include "ui/elements/UIScreen.h"

class UIText;
class UITextInput;

class UIGameConsoleScreen : public UIScreen {
public:
    static constexpr uint32_t kOutputLines = 11;
    static constexpr uint32_t kMaxInput = 255;

    // Scripts see the console as a UIScreen.
    UIGameConsoleScreen();
    const RTTIClass* GetRTTIClass() const override;

    // ======== Main thread ========
    // A typed character: 32-126 as a byte, a character from 160 up as its UTF-8 bytes when
    // they fit; control characters (and lone surrogates) are ignored: controls arrive as
    // keys.
    bool OnChar(uint32_t character) override;
    // Editing keys (Windows virtual-key codes); true when handled.
    bool OnKeyDown(uint32_t key);
    // Scrolls the lines up and puts the text (null: empty) in the colour on line 0.
    void AddLine(const char* text, const Vector& colour);
    // Copies the pending command (at most size - 1 bytes and a terminator) and forgets
    // it; false when there is none or size is 0 (nothing copied then).
    bool GetEnteredCommand(char* buffer, uint32_t size);
    void SetShown(bool shown);
    bool IsShown() const { return state != 0; }

    UITextInput* Input() const { return input; }
    UIText* Line(uint32_t i) const { return i < kOutputLines ? lines[i] : nullptr; }
    UIElement* Background() const { return background; }
    UIElement* Panel() const { return panel; }
    UIElement* Tint() const { return tint; }
    int32_t HistoryPosition() const { return historyPosition; }
    const char* PendingCommand() const { return pending; }

    void OnBeforeDelete() override;

protected:
    ~UIGameConsoleScreen() override;

private:
    // The command an input line stands for ("!" expressions resolved; empty: nothing).
    void Resolve(const char* text, char* out, uint32_t size);
    void Recall(int32_t candidate);

    int32_t historyPosition = -1;
    UIElement* background = nullptr;
    UIElement* panel = nullptr;
    UIElement* tint = nullptr;
    UITextInput* input = nullptr;
    UIText* lines[kOutputLines] = {};
    uint32_t state = 0;
    char* pending = nullptr;
};
