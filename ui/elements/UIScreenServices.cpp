// The screens' and the tree draw's entries in the tables of the libraries below the UI
// (gEngineServices, gRenderHooks, gSceneServices) and the render-thread drawing objects
// (the quad batches and the clip stack), installed and removed by the UI's start-up table.
#include "core/Time.h"
#include "engine/services/EngineServices.h"
#include "render/RenderHooks.h"
#include "scene/SceneServices.h"
#include "ui/elements/UIClipStack.h"
#include "ui/elements/UIQuadBatch.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UIViewState.h"

void InstallUIScreenServices();
void ClearUIScreenServices();

namespace {
UIScreen* S(UIScreen* s) { return s; }
}  // namespace

void InstallUIScreenServices() {
    CreateUIQuadBatches();
    CreateUIClipStack();
    SetUIRenderTreeFunction(&UIScreenRenderTree);

    EngineServices& e = gEngineServices;
    e.uiScreenIsShown = [](const UIScreen* s) { return s && s->IsVisible(); };
    e.uiScreenSetCursorPosition = [](UIScreen* s, const Vector& p) { s->SetCursorPosition(p); };
    e.uiScreenOnMouseButtonDown = [](UIScreen* s, const Vector& p, uint32_t b) { return S(s)->OnMouseButtonDown(p, b); };
    e.uiScreenOnMouseButtonUp = [](UIScreen* s, const Vector& p, uint32_t b) { return S(s)->OnMouseButtonUp(p, b); };
    e.uiScreenOnMouseMove = [](UIScreen* s, const Vector& p, uint32_t b) { return S(s)->OnMouseMove(p, b); };
    e.uiScreenOnChar = [](UIScreen* s, uint32_t c) { S(s)->OnChar(c); };
    e.uiScreenUpdate = [](UIScreen* s) { s->Update(s->CursorPosition()); };
    e.uiScreenRelease = [](UIScreen* s) { S(s)->Release(); };
    e.uiScreenHasFadeFlag = [](const UIScreen* s) { return s->BlendingWhenUsedAsLoadingScreen(); };
    e.uiScreenFadeOut = [](UIScreen* s) {
        s->RemoveAllActions(uint32_t(-1));
        s->ChangeColor(0.2f, 1, 1, 1, 0, 0, 0);
    };
    e.uiScreenSlotChanged = [](UIScreen* s, bool entered) { s->SlotChanged(entered); };
    e.uiScreenPrepareLoading = [](UIScreen* s) { s->MarkAsTemporaryLoadingScreenUI(); };
    e.uiScreenUIPointToScreenPoint = [](const UIScreen* s, const Vector& p, uint32_t w, uint32_t h, Vector* out) {
        *out = s->UIPointToScreenPoint(p, w, h);
        return true;
    };
    e.uiScreenScreenPointToUIPoint = [](const UIScreen* s, const Vector& p, uint32_t w, uint32_t h, Vector* out) {
        *out = s->ScreenPointToUIPoint(p, w, h);
        return true;
    };
    e.uiScreenWorldPositionToUIPoint = [](const UIScreen* s, const Vector& p, uint32_t w, uint32_t h,
                                          const Matrix& view, const Matrix& projection, Vector* out) {
        return s->WorldPositionToUIPoint(p, w, h, view, projection, out);
    };
    e.uiScreenBlocksSceneRendering = [](const UIScreen* s) { return s->BlocksSceneRendering(); };
    e.uiScreenRender = [](UIScreen* s, uint32_t w, uint32_t h, int64_t game, int64_t gameplay, const Vector& cursor) {
        s->Render(w, h, game, gameplay, cursor);
    };

    RenderHooks& r = gRenderHooks;
    r.uiElementHasFadeIn = [](const void* s) {
        return static_cast<const UIScreen*>(static_cast<const UIElement*>(s))->BlendingWhenUsedAsLoadingScreen();
    };
    r.uiElementDraw = [](void* element) {
        // The loading-screen present: the renderer set the UI camera; refresh the
        // hardware clock as op 25 does and draw the tree.
        Time now;
        now.LoadHardwareTime();
        gUIViewState.hardwareTime = now.ticks;
        UIElement* e = static_cast<UIElement*>(element);
        e->DrawTree(Matrix::IDENTITY, Vector(1, 1, 1, 1), false, nullptr, 0);
        FlushUIQuadBatches();
    };
    r.uiGetVirtualSize = [](float* w, float* h) { *w = GetUIWidth(), *h = GetUIHeight(); };
    gSceneServices.uiDrawElementTree = [](SafePointerRoot* element, const Matrix& uiTransform, bool) {
        UIDrawInGameElementTree(static_cast<UIElement*>(element), uiTransform);
    };
}

void ClearUIScreenServices() {
    EngineServices& e = gEngineServices;
    e.uiScreenIsShown = nullptr;
    e.uiScreenSetCursorPosition = nullptr;
    e.uiScreenOnMouseButtonDown = nullptr;
    e.uiScreenOnMouseButtonUp = nullptr;
    e.uiScreenOnMouseMove = nullptr;
    e.uiScreenOnChar = nullptr;
    e.uiScreenUpdate = nullptr;
    e.uiScreenRelease = nullptr;
    e.uiScreenHasFadeFlag = nullptr;
    e.uiScreenFadeOut = nullptr;
    e.uiScreenSlotChanged = nullptr;
    e.uiScreenPrepareLoading = nullptr;
    e.uiScreenUIPointToScreenPoint = nullptr;
    e.uiScreenScreenPointToUIPoint = nullptr;
    e.uiScreenWorldPositionToUIPoint = nullptr;
    e.uiScreenBlocksSceneRendering = nullptr;
    e.uiScreenRender = nullptr;
    gRenderHooks.uiElementHasFadeIn = nullptr;
    gRenderHooks.uiElementDraw = nullptr;
    gRenderHooks.uiGetVirtualSize = nullptr;
    gSceneServices.uiDrawElementTree = nullptr;
    SetUIRenderTreeFunction(nullptr);
    DestroyUIClipStack();
    DestroyUIQuadBatches();
}
