// The UI's entries in the tables of the libraries below it.
#include "engine/services/EngineServices.h"
#include "render/RenderHooks.h"
#include "scene/SceneServices.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

namespace {

UIElement* Element(void* e) { return static_cast<UIElement*>(e); }

}  // namespace

void InstallUIHooks() {
    RenderHooks& r = gRenderHooks;
    r.UIElementRemoveActions = [](void* e, int32_t channel) { Element(e)->RemoveActions(channel); };
    r.UIElementAddColorAction = [](void* e, float seconds, const Vector& colour, uint32_t flags, uint32_t channel) {
        Element(e)->AddAction(new UIActionColor(seconds, colour, flags, channel));
    };
    r.UIElementSetColor = [](void* e, const Vector& colour) { Element(e)->RenderMutable().color = colour; };
    r.UIElementGetColor = [](const void* e) { return static_cast<const UIElement*>(e)->Render().color; };
    r.UIElementProcessPendingDeletion = &UIElement::ProcessPendingDeletion;
    r.UIElementFinishPendingDeletion = &UIElement::FinishPendingDeletion;
    r.UIElementLiveCount = &UIElement::LiveCount;
    gEngineServices.uiDisableMemoryGuard = &DisableUIMemoryGuard;
    // The in-game UI entity holds its element through the element's safe-pointer root.
    gSceneServices.uiElementRelease = [](SafePointerRoot* e) {
        if (e) static_cast<UIElement*>(e)->Release();
    };
}

void ClearUIHooks() {
    RenderHooks& r = gRenderHooks;
    r.UIElementRemoveActions = nullptr;
    r.UIElementAddColorAction = nullptr;
    r.UIElementSetColor = nullptr;
    r.UIElementGetColor = nullptr;
    r.UIElementProcessPendingDeletion = nullptr;
    r.UIElementFinishPendingDeletion = nullptr;
    r.UIElementLiveCount = nullptr;
    gEngineServices.uiDisableMemoryGuard = nullptr;
    gSceneServices.uiElementRelease = nullptr;
}
