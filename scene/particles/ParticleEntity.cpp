// Particle templates, particle entities and their rendering contexts (see
// scene/particles/ParticleEntity.h).
#include "scene/particles/ParticleEntity.h"

#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "render/VornexRenderer.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneCommand.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleSpawner.h"
#include "scene/particles/ParticleSystemInstance.h"

namespace {

RTTIClass* gParticleTemplateClass = nullptr;
RTTIClass* gParticleEntityClass = nullptr;

// The draw flags that skip a particle draw.
constexpr uint32_t kParticleSkippedDrawFlags = 0x01 | 0x10;
// Enforced rendering bits a particle entity always carries, and those the definition's
// pass mask chooses (mask bit 1 -> 0x20, 8 -> 0x80, 2 -> 0x40).
constexpr uint32_t kParticleEntityRenderBits = 0x20 | 0x100;
constexpr uint32_t kParticlePassBits = 0x20 | 0x40 | 0x80;
// The pass mask of quad particles.
constexpr uint32_t kParticleQuadPassMask = 17;

void PostInstanceCommand(ParticleSystemInstance* instance, uint32_t command) {
    PostObjectCall(
        [](uint32_t op, CommandRingBuffer& r) {
            ParticleSystemInstance* i = nullptr;
            if (r.ReadValue(i) && i) i->ExecuteCommand(op, nullptr);
        },
        command, instance);
}

// The pass mask of the definition: 17 for quads; for mesh particles from 16 by the mesh's
// rendering flags (flag 2 sets bit 1, flag 0 adds 6, flag 1 adds 8).
uint32_t ParticlePassMask(const ParticleSystem& d) {
    if (!d.meshTemplate) return kParticleQuadPassMask;
    const MeshTemplateRenderingData* data = static_cast<const MeshTemplate*>(d.meshTemplate)->GetRenderingData();
    uint32_t mask = 16;
    if (!data) return mask;
    // Rendering flag k is render byte k + 1.
    if (data->renderBytes[3]) mask |= 1;
    if (data->renderBytes[1]) mask += 6;
    if (data->renderBytes[2]) mask += 8;
    return mask;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// ParticleTemplate

ParticleTemplate::ParticleTemplate() {
    typeId = ENTITY_PARTICLE;
    wireframeColor.SetFromVector(Vector(0.0f, 0.4f, 0.0f, 1.0f));
}

const RTTIClass* ParticleTemplate::RegisterClass() {
    if (gParticleTemplateClass) return gParticleTemplateClass;
    EntityTemplate::RegisterClass();
    const RTTIClass* definitionClass = ParticleSystem::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gParticleTemplateClass, "ParticleTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new ParticleTemplate(); });
    AddDirect<bool>(c, "Offscreen processing enabled", RTTI_OFFSETOF(ParticleTemplate, offscreenProcessingEnabled));
    c->AddProperty(new RTTIEmbeddedObjectProperty<ParticleSystem>(
        "Particle system definition", RTTI_OFFSETOF(ParticleTemplate, definition), definitionClass));
    return c;
}

const RTTIClass* ParticleTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* ParticleTemplate::CreateEntity() { return new ParticleEntity(); }

void ParticleTemplate::OnPropertyChanged(const char*) {
    // The render thread reads the definition through its instances.
    gVornexRenderer.FlushCommands(true);
    definition.Resolve(false);
    NotifyEntitiesOfChange();
}

void ParticleTemplate::OnLoaded(uint32_t options) {
    EntityTemplate::OnLoaded(options);
    // Loaded on this thread: a template is read on the loader thread, which must not wait
    // for its own queue.
    definition.Resolve(true);
}

bool ParticleTemplate::ReadBinaryData(BoundedReader& in, uint32_t version) {
    if (!EntityTemplate::ReadBinaryData(in, version)) return false;
    definition.Resolve(true);  // as after any load
    return true;
}

void* ParticleTemplate::CreatePreviewObject() {
    auto* instance = new ParticleSystemInstance(definition, Matrix::IDENTITY, 0);
    EntityTemplate* mesh = ParticleSystemInstance::MeshForLink(definition);
    PostObjectCall(
        [](uint32_t, CommandRingBuffer& r) {
            ParticleSystemInstance* i = nullptr;
            EntityTemplate* m = nullptr;
            if (r.ReadValue(i) && r.ReadValue(m) && i) i->ExecuteCommand(PARTICLE_CMD_LINK, &m);
        },
        PARTICLE_CMD_LINK, instance, mesh);
    PostInstanceCommand(instance, PARTICLE_CMD_START_SPAWNING);
    return instance;
}

void ParticleTemplate::DestroyPreviewObject(void* object) {
    if (!object) return;
    auto* instance = static_cast<ParticleSystemInstance*>(object);
    instance->ReleaseReferences();
    PostInstanceCommand(instance, PARTICLE_CMD_DESTROY);
}

void ParticleTemplate::DrawPreviewObject(void* object, const Matrix& m) {
    if (!object) return;
    PostObjectCall(
        [](uint32_t, CommandRingBuffer& r) {
            ParticleSystemInstance* i = nullptr;
            Matrix world;
            if (r.ReadValue(i) && r.ReadValue(world) && i) i->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &world);
        },
        PARTICLE_CMD_SET_MATRIX, object, m);
    gVornexRenderer.DebugDrawParticleTemplate(static_cast<ParticleSystemInstance*>(object), m, &staticBoundingBox,
                                              Vector(1, 1, 1, 1));
    DrawHelper(m, wireframeColor.ToLinearVector(), 0, nullptr);
}

// ---------------------------------------------------------------------------------------
// ParticleEntity

ParticleEntity::ParticleEntity() { SetEnforcedRenderingBits(0, kParticleEntityRenderBits); }

ParticleEntity::~ParticleEntity() = default;

const RTTIClass* ParticleEntity::RegisterClass() {
    if (gParticleEntityClass) return gParticleEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gParticleEntityClass, "ParticleEntity", "Entity",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new ParticleEntity(); });
    AddDirect<bool>(c, "Spawn in editor", RTTI_OFFSETOF(ParticleEntity, spawnInEditor));
    AddDirect<bool>(c, "Spawn in game", RTTI_OFFSETOF(ParticleEntity, spawnInGame));
    AddDirect<bool>(c, "Display real bounding box", RTTI_OFFSETOF(ParticleEntity, displayRealBoundingBox));
    return c;
}

const RTTIClass* ParticleEntity::GetRTTIClass() const { return RegisterClass(); }

ParticleTemplate* ParticleEntity::GetParticleTemplate() const {
    EntityTemplate* t = GetTemplate();
    return t && t->GetTypeId() == ENTITY_PARTICLE ? static_cast<ParticleTemplate*>(t) : nullptr;
}

ParticleEntityRenderingContext* ParticleEntity::Context() const {
    return static_cast<ParticleEntityRenderingContext*>(GetRenderingContext());
}

EntityRenderingContext* ParticleEntity::CreateRenderingContext() {
    const ParticleTemplate* t = GetParticleTemplate();
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, EntityRenderingContext::kRenderingClassBlended, 0);
    auto* context = new ParticleEntityRenderingContext(s, t && !t->offscreenProcessingEnabled);
    ApplyTemplate(context, playMode);
    if (spawning) context->PostCommand(PARTICLE_CONTEXT_START);
    return context;
}

void ParticleEntity::ApplyTemplate(uint8_t mode) { ApplyTemplate(Context(), mode); }

void ParticleEntity::ApplyTemplate(ParticleEntityRenderingContext* context, uint8_t mode) {
    playMode = mode;
    const ParticleTemplate* t = GetParticleTemplate();
    if (!context || !t) return;
    const uint32_t flags = (context->Pausing() ? kParticleFlagPausing : 0) | (mode ? kParticleFlagGame : 0);
    context->CreateInstance(t->definition, GetGlobalLocationMatrix(), flags);
    const uint32_t mask = ParticlePassMask(t->definition);
    const uint32_t bits = ((mask & 1) ? 0x20u : 0u) | ((mask & 8) ? 0x80u : 0u) | ((mask & 2) ? 0x40u : 0u);
    SetEnforcedRenderingBits(kParticlePassBits, bits);
    context->PostCommand(PARTICLE_CONTEXT_LIFETIME, lifetimeMultiplier);
    if (replacementSpawner) context->PostSpawner(replacementSpawner);
    context->PostSetLocalColor(colour);
}

void ParticleEntity::InitTriggerActivation() {
    Entity::InitTriggerActivation();
    ApplyTemplate(1);
    if (spawnInGame) StartSpawning();
}

void ParticleEntity::RefreshAfterChange() {
    Entity::RefreshAfterChange();
    ApplyTemplate(0);
    if (spawning && Context()) Context()->PostCommand(PARTICLE_CONTEXT_START);
}

void ParticleEntity::StartSpawning() {
    spawning = true;
    if (Context()) Context()->PostCommand(PARTICLE_CONTEXT_START);
}

void ParticleEntity::StopSpawning() {
    spawning = false;
    if (Context()) Context()->PostCommand(PARTICLE_CONTEXT_STOP);
}

void ParticleEntity::SetSpeedMultiplier(float multiplier) {
    if (Context()) Context()->PostCommand(PARTICLE_CONTEXT_SPEED, multiplier);
}

void ParticleEntity::SetLifetimeMultiplier(float multiplier) {
    lifetimeMultiplier = multiplier;
    if (Context()) Context()->PostCommand(PARTICLE_CONTEXT_LIFETIME, multiplier);
}

void ParticleEntity::SetColor(const Vector& c) {
    colour = c;
    if (Context()) Context()->PostSetLocalColor(c);
}

void ParticleEntity::SetReplacementSpawner(ParticleSpawner* spawner) {
    replacementSpawner = spawner;
    if (Context()) Context()->PostSpawner(spawner);
}

void ParticleEntity::DrawHelpers(uint32_t flags) {
    const ParticleTemplate* t = GetParticleTemplate();
    if (!t) return;
    const Vector c = (flags & 2) ? Vector(1, 1, 1, 1) : t->wireframeColor.ToLinearVector();
    gVornexRenderer.DebugDrawBoundingBox(t->staticBoundingBox, GetGlobalLocationMatrix(), c);
    if (displayRealBoundingBox)
        gVornexRenderer.DebugDrawBoundingBox(GetLocalBoundingBox(), GetGlobalLocationMatrix(), c);
}

void ParticleEntity::Destroy() {
    if (ParticleSpawner* spawner = replacementSpawner) {
        replacementSpawner = nullptr;
        // Instances still reach it until the render thread runs this.
        PostObjectCall(
            [](uint32_t, CommandRingBuffer& r) {
                ParticleSpawner* s = nullptr;
                if (r.ReadValue(s)) delete s;
            },
            0, spawner);
    }
    Entity::Destroy();
}

// ---------------------------------------------------------------------------------------
// ParticleEntityRenderingContext

ParticleEntityRenderingContext::ParticleEntityRenderingContext(const EntityRenderingContextSetup& setup, bool pause)
    : EntityRenderingContext(setup), pausing(pause) {}

void ParticleEntityRenderingContext::CreateInstance(const ParticleSystem& definition, const Matrix& world,
                                                    uint32_t flags) {
    if (mainInstance) mainInstance->ReleaseReferences();
    mainInstance = new ParticleSystemInstance(definition, world, flags);
    EntityTemplate* mesh = ParticleSystemInstance::MeshForLink(definition);
    PostObjectCall(&ExecuteCommand, PARTICLE_CONTEXT_SET_INSTANCE, this, mainInstance, mesh);
}

void ParticleEntityRenderingContext::PostCommand(uint32_t command) { PostObjectCall(&ExecuteCommand, command, this); }

void ParticleEntityRenderingContext::PostCommand(uint32_t command, float value) {
    PostObjectCall(&ExecuteCommand, command, this, value);
}

void ParticleEntityRenderingContext::PostSpawner(ParticleSpawner* spawner) {
    PostObjectCall(&ExecuteCommand, PARTICLE_CONTEXT_SPAWNER, this, spawner);
}

void ParticleEntityRenderingContext::Release() {
    if (mainInstance) mainInstance->ReleaseReferences();
    mainInstance = nullptr;
    EntityRenderingContext::Release();
}

bool ParticleEntityRenderingContext::FetchBoundingBox(BoundingBox4* box) {
    return mainInstance && mainInstance->FetchBoundingBox(box);
}

void ParticleEntityRenderingContext::ExecuteCommand(uint32_t command, CommandRingBuffer& r) {
    ParticleEntityRenderingContext* c = nullptr;
    if (!r.ReadValue(c)) return;
    switch (command) {
        case PARTICLE_CONTEXT_SET_INSTANCE: {
            ParticleSystemInstance* instance = nullptr;
            EntityTemplate* mesh = nullptr;
            if (!r.ReadValue(instance) || !r.ReadValue(mesh) || !c) break;
            if (c->renderInstance) c->renderInstance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
            c->renderInstance = instance;
            if (instance) {
                instance->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
                const Matrix& world = c->World();
                instance->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &world);
            } else if (mesh) {
                mesh->Release();  // the use taken for an instance that is not there
            }
            break;
        }
        case PARTICLE_CONTEXT_START:
            if (c && c->renderInstance) c->renderInstance->ExecuteCommand(PARTICLE_CMD_START_SPAWNING, nullptr);
            break;
        case PARTICLE_CONTEXT_STOP:
            if (c && c->renderInstance) c->renderInstance->ExecuteCommand(PARTICLE_CMD_STOP_SPAWNING, nullptr);
            break;
        case PARTICLE_CONTEXT_SPEED:
        case PARTICLE_CONTEXT_LIFETIME:
        case PARTICLE_CONTEXT_CARRY_TIME: {
            float value = 0.0f;
            if (!r.ReadValue(value) || !c || !c->renderInstance) break;
            ParticleSystemInstance* i = c->renderInstance;
            if (command == PARTICLE_CONTEXT_SPEED) i->ExecuteCommand(PARTICLE_CMD_SET_SPEED, &value);
            else if (command == PARTICLE_CONTEXT_LIFETIME) i->SetLifetimeMultiplier(value);
            else i->AddCarriedTime(value);
            break;
        }
        case PARTICLE_CONTEXT_SPAWNER: {
            ParticleSpawner* spawner = nullptr;
            if (r.ReadValue(spawner) && c && c->renderInstance) c->renderInstance->SetReplacementSpawner(spawner);
            break;
        }
        default:
            break;
    }
}

void ParticleEntityRenderingContext::Destroy() {
    if (renderInstance) renderInstance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
    renderInstance = nullptr;
    EntityRenderingContext::Destroy();
}

void ParticleEntityRenderingContext::Draw(void*, const Matrix&, const RenderTaskArguments& arguments) {
    if (!renderInstance || (arguments.flags & kParticleSkippedDrawFlags)) return;
    Vector c = LocalColor() * arguments.vector;
    if (gRendererScene)
        if (const SceneParametersWrapper* set = gRendererScene->GetCurrentParameters())
            c = c * set->Values().rest.sfxColorMultiplier.ToLinearVector();
    renderInstance->Draw(c, arguments.pass);
}

void ParticleEntityRenderingContext::OnRefreshed() {
    if (renderInstance) {
        const Matrix& world = World();
        renderInstance->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &world);
    }
}
