#include "app/SampleDelegate.h"

#include <cmath>

#include "core/Log.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SafePointer.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/GameCameraController.h"
#include "engine/game/Game.h"
#include "ui/elements/UIPicture.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIText.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UiButton.h"

namespace app {

namespace {

constexpr float kWidth = 1280, kHeight = 720;
constexpr float kLoadingFadeSeconds = 0.5f;
constexpr float kPanelX = kSampleButtonX - 60, kPanelY = kSampleButtonY - 40;
constexpr float kPanelWidth = kSampleButtonWidth + 120, kPanelHeight = kSampleButtonHeight + 80;
constexpr uint32_t kCornerSampler = 7;
constexpr const char* kMenuFont = "_system.ttf";
constexpr uint32_t kTitleFontSize = 32, kLabelFontSize = 24;

constexpr float kMenuHideSeconds = 0.3f;
constexpr float kStartScaleOnClick = 0.9f;

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

UIPicture* Picture(UIElement* parent, float x, float y, float w, float h, const char* texture) {
    UIPicture* p = new UIPicture;
    p->SetPosition(x, y, 0);
    p->SetSize(w, h);
    if (texture) {
        p->SetTexture(texture, 0, kCornerSampler);
        p->SetShader("iPhoneUI", "", 0, 0);
    }
    parent->AddChild(p);
    return p;
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
    menu = new UIScreen;
    menu->SetSize(kWidth, kHeight);
    menu->SetBlocksSceneRendering(false);
    // A panel behind the button: the scene shows around it, and through it.
    UIPicture* background = Picture(menu, kPanelX, kPanelY, kPanelWidth, kPanelHeight, "UI/MenuBackground.dds");
    background->SetLinearColor(1, 1, 1, 0.6f);

    // The clickable button: a transparent UiButton ("StartButton") over the rounded shape.
    UiButton* start = new UiButton;
    start->SetName("StartButton");
    start->SetPosition(kSampleButtonX, kSampleButtonY, 0);
    start->SetSize(kSampleButtonWidth, kSampleButtonHeight);
    start->SetScaleOnClick(kStartScaleOnClick);
    start->RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_FOCUSABLEWITHMOUSE, false);
    menu->AddChild(start);
    button = new UIRoundedRect;
    button->SetSize(kSampleButtonWidth, kSampleButtonHeight);
    button->SetCornerTexture("UI/ButtonCorner.dds");
    button->SetLinearColor(kSampleButtonColour);
    start->AddChild(button);
    // The highlight: a flat strip along the button's top edge.
    UIPicture* highlight = Picture(button, 12, 6, kSampleButtonWidth - 24, 6, nullptr);
    highlight->SetColorMode(UICOLOR_STATIC);
    highlight->SetLinearColor(1, 1, 1, 0.5f);
    // The localised title above the panel and the button's label.
    UIText* title = new UIText(nullptr, kMenuFont, kTitleFontSize, false);
    title->SetAlignment(TEXTALIGNMENT_CENTER, 1);
    title->SetPosition(kWidth / 2, kPanelY - 8, 0);
    title->SetLocalizedText("Menu/Title");
    menu->AddChild(title);
    label = new UIText(nullptr, kMenuFont, kLabelFontSize, false);
    label->SetAlignment(TEXTALIGNMENT_CENTER, 2);
    label->SetPosition(kSampleLabelX, kSampleLabelY, 0);
    label->SetColorMode(UICOLOR_STATIC);
    label->SetLinearColor(1, 1, 1, 1);
    label->SetLocalizedText("Menu/Start");
    button->AddChild(label);

    gGame->SetActiveUIScreen(menu);
}

void SampleDelegate::ConnectStartButton() {
    UIElement* e = menu ? menu->FindElementByName("StartButton") : nullptr;
    if (!e || !e->IsUiButton()) return;
    startButton = static_cast<UiButton*>(e);
    startButton->SetCommand(new StartCommand(menu));
}

void SampleDelegate::BuildLoadingScreen() {
    loading = new UIScreen;
    loading->SetSize(kWidth, kHeight);
    loading->SetBlendingWhenUsedAsLoadingScreen(true);
    UIPicture* picture = Picture(loading, 0, 0, kWidth, kHeight, "UI/MenuBackground.dds");
    picture->SetLinearColor(1, 1, 1, 0);
    picture->ChangeLinearColor(kLoadingFadeSeconds, 1, 1, 1, 1, UIACTIONFLAG_SYSTEMTIME, 0);
    gGame->SetLoadingUIScreen(loading, false, false, 0);
}

}  // namespace app
