#pragma once
// SampleDelegate: the program's game delegate until the game layer brings its own. At
// init it builds the sample's two screens in code: the main menu (a background picture,
// a localised title, and a rounded button with a highlight strip and a localised label
// over the scene) as the active screen, and
// a loading screen (a full-screen picture that fades in) for the scene switches. The
// menu's "StartButton" is clickable: it logs "Sample: Start pressed" and blends the menu
// out.
// It also makes the Game's camera look at the sample scene (scripts would place it; they
// cannot call the engine yet). Once the start scene has loaded it plays the intro video
// ("Intro" in "videos", when the data has it) full screen; the menu stays hidden until
// the video has ended. The menu's background is a panel behind the button, so the scene
// shows around it.
//
// Main thread. The Game holds the screens in its slots; each screen empties the slots
// it is in when the Game releases it at its close.
#include "core/math/Vector.h"
#include "engine/game/GameDelegate.h"

class UIScreen;
class UIRoundedRect;
class UIText;
class UiButton;

namespace app {

// The menu's layout in UI units (the reference size 1280 x 720): the button sits in the
// middle, so letterboxing never moves it off the window's centre.
constexpr float kSampleButtonX = 540, kSampleButtonY = 320, kSampleButtonWidth = 200, kSampleButtonHeight = 80;
// The button's label: centred at this point of the button, below its middle (UI units).
constexpr float kSampleLabelX = kSampleButtonWidth / 2, kSampleLabelY = 58;
// The button's linear colour: pure channels, the same bytes with or without sRGB writes.
inline const Vector kSampleButtonColour{1.0f, 0.0f, 1.0f, 1.0f};
// The scene camera: where it stands and the point it looks at (world units, y up), and
// its vertical field of view in degrees. It looks along +z at the front of the sample
// scene: the "Beacon" effect at (0, 0, -60) on its right, a crate at (-12, 0, -56) and the
// smoke beside it on its left, all clear of the menu's panel in the middle.
inline const Vector kSampleCameraEye{-6.0f, 6.0f, -72.0f, 1.0f};
inline const Vector kSampleCameraTarget{-6.0f, 4.0f, -58.0f, 1.0f};
constexpr float kSampleCameraFov = 50.0f;
// The intro video: a file of the "videos" set.
constexpr const char* kSampleIntroVideo = "Intro";

class SampleDelegate : public GameDelegate {
public:
    // The base's init, then the two screens.
    void OnInit() override;
    // Starts the intro (or shows the menu when there is none).
    void OnFirstSceneLoaded() override;
    // Takes the menu's hit candidates; shows the menu once the intro has ended.
    void OnSmoothTick() override;

    UIScreen* MenuScreen() const { return menu; }
    UIScreen* LoadingScreen() const { return loading; }
    UIRoundedRect* Button() const { return button; }
    UIText* ButtonLabel() const { return label; }
    UiButton* StartButton() const { return startButton; }
    bool IntroRunning() const { return introRunning; }

private:
    void BuildMenu();
    void BuildLoadingScreen();
    // Gives the menu's "StartButton" its command.
    void ConnectStartButton();
    void SetSceneCamera();

    UIScreen* menu = nullptr;
    UIScreen* loading = nullptr;
    UIRoundedRect* button = nullptr;
    UIText* label = nullptr;
    UiButton* startButton = nullptr;
    bool introRunning = false;
};

}  // namespace app
