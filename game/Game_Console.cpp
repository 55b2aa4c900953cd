// The in-game console and the key binds: keys and characters, entered lines run as
// script, and log lines echoed into the console.
#include <cstring>

#include "core/Memory.h"
#include "core/config/GameConfig.h"
#include "core/fs/FsUtil.h"
#include "core/math/Vector.h"
#include "game/Game.h"
#include "engine/input/InputManager.h"
#include "engine/script/LuaWrapper.h"
#include "ui/widgets/UIGameConsoleScreen.h"

namespace {

// The console's entered line (at most 1022 characters) with room for "()" and the
// terminator.
constexpr uint32_t kConsoleLineChars = 1022;
constexpr uint32_t kConsoleLineBuffer = kConsoleLineChars + 3;
constexpr uint32_t kBackQuote = 96;  // toggles the console; never typed into it
// Log severities: warnings (yellow lines) and errors (red); appended lines need a console
// level below the warnings.
constexpr uint32_t kConsoleWarningLevel = 3;
constexpr uint32_t kConsoleErrorLevel = 4;

const Vector kConsoleRed(1.0f, 0.0f, 0.0f, 1.0f);
const Vector kConsoleYellow(1.0f, 1.0f, 0.0f, 1.0f);
const Vector kConsoleGrey(0.5f, 0.5f, 0.5f, 1.0f);

bool ConsoleShown(const UIGameConsoleScreen* console) {
    return console && console->IsShown();
}

}  // namespace

bool Game::IsGameConsoleActive() const { return ConsoleShown(console); }

bool Game::OnKeyDown(uint32_t key) {
    const bool loading = IsLoadingScreenActive();
    if (!ConsoleShown(console) || loading) {
        // A bind whose command is empty (stored as none) still takes the key.
        const DynarraySafe<KeyBindDef>& binds = gGameConfig->keyBinds;
        for (uint32_t i = 0; i < binds.Count(); ++i) {
            if (binds[i].keyCode != key) continue;
            const char* command = binds[i].command;
            if (!pendingCommand && command && *command) pendingCommand = fs::CopyText(command);
            return true;
        }
    } else if (console->OnKeyDown(key)) {
        return true;
    }
    inputManager->PostInputEvent(INPUTEVENT_KEYBOARD_KEYPRESS, key);
    return false;
}

void Game::OnChar(uint32_t character) {
    if (ConsoleShown(console) && character != kBackQuote && !IsLoadingScreenActive()) {
        console->OnChar(character);
    } else if (ScreenShown(GAMESCREEN_MODAL)) {
        screens[GAMESCREEN_MODAL]->OnChar(character);
    }
    inputManager->PostInputEvent(INPUTEVENT_KEYBOARD_CHAR, character);
}

// A bare name is called; a line with an assignment or a call runs as it stands. The line
// is echoed (when the configuration asks) and run with every log line reaching the
// console.
void Game::RunConsoleLine(char* line, uint32_t size) {
    if (!std::strchr(line, '=') && !std::strchr(line, '(')) {
        const size_t length = std::strlen(line);
        if (length + 3 <= size) std::memcpy(line + length, "()", 3);
    }
    const uint32_t level = consoleLevel;
    consoleLevel = 0;
    if (gGameConfig->consoleShowCommands) AppendGameConsoleLine(line);
    gLua.ExecuteString(line);
    consoleLevel = level;
}

void Game::ProcessConsoleCommands() {
    char line[kConsoleLineBuffer];
    if (console && console->GetEnteredCommand(line, kConsoleLineChars + 1)) RunConsoleLine(line, sizeof line);
    if (pendingCommand) {
        char* command = pendingCommand;
        pendingCommand = nullptr;
        const size_t length = std::strlen(command);
        char* buffer = static_cast<char*>(EngineAlloc(length + 3));
        if (buffer) {
            std::memcpy(buffer, command, length + 1);
            RunConsoleLine(buffer, static_cast<uint32_t>(length + 3));
            EngineFree(buffer);
        }
        EngineFree(command);
    }
}

void Game::OnLogMessage(uint32_t severity, uint32_t category, const char* text) {
    if (!console || severity < consoleLevel) return;
    const Vector& colour = severity >= kConsoleErrorLevel ? kConsoleRed : severity == kConsoleWarningLevel ? kConsoleYellow : kConsoleGrey;
    console->AddLine(text, colour);
}

void Game::AppendGameConsoleLine(const char* text) {
    if (console && consoleLevel < kConsoleWarningLevel) console->AddLine(text, kConsoleGrey);
}

void Game::ToggleConsole() {
    if (console) console->SetShown(!console->IsShown());
}

void Game::ShowConsole(bool show) {
    if (console) console->SetShown(show);
}

void Game::ClearConsole() {
    if (!console) return;
    for (uint32_t i = 0; i < UIGameConsoleScreen::kOutputLines; ++i) console->AddLine(nullptr, kConsoleGrey);
}

void Game::BindKey(uint32_t key, const char* command) { gGameConfig->BindKey(key, command); }

void Game::RemoveAllKeyBinds() { gGameConfig->RemoveAllKeyBinds(); }
