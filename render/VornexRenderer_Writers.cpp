// The main thread's writers of the task table: each writes one record into the
// command stream (pointers at native size, fields packed in table order).
#include <cstring>

#include "core/Log.h"
#include "core/math/HDRColor.h"
#include "render/SceneDrawServices.h"
#include "render/UIDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

void VornexRenderer::PostReleaseDeviceResources() { Post(TASK_RELEASE_DEVICE_RESOURCES); }
void VornexRenderer::PostNewScene(const BoundingBox4& box, float cellSize) { Post(TASK_NEW_SCENE, box, cellSize); }
void VornexRenderer::PostSceneGridValue(float value) { Post(TASK_SCENE_GRID_VALUE, value); }
void VornexRenderer::RequestDeviceReset() { Post(TASK_REQUEST_DEVICE_RESET); }
void VornexRenderer::PostGameDelegate(GameDelegate* delegate) { Post(TASK_GAME_DELEGATE, delegate); }
void VornexRenderer::PostNop() { Post(TASK_NOP); }
void VornexRenderer::SetLoadingScreen(UIElement* screen, uint8_t unused, uint8_t overScene) {
    Post(TASK_LOADING_SCREEN, screen, unused, overScene);
}
void VornexRenderer::PostResetOverride() { Post(TASK_RESET_OVERRIDE); }

void VornexRenderer::PostLayerMasks(const uint32_t* visibleLayers, uint32_t blockRenderingMask) {
    uint32_t visible[kRenderLayerMaskWords];
    static_assert(sizeof visible == sizeof frameVisibleLayers);
    if (visibleLayers)
        std::memcpy(visible, visibleLayers, sizeof visible);
    else
        std::memset(visible, 0xFF, sizeof visible);
    Post(TASK_LAYER_MASKS, visible, blockRenderingMask);
}

void VornexRenderer::SetOutputSwapChain(gfx::SwapChain* swapChain, uint8_t multisample, uint8_t mode) {
    Post(TASK_OUTPUT_SWAP_CHAIN, swapChain, multisample, mode);
}
void VornexRenderer::PostUpscaleFinal() { Post(TASK_UPSCALE_FINAL); }
void VornexRenderer::SetOutlineParams(const OutlineParams& params) { Post(TASK_OUTLINE_PARAMS, params); }
void VornexRenderer::SetSecondaryOutlineParams(const OutlineParams& params) {
    Post(TASK_SECONDARY_OUTLINE_PARAMS, params);
}

void VornexRenderer::PostOutlineTypeMask(uint32_t mask) { Post(TASK_OUTLINE_TYPE_MASK, mask); }

void VornexRenderer::SetPostProcessTargetMode(uint32_t modeBits) {
    // Only the chain switch unless the configuration allows the full-screen effects.
    Post(TASK_POST_PROCESS_TARGET, settings.enableFullScreenEffects ? modeBits : (modeBits & 1u));
}

void VornexRenderer::PostUpscale() { Post(TASK_UPSCALE); }
void VornexRenderer::PostShadowMapPass(uint32_t value, uint8_t secondStep) {
    Post(TASK_SHADOW_MAP_PASS, value, secondStep);
}
void VornexRenderer::PostBeginOutlineGather() { Post(TASK_BEGIN_OUTLINE_GATHER); }
void VornexRenderer::PostRenderOutlines() { Post(TASK_RENDER_OUTLINES); }

void VornexRenderer::SetViewport(uint32_t x, uint32_t y, uint32_t width, uint32_t height, float minZ, float maxZ) {
    Post(TASK_VIEWPORT, x, y, width, height, minZ, maxZ);
}
void VornexRenderer::SetBrightness(float value) { Post(TASK_BRIGHTNESS, value); }
void VornexRenderer::SetScreenScaleX(float scale) { Post(TASK_SCREEN_SCALE_X, scale); }
void VornexRenderer::SetScreenScaleY(float scale) { Post(TASK_SCREEN_SCALE_Y, scale); }
void VornexRenderer::PostCameraFloat(float value) { Post(TASK_CAMERA_FLOAT, value); }

void VornexRenderer::SetVisualizationMode(uint32_t mode) {
    SetRenderVisualizationMode(mode);
    Post(TASK_VISUALIZATION_MODE, mode);
}

void VornexRenderer::Clear(uint32_t flags, const Vector& colour, float depth, uint32_t stencil) {
    const float rgba[4] = {colour.x, colour.y, colour.z, colour.w};
    Post(TASK_CLEAR, flags, rgba, depth, stencil);
}

void VornexRenderer::SetSRGBWrite(uint8_t enable) { Post(TASK_SRGB_WRITE, enable); }

void VornexRenderer::PostFrameParams(const RenderFrameClock& engine, const RenderFrameClock& game,
                                     const RenderFrameClock& gameplay, uint32_t flags) {
    GetUIDrawServices().FinishPendingDeletion();
    postedClockTicks[0] = engine.ticks, postedClockTicks[1] = game.ticks, postedClockTicks[2] = gameplay.ticks;
    Post(TASK_FRAME_PARAMS, engine.ticks, engine.frameTime, game.ticks, game.frameTime, gameplay.ticks,
         gameplay.frameTime, flags);
}

void VornexRenderer::PostRegisterLight(RendererLight* light) { Post(TASK_REGISTER_LIGHT, light); }
void VornexRenderer::PostResetFrameGather() { Post(TASK_RESET_FRAME_GATHER); }

void VornexRenderer::PostRenderPassFlags(const Vector& clearColour, uint32_t passFlags, uint8_t clear) {
    const float rgba[4] = {clearColour.x, clearColour.y, clearColour.z, clearColour.w};
    Post(TASK_RENDER_PASSES, rgba, passFlags, clear);
}

void VornexRenderer::SubmitRenderTask(EntityRenderingContext* renderingContext, uint32_t renderFlags) {
    Post(TASK_SUBMIT_RENDER_TASK, renderingContext, renderFlags);
}

bool VornexRenderer::PostDrawText(Resource* font, const Matrix& matrix, const Vector& colour, uint32_t valueA,
                                  uint32_t valueB, uint8_t flag, const char* text, uint32_t textBytes) {
    const float rgba[4] = {colour.x, colour.y, colour.z, colour.w};
    const uint32_t fixed = sizeof font + sizeof matrix + sizeof rgba + 3 * sizeof(uint32_t) + sizeof flag;
    if (textBytes > kRenderMaxPayload - fixed || (textBytes && !text)) {
        gLog.Error(LogCategory::RenderDevice, "VornexRenderer::PostDrawText - %u text bytes do not fit a block",
                   textBytes);
        return false;
    }
    if (!BeginCommand(TASK_TEXT, fixed + textBytes)) return false;
    CommandRingBuffer& ring = Ring();
    ring.WriteValue(font);
    ring.WriteValue(matrix);
    ring.WriteValue(rgba);
    ring.WriteValue(valueA);
    ring.WriteValue(valueB);
    ring.WriteValue(textBytes);
    ring.WriteValue(flag);
    ring.Write(text, textBytes);
    return true;
}
