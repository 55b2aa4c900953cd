#include "engine/entity/EntityBlender.h"

#include "engine/services/GameServices.h"
#include "engine/entity/Entity.h"
#include "render/scene/EntityRenderingContext.h"

namespace {

EntityBlender* gFirstBlender = nullptr;
EntityBlender* gLastBlender = nullptr;

int64_t SmoothGameTime() {
    return GetGameServices().SmoothGameTime();
}

}  // namespace

EntityBlender::EntityBlender(Entity* e) : entity(e) {}

EntityBlender::EntityBlender(const EntityBlender& other)
    : colorMultiplier(other.colorMultiplier),
      entity(other.entity.Get()),
      fade(other.fade),
      alphaOnly(other.alphaOnly),
      autoShowHide(other.autoShowHide) {
    if (other.linked) Link();
}

EntityBlender::~EntityBlender() { Unlink(); }

void EntityBlender::Link() {
    if (linked) return;
    previous = gLastBlender;
    next = nullptr;
    if (gLastBlender) gLastBlender->next = this;
    else gFirstBlender = this;
    gLastBlender = this;
    linked = true;
}

void EntityBlender::Unlink() {
    if (!linked) return;
    if (previous) previous->next = next;
    else gFirstBlender = next;
    if (next) next->previous = previous;
    else gLastBlender = previous;
    previous = next = nullptr;
    linked = false;
}

void EntityBlender::SetColorMultiplier(float r, float g, float b, float a) {
    colorMultiplier = Vector(r, g, b, a);
    Link();
}

void EntityBlender::Blend(float target, float seconds, uint32_t curve) {
    Entity* e = entity.Get();
    if (autoShowHide && e && target > 0.0f) e->Show();
    if (seconds > 0.0f) {
        fade.Start(SmoothGameTime(), target, seconds, curve);
    } else {
        fade.active = false;
        fade.current = target;
    }
    Link();
}

bool EntityBlender::Update() {
    Entity* e = entity.Get();
    if (!e) return false;
    fade.Update(SmoothGameTime());
    if (EntityRenderingContext* context = e->GetRenderingContext()) {
        Vector colour = e->GetColor().ToLinearVector() * colorMultiplier;
        if (alphaOnly) colour.w *= fade.current;
        else colour *= fade.current;
        context->PostSetColor(colour);
    }
    if (fade.active) return true;
    if (autoShowHide && fade.current <= 0.0f) e->Hide();
    return false;
}

void EntityBlender::UpdateAllBlenders() {
    for (EntityBlender* b = gFirstBlender; b;) {
        EntityBlender* following = b->next;
        if (!b->Update()) b->Unlink();
        b = following;
    }
}
