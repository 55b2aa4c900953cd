// The render frame: the main thread's per-frame submission of the scene (or a
// full-screen video), the UI screens, the console and the profiler overlay. Everything
// here only posts commands to the renderer thread, which draws them.
#include "core/Time.h"
#include "core/profiler/Profiler.h"
#include "engine/SceneRenderList.h"
#include "engine/camera/GameCameraController.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "game/Game.h"
#include "game/GameFrameUI.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "ui/elements/UIScreen.h"

namespace {

// The entity layers' mask goes to the renderer word for word.
static_assert(kLayerMaskWords == kRenderLayerMaskWords);

// A frame while the loading screen is up only lets the renderer's idle tick present it.
constexpr uint32_t kLoadingScreenSleepMs = 12;
// How many frames the main thread may post ahead of the renderer.
constexpr uint32_t kFrameLatency = 1;
// Render flags of a scene frame with ambient occlusion.
constexpr uint32_t kRenderFlagSSAO = 0x80000;
// Block-rendering mask bit that suppresses the shadow pass.
constexpr uint32_t kBlockShadowPass = 0x2;
// Mode bits of the post-process command.
constexpr uint32_t kPostProcessChain = 0x1;
constexpr uint32_t kPostProcessFXAA = 0x4;
// Swap chain modes of the output selection.
constexpr uint8_t kOutputScene = 2;
constexpr uint8_t kOutputUIOnly = 0;
constexpr uint32_t kClearTarget = 1;

}  // namespace

// What the screens of one frame are drawn with.
struct GameFrameView {
    uint32_t width, height;
    int64_t gameTime, gameplayTime;  // the smooth clocks at the submission
    const Vector& cursor;            // the input's cursor, normalised to the client area
};

namespace {

// The entity layers' mask goes to the renderer word for word.
static_assert(kLayerMaskWords == kRenderLayerMaskWords);

void RenderScreen(UIScreen* screen, const GameFrameView& view) {
    if (screen)
        GetGameFrameUI().RenderScreen(screen, view.width, view.height, view.gameTime, view.gameplayTime, view.cursor);
}

// Cursor picking: the entities the frame's list gathered become the entity manager's
// frame list, and each pressed pointer input casts the camera's ray through the cursor
// at them (their pick handlers hear of the hits).
void PickCursorEntities(const SceneRenderList* list, const InputManager& input, const GameCameraController* camera,
                        const Vector& cursor) {
    if (!gEntityManager) return;
    Dynarray<Entity*>& frame = gEntityManager->FrameEntities();
    frame.Clear();
    if (list)
        for (Entity* e : list->Gathered()) frame.Add(e);
    if (!camera) return;
    uint32_t pressed[InputManager::kPointerInputCount];
    const uint32_t count = input.PressedPointerInputs(pressed);
    gEntityManager->Pick(cursor, pressed, count, camera->GetCameraViewMatrix(), camera->GetCameraProjectionMatrix());
}

void UpdateCameraMatrices(const GameCameraController* camera) {
    if (camera)
        gVornexRenderer.SetCameraMatrices(camera->rendererView, camera->rendererProjection, camera->rendererView,
                                          camera->rendererProjection);
    else
        gVornexRenderer.SetCameraMatrices(Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY, Matrix::IDENTITY);
}

}  // namespace

bool Game::RenderFrame() {
    // 1. The loading screen: the renderer presents it on its own.
    if (gVornexRenderer.SceneLoading()) {
        gVornexRenderer.FlushCommands(false);
        os::Sleep(kLoadingScreenSleepMs);
        return !gVornexRenderer.DeviceResetPending();
    }
    // 2. The frame's profile begins; the client size holds for the whole frame.
    gProfiler.StartTimer(PROFILE_RENDER_FRAME, PROFILER_THREAD_MAIN);
    const uint32_t width = clientWidth, height = clientHeight;
    // 3. While a scene switch waits, the frame draws nothing (steps 4-7).
    if (!switchPending) DrawFrameContent(width, height);
    // 8. The end of the frame.
    UpdateCameraMatrices(cameraController);
    gVornexRenderer.PostUpscaleFinal();
    const bool result = gVornexRenderer.EndFrame();
    // 9. The frame's profile ends.
    gProfiler.StopTimer(PROFILE_RENDER_FRAME, PROFILER_THREAD_MAIN);
    return result;
}

void Game::DrawFrameContent(uint32_t width, uint32_t height) {
    // 4. What to draw.
    GameFrameUI& ui = GetGameFrameUI();
    const bool videoPlaying = ui.VideoPlaying();
    const bool fullScreenVideo = videoPlaying && ui.VideoFullScreen();
    UIScreen* active = screens[GAMESCREEN_ACTIVE];
    const bool blocked = active && active->BlocksSceneRendering();
    const bool scene = !blocked && !fullScreenVideo;
    // 5. Visible layers and the output.
    if (scene) {
        uint32_t layers[kLayerMaskWords];
        EntityLayerSystem::BuildInGameVisibleLayerMask(layers);
        gVornexRenderer.PostLayerMasks(layers, blockRenderingMask);
    }
    gVornexRenderer.SetOutputSwapChain(nullptr, 0, scene || fullScreenVideo ? kOutputScene : kOutputUIOnly);
    // 6. The camera.
    bool draw = true;
    if (cameraController) {
        cameraController->SetViewport(gVornexRenderer.ScreenWidth(), gVornexRenderer.ScreenHeight());
        // Without the scene nothing covers the last frame: the set-up clears the target.
        draw = cameraController->SetupFrame(focused, scene ? 0 : kClearTarget, nullptr);
    }
    // 7. Submission: the video or the scene, then the screens, the console and the profiler.
    if (!draw) return;
    const GameFrameView view{width, height, smoothGameTimer.Time(), smoothGameplayTimer.Time(),
                         inputManager->GetCursorPosition()};
    if (fullScreenVideo) {
        gVornexRenderer.PostUpscale();
        gVornexRenderer.SetViewport(0, 0, width, height, 0.0f, 1.0f);
        gVornexRenderer.SetSRGBWrite(1);
        gVornexRenderer.Clear(kClearTarget, Vector(0.0f, 0.0f, 0.0f, 0.0f), 1.0f, 0);
        ui.UpdateVideoFrame();
        ui.DrawVideoFrame();
        gVornexRenderer.WaitForFrameLatency(kFrameLatency);
        gVornexRenderer.PostNop();
    } else if (scene) {
        SubmitScene(view);
    } else {
        gVornexRenderer.WaitForFrameLatency(kFrameLatency);
        gVornexRenderer.PostNop();
    }
    if (videoPlaying && !fullScreenVideo) ui.UpdateVideoFrame();
    gVornexRenderer.PostBeginOutlineGather();
    RenderScreen(active, view);
    RenderScreen(screens[GAMESCREEN_MODAL], view);
    if (ScreenShown(GAMESCREEN_OVERLAY)) RenderScreen(screens[GAMESCREEN_OVERLAY], view);
    gVornexRenderer.PostRenderOutlines();
    if (console && !gVornexRenderer.SceneLoading()) ui.RenderConsole(console, width, height);
    gProfiler.Draw(width, height);
}

void Game::SubmitScene(const GameFrameView& view) {
    SceneRenderList* list = gSceneRenderList;
    const uint32_t renderFlags = ssaoEnabled ? kRenderFlagSSAO : 0;
    if (list) list->Build(0, blockRenderingMask);
    PickCursorEntities(list, *inputManager, cameraController, view.cursor);
    if (list) list->MarkEntities(renderFlags, blockRenderingMask);
    if (!(blockRenderingMask & kBlockShadowPass) && gVornexRenderer.ShadowMapEnabled())
        gVornexRenderer.PostShadowMapPass(renderFlags, gVornexRenderer.Settings().displayShadowDebugInfo ? 1 : 0);
    // The scene pass clears to the camera's background, so a frame that draws nothing
    // does not keep the last one.
    const Vector background = cameraController ? cameraController->backgroundColor : Vector(0, 0, 0, 0);
    if (list) list->GatherEntity(renderFlags, blockRenderingMask, 1, background);
    gVornexRenderer.WaitForFrameLatency(kFrameLatency);
    if (delegate) delegate->OnPreSceneRender();
    RenderScreen(screens[GAMESCREEN_PRE_FSE], view);
    gVornexRenderer.PostOutlineTypeMask(outlineMask);
    gVornexRenderer.SetOutlineParams(outlineParams);
    gVornexRenderer.SetPostProcessTargetMode(PostProcessModeBits());
    UpdateCameraMatrices(cameraController);
    if (list) list->Submit(renderFlags);
    if (delegate) delegate->OnPostSceneRender();
    gVornexRenderer.PostUpscale();
    if (list) {
        list->Reset();
        list->PostPerFrameOperation();
    }
}

uint32_t Game::PostProcessModeBits() const {
    return extraFSEFlags | (fxaaEnabled ? kPostProcessFXAA : 0) | (fseEnabled ? kPostProcessChain : 0);
}
