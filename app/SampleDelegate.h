#pragma once
// SampleDelegate: the program's game delegate until the game layer brings its own. At
// init it builds the sample's two screens from the sample data's UI recipe templates:
// "UI/MainMenu" (a background panel, a localised title and the "StartButton" with its
// label, over the scene) as the active screen, and "UI/LoadingScreen" (a full-screen
// picture that fades in) for the scene switches. The menu's "StartButton" is clickable: it
// logs "Sample: Start pressed" and blends the menu out. A template the catalogue does not
// name, or one that is no UI recipe, leaves its screen out (CreateFromRecipe has logged
// why); one whose file fails to load gives an empty screen (the loader has logged why).
// It also makes the Game's camera look at the sample scene (scripts would place it; they
// cannot call the engine yet). Once the start scene has loaded it plays the intro video
// ("Intro" in "videos", when the data has it) full screen; the menu stays hidden until
// the video has ended.
//
// Main thread. The Game holds the screens in its slots; each screen empties the slots
// it is in when the Game releases it at its close.
#include "core/math/Vector.h"
#include "engine/delegate/GameDelegate.h"

class UIScreen;
class UIButton;

namespace app {

// The recipe templates of the two screens, and the menu's button (a sub-recipe name).
constexpr const char* kSampleMenuRecipe = "UI/MainMenu";
constexpr const char* kSampleLoadingRecipe = "UI/LoadingScreen";
constexpr const char* kSampleStartButton = "StartButton";
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
    UIButton* StartButton() const { return startButton; }
    bool IntroRunning() const { return introRunning; }

private:
    void BuildMenu();
    void BuildLoadingScreen();
    // Gives the menu's "StartButton" its command.
    void ConnectStartButton();
    void SetSceneCamera();

    UIScreen* menu = nullptr;
    UIScreen* loading = nullptr;
    UIButton* startButton = nullptr;
    bool introRunning = false;
};

}  // namespace app
