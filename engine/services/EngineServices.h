#pragma once
// What the Game's render frame still draws through function pointers (the UI screens, the
// console screen and the video). The UI fills the entries from its start-up rows; an empty entry means the
// least behaviour, given with each.
//
// Main thread; filled at start-up, read afterwards.
#include <cstdint>

class UIGameConsoleScreen;
class UIScreen;
struct Vector;

struct EngineServices {
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
