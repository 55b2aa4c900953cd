// UIScreen: the per-frame submission (main thread) and the screen's tree draw with the
// candidate hand-over (render thread).
#include <algorithm>
#include <atomic>
#include <cmath>

#include "core/Log.h"
#include "core/config/ProjectConfig.h"
#include "platform/gfx/GfxEnums.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "ui/elements/UIClipStack.h"
#include "ui/elements/UIQuadBatch.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIViewState.h"


// ---- Main thread ----

void UIScreen::Render(uint32_t renderWidth, uint32_t renderHeight, int64_t smoothGameTime, int64_t smoothGameplayTime,
                      const Vector& pointer) {
    VornexRenderer& r = gVornexRenderer;
    if (gRendererScene) gRendererScene->PostPreviewOn();
    const Matrix sceneView = r.CurrentView(), sceneProjection = r.CurrentProjection();
    r.SetViewport(0, 0, renderWidth, renderHeight, 0.0f, 1.0f);

    Matrix view, projection, ortho;
    float w = 0, h = 0, sx = 1, sy = 1;
    ComputeCamera(renderWidth, renderHeight, &view, &projection, &ortho, &w, &h, &sx, &sy);
    SetupCamera(renderWidth, renderHeight, view, projection, ortho, sx, sy);
    r.SetCamera(view, projection, Matrix::IDENTITY);

    const Vector adjusted((pointer.x - 0.5f) / sx + 0.5f, (pointer.y - 0.5f) / sy + 0.5f, pointer.z, pointer.w);
    PostUIViewTransform(this, smoothGameTime, smoothGameplayTime, w, h, sx, sy, adjusted);
    UpdateTrackedEntities(sceneView, sceneProjection);
    const uint8_t blocks = blocksSceneRendering ? 1 : 0;
    PostUIOpValues(kUIScreenFamily, UIOP_RENDERTREE, this, blocks);
    if (gRendererScene) gRendererScene->PostPreviewOff();
}

void UIScreen::ComputeCamera(uint32_t renderWidth, uint32_t renderHeight, Matrix* view, Matrix* projection,
                             Matrix* ortho, float* width, float* height, float* sx, float* sy) const {
    // The UI plane (0..w, 0..h) at depth `near`, centred, letterboxed into the target.
    float w = useRenderTargetSize ? float(renderWidth) : GetUIWidth();
    float h = useRenderTargetSize ? float(renderHeight) : GetUIHeight();
    w *= scaleX, h *= scaleY;
    const float nearMult = gProjectConfig ? gProjectConfig->uiScreenZNearMult : 1.0f;
    const float farMult = gProjectConfig ? gProjectConfig->uiScreenZFarMult : 3.0f;
    const float zn = w * nearMult, zf = w * farMult;
    UIScreenLetterbox(keepAspect, renderWidth, renderHeight, sx, sy);
    Matrix perspective, orthographic, fit;
    perspective.LoadPerspectiveOffCenterLH(-w / 2, w / 2, h / 2, -h / 2, zn, zf);
    orthographic.LoadOrthoOffCenterLH(-w / 2, w / 2, h / 2, -h / 2, zn, zf);
    fit.LoadScale(*sx, *sy, 1.0f);
    projection->Mul(fit, perspective);  // the projection, then the letterbox
    ortho->Mul(fit, orthographic);
    view->LoadTranslation(-w / 2, -h / 2, zn);
    *width = w, *height = h;
}

// ---- Render thread ----

void UIScreen::RenderTree() {
    VornexRenderer& r = gVornexRenderer;
    r.SetDepthState(3, 1, 0, 0);
    r.SetDepthState(kUIDepthAlways, 0, 0, 0);
    if (Render().flags & UIFLAG_CLEARZATSTART) r.ClearTarget(gfx::CLEAR_ZBUFFER, Vector(), 1.0f, 0);

    gUIViewState.drawnScreen = this;
    collecting = publishTicket.load(std::memory_order_relaxed) == takenTicket.load(std::memory_order_acquire);
    if (collecting) renderCount = 0;
    blockFocusDepth = 0;
    DrawTree(Matrix::IDENTITY, Vector(1, 1, 1, 1), false, nullptr, 0);
    gUIViewState.drawnScreen = nullptr;
    if (collecting) {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        publishTicket.fetch_add(1, std::memory_order_release);
        collecting = false;
    }
    FlushUIQuadBatches();
}

void UIScreen::AddCandidate(const UIElement* element, const Matrix& drawMatrix) {
    if (blockFocusDepth >= 1) return;
    const UIElementRenderHalf& rs = element->Render();
    Matrix m;
    m.Mul(gVornexRenderer.ViewProjectionMatrix(), drawMatrix);  // the element, then the camera
    const Vector lo = -rs.selectionFrame, hi = rs.size + rs.selectionFrame;
    const float corners[4][2] = {{lo.x, lo.y}, {hi.x, lo.y}, {hi.x, hi.y}, {lo.x, hi.y}};
    UIHitCandidate c;
    for (uint32_t i = 0; i < 4; ++i) {
        Vector p;
        p.Transform(m, Vector(corners[i][0], corners[i][1], 0.0f, 1.0f));
        // Behind the camera, or a degenerate projection: not hit-testable.
        if (!(p.w > 0.0f) || !std::isfinite(p.w)) return;
        c.corners[i] = p * (1.0f / p.w);
    }
    UIClipRect clip;
    if (GetUIClipStack().Top(&clip)) {
        for (Vector& p : c.corners) {
            p.x = std::clamp(p.x, clip.left, clip.right);
            p.y = std::clamp(p.y, clip.bottom, clip.top);
        }
    }
    if (!collecting) return;
    if (renderCount >= kMaxCandidates) {
        gLog.Error(LogCategory::Engine, "Too many UI selection candidates. Certain clicks might be ignored!");
        return;
    }
    c.id = element->GetId();
    c.flags = (rs.flags & UIFLAG_PERSISTENTTAP) ? 1 : 0;
    renderCandidates[renderCount++] = c;
}

void UIScreenRenderTree(UIElement* screen, uint8_t) { static_cast<UIScreen*>(screen)->RenderTree(); }

void UIDrawInGameElementTree(UIElement* root, const Matrix& uiTransform) {
    if (!root) return;
    root->DrawTree(uiTransform, Vector(1, 1, 1, 1), false, nullptr, 0);
    FlushUIQuadBatches();
}
