#include "ui/elements/UITemplateView.h"

#include "core/math/Quaternion.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "platform/gfx/GfxEnums.h"
#include "render/VornexRenderer.h"
#include "render/shaders/PostProcessChain.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXEntity.h"

namespace {

// What op 63 carries after the rendering data: the template's box.
struct TemplateBlock {
    Vector min, max;
};
static_assert(sizeof(TemplateBlock) == 32, "op 63 carries a 32-byte block");

constexpr uint32_t kOutlineStencilBit = 1;

}  // namespace

SFXContext* CreateTemplateViewEffect(EntityTemplate* t, uint32_t flags) {
    auto* effect = dynamic_cast<SFXTemplate*>(t);
    if (!effect) return nullptr;
    EntityRenderingContextSetup setup;
    setup.color = Vector(1.0f, 1.0f, 1.0f, 1.0f);
    auto* c = new SFXContext(setup, nullptr, t, flags);
    c->Setup(effect->definition, Matrix::IDENTITY, false, 1);
    c->Restart(1, 0);
    return c;
}

UITemplateView::UITemplateView() { SetLuaClass("UITemplateView"); }

UITemplateView::UITemplateView(const char* templateName) : UITemplateView() {
    SetTemplate(templateName);
    SetShaderPreset(uint32_t(0));
}

// ---- Main thread ----

void UITemplateView::ReleaseTemplate() {
    if (effect) effect->Release();
    effect = nullptr;
    if (heldTemplate) heldTemplate->ReleaseInstanceRef();
    heldTemplate = nullptr;
}

void UITemplateView::SetTemplate(const char* name) {
    EntityTemplate* previous = heldTemplate;
    heldTemplate = nullptr;
    if (effect) effect->Release();
    effect = nullptr;
    EntityTemplate* t = name && *name ? gEntityTemplateRegistry.FindTemplateByName(name, true) : nullptr;
    if (t) t->AddInstanceRef();
    heldTemplate = t;
    MeshTemplateRenderingData* data = nullptr;
    TemplateBlock block{};
    if (t && t->GetTypeId() == kMeshTemplateTypeId) {
        data = static_cast<MeshTemplate*>(t)->GetRenderingData();
        if (data) block = {data->box.min, data->box.max};
    }
    // The new data goes out before the old template may go.
    PostUIOpValues(kUITemplateViewFamily, UIOP_TEMPLATE_SET, this, data, block);
    if (previous) previous->ReleaseInstanceRef();
}

void UITemplateView::SetTemplate(const char* name, const char* shaderPreset) {
    SetTemplate(name);
    SetShaderPreset(shaderPreset);
}

void UITemplateView::SetShaderPreset(const char* presetName) {
    if (!heldTemplate || heldTemplate->GetTypeId() != kMeshTemplateTypeId) return;
    const int32_t index = static_cast<MeshTemplate*>(heldTemplate)->GetShaderPresetIndex(presetName ? presetName : "");
    SetShaderPreset(uint32_t(index < 1 ? 0 : index));
}

void UITemplateView::SetShaderPreset(uint32_t index) {
    PostUIOpValues(kUITemplateViewFamily, UIOP_TEMPLATE_PRESET, this, index);
}

void UITemplateView::Restart() {
    if (effect) effect->Release();
    effect = nullptr;
    if (!heldTemplate || heldTemplate->GetTypeId() != kSFXTemplateTypeId) return;
    effect = CreateTemplateViewEffect(heldTemplate, GetFlags() | 1);
    if (effect) PostUIOpValues(kUITemplateViewFamily, UIOP_TEMPLATE_EFFECT, this, effect);
}

void UITemplateView::BreakLoop(const char* loopName) {
    if (effect) effect->BreakLoop(loopName);
}

void UITemplateView::SetLocalMatrix(const Matrix& m) {
    PostUIOpValues(kUITemplateViewFamily, UIOP_TEMPLATE_LOCALMATRIX, this, m);
}

void UITemplateView::LocalRotateWithOffset(float time, const Vector& rotation, const Vector& offset,
                                           uint32_t actionFlags, uint32_t channel) {
    PostAddAction(new UIActionLocalRotateWithOffset(time, rotation, offset, actionFlags, channel));
}

void UITemplateView::OnBeforeDelete() {
    UIElement::OnBeforeDelete();
    // The render side drops the data with the element; nothing draws it after op 0.
    ReleaseTemplate();
}

void UITemplateView::OnTemporaryLoadingScreenMark(uint32_t mark) {
    if (heldTemplate) heldTemplate->AddFlags(mark);
}

// ---- Render thread ----

void UITemplateView::HandleTemplateOp(uint32_t op, UIElement* element, UIOpReader& payload) {
    UITemplateView* v = static_cast<UITemplateView*>(element);
    bool ok = v != nullptr;
    if (ok) {
        switch (op) {
        case UIOP_TEMPLATE_SET: {
            TemplateBlock block{};
            ok = payload.ReadValue(v->renderData) && payload.ReadValue(block);
            v->box.min = block.min, v->box.max = block.max;
            break;
        }
        case UIOP_TEMPLATE_PRESET:
            ok = payload.ReadValue(v->preset);
            break;
        case UIOP_TEMPLATE_EFFECT:
            ok = payload.ReadValue(v->renderEffect);
            v->restartPending = ok;
            break;
        case UIOP_TEMPLATE_LOCALMATRIX:
            ok = payload.ReadValue(v->local);
            break;
        default:
            ok = false;
            break;
        }
    }
    if (!ok || payload.Left()) payload.Skip(payload.Left());
}

void UITemplateView::Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord*) {
    VornexRenderer& r = gVornexRenderer;
    const bool templateCamera = (Render().flags & UIRENDERFLAG_TEMPLATECAMERA) != 0;
    const Matrix savedView = r.ViewMatrix();
    if (templateCamera) r.SetUITemplateCamera(savedView);
    Matrix model;
    model.Mul(world, local);  // the local matrix, then the element
    if (renderData) {
        const uint32_t mask = Render().outlineMask;
        const bool outlined = mask && r.BlockInForce().outlines;
        if (outlined) {
            r.PostProcess().Outlines().AddEntity(box, model, mask);
            r.SetStencilOps(gfx::STENCILOP_REPLACE, gfx::STENCILOP_KEEP, gfx::STENCILOP_KEEP);
            r.SetStencilFunc(gfx::CMP_ALWAYS, 0xFF, 0xFF, mask | kOutlineStencilBit);
        }
        MeshTemplateRenderingData::Draw(renderData, model, model, box, colour, 1.0f, mirrored, preset, nullptr, 0,
                                        kMeshPassAll);
        if (outlined) r.DisableStencil();
    }
    if (renderEffect) {
        restartPending = false;  // the context restarted when it was made
        renderEffect->Draw(nullptr, model, RenderTaskArguments{});
    }
    if (templateCamera) r.SetUITemplateCamera(savedView);
}

// ---- The local-rotation action ----

bool UIActionLocalRotateWithOffset::CanAttach(UIElement* target) {
    return target && target->IsUITemplateView() && UIAction::CanAttach(target);
}

void UIActionLocalRotateWithOffset::OnStart() {
    const Matrix& m = static_cast<UITemplateView*>(element)->LocalTemplateMatrix();
    Quaternion q;
    q.LoadMatrix(m);
    startRotation = Vector(q.x, q.y, q.z, q.w);
    startTranslation = m.r[3];
}

void UIActionLocalRotateWithOffset::Apply(float e) {
    Quaternion q;
    q.Slerp(Quaternion(startRotation.x, startRotation.y, startRotation.z, startRotation.w),
            Quaternion(targetRotation.x, targetRotation.y, targetRotation.z, targetRotation.w), e);
    const Vector t = UIActionLerp(startTranslation, targetTranslation, e);
    static_cast<UITemplateView*>(element)->LocalTemplateMatrix().LoadQuaternionAndTranslation(q, t);
}
