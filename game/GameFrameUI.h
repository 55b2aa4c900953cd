#pragma once
// GameFrameUI: what the Game's render frame draws of the UI besides the scene: a screen,
// the console screen and the video engine's frame. The default implementation calls the
// UI directly (UIScreen::Render, UIGameConsoleScreen's render at its own cursor, the video
// engine, which answers "not playing" and draws nothing while it does not exist); a test
// that checks what the frame posts installs its own. SetGameFrameUI(nullptr) restores
// the default.
//
// Threads: main thread.
#include <cstdint>

class UIGameConsoleScreen;
class UIScreen;
struct Vector;

class GameFrameUI {
public:
    virtual ~GameFrameUI() = default;

    // Posts a screen's frame: client size, the smooth game and gameplay clocks in counter
    // ticks, and the cursor normalised to the client area.
    virtual void RenderScreen(UIScreen* screen, uint32_t width, uint32_t height, int64_t gameTime,
                              int64_t gameplayTime, const Vector& cursor);
    virtual void RenderConsole(UIGameConsoleScreen* console, uint32_t width, uint32_t height);
    // A video plays with frames left to show; it plays full screen.
    virtual bool VideoPlaying() const;
    virtual bool VideoFullScreen() const;
    // The video's frame update, and the draw of the full-screen frame.
    virtual void UpdateVideoFrame();
    virtual void DrawVideoFrame();
};

GameFrameUI& GetGameFrameUI();
// Not owned; null restores the default.
void SetGameFrameUI(GameFrameUI* ui);
