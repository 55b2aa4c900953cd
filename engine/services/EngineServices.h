#pragma once
// What the Game still reaches of the subsystems above the engine through function
// pointers: its multiplayer engine, the console and UI screens, the video frame, the
// Game's sound calls, the strings and the analytics records. Each library fills its
// entries from its own start-up rows; an empty entry means the least behaviour, which
// each caller documents. Everything the engine itself needs of those subsystems goes
// through the typed seams beside this file (SoundServices, MultiplayerServices,
// UIServices, SceneContentServices, GameServices).
//
// Main thread; filled at start-up, read afterwards.
#include <cstdint>

class Matrix;
class MultiplayerEngine;
class UIGameConsoleScreen;
class UIScreen;
struct Vector;

struct EngineServices {
    // ---- The Game ----
    // What the Game calls of the subsystems above the engine. Empty entries give the
    // least behaviour: no multiplayer engine, no console, no screen, no sound, no video.
    //
    // The console screen (UIGameConsoleScreen): made by Game::Init, released by
    // Game::Close. IsShown (empty: false); OnKeyDown true when the key was consumed;
    // GetEnteredCommand copies the entered line (at most size - 1 characters and a
    // terminator) and forgets it, false when there is none; AddLine (text, colour).
    UIGameConsoleScreen* (*consoleScreenCreate)() = nullptr;
    void (*consoleScreenRelease)(UIGameConsoleScreen* console) = nullptr;
    bool (*consoleScreenIsShown)(const UIGameConsoleScreen* console) = nullptr;
    void (*consoleScreenOnChar)(UIGameConsoleScreen* console, uint32_t character) = nullptr;
    bool (*consoleScreenOnKeyDown)(UIGameConsoleScreen* console, uint32_t key) = nullptr;
    bool (*consoleScreenGetEnteredCommand)(UIGameConsoleScreen* console, char* buffer, uint32_t size) = nullptr;
    void (*consoleScreenAddLine)(UIGameConsoleScreen* console, const char* text, const Vector& colour) = nullptr;

    // UIScreen slots the Game uses. IsShown (empty: false); the cursor position the
    // screen works with; mouse and touch presses, releases and moves (position, button
    // code or tap id; true when the screen took it; empty: false); a character; the
    // per-frame update; Release when the Game drops the screen.
    bool (*uiScreenIsShown)(const UIScreen* screen) = nullptr;
    void (*uiScreenSetCursorPosition)(UIScreen* screen, const Vector& position) = nullptr;
    bool (*uiScreenOnMouseButtonDown)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    bool (*uiScreenOnMouseButtonUp)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    bool (*uiScreenOnMouseMove)(UIScreen* screen, const Vector& position, uint32_t button) = nullptr;
    void (*uiScreenOnChar)(UIScreen* screen, uint32_t character) = nullptr;
    void (*uiScreenUpdate)(UIScreen* screen) = nullptr;
    void (*uiScreenRelease)(UIScreen* screen) = nullptr;
    // The loading screen's fade flag (empty: false), and its fade out:
    // UIElement::RemoveAllActions (-1), then UIElement::ChangeColor towards transparent
    // white over 0.2 s.
    bool (*uiScreenHasFadeFlag)(const UIScreen* screen) = nullptr;
    void (*uiScreenFadeOut)(UIScreen* screen) = nullptr;
    // ---- end of the Game ----

    // ---- Configuration helper and Game script API ----
    // What the configuration helper (gConfigHelper) and the Game's script methods call
    // of the subsystems above the engine.
    //
    // StringManager: the text of a string id in the current language (lookup with
    // language 11 and flags 1, 1), null when there is none. Empty: no text.
    const char16_t* (*stringManagerLookup)(const char* id) = nullptr;
    // UIScreen: told when it enters (true) or leaves (false) a Game screen slot;
    // prepared as the loading screen (UI flag 32). Empty: nothing.
    void (*uiScreenSlotChanged)(UIScreen* screen, bool entered) = nullptr;
    void (*uiScreenPrepareLoading)(UIScreen* screen) = nullptr;
    // UIScreen point conversions for a client size: UI point to normalised screen point,
    // back, and a world position (with the camera's view and projection) to a UI point,
    // false when it lies behind the camera. Empty: false, the output untouched.
    bool (*uiScreenUIPointToScreenPoint)(const UIScreen* screen, const Vector& point, uint32_t width, uint32_t height,
                                         Vector* out) = nullptr;
    bool (*uiScreenScreenPointToUIPoint)(const UIScreen* screen, const Vector& point, uint32_t width, uint32_t height,
                                         Vector* out) = nullptr;
    bool (*uiScreenWorldPositionToUIPoint)(const UIScreen* screen, const Vector& position, uint32_t width,
                                           uint32_t height, const Matrix& view, const Matrix& projection,
                                           Vector* out) = nullptr;
    // ---- end of the configuration helper and Game script API ----

    // ---- Render frame ----
    // What Game::RenderFrame draws besides the scene. Empty entries draw nothing.
    // UIScreen: whether it blocks the scene behind it (its "SetBlocksSceneRendering"
    // flag; empty: false), and UIScreen::Render (client size, smooth game and gameplay
    // times in counter ticks, cursor position). The console screen's render.
    bool (*uiScreenBlocksSceneRendering)(const UIScreen* screen) = nullptr;
    void (*uiScreenRender)(UIScreen* screen, uint32_t width, uint32_t height, int64_t gameTime, int64_t gameplayTime,
                           const Vector& cursor) = nullptr;
    void (*consoleScreenRender)(UIGameConsoleScreen* console, uint32_t width, uint32_t height) = nullptr;
    // VideoEngine: a video plays with frames left to show (empty: false); it plays full
    // screen; the frame update, and the draw of the full-screen frame.
    bool (*videoIsPlaying)() = nullptr;
    bool (*videoIsFullScreen)() = nullptr;
    void (*videoUpdateFrame)() = nullptr;
    void (*videoDrawFrame)() = nullptr;
};

extern EngineServices gEngineServices;
