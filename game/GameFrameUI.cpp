#include "game/GameFrameUI.h"

#include "ui/elements/UIScreen.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UIGameConsoleScreen.h"

void GameFrameUI::RenderScreen(UIScreen* screen, uint32_t width, uint32_t height, int64_t gameTime,
                               int64_t gameplayTime, const Vector& cursor) {
    screen->Render(width, height, gameTime, gameplayTime, cursor);
}

void GameFrameUI::RenderConsole(UIGameConsoleScreen* console, uint32_t width, uint32_t height) {
    console->Render(width, height, 0, 0, console->CursorPosition());
}

bool GameFrameUI::VideoPlaying() const { return gVideoEngine && gVideoEngine->IsPlaying(); }

bool GameFrameUI::VideoFullScreen() const { return gVideoEngine && gVideoEngine->IsFullScreen(); }

void GameFrameUI::UpdateVideoFrame() {
    if (gVideoEngine) gVideoEngine->UpdateFrame();
}

void GameFrameUI::DrawVideoFrame() {
    if (gVideoEngine) gVideoEngine->DrawFrame();
}

namespace {
GameFrameUI gDefaultGameFrameUI;
GameFrameUI* gGameFrameUI = &gDefaultGameFrameUI;
}  // namespace

GameFrameUI& GetGameFrameUI() { return *gGameFrameUI; }

void SetGameFrameUI(GameFrameUI* ui) { gGameFrameUI = ui ? ui : &gDefaultGameFrameUI; }
