#pragma once
// SceneParametersEntity: an entity whose template holds a scene-parameter set; making
// it active starts its template's parameter transition and records it as the scene
// root's active parameter entity.
//
// Threads: main thread only.
#include <cstdint>

#include "engine/entity/Entity.h"

class SceneParametersEntity : public Entity {
public:
    // Activate flags.
    static constexpr uint32_t kKeepActiveGuid = 1;   // the root's active GUID stays
    static constexpr uint32_t kFromScene = 2;        // activated by the scene's settings
    static constexpr uint32_t kResetOverride = 64;   // the override set is dropped first

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    void Activate(uint32_t flags, float blendTime);
    // The template's parameters start again at once when this is the active entity.
    void ChangeTemplate(EntityTemplate* t) override;

    static void DeactivateOverrideParams();
    // The root's active entity (when it names one) with the flags; else, with flag 64,
    // the override set is dropped.
    static void ActivateDefaultSceneParams(uint32_t flags, float blendTime);
};
