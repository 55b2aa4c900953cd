#pragma once
// UITemplateView: an entity template shown inside the UI: a mesh template drawn with one
// of its shader presets, or an effect (SFX) template played through an effect context.
//
// Main thread: SetTemplate holds the template (an instance reference) and posts its
// rendering data and box (op 63); SetShaderPreset (64), Restart (65, effect templates),
// SetLocalMatrix (66). Render thread: the ops and the draw.
//
// Effect templates reach the effects library through UITemplateEffectSeam, which
// InstallUIHooks fills; with its entries empty an effect template view posts and draws
// nothing.
#include "core/math/BoundingBox4.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"

class EntityTemplate;
class MeshTemplateRenderingData;

enum : uint32_t {
    UIOP_TEMPLATE_SET = 63,
    UIOP_TEMPLATE_PRESET = 64,
    UIOP_TEMPLATE_EFFECT = 65,
    UIOP_TEMPLATE_LOCALMATRIX = 66,
};

// The effects library's side of a template view (null entries: no effects).
struct UITemplateEffectSeam {
    // Main thread: a new effect context for the template with the flags, set up with the
    // template's effect definition and an identity matrix (SFXContext::Setup); null when
    // none can be made.
    void* (*create)(EntityTemplate* effectTemplate, uint32_t flags) = nullptr;
    // Main thread: releases a context made by create.
    void (*release)(void* context) = nullptr;
    // Main thread: SFXContext::BreakLoop.
    void (*breakLoop)(void* context, const char* loopName) = nullptr;
    // Render thread: SFXContext::Restart (a pending restart) and the context's draw.
    void (*restart)(void* context) = nullptr;
    void (*draw)(void* context, const Matrix& world) = nullptr;
    // Render thread: SFXContext::BreakLoopNow with no loop name (every loop).
    void (*breakLoopNow)(void* context) = nullptr;
};
extern UITemplateEffectSeam gUITemplateEffects;

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
    void* EffectContext() const { return effect; }

    // ======== Render thread ========
    static void HandleTemplateOp(uint32_t op, UIElement* element, UIOpReader& payload);
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;
    Matrix& LocalTemplateMatrix() { return local; }
    MeshTemplateRenderingData* RenderData() const { return renderData; }
    uint32_t Preset() const { return preset; }
    void* RenderEffect() const { return renderEffect; }
    bool RestartPending() const { return restartPending; }

private:
    void ReleaseTemplate();

    // ---- Main thread ----
    EntityTemplate* heldTemplate = nullptr;
    void* effect = nullptr;  // the seam's effect context

    // ---- Render thread ----
    MeshTemplateRenderingData* renderData = nullptr;
    BoundingBox4 box;
    void* renderEffect = nullptr;
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
