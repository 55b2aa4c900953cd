#pragma once
// SampleDelegate: the program's game delegate until the game layer brings its own. At
// init it builds the sample's two screens in code: the main menu (a background picture
// and a rounded button with a highlight strip over the scene) as the active screen, and
// a loading screen (a full-screen picture that fades in) for the scene switches.
// Once the start scene has loaded it plays the intro video ("Intro" in "videos", when
// the data has it) full screen; the menu stays hidden until the video has ended.
//
// Main thread. The Game holds the screens in its slots; each screen empties the slots
// it is in when the Game releases it at its close.
#include "core/math/Vector.h"
#include "engine/game/GameDelegate.h"

class UIScreen;
class UIRoundedRect;

namespace app {

// The menu's layout in UI units (the reference size 1280 x 720): the button sits in the
// middle, so letterboxing never moves it off the window's centre.
constexpr float kSampleButtonX = 540, kSampleButtonY = 320, kSampleButtonWidth = 200, kSampleButtonHeight = 80;
// The button's linear colour: pure channels, the same bytes with or without sRGB writes.
inline const Vector kSampleButtonColour{1.0f, 0.0f, 1.0f, 1.0f};
// The intro video: a file of the "videos" set.
constexpr const char* kSampleIntroVideo = "Intro";

class SampleDelegate : public GameDelegate {
public:
    // The base's init, then the two screens.
    void OnInit() override;
    // Starts the intro (or shows the menu when there is none).
    void OnFirstSceneLoaded() override;
    // Shows the menu once the intro has ended.
    void OnSmoothTick() override;

    UIScreen* MenuScreen() const { return menu; }
    UIScreen* LoadingScreen() const { return loading; }
    UIRoundedRect* Button() const { return button; }
    bool IntroRunning() const { return introRunning; }

private:
    void BuildMenu();
    void BuildLoadingScreen();

    UIScreen* menu = nullptr;
    UIScreen* loading = nullptr;
    UIRoundedRect* button = nullptr;
    bool introRunning = false;
};

}  // namespace app
