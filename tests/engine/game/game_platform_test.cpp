// The Game's platform helpers on a headless window (cursors from TGA files).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "CaptureLogSink.h"
#include "core/fs/FileSystem.h"
#include "engine/game/Game.h"
#include "engine/input/InputManager.h"
#include "platform/window/Window.h"

namespace {

class GamePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/game_platform_XXXXXX";
        folder = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("textures", folder.c_str()));
        wnd::ResetWindowLayer();
        window = wnd::CreateWindow({"PlatformTest", "", wnd::kStylePopup, 0, 40, 30, 400, 200});
        saved = gGame;
        gGame = game = new Game();
        game->Init(window, 400, 200, nullptr, nullptr, 0);
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        game->Close();
        delete game;
        gGame = saved;
        wnd::ResetWindowLayer();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(folder);
    }
    // Pixel (x, y) has colour x * 8, y * 8, 0x40 and is transparent on the diagonal.
    void Convert(const std::string& name, uint32_t side, const std::string& options) const {
        std::string pam = "P7\nWIDTH " + std::to_string(side) + "\nHEIGHT " + std::to_string(side) +
                          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) pam += {char(x * 8), char(y * 8), char(0x40), char(x == y ? 0 : 255)};
        std::ofstream(folder + "/source.pam", std::ios::binary) << pam;
        const std::string command = "cd " + folder + " && convert source.pam -compress None " + options + " " + name;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string folder;
    wnd::WindowHandle window = 0;
    Game* game = nullptr;
    Game* saved = nullptr;
    CaptureLogSink log;
};

TEST_F(GamePlatformTest, CursorsComeFromThirtyTwoSquareImagesOnly) {
    Convert("rgba.tga", 32, "-orient TopLeft");
    Convert("rgb.tga", 32, "-alpha off -orient TopLeft");
    Convert("small.tga", 16, "");
    const struct Case {
        const char* name;
        bool made, transparentDiagonal;
        const char* warning;
    } cases[] = {
        {"rgba.tga", true, true, nullptr},
        {"rgb.tga", true, false, nullptr},  // a 24-bit file loads opaque
        {"small.tga", false, false, "Incorrect cursor format. Only 32x32 A8R8G8B8 files are supported (small.tga)"},
        {"missing.tga", false, false, "Cannot load cursor: missing.tga"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        game->SetHardwareCursor(c.name, 3, 5);
        EXPECT_EQ(game->GetHardwareCursor() != 0, c.made);
        EXPECT_EQ(wnd::GetCursor(), game->GetHardwareCursor());
        EXPECT_TRUE(!c.warning || log.Contains(c.warning));
        wnd::CursorImage image;
        if (!c.made || !wnd::GetCursorImage(game->GetHardwareCursor(), &image)) continue;
        EXPECT_EQ(image.hotspotX, 3);
        EXPECT_EQ(image.hotspotY, 5);
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x) {
                const uint32_t colour = 0xFF000000u | (x * 8) << 16 | (y * 8) << 8 | 0x40;
                if (x == y) EXPECT_EQ(image.pixels[y * 32 + x] == 0, c.transparentDiagonal);
                else EXPECT_EQ(image.pixels[y * 32 + x], colour) << x << "," << y;
            }
    }
    // Activation builds the stored cursor again; no name removes it.
    game->RefreshHardwareCursor();
    EXPECT_EQ(game->GetHardwareCursor(), 0u);  // the last name was missing
    game->SetHardwareCursor("rgba.tga", 1, 1);
    game->RefreshHardwareCursor();
    EXPECT_NE(game->GetHardwareCursor(), 0u);
    game->SetHardwareCursor(nullptr, 0, 0);
    EXPECT_EQ(game->GetHardwareCursor(), 0u);
}

TEST_F(GamePlatformTest, WindowHelpersActOnlyWhileUnfocusedAndTheCursorIsPlacedInsideTheClient) {
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 200, 30 + 100}));  // Init centred it in the client
    wnd::SetFocus(window);
    game->FlashWindow();
    game->RestoreWindow();
    const auto& r = wnd::GetRequests();
    EXPECT_EQ(r.flashes + r.beeps + r.restores, 0u);
    wnd::SetFocus(0);
    game->FlashWindow();
    game->RestoreWindow();
    EXPECT_EQ(std::make_tuple(r.flashes, r.lastFlash.flags, r.lastFlash.count, r.beeps, r.restores),
              std::make_tuple(1u, 15u, 1000u, 1u, 1u));

    game->SetCursorPosition(Vector(0.25f, -3.0f, 0.0f, 0.0f));
    EXPECT_EQ(game->GetInputManager()->GetCursorPosition(), Vector(0.25f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 100, 30}));
    // Init hid the cursor; showing it centred changes the counter once.
    game->EnableHardwareCursor(true, true);
    game->EnableHardwareCursor(true, true);
    EXPECT_EQ(wnd::GetCursorDisplayCounter(), 0);
    EXPECT_EQ(wnd::GetCursorPos(), (wnd::Point{40 + 200, 30 + 100}));
    EXPECT_FALSE(log.Contains("Hardware cursor counter invalid"));
}

TEST_F(GamePlatformTest, TapPositionsAreFoundByTheirObject) {
    int element = 0, other = 0;
    const Vector at(0.5f, 0.25f, 0.0f, 0.0f);
    SetTapPosition(&element, &at);
    ASSERT_NE(FindTapPosition(&element), nullptr);
    EXPECT_EQ(FindTapPosition(&element)->y, 0.25f);
    EXPECT_EQ(FindTapPosition(&other), nullptr);
    SetTapPosition(&element, nullptr);
    EXPECT_EQ(FindTapPosition(&element), nullptr);
}

}  // namespace
