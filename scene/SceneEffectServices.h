#pragma once
// SceneEffectServices: what the mesh templates need of the effect layer above them: the
// refresh of an effect entity's mesh elements when a mesh template they draw changed. The
// effect layer installs its implementation with the scene's start-up row; until then
// (and after SetSceneEffectServices(nullptr)) the base class refreshes nothing.
//
// Threads: main thread.
class Entity;
class EntityTemplate;

class SceneEffectServices {
public:
    virtual ~SceneEffectServices() = default;

    // Whether anything listens (the mesh template then walks the live effect entities).
    virtual bool RefreshesMeshTemplates() const { return false; }
    // The effect entity's mesh elements of the template refresh from it.
    virtual void RefreshMeshTemplate(Entity* effect, EntityTemplate* meshTemplate) {}
};

SceneEffectServices& GetSceneEffectServices();
// Not owned; null restores the default.
void SetSceneEffectServices(SceneEffectServices* services);
