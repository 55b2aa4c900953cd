#include "app/SampleDelegate.h"

#include <cmath>

#include "core/Log.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SafePointer.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/Game.h"
#include "ui/elements/UIScreen.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UIButton.h"

namespace app {

namespace {

constexpr float kLoadingFadeSeconds = 0.5f;
constexpr float kMenuHideSeconds = 0.3f;
// The loading screen's picture, transparent in its recipe: it fades in when shown.
constexpr const char* kLoadingPicture = "Background";

// The start button's command: one log line, then the menu blends out and hides.
class StartCommand : public UIElementCommand {
public:
    explicit StartCommand(UIElement* menu) : menu(menu) {}
    void Execute() override {
        gLog.Print(LogSeverity::Information, LogCategory::UI, "Sample: Start pressed");
        if (UIElement* m = menu.Get()) m->BlendOutAndHide(kMenuHideSeconds, UIACTIONFLAG_SYSTEMTIME, 0);
    }

private:
    SafePointer<UIElement> menu;
};

// A screen holding the tree of a UI recipe template, of the size of the template's root
// recipe (its UI units); null when the template cannot be built.
UIScreen* ScreenFromRecipe(const char* templateName) {
    UIElement* tree = UIElement::CreateFromRecipe(templateName, nullptr);
    if (!tree) return nullptr;
    auto* recipes = static_cast<UIRecipeTemplate*>(gEntityTemplateRegistry.FindTemplateByName(templateName, true));
    UIScreen* screen = new UIScreen;
    screen->SetSize(recipes->GetRecipe()->size);
    screen->AddChild(tree);
    return screen;
}

}  // namespace

void SampleDelegate::OnInit() {
    GameDelegate::OnInit();
    if (!gGame) return;
    BuildMenu();
    ConnectStartButton();
    BuildLoadingScreen();
    SetSceneCamera();
}

void SampleDelegate::SetSceneCamera() {
    GameCameraController* controller = gGame->GetCameraController();
    if (!controller) return;
    LCBaseCameraSubcontroller* camera = controller->AddNewSubcontroller(CAMERASUBCONTROLLER_BASE);
    // Turned about y towards the target, then pitched down to it.
    const Vector d = kSampleCameraTarget - kSampleCameraEye;
    const float degrees = 180.0f / 3.14159265f;
    const float yaw = std::atan2(d.x, d.z) * degrees;
    const float pitch = std::atan2(-d.y, std::sqrt(d.x * d.x + d.z * d.z)) * degrees;
    camera->SetPosition(kSampleCameraEye);
    camera->SetRotation(pitch, 0.0f, yaw);
    camera->SetFOV(kSampleCameraFov);
    controller->SetCurrentSubcontroller(camera, 0.0f, 0);
}

void SampleDelegate::OnFirstSceneLoaded() {
    GameDelegate::OnFirstSceneLoaded();
    if (!menu) return;
    // A missing file would only end the play with an error line: without it the menu
    // shows at once.
    if (gVideoEngine && gFileSystem.FileExists(kSampleIntroVideo, "ogv", "videos")) {
        menu->Hide();
        gVideoEngine->Play(kSampleIntroVideo, nullptr, true, false, 1.0f);
        introRunning = true;
    }
}

void SampleDelegate::OnSmoothTick() {
    GameDelegate::OnSmoothTick();
    // The Game updates only its modal and overlay screens; the menu is the active screen,
    // so the delegate takes its hit candidates (what the pointer can press) each tick.
    if (menu) menu->Update(menu->CursorPosition());
    if (!introRunning || (gVideoEngine && gVideoEngine->IsPlaying())) return;
    introRunning = false;
    if (menu) menu->Show();
}

void SampleDelegate::BuildMenu() {
    menu = ScreenFromRecipe(kSampleMenuRecipe);
    if (!menu) return;
    // The scene shows around the menu's panel, and through it.
    menu->SetBlocksSceneRendering(false);
    gGame->SetActiveUIScreen(menu);
}

void SampleDelegate::ConnectStartButton() {
    UIElement* e = menu ? menu->FindElementByName(kSampleStartButton) : nullptr;
    if (!e || !e->IsUiButton()) return;
    startButton = static_cast<UIButton*>(e);
    startButton->SetCommand(new StartCommand(menu));
}

void SampleDelegate::BuildLoadingScreen() {
    loading = ScreenFromRecipe(kSampleLoadingRecipe);
    if (!loading) return;
    loading->SetBlendingWhenUsedAsLoadingScreen(true);
    if (UIElement* picture = loading->FindElementByName(kLoadingPicture))
        picture->ChangeLinearColor(kLoadingFadeSeconds, 1, 1, 1, 1, UIACTIONFLAG_SYSTEMTIME, 0);
    gGame->SetLoadingUIScreen(loading, false, false, 0);
}

}  // namespace app
