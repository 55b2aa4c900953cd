#pragma once
// UITemplateView: an entity template shown inside the UI: a mesh template drawn with one
// of its shader presets, or an effect (SFX) template played through an effect context.
//
// Main thread: SetTemplate holds the template (an instance reference) and posts its
// rendering data and box (op 63); SetShaderPreset (64), Restart (65, effect templates),
// SetLocalMatrix (66). Render thread: the ops and the draw.
#include "core/math/BoundingBox4.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

class EntityTemplate;
class MeshTemplateRenderingData;
class SFXContext;

enum : uint32_t {
    UIOP_TEMPLATE_SET = 63,
    UIOP_TEMPLATE_PRESET = 64,
    UIOP_TEMPLATE_EFFECT = 65,
    UIOP_TEMPLATE_LOCALMATRIX = 66,
};

// Main thread: a template view's effect context: no entity, white, the template's effect
// definition set up at the identity matrix and restarted at once, as the template's
// preview is. Null when the template is not an effect template. Released by the caller.
SFXContext* CreateTemplateViewEffect(EntityTemplate* effectTemplate, uint32_t flags);

// The template type ids a view tells apart.
constexpr uint32_t kMeshTemplateTypeId = 1;
constexpr uint32_t kSFXTemplateTypeId = 7;

class UITemplateView : public UIElement {
public:
    UITemplateView();
    explicit UITemplateView(const char* templateName);

    bool IsUITemplateView() const override { return true; }

    // ======== Main thread ========
    void SetTemplate(const char* name);
    void SetTemplate(const char* name, const char* shaderPreset);
    // Mesh templates only: the preset's index (absent or below 1: 0).
    void SetShaderPreset(const char* presetName);
    void SetShaderPreset(uint32_t index);
    // Effect templates: a fresh context (flags: the element's flags | 1), posted with a
    // pending restart.
    void Restart();
    void BreakLoop(const char* loopName);
    void SetLocalMatrix(const Matrix& local);
    // Adds a UIActionLocalRotateWithOffset (the flags unchanged).
    void LocalRotateWithOffset(float time, const Vector& rotation, const Vector& offset, uint32_t actionFlags,
                               uint32_t channel);

    void OnBeforeDelete() override;
    void OnTemporaryLoadingScreenMark(uint32_t mark) override;
    EntityTemplate* Template() const { return heldTemplate; }
    SFXContext* EffectContext() const { return effect; }

    // ======== Render thread ========
    static void HandleTemplateOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    Matrix& LocalTemplateMatrix() { return local; }
    MeshTemplateRenderingData* RenderData() const { return renderData; }
    uint32_t Preset() const { return preset; }
    SFXContext* RenderEffect() const { return renderEffect; }
    bool RestartPending() const { return restartPending; }

private:
    void ReleaseTemplate();

    // ---- Main thread ----
    EntityTemplate* heldTemplate = nullptr;
    SFXContext* effect = nullptr;

    // ---- Render thread ----
    MeshTemplateRenderingData* renderData = nullptr;
    BoundingBox4 box;
    SFXContext* renderEffect = nullptr;
    uint32_t preset = 0;
    bool restartPending = false;
    Matrix local = Matrix::IDENTITY;
};

inline constexpr UIOpFamily kUITemplateViewFamily = MakeUIOpFamily<&UITemplateView::HandleTemplateOp>();

// Turns a template view's local matrix from its rotation and translation at the start to
// the target rotation (spherical) and translation (linear).
class UIActionLocalRotateWithOffset : public UIAction {
public:
    UIActionLocalRotateWithOffset(float duration, const Vector& rotation, const Vector& offset, uint32_t flags,
                                  uint32_t channel)
        : UIAction(duration, flags, channel), targetRotation(rotation), targetTranslation(offset) {}
    bool CanAttach(UIElement* target) override;
    void OnStart() override;
    void Apply(float e) override;

    Vector startRotation, targetRotation;  // quaternions (x, y, z, w)
    Vector startTranslation, targetTranslation;
};
