// Effect templates and effect entities (see scene/sfx/SFXEntity.h).
#include "scene/sfx/SFXEntity.h"

#include <atomic>

#include "core/BaseThread.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "render/VornexRenderer.h"
#include "render/scene/SceneCommand.h"
#include "scene/particles/ParticleSpawner.h"

namespace {

RTTIClass* gTemplateClass = nullptr;
RTTIClass* gEntityClass = nullptr;
std::atomic<uint32_t> gDelaySeed{0};

constexpr float kMinimumStartDelay = 0.001f;
constexpr float kBoundingBoxDelayFactor = 0.2f;
constexpr uint32_t kGlobalScheduler = 8;
constexpr uint32_t kRenderFlagsOfPasses = SFX_RENDER_FORWARD | SFX_RENDER_DEFERRED | SFX_RENDER_THIRD | SFX_RENDER_PASS32;
const char kActivityTimerNames[] = "Gameplay\0System\0Game\0";
const BoundingBox4 kUnitBox(Vector(-1, -1, -1, 1), Vector(1, 1, 1, 1));

}  // namespace

void SFXSeedEntityDelays(uint32_t seed) { gDelaySeed.store(seed, std::memory_order_relaxed); }

float SFXNextEntityDelay() {
    const uint32_t before = gDelaySeed.load(std::memory_order_relaxed);
    gDelaySeed.store(before * 214013u + 2531011u, std::memory_order_relaxed);
    return static_cast<float>(before >> 16) * (1.0f / 65536.0f) + 1.0f;
}

uint32_t SFXRenderFlagsForPassMask(uint32_t m) {
    uint32_t f = 0;
    if (m & 2) f |= SFX_RENDER_DEFERRED;
    if (m & 8) f |= SFX_RENDER_THIRD;
    if (m & 17) f |= SFX_RENDER_FORWARD;
    if (m & 32) f |= SFX_RENDER_PASS32;
    return f;
}

// ---------------------------------------------------------------------------------------
// SFXTemplate

SFXTemplate::SFXTemplate() {
    typeId = ENTITY_SFX;
    wireframeColor.SetFromVector(Vector(1.0f, 0.0f, 1.0f, 1.0f));
}

SFXTemplate::~SFXTemplate() { definition->ForEachReleaseResources(); }

const RTTIClass* SFXTemplate::RegisterClass() {
    if (gTemplateClass) return gTemplateClass;
    EntityTemplate::RegisterClass();
    SFXDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTemplateClass, "SFXTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SFXTemplate(); });
    using P = SFXTemplate;
    AddDirect<uint8_t>(c, "Activity timer", RTTI_OFFSETOF(P, activityTimer), kPropertyFlagEnum, kActivityTimerNames);
    AddDirect<bool>(c, "Offscreen processing enabled", RTTI_OFFSETOF(P, offscreenProcessingEnabled));
    AddDirect<float>(c, "Activation at start delay", RTTI_OFFSETOF(P, activationAtStartDelay));
    AddDirect<bool>(c, "Constant BoundingBox Update Enabled", RTTI_OFFSETOF(P, constantBoundingBoxUpdate));
    AddDirect<bool>(c, "Use FSE SFX Color Multiplier", RTTI_OFFSETOF(P, useFSEColorMultiplier));
    c->AddProperty(new RTTIEmbeddedObjectProperty<SFXDefinition>("SFX definition", RTTI_OFFSETOF(P, ownedDefinition)));
    return c;
}

const RTTIClass* SFXTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* SFXTemplate::CreateEntity() { return new SFXEntity(); }

void SFXTemplate::QueueRequest(uint32_t argument) {
    EntityTemplate::QueueRequest(argument);
    definition->RequestAllResources();
}

SFXContext* SFXTemplate::CreatePreview() {
    EntityRenderingContextSetup s;
    s.color = Vector(1, 1, 1, 1);
    auto* c = new SFXContext(s, nullptr, this, SFX_CONTEXT_PREVIEW);
    c->Setup(definition, Matrix::IDENTITY, false, 1);
    c->Restart(1, 0);
    return c;
}

void SFXTemplate::DestroyPreview(SFXContext* preview) {
    if (preview) preview->Release();
}

void SFXTemplate::DrawPreview(SFXContext* preview, const Matrix& m) {
    if (!preview) return;
    Matrix inverse;
    inverse.Inverse(m);
    preview->PostTransform(m, inverse, 1, kUnitBox);
    gVornexRenderer.SubmitRenderTask(preview, 0);
    DrawHelper(m, wireframeColor.ToLinearVector(), 0, nullptr);
}

// ---------------------------------------------------------------------------------------
// SFXEntity

SFXEntity::SFXEntity() = default;

SFXEntity::~SFXEntity() {
    if (ParticleSpawner* s = spawner) {
        spawner = nullptr;
        // Particle instances reach it until the render thread runs this.
        PostObjectCall(
            [](uint32_t, CommandRingBuffer& r) {
                ParticleSpawner* p = nullptr;
                if (r.ReadValue(p)) delete p;
            },
            0, s);
    }
}

const RTTIClass* SFXEntity::RegisterClass() {
    if (gEntityClass) return gEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gEntityClass, "SFXEntity", "Entity",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new SFXEntity(); });
    c->AddProperty(new RTTISGProperty<BoundingBox4, SFXEntity>("Local bounding box", &SFXEntity::StoredLocalBox,
                                                               &SFXEntity::SetStoredLocalBox, 2));
    AddDirect<bool>(c, "Display real bounding box", RTTI_OFFSETOF(SFXEntity, displayRealBoundingBox));
    AddDirect<bool>(c, "StartAtGameInit", RTTI_OFFSETOF(SFXEntity, startAtGameInit));
    AddDirect<bool>(c, "DeleteAtStop", RTTI_OFFSETOF(SFXEntity, deleteAtStop));
    return c;
}

const RTTIClass* SFXEntity::GetRTTIClass() const { return RegisterClass(); }

SFXTemplate* SFXEntity::GetSFXTemplate() const {
    EntityTemplate* t = GetTemplate();
    return t && TemplateTypeTable::IsA(t->GetTypeId(), ENTITY_SFX) ? static_cast<SFXTemplate*>(t) : nullptr;
}

void SFXEntity::OnLoaded(uint32_t options) {
    Entity::OnLoaded(options);
    PropagateGlobalLocation();
}

const BoundingBox4& SFXEntity::GetLocalBoundingBox() const { return kUnitBox; }

void SFXEntity::ApplyRenderFlags() {
    const SFXTemplate* t = GetSFXTemplate();
    SetEnforcedRenderingBits(kRenderFlagsOfPasses, t ? SFXRenderFlagsForPassMask(t->definition->passMask) : 0u);
}

EntityRenderingContext* SFXEntity::CreateRenderingContext() {
    SFXTemplate* t = GetSFXTemplate();
    if (!t) return nullptr;
    uint32_t flags = t->activityTimer == SFX_TIMER_GAMEPLAY ? SFX_CONTEXT_CLOCK_GAMEPLAY
                     : t->activityTimer == SFX_TIMER_SYSTEM ? SFX_CONTEXT_CLOCK_SYSTEM
                                                            : 0u;
    if (!t->offscreenProcessingEnabled) flags |= SFX_CONTEXT_DROP_UNDRAWN;
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, EntityRenderingContext::kRenderingClassBlended, 0);
    auto* c = new SFXContext(s, this, t, flags);
    c->Setup(t->definition, GetGlobalLocationMatrix(), false, 0);
    ApplyRenderFlags();
    if (spawner) c->SetSpawner(spawner);
    return c;
}

void SFXEntity::InitTriggerActivation() {
    ApplyRenderFlags();
    const SFXTemplate* t = GetSFXTemplate();
    if (Context() && t) {
        const float d = t->activationAtStartDelay;
        if (startAtGameInit && d < kMinimumStartDelay) {
            RecreateRenderingContext(true);
            if (SFXContext* c = Context()) c->Restart(1, 0);
            if (deleteAtStop) ScheduleCallback(SFX_CALLBACK_CHECK_FINISHED, SFXNextEntityDelay(), 0);
            DeleteScheduledCallback(SFX_CALLBACK_BOUNDING_BOX);
            ScheduleCallback(SFX_CALLBACK_BOUNDING_BOX, 0.0f, kGlobalScheduler);
            SetEnforcedRenderingBits(SFX_RENDER_BOX_VALID, 0);
        } else {
            Context()->Stop();
            if (startAtGameInit) ScheduleCallback(SFX_CALLBACK_START, d, 0);
        }
    }
    Entity::InitTriggerActivation();
}

void SFXEntity::Restart(uint8_t suppressSound, bool withBoundingBoxTimer) {
    RecreateRenderingContext(true);
    if (SFXContext* c = Context()) c->Restart(1, suppressSound);
    DeleteScheduledCallback(SFX_CALLBACK_CHECK_FINISHED);
    DeleteScheduledCallback(SFX_CALLBACK_DELETE);
    if (deleteAtStop) ScheduleCallback(SFX_CALLBACK_CHECK_FINISHED, SFXNextEntityDelay(), 0);
    DeleteScheduledCallback(SFX_CALLBACK_BOUNDING_BOX);
    SetEnforcedRenderingBits(SFX_RENDER_BOX_VALID, 0);
    if (withBoundingBoxTimer) ScheduleCallback(SFX_CALLBACK_BOUNDING_BOX, 0.0f, kGlobalScheduler);
}

void SFXEntity::RequestDelete(uint32_t argument) {
    const SFXTemplate* t = GetSFXTemplate();
    switch (argument) {
        case SFX_CALLBACK_START:
            Restart(0, true);
            return;
        case SFX_CALLBACK_CHECK_FINISHED: {
            const SFXContext* c = Context();
            if (c && c->Finished()) {
                ScheduleCallback(SFX_CALLBACK_DELETE, t ? t->definition->deleteTimeout : 1.0f, 0);
            } else if (deleteAtStop) {
                ScheduleCallback(SFX_CALLBACK_CHECK_FINISHED, SFXNextEntityDelay(), 0);
            }
            return;
        }
        case SFX_CALLBACK_DELETE:
            if (deleteAtStop) DeleteMe();
            return;
        case SFX_CALLBACK_BOUNDING_BOX:
            if (!UpdateBoundingBoxFromRenderingContext()) {
                ScheduleCallback(SFX_CALLBACK_BOUNDING_BOX, 0.0f, kGlobalScheduler);
                return;
            }
            SetEnforcedRenderingBits(0, SFX_RENDER_BOX_VALID);
            if (t && t->constantBoundingBoxUpdate)
                ScheduleCallback(SFX_CALLBACK_BOUNDING_BOX, SFXNextEntityDelay() * kBoundingBoxDelayFactor,
                                 kGlobalScheduler);
            return;
        default:
            Entity::RequestDelete(argument);
    }
}

void SFXEntity::OnLayerApplied() {
    SetEnforcedRenderingBits(0, SFX_RENDER_FORWARD | SFX_RENDER_DEFERRED | SFX_RENDER_THIRD | SFX_RENDER_BOX_VALID);
    if (SFXContext* c = Context()) c->Restart(1, 0);
}

void SFXEntity::DrawHelpers(uint32_t flags) {
    const SFXTemplate* t = GetSFXTemplate();
    const Vector colour = (flags & 2) || !t ? Vector(1, 1, 1, 1) : t->wireframeColor.ToLinearVector();
    if (flags & 2) gVornexRenderer.DebugDrawSFX(GetGlobalLocationMatrix(), 1);
    gVornexRenderer.DebugDrawBoundingBox(kUnitBox, GetGlobalLocationMatrix(), colour);
    if (displayRealBoundingBox)
        gVornexRenderer.DebugDrawBoundingBox(Entity::GetLocalBoundingBox(), GetGlobalLocationMatrix(), colour);
    Entity::DrawHelpers(flags);
}

void SFXEntity::SetSpeedMultiplier(float value) {
    if (SFXContext* c = Context()) c->SetSpeedMultiplier(value);
}

void SFXEntity::SetSpawnRateMultiplier(float value) {
    if (SFXContext* c = Context()) c->SetSpawnRateMultiplier(value);
}

void SFXEntity::SetElementLocalColor(const char* name, const Vector& colour) {
    if (SFXContext* c = Context()) c->SetElementLocalColor(name, colour);
}

void SFXEntity::SetElementLocalColor(const char* name, float r, float g, float b, float a) {
    SetElementLocalColor(name, Vector(r, g, b, a));
}

void SFXEntity::SetElementSpeedMultiplier(const char* name, float value) {
    if (SFXContext* c = Context()) c->SetElementSpeedMultiplier(name, value);
}

void SFXEntity::BreakLoop(const char* name) {
    if (SFXContext* c = Context()) c->BreakLoop(name);
    if (!name) DeleteScheduledCallback(SFX_CALLBACK_START);
}

void SFXEntity::ActivateLoop(const char* name) {
    if (SFXContext* c = Context()) c->ActivateLoop(name);
}

void SFXEntity::AdvanceTime(float dt) {
    const float left = GetScheduledCallbackTimeLeft(SFX_CALLBACK_START, 0);
    if (left >= 0.0f) {
        DeleteScheduledCallback(SFX_CALLBACK_START);
        const float r = left - dt;
        if (r > 0.0f) {
            ScheduleCallback(SFX_CALLBACK_START, r, 0);
            return;
        }
        Restart(0, true);
        if (r < 0.0f)
            if (SFXContext* c = Context()) c->AdvanceTime(-r);
        return;
    }
    if (SFXContext* c = Context()) c->AdvanceTime(dt);
}

void SFXEntity::SetDeleteAtStop(bool value) {
    if (value == deleteAtStop) return;
    if (value) ScheduleCallback(SFX_CALLBACK_CHECK_FINISHED, SFXNextEntityDelay(), 0);
    else DeleteScheduledCallback(SFX_CALLBACK_CHECK_FINISHED);
    deleteAtStop = value;
}

void SFXEntity::SetSpawner(ParticleSpawner* s) {
    spawner = s;
    if (SFXContext* c = Context()) c->SetSpawner(s);
}
