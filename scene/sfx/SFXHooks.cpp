// The effect layer's hook entries (see scene/sfx/SFXHooks.h).
#include "scene/sfx/SFXHooks.h"

#include "render/RenderHooks.h"
#include "scene/SceneServices.h"

void InstallSFXHooks() {
    gRenderHooks.sfxContextUpdateAll = &SFXContext::UpdateAll;
    gSceneServices.sfxRefreshMeshTemplate = [](Entity* e, void* meshTemplate) {
        auto* sfx = dynamic_cast<SFXEntity*>(e);
        if (SFXContext* c = sfx ? sfx->Context() : nullptr) c->RefreshMeshTemplate(static_cast<EntityTemplate*>(meshTemplate));
    };
}

void ClearSFXHooks() {
    gRenderHooks.sfxContextUpdateAll = nullptr;
    gSceneServices.sfxRefreshMeshTemplate = nullptr;
}
