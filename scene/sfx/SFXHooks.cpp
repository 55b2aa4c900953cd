// The effect layer's seams (see scene/sfx/SFXHooks.h).
#include "scene/sfx/SFXHooks.h"

#include "scene/SceneEffectServices.h"

namespace {

// Effect entities refresh their mesh elements from a changed mesh template.
class EffectMeshRefresh final : public SceneEffectServices {
public:
    bool RefreshesMeshTemplates() const override { return true; }
    void RefreshMeshTemplate(Entity* e, EntityTemplate* meshTemplate) override {
        auto* sfx = dynamic_cast<SFXEntity*>(e);
        if (SFXContext* c = sfx ? sfx->Context() : nullptr) c->RefreshMeshTemplate(meshTemplate);
    }
};

EffectMeshRefresh gEffectMeshRefresh;

}  // namespace

void InstallSFXServices() { SetSceneEffectServices(&gEffectMeshRefresh); }

void ClearSFXServices() { SetSceneEffectServices(nullptr); }
