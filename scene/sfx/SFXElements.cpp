// The element runtime: each kind's context (start, update) and drawing (see
// scene/sfx/SFXElementContexts.h).
#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/gfx/GfxDevice.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererLight.h"
#include "render/shaders/ResourceShader.h"
#include "platform/os/Thread.h"
#include "render/resources/ResourceAnimation.h"
#include "scene/SceneSoundServices.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/particles/ParticleSystemInstance.h"
#include "scene/sfx/SFXElementContexts.h"

namespace {

std::atomic<uint32_t> gQuadFrameSeed{0};

constexpr uint32_t kQuadFrameSizeRegister = 195;
constexpr uint32_t kQuadFramesRegister = 196;
constexpr uint32_t kQuadVertexStride = 20;
constexpr float kSoundFadeSeconds = 0.3f;
constexpr uint32_t kLightPass = 2;

Vector SampleVector(const TEnvelope<Vector>& e, const EnvelopeState& s) {
    Vector v;
    e.Evaluate(s, v);
    return v;
}

Matrix WorldOf(const Matrix& parent, const SFXElementContext& e) {
    Matrix world;
    world.Mul(parent, e.elementMatrix);
    return world;
}

// The determinant of the matrix's three axis rows: negative for a mirroring matrix.
float AxisDeterminant(const Matrix& m) {
    const Vector& a = m.r[0];
    const Vector& b = m.r[1];
    const Vector& c = m.r[2];
    return a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) + a.z * (b.x * c.y - b.y * c.x);
}

const DeviceObjectHandle* TextureHandle(const Resource* r) {
    return r ? static_cast<const ResourceTexture*>(r)->Handle() : nullptr;
}

}  // namespace

void SFXSeedQuadFrames(uint32_t seed) { gQuadFrameSeed.store(seed, std::memory_order_relaxed); }

uint32_t SFXNextQuadFrameValue() {
    // Render thread only in play; the value is the state before the step.
    const uint32_t before = gQuadFrameSeed.load(std::memory_order_relaxed);
    gQuadFrameSeed.store(before * 214013u + 2531011u, std::memory_order_relaxed);
    return before;
}

// ---------------------------------------------------------------------------------------
// Context factories

SFXElementContext* SFXQuadElementDefinition::CreateContext() const { return new SFXQuadElementContext(); }
SFXElementContext* SFXParticleElementDefinition::CreateContext() const { return new SFXParticleElementContext(); }
SFXElementContext* SFXMeshElementDefinition::CreateContext() const { return new SFXMeshElementContext(); }
SFXElementContext* SFXPointLightElementDefinition::CreateContext() const { return new SFXLightElementContext(false); }
SFXElementContext* SFXSpotLightElementDefinition::CreateContext() const { return new SFXLightElementContext(true); }
SFXElementContext* SFXSoundElementDefinition::CreateContext() const { return new SFXSoundElementContext(); }

// ---------------------------------------------------------------------------------------
// Quad

void SFXQuadElementContext::Start(const SFXElementDefinition& base, const Matrix& parent, uint32_t flags,
                                  uint32_t extra) {
    SFXElementContext::Start(base, parent, flags, extra);
    const auto& d = static_cast<const SFXQuadElementDefinition&>(base);
    localBox = BoundingBox4(Vector(-d.uvCenter.x, -d.uvCenter.y, 0, 1), Vector(1 - d.uvCenter.x, 1 - d.uvCenter.y, 0, 1));
    if (d.randomFrameTimeout > 0.0f && d.frameCount >= 2) nextFrame = SFXNextQuadFrameValue() % d.frameCount;
}

void SFXQuadElementContext::Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& base,
                                   const Matrix& parent) {
    SFXElementContext::Update(clock, dt, base, parent);
    const auto& d = static_cast<const SFXQuadElementDefinition&>(base);
    const uint32_t count = std::max(d.frameCount, 1u);
    const float t = d.randomFrameTimeout;
    if (!(t > 0.0f)) {
        const float f = SampleVector(d.frameAnimationCurve, states[SFX_STATE_KIND_FIRST]).x;
        const float whole = std::trunc(f);
        // A negative value wraps into [0, count) (floor modulo).
        const int64_t w = std::isfinite(whole) ? static_cast<int64_t>(std::clamp(whole, -1e15f, 1e15f)) : 0;
        const int64_t m = ((w % int64_t(count)) + int64_t(count)) % int64_t(count);
        currentFrame = static_cast<uint32_t>(m);
        blend = std::isfinite(f) ? f - whole : 0.0f;
        nextFrame = (currentFrame + 1) % count;
        return;
    }
    if (count < 2) {
        currentFrame = nextFrame = 0;
        blend = 0.0f;
        return;
    }
    randomFrameTimer -= dt;
    if (randomFrameTimer >= 0.0f) {
        blend = 1.0f - randomFrameTimer / t;
        return;
    }
    currentFrame = nextFrame;
    const uint32_t r = SFXNextQuadFrameValue() % (count - 1);
    nextFrame = r >= currentFrame ? r + 1 : r;
    blend = 0.0f;
    randomFrameTimer = t;
}

void SFXQuadElementDefinition::Render(SFXElementContext* context, const Matrix& world, const Vector& colour, uint32_t) {
    VornexRenderer& r = gVornexRenderer;
    gfx::Device* device = r.Device();
    if (!device || !context) return;
    const auto* q = static_cast<const SFXQuadElementContext*>(context);
    VertexShaderObject* vs = vertexShader ? vertexShader->GetVertexShaderObject() : nullptr;
    PixelShaderObject* ps = pixelShader ? pixelShader->GetPixelShaderObject() : nullptr;
    const bool refraction =
        refractionPixelShader && r.RefractionEnabled() && r.QualityLevel() >= refractionLevel;
    if (refraction) ps = refractionPixelShader->GetPixelShaderObject();
    else if (blendingMode == SFX_BLEND_NONE) return;
    if (!vs || !ps || !vs->DeviceShader() || !ps->DeviceShader()) return;

    Vector c = colour;
    Matrix model;
    if (!renderAsLensFlare) {
        Matrix t;
        t.LoadTranslation(-uvCenter.x, -uvCenter.y, -uvCenter.z);
        model.Mul(world, t);
    } else if (!LensFlareMatrix(world, c, model)) {
        return;
    }

    r.SetVertexShader(vs->DeviceShader());
    r.SetPixelShader(ps->DeviceShader());
    vs->SetModelMatrix(model, renderAsLensFlare);
    vs->SetModelColor(c);
    r.SetVertexShaderConstants(kQuadFrameSizeRegister, &frameSize.x, 1);
    float frames[4] = {0, 0, 0, 0};
    float pixel0[4] = {0, 0, 0, 0};
    if (frameCount >= 2) {
        const uint32_t x = std::max(textureFramesX, 1u);
        frames[0] = static_cast<float>(q->currentFrame % x) * frameSize.x;
        frames[1] = static_cast<float>(q->currentFrame / x) * frameSize.y;
        frames[2] = static_cast<float>(q->nextFrame % x) * frameSize.x;
        frames[3] = static_cast<float>(q->nextFrame / x) * frameSize.y;
        pixel0[0] = q->blend;
    }
    r.SetVertexShaderConstants(kQuadFramesRegister, frames, 1);
    r.SetPixelShaderConstants(0, pixel0, 1);
    r.SetCullMode(twoSided ? gfx::CULL_NONE : gfx::CULL_CW);
    r.SetDepthState(depthRead ? gfx::CMP_LESSEQUAL : gfx::CMP_ALWAYS, 0, 0, 0);
    r.SetTexture(0, TextureHandle(texture), SAMPLER_SRGB | SAMPLER_CLAMP_U | SAMPLER_CLAMP_V);
    if (refraction) {
        r.UpdateRefraction(q->localBox, world);
        const float power[4] = {refractionPower, refractionGranularity, 0, 0};
        r.SetPixelShaderConstants(1, power, 1);
        const Vector& row = r.GetBlendModeRow(blendingMode);
        r.SetPixelShaderConstants(2, &row.x, 1);
        r.SetBlendMode(SFX_BLEND_NONE);
        r.SetAlphaTest(0, 0);
    } else {
        r.SetBlendMode(blendingMode);
        r.SetAlphaTest(alphaTestMode, static_cast<uint32_t>(alphaReference * 255.0f));
    }
    const BuiltInMesh& quad = r.GetBuiltInMesh(MESH_UNIT_QUAD);
    if (!quad.vertices) return;
    device->SetFVF(gfx::FVF_XYZ | gfx::FVF_TEX1);
    device->SetStreamSource(0, quad.vertices, 0, kQuadVertexStride);
    r.DrawPrimitive(gfx::PT_TRIANGLEFAN, 0, 2);
}

bool SFXQuadElementDefinition::LensFlareMatrix(const Matrix& world, Vector& colour, Matrix& model) const {
    const VornexRenderer& r = gVornexRenderer;
    const uint32_t width = r.RenderWidth();
    const uint32_t height = r.RenderHeight();
    if (width == 0 || height == 0) return false;
    Vector translation, angles, s;
    world.Decompose(&translation, &angles, &s);
    const Matrix& vp = r.ViewProjectionMatrix();
    Vector p;
    for (int k = 0; k < 4; ++k)
        p[k] = translation.x * vp.r[0][k] + translation.y * vp.r[1][k] + translation.z * vp.r[2][k] + vp.r[3][k];
    if (p.w == 0.0f) return false;
    p = Vector(p.x / p.w, p.y / p.w, p.z / p.w, 1.0f);
    const float d = std::max(std::fabs(p.x), std::fabs(p.y));
    float fade;
    if (flareDistance > -0.99f && flareDistance <= 1.0f) {
        p = Vector(-p.x * flareDistance, -p.y * flareDistance, -p.z * flareDistance, 1.0f);
        fade = d > 0.6f ? (1.0f - d) * 2.5f : d < 0.4f ? d + 0.6f : 1.0f;
    } else {
        fade = d > 0.9f ? (1.0f - d) * 10.0f : 1.0f;
    }
    colour.w *= std::clamp(fade, 0.0f, 1.0f);
    p.z = 0.0f;
    const uint32_t a = static_cast<uint32_t>(uint64_t(height) * 1024u / width);
    if (a == 0) return false;
    Matrix step;
    model.LoadTranslation(p.x, p.y, p.z);
    step.LoadScale(s.x / 1024.0f, s.y / static_cast<float>(a), 0.0f);
    model.Mul(model, step);
    step.LoadTranslation(-0.5f, -0.5f, -0.5f);
    model.Mul(model, step);
    return true;
}

// ---------------------------------------------------------------------------------------
// Particle

SFXParticleElementContext::~SFXParticleElementContext() {
    if (instance) instance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
}

void SFXParticleElementContext::Start(const SFXElementDefinition& base, const Matrix& parent, uint32_t flags,
                                      uint32_t extra) {
    SFXElementContext::Start(base, parent, flags, extra);
    const auto& d = static_cast<const SFXParticleElementDefinition&>(base);
    if (instance) instance->ExecuteCommand(PARTICLE_CMD_DESTROY, nullptr);
    instance = nullptr;
    spawning = 0;
    linked = false;
    const auto* particles = dynamic_cast<const ParticleTemplate*>(d.heldTemplate);
    if (!particles) return;
    const ParticleSystem& system = particles->definition;
    instance = new ParticleSystemInstance(system, WorldOf(parent, *this), flags & 28u);
    meshTemplate = system.meshTemplate;
}

void SFXParticleElementContext::Link() {
    if (linked || !instance) return;
    linked = true;
    // The link hands the instance a use of its mesh template of its own, released when
    // the instance goes; the definition's use stays with the definition.
    EntityTemplate* mesh = meshTemplate;
    if (mesh) mesh->AddRef();
    instance->ExecuteCommand(PARTICLE_CMD_LINK, &mesh);
    if (spawner) instance->SetReplacementSpawner(spawner);
}

void SFXParticleElementContext::SetSpeedMultiplier(float value) {
    if (instance) instance->ExecuteCommand(PARTICLE_CMD_SET_SPEED, &value);
}

void SFXParticleElementContext::SetElementValue(float value) {
    if (instance) instance->SetLifetimeMultiplier(value);
}

void SFXParticleElementContext::SetSpawnRateMultiplier(float value) { spawnRateMultiplier = std::max(value, 0.0f); }

void SFXParticleElementContext::SetSpawner(ParticleSpawner* s) {
    spawner = s;
    if (instance && linked) instance->SetReplacementSpawner(s);
}

void SFXParticleElementContext::Advance(const SFXElementDefinition& d, float dt) {
    SFXElementContext::Advance(d, dt);
    if (instance) instance->AddCarriedTime(dt);
}

void SFXParticleElementContext::Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& base,
                                       const Matrix& parent) {
    SFXElementContext::Update(clock, dt, base, parent);
    if (!instance) return;
    Link();
    const Matrix world = WorldOf(parent, *this);
    instance->ExecuteCommand(PARTICLE_CMD_SET_MATRIX, &world);
    localBox = instance->Box();
    const auto& d = static_cast<const SFXParticleElementDefinition&>(base);
    const float x = SampleVector(d.spawnRateMultiplier, states[SFX_STATE_KIND_FIRST]).x;
    spawnMultiplierInForce = spawnRateMultiplier * std::max(x, 0.0f);
    instance->SetSpawnMultiplier(spawnMultiplierInForce);
    const uint8_t wanted = x > 0.0f ? 1 : 0;
    if (wanted != spawning) {
        spawning = wanted;
        instance->ExecuteCommand(wanted ? PARTICLE_CMD_START_SPAWNING : PARTICLE_CMD_STOP_SPAWNING, nullptr);
    }
}

void SFXParticleElementDefinition::Render(SFXElementContext* context, const Matrix&, const Vector& colour,
                                          uint32_t pass) {
    auto* p = static_cast<SFXParticleElementContext*>(context);
    if (!p || !p->instance || !p->Linked()) return;
    p->instance->Draw(colour, pass == 0xFFFFFFFFu ? 0 : pass);
}

void SFXParticleElementDefinition::RenderSecondary(SFXElementContext* context, const Matrix&) {
    auto* p = static_cast<SFXParticleElementContext*>(context);
    if (p && p->instance && p->Linked()) p->instance->Draw(Vector(1, 1, 1, 1), 8);
}

// ---------------------------------------------------------------------------------------
// Mesh

SFXMeshElementContext::~SFXMeshElementContext() { delete controller; }

void SFXMeshElementContext::Start(const SFXElementDefinition& base, const Matrix& parent, uint32_t flags,
                                  uint32_t extra) {
    SFXElementContext::Start(base, parent, flags, extra);
    const auto& d = static_cast<const SFXMeshElementDefinition&>(base);
    localBox = d.templateBox;
    bindPending = true;
}

void SFXMeshElementContext::Bind(const SFXElementDefinition& base) {
    const auto& d = static_cast<const SFXMeshElementDefinition&>(base);
    const auto* mesh = dynamic_cast<const MeshTemplate*>(d.heldTemplate);
    renderingData = mesh ? mesh->GetRenderingData() : nullptr;
    bindPending = false;
    delete controller;
    controller = nullptr;
    treeNode = -1;
    const MeshHierarchy* skeleton = mesh ? mesh->GetHierarchy() : nullptr;
    if (!skeleton || d.animation.IsEmpty()) return;
    // An animation of the template's skeleton: inside both animation tables, with data.
    const int32_t index = mesh->FindAnimationDefinition(d.animation.CStr());
    const std::vector<Resource*>& resources = mesh->GetAnimationResources();
    if (index < 0 || uint32_t(index) >= mesh->animations.Count() || uint32_t(index) >= resources.size() ||
        !resources[uint32_t(index)])
        return;
    const int32_t root = skeleton->FindAnimationTreeNode(NameString("root"));
    if (root < 0) return;
    controller = new MeshAnimationController(*skeleton);
    treeNode = root;
    AnimationParams params;
    params.Id = index;
    params.AnimIndex = index;
    params.OverrideProgress = progress;
    auto* animation = new XSIAnimation(os::CurrentThreadId(), static_cast<ResourceAnimation*>(resources[uint32_t(index)]),
                                       params, mesh->animations[uint32_t(index)].time);
    animation->SetCustomClock(&clock);
    controller->AddAnimation(uint32_t(root), animation);
}

void SFXMeshElementContext::Rebind(const SFXElementDefinition& base) {
    // The template's current rendering data; the animation plays on.
    const auto* mesh = dynamic_cast<const MeshTemplate*>(static_cast<const SFXMeshElementDefinition&>(base).heldTemplate);
    renderingData = mesh ? mesh->GetRenderingData() : nullptr;
}

void SFXMeshElementContext::Update(const RenderFrameClock& frameClock, float dt, const SFXElementDefinition& base,
                                   const Matrix& parent) {
    SFXElementContext::Update(frameClock, dt, base, parent);
    const auto& d = static_cast<const SFXMeshElementDefinition&>(base);
    progress = SampleVector(d.animationProgress, states[SFX_STATE_KIND_FIRST]).x;
    if (bindPending) Bind(base);
    clock.Tick(dt);
    if (!controller) return;
    controller->SetProgress(uint32_t(treeNode), -1, progress);
    const auto* mesh = dynamic_cast<const MeshTemplate*>(d.heldTemplate);
    controller->ClearEvaluationStamp();
    if (gSFXMeshAnimationWorkspace)
        controller->EvaluatePose(*gSFXMeshAnimationWorkspace, parent, mesh ? mesh->xsiAnimationScale : 1.0f);
}

void SFXMeshElementDefinition::Render(SFXElementContext* context, const Matrix& world, const Vector& colour,
                                      uint32_t pass) {
    auto* m = static_cast<SFXMeshElementContext*>(context);
    if (!m) return;
    if (m->bindPending) m->Bind(*this);
    if (!m->renderingData) return;
    const float* bones = m->controller ? m->controller->Palette() : nullptr;
    const uint32_t boneCount = m->controller ? m->controller->BoneCount() : 0;
    MeshTemplateRenderingData::Draw(m->renderingData, world, world, templateBox, colour, 1.0f, AxisDeterminant(world) < 0.0f,
                                    presetIndex, bones, boneCount, pass == 0xFFFFFFFFu ? kMeshPassAll : pass);
}

void SFXMeshElementDefinition::RenderSecondary(SFXElementContext* context, const Matrix& world) {
    auto* m = static_cast<SFXMeshElementContext*>(context);
    if (!m || !m->renderingData) return;
    const float* bones = m->controller ? m->controller->Palette() : nullptr;
    const uint32_t boneCount = m->controller ? m->controller->BoneCount() : 0;
    MeshTemplateRenderingData::Draw(m->renderingData, world, world, templateBox, Vector(1, 1, 1, 1), 1.0f,
                                    AxisDeterminant(world) < 0.0f, presetIndex, bones, boneCount, 8);
}

// ---------------------------------------------------------------------------------------
// Lights

SFXLightElementContext::SFXLightElementContext(bool isSpot) : light(new RendererLight()), spot(isSpot) {
    light->type = isSpot ? LIGHT_TYPE_SPOT : LIGHT_TYPE_POINT;
}

SFXLightElementContext::~SFXLightElementContext() {
    gVornexRenderer.ForgetLight(light);
    delete light;
}

void SFXLightElementContext::Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& base,
                                    const Matrix& parent) {
    SFXElementContext::Update(clock, dt, base, parent);
    const auto& d = static_cast<const SFXLightElementDefinition&>(base);
    const Vector range = SampleVector(d.range, states[SFX_STATE_KIND_FIRST]);
    HDRColor sample;
    d.color.Evaluate(states[SFX_STATE_COLOR], sample);
    const Vector c = sample.ToLinearVector();
    RendererLightShape shape;
    shape.color = Vector(std::max(c.x, 0.0f), std::max(c.y, 0.0f), std::max(c.z, 0.0f), std::max(c.w, 0.0f));
    shape.intensity = 1.0f;
    shape.innerRange = std::min(range.x, range.y);
    shape.outerRange = std::max(range.x, range.y);
    shape.texture = const_cast<DeviceObjectHandle*>(TextureHandle(d.maskTextureResource));
    shape.maskRotation = Vector(0, 0, 0, 0);
    shape.maskScale = Vector(1, 1, 1, 1);
    const float o = shape.outerRange;
    localBox = BoundingBox4(Vector(-o, -o, -o, 0), Vector(o, o, o, 0));
    light->SetTransform(WorldOf(parent, *this));
    if (spot) {
        const auto& s = static_cast<const SFXSpotLightElementDefinition&>(base);
        light->SetupSpotLight(shape, s.spotWidth, s.spotSoftness);
    } else {
        light->SetupPointLight(shape);
    }
    lightColor = light->colors[0];
}

void SFXLightElementDefinition::Render(SFXElementContext* context, const Matrix&, const Vector& colour, uint32_t pass) {
    if (pass != kLightPass || !context) return;
    auto* l = static_cast<SFXLightElementContext*>(context);
    const Vector& c = l->lightColor;
    l->light->colors[0] = Vector(c.x * colour.w, c.y * colour.w, c.z * colour.w, c.w * colour.w);
    if (gVornexRenderer.GatheredLights() < kFrameLights) gVornexRenderer.AddLight(l->light);
}

// ---------------------------------------------------------------------------------------
// Sound

SFXSoundElementContext::~SFXSoundElementContext() {
    // Stopped without a fade; only a sound of its own.
    FadeOut(0.0f);
    if (emitter) GetSceneSoundServices().ReleaseEmitter(emitter);
}

void SFXSoundElementContext::Start(const SFXElementDefinition& base, const Matrix& parent, uint32_t flags,
                                   uint32_t extra) {
    SFXElementContext::Start(base, parent, flags, extra);
}

void SFXSoundElementContext::FadeOut(float seconds) {
    if (HasSound()) {
        GetSceneSoundServices().SetVolume(soundId, 0.0f, seconds, 0, emitter);
        GetSceneSoundServices().ExitLoop(soundId, emitter);
    }
    soundId = kNoSound;
}

void SFXSoundElementContext::TakeOver(SFXElementContext* previous) {
    FadeOut(0.0f);
    auto* p = static_cast<SFXSoundElementContext*>(previous);
    if (!p) return;
    soundId = p->soundId;
    lastVolume = p->lastVolume;
    baseVolume = p->baseVolume;
    // The emitter that owns the sound moves with it.
    std::swap(emitter, p->emitter);
    emitterMatrix = p->emitterMatrix;
    p->soundId = kNoSound;
}

void SFXSoundElementContext::Update(const RenderFrameClock& clock, float dt, const SFXElementDefinition& base,
                                    const Matrix& parent) {
    SFXElementContext::Update(clock, dt, base, parent);
    const auto& d = static_cast<const SFXSoundElementDefinition&>(base);
    const float s = SampleVector(d.soundStartEnvelope, states[SFX_STATE_KIND_FIRST]).x;
    const Matrix world = WorldOf(parent, *this);
    bool started = false;
    if (!(s > 0.0f && !muted)) {
        if (soundId != kNoSound) FadeOut(kSoundFadeSeconds);
    } else if (!d.soundEntryName.IsEmpty() && soundId == kNoSound) {
        started = true;
        if (skipNextStart) {
            skipNextStart = 0;
            soundId = 0;
        } else {
            lastVolume = SampleVector(d.volume, states[SFX_STATE_KIND_SECOND]).x;
            SceneSoundServices& sound = GetSceneSoundServices();
            if (!emitter) emitter = sound.CreateEmitter(world);
            else sound.PostEmitterTransform(emitter, world);
            emitterMatrix = world;
            float entryVolume = 1.0f;
            soundId = sound.PlayEntry(d.soundEntryName.CStr(), emitter, d.soundChannel, lastVolume, &entryVolume);
            baseVolume = entryVolume;
        }
    }
    if (started || !HasSound()) return;
    const float v = SampleVector(d.volume, states[SFX_STATE_KIND_SECOND]).x;
    if (v != lastVolume) {
        lastVolume = v;
        GetSceneSoundServices().SetVolume(soundId, baseVolume * v, 0.0f, 0, emitter);
    }
    if (!(world == emitterMatrix)) {
        emitterMatrix = world;
        if (emitter) GetSceneSoundServices().PostEmitterTransform(emitter, world);
    }
}
