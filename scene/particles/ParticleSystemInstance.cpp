// The particle runtime: the rings, the per-frame compaction and integration pass,
// pausing, spawning and the per-instance render commands.
#include "scene/particles/ParticleSystemInstance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/config/ProjectConfig.h"
#include "core/math/HDRColor.h"
#include "core/profiler/Profiler.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/shaders/ResourceShader.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/particles/ParticleSpawner.h"
#include "scene/particles/ParticleSystem.h"

namespace {

constexpr float kParticleDegreesToRadians = 0.017453292f;

RandomGenerator gParticleGenerators[4];

float ParticleFraction(RandomGenerator& g) { return static_cast<float>(g.Next()) * (1.0f / 65536.0f); }

uint32_t ParticleTimeBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

int64_t SecondsToTicks(double s) { return static_cast<int64_t>(std::llround(s * kParticleTicksPerSecond)); }

}  // namespace

struct ParticleSystemInstance::Globals {
    ParticleRecord* ring = nullptr;
    ParticleRecord* pauseRing = nullptr;
    uint32_t size = 0;
    uint32_t perSystem = 0;
    float multiplier = 1.0f;
    uint32_t liveCount = 0;
    uint32_t firstRunStart = 0;
    uint32_t pausedCount = 0;
    ParticleSystemInstance* liveHead = nullptr;
    ParticleSystemInstance* liveTail = nullptr;
    ParticleSystemInstance* pausedHead = nullptr;
    ParticleSystemInstance* pausedTail = nullptr;
    float spawnFactor = 1.0f;
    ParticleSpawner* spawners[4] = {};
    uint32_t frame = 0;
    float frameTimes[3] = {};
    double clocks[3] = {};
    alignas(16) uint8_t scratch[256] = {};
};

ParticleSystemInstance::Globals* ParticleSystemInstance::globals = nullptr;

// ---------------------------------------------------------------------------------------
// Construction from the definition

ParticleSystemInstance::ParticleSystemInstance(const ParticleSystem& def, const Matrix& m, uint32_t instanceFlags)
    : flags(instanceFlags) {
    spawnRate = def.spawnRate;
    localSpace = def.localSpace;
    sortMode = def.sortMode;
    shortestLifetime = std::max(def.lifeTime - def.lifeTimeVar, 0.0001f);
    lifetimeSpread = 2.0f * def.lifeTimeVar;
    const Vector& e = def.emitterSize;
    emitterBox = BoundingBox4(Vector{-e.x, -e.y, -e.z, 1.0f}, Vector{e.x, e.y, e.z, 1.0f});
    const Vector& v = def.initialVelocity;
    const Vector& vv = def.initialVelocityVar;
    velocityMin = Vector{v.x - vv.x, v.y - vv.y, v.z - vv.z, 0.0f};
    velocitySpread = Vector{2.0f * vv.x, 2.0f * vv.y, 2.0f * vv.z, 0.0f};
    globalGravity = def.globalGravity;
    localGravity = def.localGravity;
    velocityDamping = def.velocityDamping;
    circleVelocity = def.circleVelocityEnabled;
    circleYawRange = def.circleVelocityYawRange * kParticleDegreesToRadians;
    circlePitchRange = def.circleVelocityPitchRange * kParticleDegreesToRadians;
    circleSpeed = def.circleVelocityConst;
    circleSpeedVar = def.circleVelocityVar;
    // A frame count of 0 counts as 1.
    const uint32_t fx = std::max(def.textureFramesX, 1u);
    const uint32_t fy = std::max(def.textureFramesY, 1u);
    textureFrames[0] = 1.0f / static_cast<float>(fx);
    textureFrames[1] = 1.0f / static_cast<float>(fy);
    textureFrames[2] = static_cast<float>(fx * fy);
    textureFrames[3] = static_cast<float>(fx);
    for (uint32_t i = 0; i < 4; ++i) {
        nodeColor[i] = def.nodeColor[i].ToLinearVector();
        nodeSize[i] = def.nodeSize[i];
        nodeTime[i] = def.nodeTime[i];
    }
    for (uint32_t i = 0; i < 3; ++i) {
        const float span = nodeTime[i + 1] - nodeTime[i];
        nodeReciprocalSpan[i] = span != 0.0f ? 1.0f / span : 0.0f;  // a zero span stores 0
    }
    nodeReciprocalSpan[3] = 1.0f;
    rotationMin = (def.rotationSpeed - def.rotationSpeedVar) * kParticleDegreesToRadians;
    rotationMax = (def.rotationSpeed + def.rotationSpeedVar) * kParticleDegreesToRadians;
    secondaryRotationMin = (def.secondaryRotationSpeed - def.secondaryRotationSpeedVar) * kParticleDegreesToRadians;
    secondaryRotationMax = (def.secondaryRotationSpeed + def.secondaryRotationSpeedVar) * kParticleDegreesToRadians;
    blendingMode = def.blendingMode;
    alphaTestMode = def.alphaTestMode;
    faceCameraMode = def.faceCameraMode;
    alphaReference = def.alphaReference * 255.0f;
    zBufferWrite = def.zBufferWrite;
    randomRotationAtStart = def.randomRotationAtStart;
    desaturation = def.desaturationFactor;
    anchor = def.anchor;
    shape = def.shape;
    SetMatrix(m);
    previousWorld = world;
    vertexShader = def.vertexShader;
    pixelShader = def.pixelShader;
    texture = def.texture;
    if (vertexShader) vertexShader->AddRef();
    if (pixelShader) pixelShader->AddRef();
    if (texture) texture->AddRef();
    referencesHeld = true;
    if (def.meshTemplate) {  // resolving keeps mesh templates only
        const int32_t preset =
            static_cast<const MeshTemplate*>(def.meshTemplate)->GetShaderPresetIndex(def.shaderPreset.CStr());
        meshPreset = preset > 0 ? static_cast<uint32_t>(preset) : 0;
    }
}

ParticleSystemInstance::~ParticleSystemInstance() {
    ReleaseReferences();
    if (meshTemplate) meshTemplate->Release();
}

EntityTemplate* ParticleSystemInstance::MeshForLink(const ParticleSystem& definition) {
    EntityTemplate* mesh = definition.meshTemplate;
    if (mesh) mesh->AddRef();
    return mesh;
}

void ParticleSystemInstance::ReleaseReferences() {
    if (!referencesHeld.exchange(false)) return;
    // The pointers stay: a draw still queued reads the shader objects, which live until
    // the resources are evicted.
    if (vertexShader) vertexShader->Release();
    if (pixelShader) pixelShader->Release();
    if (texture) texture->Release();
}

// ---------------------------------------------------------------------------------------
// Globals

void ParticleSystemInstance::InitGlobals() {
    const ProjectConfig defaults;
    const ProjectConfig& c = gProjectConfig ? *gProjectConfig : defaults;
    InitGlobals({c.GetMaxParticles(), c.GetParticlesPerSystem(), c.GetParticlePausing(),
                 c.GetParticleSpawnRateMultiplier()});
}

void ParticleSystemInstance::InitGlobals(const ParticleRuntimeConfig& config) {
    ReleaseGlobals();
    globals = new Globals;
    globals->size = std::max(config.maxParticles, 1u);
    globals->perSystem = config.particlesPerSystem;
    globals->multiplier = config.spawnRateMultiplier;
    globals->ring = static_cast<ParticleRecord*>(std::calloc(globals->size, sizeof(ParticleRecord)));
    // Every page touched now: the frames walk the ring as a moving window, and its memory
    // is in place from the start instead of growing page by page.
    if (globals->ring) {
        volatile uint8_t* bytes = reinterpret_cast<volatile uint8_t*>(globals->ring);
        const size_t total = size_t(globals->size) * sizeof(ParticleRecord);
        for (size_t i = 0; i < total; i += 4096) bytes[i] = 0;
    }
    if (config.pausing)
        globals->pauseRing = static_cast<ParticleRecord*>(std::calloc(globals->size, sizeof(ParticleRecord)));
    globals->spawners[0] = new ParticleSpawner;
    globals->spawners[1] = new LocalSpaceParticleSpawner;
    globals->spawners[2] = new CircleVelParticleSpawner;
    globals->spawners[3] = new CircleVelLocalSpaceParticleSpawner;
    for (RandomGenerator& g : gParticleGenerators) g.Seed();
}

void ParticleSystemInstance::ReleaseGlobals() {
    if (!globals) return;
    std::free(globals->ring);
    std::free(globals->pauseRing);
    for (ParticleSpawner* s : globals->spawners) delete s;
    delete globals;
    globals = nullptr;
}

ParticleRecord* ParticleSystemInstance::Ring() { return globals ? globals->ring : nullptr; }
ParticleRecord* ParticleSystemInstance::PauseRing() { return globals ? globals->pauseRing : nullptr; }
uint32_t ParticleSystemInstance::RingSize() { return globals ? globals->size : 0; }
uint32_t ParticleSystemInstance::LiveCount() { return globals ? globals->liveCount : 0; }
uint32_t ParticleSystemInstance::FirstRunStart() { return globals ? globals->firstRunStart : 0; }
uint32_t ParticleSystemInstance::PausedCount() { return globals ? globals->pausedCount : 0; }
float ParticleSystemInstance::SpawnFactor() { return globals ? globals->spawnFactor : 1.0f; }
RandomGenerator& ParticleSystemInstance::Generator(uint32_t i) { return gParticleGenerators[i & 3]; }
ParticleSystemInstance* ParticleSystemInstance::FirstLive() { return globals ? globals->liveHead : nullptr; }

// ---------------------------------------------------------------------------------------
// Lists

void ParticleSystemInstance::LinkLive() {
    if (inLiveList) return;
    livePrev = globals->liveTail;
    liveNext = nullptr;
    (livePrev ? livePrev->liveNext : globals->liveHead) = this;
    globals->liveTail = this;
    inLiveList = true;
}

void ParticleSystemInstance::UnlinkLive() {
    if (!inLiveList) return;
    (livePrev ? livePrev->liveNext : globals->liveHead) = liveNext;
    (liveNext ? liveNext->livePrev : globals->liveTail) = livePrev;
    livePrev = liveNext = nullptr;
    inLiveList = false;
}

void ParticleSystemInstance::LinkPaused() {
    pausedPrev = globals->pausedTail;
    pausedNext = nullptr;
    (pausedPrev ? pausedPrev->pausedNext : globals->pausedHead) = this;
    globals->pausedTail = this;
    inPausedList = true;
}

// Leaves the paused list and closes the gap of its run in the pause ring.
void ParticleSystemInstance::UnlinkPaused() {
    if (!inPausedList) return;
    Globals& g = *globals;
    const uint32_t end = pausedStart + count;
    std::memmove(g.pauseRing + pausedStart, g.pauseRing + end, (g.pausedCount - end) * sizeof(ParticleRecord));
    for (ParticleSystemInstance* p = g.pausedHead; p; p = p->pausedNext)
        if (p != this && p->pausedStart >= end) p->pausedStart -= count;
    g.pausedCount -= count;
    (pausedPrev ? pausedPrev->pausedNext : g.pausedHead) = pausedNext;
    (pausedNext ? pausedNext->pausedPrev : g.pausedTail) = pausedPrev;
    pausedPrev = pausedNext = nullptr;
    inPausedList = false;
    reactivated = false;
}

// ---------------------------------------------------------------------------------------
// Commands

void ParticleSystemInstance::SetMatrix(const Matrix& m) {
    world = m;
    for (int i = 0; i < 3; ++i) {
        const float len = m.r[i].Length3();
        worldScale[i] = len;
        normalisedWorld.r[i] = len > 0.0f ? m.r[i] * (1.0f / len) : m.r[i];
    }
    worldScale.w = 1.0f;
    normalisedWorld.r[3] = m.r[3];
    inverseWorld.Inverse(m);
}

uint32_t ParticleSystemInstance::ClockSource() const {
    switch (flags & (kParticleFlagClockFirst | kParticleFlagClockThird)) {
        case kParticleFlagClockFirst:
            return 0;
        case kParticleFlagClockThird:
            return 2;
        default:
            return 1;
    }
}

float ParticleSystemInstance::Now() const {
    return static_cast<float>(static_cast<double>(clock - timeBase) / kParticleTicksPerSecond);
}

float ParticleSystemInstance::LongestLifetime() const {
    return std::max(shortestLifetime * lifetimeMultiplier, 0.0001f) + lifetimeSpread;
}

void ParticleSystemInstance::StartSpawning() {
    if (!timeBaseSet) {
        timeBase = clock;
        nextRebase = clock + SecondsToTicks(120.0 + 60.0 * ParticleFraction(gParticleGenerators[3]));
        timeBaseSet = true;
    }
    previousWorld = world;
    spawning = spawnRate > 0.001f;
    // Rounded up, so the first update emits one particle at once.
    if (spawning) lastSpawn = clock - static_cast<int64_t>(std::ceil(kParticleTicksPerSecond / spawnRate));
}

void ParticleSystemInstance::ExecuteCommand(uint32_t command, const void* payload) {
    switch (command) {
        case PARTICLE_CMD_LINK: {
            // The payload's use passes to the instance; the previous template's is dropped.
            EntityTemplate* mesh = *static_cast<EntityTemplate* const*>(payload);
            if (meshTemplate) meshTemplate->Release();
            meshTemplate = mesh;
            if (globals) {
                LinkLive();
                lastDrawnFrame = globals->frame;
                lastDrawnTime = globals->clocks[ClockSource()];
            }
            break;
        }
        case PARTICLE_CMD_DESTROY:
            if (globals) {
                UnlinkLive();
                UnlinkPaused();
            }
            delete this;
            break;
        case PARTICLE_CMD_SET_MATRIX: {
            Matrix m;
            std::memcpy(static_cast<void*>(&m), payload, sizeof m);
            SetMatrix(m);
            break;
        }
        case PARTICLE_CMD_START_SPAWNING:
            StartSpawning();
            break;
        case PARTICLE_CMD_STOP_SPAWNING:
            spawning = false;
            break;
        case PARTICLE_CMD_SET_SPEED:
            std::memcpy(&speedMultiplier, payload, sizeof speedMultiplier);
            break;
        default:
            break;
    }
}

void ParticleSystemInstance::SetReplacementSpawner(ParticleSpawner* spawner) { replacementSpawner = spawner; }

void ParticleSystemInstance::MarkDrawn() {
    if (!globals) return;
    lastDrawnFrame = globals->frame;
    lastDrawnTime = globals->clocks[ClockSource()];
    if (inPausedList && !reactivated) {
        reactivated = true;
        LinkLive();
    }
}

// ---------------------------------------------------------------------------------------
// The frame pass

void ParticleSystemInstance::UpdateAll(float engineTime, float gameTime, float gameplayTime) {
    UpdateAll(engineTime, gameTime, gameplayTime, gVornexRenderer.QualityLevel());
}

void ParticleSystemInstance::UpdateAll(float engineTime, float gameTime, float gameplayTime, uint32_t quality) {
    if (!globals) return;
    gProfiler.StartTimer(PROFILE_PARTICLE_TIME, PROFILER_THREAD_RENDER);
    Globals& g = *globals;
    g.frame++;
    g.frameTimes[0] = std::max(engineTime, 0.0f);
    g.frameTimes[1] = gameTime;
    g.frameTimes[2] = gameplayTime;
    for (int i = 0; i < 3; ++i) g.clocks[i] += g.frameTimes[i];

    const int64_t free = static_cast<int64_t>(g.size) - g.liveCount - g.pausedCount;
    float f = std::min(static_cast<float>(free) / static_cast<float>(g.size) * 5.0f, 1.0f);
    static constexpr float kQualityScale[3] = {0.4f, 0.6f, 0.8f};
    if (quality < 3) f *= kQualityScale[quality];
    g.spawnFactor = f * g.multiplier;

    uint32_t write = (g.firstRunStart + g.liveCount) % g.size;
    int64_t budget = free;
    uint32_t total = 0;
    for (ParticleSystemInstance* inst = g.liveHead; inst;) {
        ParticleSystemInstance* next = inst->liveNext;
        const int64_t ringBefore = inst->inPausedList ? 0 : inst->count;
        const int64_t pausedBefore = inst->inPausedList ? inst->count : 0;
        const uint32_t n = inst->Update(write, budget - 1);
        const int64_t ringAfter = inst->inPausedList ? 0 : inst->count;
        const int64_t pausedAfter = inst->inPausedList ? inst->count : 0;
        write = (write + n) % g.size;
        budget += (ringBefore - ringAfter) + (pausedBefore - pausedAfter);
        total += n;
        inst = next;
    }
    g.firstRunStart = g.liveHead ? g.liveHead->runStart : 0;
    g.liveCount = total;
    NextInstanceDataGeneration();
    gProfiler.SetValue(PROFILE_PARTICLE_MULTIPLIER, g.spawnFactor, PROFILER_THREAD_RENDER);
    gProfiler.StopTimer(PROFILE_PARTICLE_TIME, PROFILER_THREAD_RENDER);
}

uint32_t ParticleSystemInstance::Update(uint32_t write, int64_t budget) {
    Globals& g = *globals;
    const uint32_t size = g.size;

    // 1. Not drawn for more than three frames: the run moves to the pause ring.
    if ((flags & kParticleFlagPausing) && g.pauseRing && !inPausedList && g.frame - lastDrawnFrame > 3) {
        UnlinkLive();
        for (uint32_t i = 0; i < count; ++i) g.pauseRing[g.pausedCount + i] = g.ring[(runStart + i) % size];
        pausedStart = g.pausedCount;
        g.pausedCount += count;
        LinkPaused();
        return 0;
    }
    // 2. Drawn again after a pause: the run comes back to the write index.
    if (inPausedList) {
        const uint32_t n = count;
        for (uint32_t i = 0; i < n; ++i) g.ring[(write + i) % size] = g.pauseRing[pausedStart + i];
        UnlinkPaused();
        runStart = write;
        return n;
    }

    // 3. Time step on the chosen clock; a negative speed freezes the instance.
    float dt = speedMultiplier * (carriedTime + g.frameTimes[ClockSource()]);
    dt = std::max(dt, 0.0f);
    carriedTime = 0.0f;
    clock += SecondsToTicks(dt);

    // 4. Rebase: keep the stored times small floats.
    if (timeBaseSet && clock > nextRebase) {
        const int64_t newBase = clock - SecondsToTicks(LongestLifetime() + 1.0);
        if (newBase > timeBase) {
            const float shift = static_cast<float>(static_cast<double>(newBase - timeBase) / kParticleTicksPerSecond);
            for (uint32_t i = 0; i < count; ++i) {
                ParticleRecord& r = g.ring[(runStart + i) % size];
                r.deathTime -= shift;
                r.spawnTime -= shift;
            }
            timeBase = newBase;
        }
        nextRebase = clock + SecondsToTicks(120.0 + 60.0 * ParticleFraction(gParticleGenerators[3]));
    }

    // 5. Gravity, scaled by the world scale.
    Vector a;
    if (localSpace) {
        a.Transform3DNormal(inverseWorld, globalGravity);
        a = a + localGravity;
    } else {
        a.Transform3DNormal(world, localGravity);
        a = a + globalGravity;
    }
    acceleration = Vector{a.x * worldScale.x, a.y * worldScale.y, a.z * worldScale.z, 0.0f};

    // 6. Integrate the survivors and pack them from the write index on; the box is kept
    // in locals.
    uint32_t kept = 0;
    BoundingBox4 b = BoundingBox4::INVALID;
    if (count) {
        const uint32_t nowBits = ParticleTimeBits(Now());
        const float d = std::pow(velocityDamping, dt);
        const float kx = acceleration.x * dt, ky = acceleration.y * dt, kz = acceleration.z * dt;
        // x, y and z in the first three lanes of one vector (the fourth carries a neighbour
        // along and is never read).
        using Lanes = float __attribute__((vector_size(16)));
        Lanes lo = {b.min.x, b.min.y, b.min.z, 0.0f};
        Lanes hi = {b.max.x, b.max.y, b.max.z, 0.0f};
        const Lanes k = {kx, ky, kz, 0.0f};
        const Lanes dLanes = {d, d, d, d};
        const Lanes dtLanes = {dt, dt, dt, dt};
        static_assert(offsetof(ParticleRecord, velocity) == offsetof(ParticleRecord, position) + 12 &&
                          sizeof(ParticleRecord) == offsetof(ParticleRecord, position) + 24,
                      "position and velocity are the record's last 24 bytes");
        // Per stretch of the ring without a wrap, one pass: each living record is moved
        // from s to t (never ahead of s in the ring's order) and integrated on the way.
        ParticleRecord* const ring = g.ring;
        uint32_t r = runStart;
        uint32_t w = write;
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min({count - done, size - r, size - w});
            const ParticleRecord* s = ring + r;
            ParticleRecord* const t = ring + w;
            ParticleRecord* out = t;
            for (uint32_t j = 0; j < n; ++j) {
                const ParticleRecord& src = s[j];
                if (ParticleTimeBits(src.deathTime) <= nowBits) continue;
                ParticleRecord& dst = *out++;
                const char* in = reinterpret_cast<const char*>(&src) + offsetof(ParticleRecord, position);
                char* to = reinterpret_cast<char*>(&dst) + offsetof(ParticleRecord, position);
                Lanes p, v;
                std::memcpy(&p, in, 16);      // p0 p1 p2 v0
                std::memcpy(&v, in + 8, 16);  // p2 v0 v1 v2
                v = __builtin_shufflevector(v, v, 1, 2, 3, 3);
                std::memcpy(&dst, &src, offsetof(ParticleRecord, position));  // times and random bits
                v = (v + k) * dLanes;
                p = p + v * dtLanes;
                const Lanes tail = __builtin_shufflevector(p, v, 2, 4, 5, 6);  // p2 v0 v1 v2
                const Lanes head = __builtin_shufflevector(p, v, 0, 1, 2, 4);  // p0 p1 p2 v0
                // The two overlap in p2 and v0, which both carry the new values.
                std::memcpy(to + 8, &tail, 16);
                std::memcpy(to, &head, 16);
                lo = p < lo ? p : lo;
                hi = p > hi ? p : hi;
            }
            const uint32_t moved = static_cast<uint32_t>(out - t);
            done += n;
            kept += moved;
            r = r + n == size ? 0 : r + n;
            w = w + moved == size ? 0 : w + moved;
        }
        b.min = Vector{lo[0], lo[1], lo[2], b.min.w};
        b.max = Vector{hi[0], hi[1], hi[2], b.max.w};
    }

    // 7. The box, its smoothed form and the mailbox.
    if (kept == 0) {
        box = BoundingBox4(Vector{0.0f, 0.0f, 0.0f, 1.0f}, Vector{0.0f, 0.0f, 0.0f, 1.0f});
    } else {
        b.min = b.min - Vector{emitterBox.max.x, emitterBox.max.y, emitterBox.max.z, 0.0f};
        b.max = b.max + Vector{emitterBox.max.x, emitterBox.max.y, emitterBox.max.z, 0.0f};
        b.min.w = b.max.w = 1.0f;
        if (localSpace) b.Transform3D(world);
        box = b;
    }
    if (!boxValid) {
        // The smoothing starts from the first real box.
        if (kept) {
            smoothedBox = box;
            boxValid = true;
        }
    } else {
        smoothedBox.min = smoothedBox.min * 0.99f + box.min * 0.01f;
        smoothedBox.max = smoothedBox.max * 0.99f + box.max * 0.01f;
    }
    if (ParticleSpawner* s = replacementSpawner.Get()) s->OnBoundingBox(smoothedBox.min, smoothedBox.max);
    // Nothing is published before the first real box.
    if (boxValid) PublishBox();

    // 8. Emission behind the packed run.
    runStart = write;
    count = kept;
    if (spawning) Spawn(budget);
    return count;
}

void ParticleSystemInstance::Spawn(int64_t budget) {
    Globals& g = *globals;
    double t = static_cast<double>(clock - lastSpawn) / kParticleTicksPerSecond;
    // Particles that would already be dead are not made.
    if (t > shortestLifetime) {
        lastSpawn = clock - SecondsToTicks(shortestLifetime);
        t = shortestLifetime;
    }
    ParticleSpawner* spawner = replacementSpawner.Get();
    if (!spawner) spawner = g.spawners[(localSpace ? 1 : 0) + (circleVelocity ? 2 : 0)];
    spawner->Prepare(*this, g.scratch);

    const double sinceDrawn = g.clocks[ClockSource()] - lastDrawnTime;
    const float fade = std::clamp(1.0f - (static_cast<float>(sinceDrawn) - 3.0f) * 0.2f, 0.0f, 1.0f);
    const float rate = (0.7f * fade + 0.3f) * spawnRate * spawnMultiplier * g.spawnFactor;
    const float longest = shortestLifetime * lifetimeMultiplier + lifetimeSpread;
    const int64_t cap = std::min<int64_t>(static_cast<int64_t>(longest * spawnRate * spawnMultiplier), g.perSystem);
    const int64_t wanted = static_cast<int64_t>(rate * static_cast<float>(t));
    if (cap < count) return;
    const int64_t n = std::min({wanted, cap - static_cast<int64_t>(count), std::max<int64_t>(budget, 0)});
    if (n <= 0) return;

    ParticleSpawnArgs args;
    args.count = static_cast<uint32_t>(n);
    args.ringStart = g.ring;
    args.ringEnd = g.ring + g.size;
    args.first = g.ring + (runStart + count) % g.size;
    args.startTime = static_cast<float>(static_cast<double>(lastSpawn - timeBase) / kParticleTicksPerSecond);
    args.spacing = static_cast<float>(t / static_cast<double>(n));
    args.blend = 1.0f / static_cast<float>(n);
    args.blendStep = args.blend;
    args.now = Now();
    args.randomMask = randomMask;
    const float end = spawner->Spawn(*this, args);
    count += args.count;
    previousWorld = world;
    lastSpawn = timeBase + SecondsToTicks(end);
}

void ParticleSystemInstance::PublishBox() {
    if (mailbox.First() != mailbox.Second()) return;
    publishedBox = smoothedBox;
    mailbox.IncrementFirst();
}

bool ParticleSystemInstance::FetchBoundingBox(BoundingBox4* out) {
    if (mailbox.First() == mailbox.Second()) return false;
    *out = publishedBox;
    mailbox.IncrementSecond();
    return true;
}

// ---------------------------------------------------------------------------------------
// Instance data

uint32_t ParticleSystemInstance::InstanceStride() const {
    return faceCameraMode == PARTICLE_FACE_VELOCITY_ALIGN || faceCameraMode == PARTICLE_FACE_VELOCITY_NORMAL ? 32 : 20;
}

uint32_t ParticleSystemInstance::WriteInstanceData(void* out, uint32_t n) const {
    if (!globals || inPausedList) return 0;
    const Globals& g = *globals;
    const uint32_t stride = InstanceStride();
    const float now = Now();
    uint8_t* dst = static_cast<uint8_t*>(out);
    n = std::min(n, count);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t k = sortMode == PARTICLE_SORT_REVERSE ? count - 1 - i : i;
        const ParticleRecord& r = g.ring[(runStart + k) % g.size];
        float v[7] = {r.position[0], r.position[1], r.position[2], (now - r.spawnTime) * r.inverseLifetime,
                      r.velocity[0], r.velocity[1], r.velocity[2]};
        const size_t floats = stride == 32 ? 7 : 4;
        std::memcpy(dst, v, floats * sizeof(float));
        std::memcpy(dst + floats * sizeof(float), &r.randomBits, 4);
        dst += stride;
    }
    return n * stride;
}

// ---------------------------------------------------------------------------------------
// The device owner of the particle buffers

void InstallParticleDeviceOwner() {
    DeviceObjectOwner owner;
    owner.release = [](void*) { ParticleSystemInstance::ReleaseDeviceBuffers(); };
    owner.create = [](void*) { ParticleSystemInstance::CreateDeviceBuffers(); };
    gVornexRenderer.SetDeviceObjectOwner(OWNER_PARTICLE_BUFFERS, owner);
}

void ClearParticleDeviceOwner() {
    gVornexRenderer.SetDeviceObjectOwner(OWNER_PARTICLE_BUFFERS, DeviceObjectOwner{});
    // The renderer has stopped: nothing reads the rings any more.
    ParticleSystemInstance::ReleaseGlobals();
}

// ---------------------------------------------------------------------------------------
// Mesh particles

void ParticleSystemInstance::NodeValues(float t, Vector* colour, float* size) const {
    const uint32_t i = t < nodeTime[1] ? 0 : t < nodeTime[2] ? 1 : 2;
    const float u = std::min(1.0f, (t - nodeTime[i]) * nodeReciprocalSpan[i]);
    *colour = nodeColor[i] * (1.0f - u) + nodeColor[i + 1] * u;
    *size = (1.0f - u) * nodeSize[i] + u * nodeSize[i + 1];
}

void ParticleSystemInstance::BuildMeshRecord(const ParticleRecord& p, float now, float out[16]) const {
    const float t = (now - p.spawnTime) * p.inverseLifetime;
    Vector colour;
    float size;
    NodeValues(t, &colour, &size);
    Matrix m;
    if (faceCameraMode == PARTICLE_FACE_VELOCITY_NORMAL) {
        Vector forward{p.velocity[0], p.velocity[1], p.velocity[2], 0.0f};
        if (forward.Length3Squared() > 0.0f) {
            forward.NormalizeXYZ();
        } else {
            // At rest: the emitter's local +Z.
            forward = localSpace ? Vector{0.0f, 0.0f, 1.0f, 0.0f} : normalisedWorld.r[2];
            forward.w = 0.0f;
        }
        const Vector fixed{-0.0124f, 1.0f, 0.131f, 0.0f};
        Vector side, up;
        side.Cross(fixed, forward);
        side.NormalizeXYZ();
        up.Cross(forward, side);
        up.NormalizeXYZ();
        m.r[0] = side;
        m.r[1] = up;
        m.r[2] = forward;
    } else {
        // The random value is 16 bits: its low byte gives both start angles, its high byte
        // the choice of both speeds.
        const float start = static_cast<float>(p.randomBits & 0xff) * kParticleStartAngleStep;
        const float pick = static_cast<float>((p.randomBits >> 8) & 0xff) * (1.0f / 255.0f);
        const float a = start + t * (rotationMin + pick * (rotationMax - rotationMin));
        const float b = start + t * (secondaryRotationMin + pick * (secondaryRotationMax - secondaryRotationMin));
        // The first angle turns about Z, the second about X.
        const float ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
        m.r[0] = Vector{ca, sa, 0.0f, 0.0f};
        m.r[1] = Vector{-sa * cb, ca * cb, sb, 0.0f};
        m.r[2] = Vector{sa * sb, -ca * sb, cb, 0.0f};
    }
    m.r[0] = m.r[0] * size;
    m.r[1] = m.r[1] * size;
    m.r[2] = m.r[2] * size;
    m.r[3] = Vector{p.position[0], p.position[1], p.position[2], 1.0f};
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t r = 0; r < 4; ++r) out[c * 4 + r] = m.r[r][c];
    out[12] = colour.x;
    out[13] = colour.y;
    out[14] = colour.z;
    out[15] = colour.w;
}
