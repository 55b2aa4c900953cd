#pragma once
// The particle runtime: every live particle of every playing particle system.
//
// All particles live in one global ring of 40-byte records. Each instance owns one
// contiguous run of the ring; once per rendered frame UpdateAll walks the live instances
// in list order, drops dead particles, integrates the survivors and packs every run right
// behind the previous one, so the ring never fragments. New particles are appended to a
// run by a spawner. An instance that allows pausing and has not been drawn for more than
// three frames moves its run to a second ring (the pause ring) until it is drawn again.
//
// Threads: an instance is constructed on the main thread from its definition and handed
// over by a render command; after that only the render thread touches it, through
// ExecuteCommand, UpdateAll and Draw. The one exception is the published bounding box:
// FetchBoundingBox is the main thread's side of a one-slot mailbox.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/Sync.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/math/MathHelpers.h"
#include "core/rtti/SafePointer.h"

class EntityTemplate;
class ParticleSpawner;
class ParticleSystem;
class Resource;
class ResourceShader;

// One particle. Times are seconds on the owner's instance clock since its time base.
struct ParticleRecord {
    float deathTime;
    float spawnTime;
    float inverseLifetime;
    uint32_t randomBits;
    float position[3];
    float velocity[3];
};
static_assert(sizeof(ParticleRecord) == 40, "a particle record is 40 bytes");

// Instance flag bits.
constexpr uint32_t kParticleFlagGame = 0x01;          // play mode: game (else editor)
constexpr uint32_t kParticleFlagClockThird = 0x04;    // time source: the third clock
constexpr uint32_t kParticleFlagClockFirst = 0x08;    // time source: the first clock
constexpr uint32_t kParticleFlagPausing = 0x10;       // paused while not drawn

// Render-thread sub-commands of one instance.
enum ParticleInstanceCommand : uint32_t {
    PARTICLE_CMD_LINK = 0,           // payload: EntityTemplate* (mesh template with a use for the instance, or null)
    PARTICLE_CMD_DESTROY = 1,        // no payload
    PARTICLE_CMD_SET_MATRIX = 2,     // payload: Matrix
    PARTICLE_CMD_START_SPAWNING = 3,
    PARTICLE_CMD_STOP_SPAWNING = 4,
    PARTICLE_CMD_SET_SPEED = 5,      // payload: float
};

// Vertex registers of the quad draw: 0 to 12 as the runtime defines them, and 13 the
// start angle of the ROTATION variants per unit of the random byte (x 1/255 of it) when
// the definition asks for a random start, else 0.
constexpr uint32_t kParticleVertexRegisters = 14;
constexpr uint32_t kParticleRotationStartRegister = 13;
// The start angle of one step of the random byte (about 2 pi / 255, radians).
constexpr float kParticleStartAngleStep = 0.024639944f;

// The instance vertex buffer (bytes) and the quads of the expanded index buffer.
constexpr uint32_t kParticleInstanceBufferSize = 2097152;
constexpr uint32_t kParticleExpandedQuads = 16384;

// Ticks of the instance clock per second.
constexpr int64_t kParticleTicksPerSecond = 1 << 20;

// The capacities of the runtime (the project configuration's values by default).
struct ParticleRuntimeConfig {
    uint32_t maxParticles;
    uint32_t particlesPerSystem;
    bool pausing;
    float spawnRateMultiplier;
};

class ParticleSystemInstance {
public:
    // Main thread: the values of the definition (flags: the bits above).
    ParticleSystemInstance(const ParticleSystem& definition, const Matrix& world, uint32_t flags);
    ~ParticleSystemInstance();
    ParticleSystemInstance(const ParticleSystemInstance&) = delete;
    ParticleSystemInstance& operator=(const ParticleSystemInstance&) = delete;

    // Allocates the rings (freeing earlier ones first), zeroes the counters, creates the
    // four shared spawners and seeds the four generators. The first form reads the
    // project configuration.
    static void InitGlobals();
    static void InitGlobals(const ParticleRuntimeConfig& config);
    // Frees the rings and the spawners. Instances still linked are forgotten, not freed.
    static void ReleaseGlobals();

    // Render thread, once per rendered frame: the engine, smooth game and smooth
    // gameplay frame times (seconds); quality is the renderer's graphics quality level.
    static void UpdateAll(float engineTime, float gameTime, float gameplayTime);
    static void UpdateAll(float engineTime, float gameTime, float gameplayTime, uint32_t quality);

    // Render thread: one sub-command (ParticleInstanceCommand). Destroy frees this.
    void ExecuteCommand(uint32_t command, const void* payload);

    // Render thread, per draw of the owner: records the draw (frame, time on the clock
    // source) and brings a paused instance back to the live list; the particles return
    // on the next update.
    void MarkDrawn();
    // Render thread: marks the draw, then draws the particles with the colour (the model
    // colour of the quads, the mesh instances' colour factor): one instanced draw of the
    // quad, or the mesh template's parts of the mesh pass (0: every pass) with one
    // instance a particle. Nothing without particles, shaders or instance data.
    void Draw(const Vector& colour, uint32_t meshPass = 0);
    // The vertex constants of the quad draw (tests read them).
    void QuadConstants(float out[kParticleVertexRegisters][4]) const;

    // Main thread: drops the uses of the definition's shaders and texture taken at
    // construction (once; the destructor drops them when this was not called).
    void ReleaseReferences();
    // Main thread: the mesh template of the definition with one use taken for the link
    // command (null for quads). The instance keeps that use until the next link or its
    // destruction on the render thread, so the template cannot unload while the command
    // is queued or the instance draws it, whatever happens to the definition meanwhile.
    static EntityTemplate* MeshForLink(const ParticleSystem& definition);
    // Render thread: time added to the next update's step.
    void AddCarriedTime(float seconds) { carriedTime += seconds; }

    // Render thread: writes this frame's per-particle instance data into out (room for
    // InstanceDataSize bytes): position, normalised age, [velocity,] random bits; 32
    // bytes a particle with velocity (face-camera modes 4 and 5), else 20. Sort mode 1
    // writes newest first. Returns the bytes written.
    uint32_t InstanceStride() const;
    uint32_t InstanceDataSize() const { return count * InstanceStride(); }
    uint32_t WriteInstanceData(void* out) const { return WriteInstanceData(out, count); }
    // The first n particles of that order.
    uint32_t WriteInstanceData(void* out, uint32_t n) const;

    // Mesh particles: one 64-byte record a particle in the mesh's instance layout: the
    // three columns of the particle's matrix (axes scaled by its size over life,
    // translation the position) and its colour over life as four floats.
    void BuildMeshRecord(const ParticleRecord& particle, float now, float out[16]) const;
    // The colour and size over life at normalised age t.
    void NodeValues(float t, Vector* colour, float* size) const;

    // Device objects (render thread, after each device creation or reset / before).
    static void CreateDeviceBuffers();
    static void ReleaseDeviceBuffers();
    // Writes this generation's instance data into the instance vertex buffer, once per
    // generation: a ring written with no-overwrite locks, discarded when it wraps. At
    // most what fits the buffer is written (one warning per instance). False when
    // there is nothing to draw or the buffer cannot be locked.
    bool PrepareInstanceData();
    uint32_t InstanceDataOffset() const { return dataOffset; }
    uint32_t InstanceDataCount() const { return dataCount; }
    static uint32_t InstanceBufferCursor();

    // Main thread: copies the newest published box out; false when none is new.
    bool FetchBoundingBox(BoundingBox4* box);

    // Render thread: the spawner that replaces the shared ones (null: none).
    void SetReplacementSpawner(ParticleSpawner* spawner);

    // ---- State read by spawners and tests ----
    const Matrix& World() const { return world; }
    const Matrix& PreviousWorld() const { return previousWorld; }
    const Vector& WorldScale() const { return worldScale; }
    const Vector& Acceleration() const { return acceleration; }
    uint32_t Count() const { return count; }
    uint32_t RunStart() const { return runStart; }
    uint32_t PausedStart() const { return pausedStart; }
    bool IsPaused() const { return inPausedList; }
    bool IsSpawning() const { return spawning; }
    float Now() const;
    const BoundingBox4& Box() const { return box; }
    const BoundingBox4& SmoothedBox() const { return smoothedBox; }
    void SetLifetimeMultiplier(float m) { lifetimeMultiplier = m; }
    void SetSpawnMultiplier(float m) { spawnMultiplier = m; }

    // ---- Global state (render thread; tests) ----
    static ParticleRecord* Ring();
    static ParticleRecord* PauseRing();
    static uint32_t RingSize();
    static uint32_t LiveCount();
    static uint32_t FirstRunStart();
    static uint32_t PausedCount();
    static float SpawnFactor();
    static RandomGenerator& Generator(uint32_t i);
    static ParticleSystemInstance* FirstLive();
    ParticleSystemInstance* NextLive() const { return liveNext; }

    // Values from the definition.
    float spawnRate;
    float spawnMultiplier = 1.0f;
    bool localSpace;
    uint32_t sortMode;
    float shortestLifetime;
    float lifetimeSpread;
    float lifetimeMultiplier = 1.0f;
    BoundingBox4 emitterBox;
    Vector velocityMin;
    Vector velocitySpread;
    Vector globalGravity;
    Vector localGravity;
    float velocityDamping;
    bool circleVelocity;
    float circleYawRange, circlePitchRange;  // radians
    float circleSpeed, circleSpeedVar;
    float textureFrames[4];                  // 1 / X, 1 / Y, X x Y, X
    Vector nodeColor[4];                     // linear
    float nodeSize[4];
    float nodeTime[4];
    float nodeReciprocalSpan[4];
    float rotationMin, rotationMax;          // radians per second
    float secondaryRotationMin, secondaryRotationMax;
    uint32_t blendingMode, alphaTestMode, faceCameraMode;
    float alphaReference;                    // 0..255
    bool zBufferWrite, randomRotationAtStart;
    float desaturation;
    Vector anchor, shape;
    uint32_t flags;
    uint32_t randomMask = 0xffffffffu;
    // What the definition resolved to at construction (one use each, see ReleaseReferences).
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    Resource* texture = nullptr;
    uint32_t meshPreset = 0;

private:
    struct Globals;
    static Globals* globals;

    uint32_t Update(uint32_t write, int64_t budget);
    void DrawQuads(const Vector& colour);
    void DrawMeshParticles(const Vector& colour, uint32_t meshPass);
    void Spawn(int64_t budget);
    void StartSpawning();
    void SetMatrix(const Matrix& m);
    uint32_t ClockSource() const;
    float LongestLifetime() const;
    void LinkLive();
    void UnlinkLive();
    void LinkPaused();
    void UnlinkPaused();
    void PublishBox();
    static void NextInstanceDataGeneration();

    Matrix world = Matrix::IDENTITY;
    Matrix previousWorld = Matrix::IDENTITY;
    Matrix inverseWorld = Matrix::IDENTITY;
    Matrix normalisedWorld = Matrix::IDENTITY;
    Vector worldScale{1.0f, 1.0f, 1.0f, 1.0f};
    Vector acceleration{0.0f, 0.0f, 0.0f, 0.0f};
    SafePointer<ParticleSpawner> replacementSpawner;
    EntityTemplate* meshTemplate = nullptr;  // one use (MeshForLink), released on the render thread
    float speedMultiplier = 1.0f;
    float carriedTime = 0.0f;
    int64_t clock = 0;
    int64_t timeBase = 0;
    int64_t nextRebase = 0;
    int64_t lastSpawn = 0;
    double lastDrawnTime = 0.0;
    uint32_t lastDrawnFrame = 0;
    bool timeBaseSet = false;
    bool spawning = false;
    bool reactivated = false;
    uint32_t runStart = 0;
    uint32_t count = 0;
    uint32_t pausedStart = 0;
    ParticleSystemInstance* livePrev = nullptr;
    ParticleSystemInstance* liveNext = nullptr;
    ParticleSystemInstance* pausedPrev = nullptr;
    ParticleSystemInstance* pausedNext = nullptr;
    bool inLiveList = false;
    bool inPausedList = false;
    bool boxValid = false;
    BoundingBox4 box{Vector{0.0f, 0.0f, 0.0f, 1.0f}, Vector{0.0f, 0.0f, 0.0f, 1.0f}};
    BoundingBox4 smoothedBox = box;
    BoundingBox4 publishedBox = box;
    uint32_t dataGeneration = 0;
    uint32_t dataOffset = 0;
    uint32_t dataCount = 0;
    bool warnedOverflow = false;
    CounterPair mailbox;  // first: published by the render thread; second: taken
    std::atomic<bool> referencesHeld{false};
};

// Set and clear the device owner of the particle buffers; clearing also releases the
// runtime's globals (the renderer has stopped by then).
void InstallParticleDeviceOwner();
void ClearParticleDeviceOwner();
