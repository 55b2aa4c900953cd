// The UI's seams for the libraries below it that draw (UIDrawServices for the renderer,
// SceneUIServices for in-game UI entities) and the render-thread drawing objects (the quad
// batches and the clip stack), installed and removed by the UI's start-up table. The element and font draws are
// installed with the UI's hooks (InstallUIElementDraws); the loading screen's and the
// in-game trees' draws join them with the screen services.
#include "core/Time.h"
#include "render/UIDrawServices.h"
#include "render/resources/ResourceFont.h"
#include "scene/SceneUIServices.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIClipStack.h"
#include "ui/elements/UIQuadBatch.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIViewState.h"
#include "ui/text/FontDraw.h"

void InstallUIScreenServices();
void ClearUIScreenServices();
void InstallUIElementDraws();
void ClearUIElementDraws();

namespace {
// The render library's fonts are resources.
const ResourceFont* Font(Resource* f) { return static_cast<const ResourceFont*>(f); }

// What the renderer draws of the UI. The loading screen's fade and draw and the virtual
// size need the screen services (screens); without them they answer as the defaults do.
class UILibraryDrawServices final : public UIDrawServices {
public:
    void RemoveActions(UIElement* e, int32_t channel) override { e->RemoveActions(channel); }
    void AddColorAction(UIElement* e, float seconds, const Vector& colour, uint32_t flags,
                        uint32_t channel) override {
        e->AddAction(new UIActionColor(seconds, colour, flags, channel));
    }
    void SetColor(UIElement* e, const Vector& colour) override { e->RenderMutable().color = colour; }
    Vector GetColor(const UIElement* e) const override { return e->Render().color; }
    bool HasFadeIn(const UIElement* e) const override {
        return screens && static_cast<const UIScreen*>(e)->BlendingWhenUsedAsLoadingScreen();
    }
    void Draw(UIElement* e) override {
        if (!screens) return;
        // The loading-screen present: the renderer set the UI camera; refresh the
        // hardware clock as op 25 does and draw the tree.
        Time now;
        now.LoadHardwareTime();
        gUIViewState.hardwareTime = now.ticks;
        e->DrawTree(Matrix::IDENTITY, Vector(1, 1, 1, 1), false, nullptr, 0);
        FlushUIQuadBatches();
    }
    void GetVirtualSize(float* w, float* h) const override {
        if (screens) *w = GetUIWidth(), *h = GetUIHeight();
    }
    void ProcessPendingDeletion() override { UIElement::ProcessPendingDeletion(); }
    void FinishPendingDeletion() override { UIElement::FinishPendingDeletion(); }
    uint32_t LiveElementCount() const override { return UIElement::LiveCount(); }
    // Text through a font (render task 45 and the profiler overlay), the shared glyph buffers.
    void DrawText(Resource* f, const char* text, uint32_t bytes, const Matrix& matrix, const Vector& colour,
                  uint32_t blendMode, uint8_t mirrored, uint32_t depthState) override {
        if (!f) return;
        const int32_t n = bytes > kMaxSingleByteText ? int32_t(kMaxSingleByteText + 1) : int32_t(bytes);
        ::DrawText(*Font(f), text, n, matrix, colour, colour, colour, 0, blendMode, mirrored != 0, depthState);
    }
    float MeasureText(Resource* f, const char* text) const override {
        return f ? ::MeasureText(*Font(f), text).x : 0.0f;
    }
    void CreateFontSharedIndexBuffer() override { CreateFontSharedBuffers(); }
    void ReleaseFontSharedIndexBuffer() override { ReleaseFontSharedBuffers(); }

    bool screens = false;
};

// The in-game UI entity holds its element through the element's safe-pointer root.
class UILibrarySceneServices final : public SceneUIServices {
public:
    void ReleaseElement(SafePointerRoot* e) override {
        if (e) static_cast<UIElement*>(e)->Release();
    }
    void DrawElementTree(SafePointerRoot* element, const Matrix& uiTransform, bool) override {
        if (screens) UIDrawInGameElementTree(static_cast<UIElement*>(element), uiTransform);
    }

    bool screens = false;
};

UILibraryDrawServices gUIDraw;
UILibrarySceneServices gUIScene;
}  // namespace

void InstallUIElementDraws() {
    SetUIDrawServices(&gUIDraw);
    SetSceneUIServices(&gUIScene);
}

void ClearUIElementDraws() {
    SetUIDrawServices(nullptr);
    SetSceneUIServices(nullptr);
}

void InstallUIScreenServices() {
    CreateUIQuadBatches();
    CreateUIClipStack();
    SetUIRenderTreeFunction(&UIScreenRenderTree);

    gUIDraw.screens = gUIScene.screens = true;
}

void ClearUIScreenServices() {
    gUIDraw.screens = gUIScene.screens = false;
    SetUIRenderTreeFunction(nullptr);
    DestroyUIClipStack();
    DestroyUIQuadBatches();
}
