#pragma once
// ParticleSystem: the definition of one particle emitter (emission, motion, shape,
// rotation, texture or mesh, colour and size over life). A plain embedded property
// object: every particle template holds one, and effect particle elements reach it
// through their template. The runtime that simulates and draws particles from it is a
// separate component.
//
// Resolving turns the properties into what drawing needs: a mesh template (mesh
// particles), or the "Particle" shader pair for the option text the properties choose
// and the texture. Every live definition is in one global list under its own lock, so a
// change of the effect quality can resolve all of them again (RefreshAllShaders).
//
// Threads: a definition is edited and resolved on the main thread and read by the render
// thread's particle instances; editors flush the renderer queue before changing one. The
// list is guarded by its lock (definitions are made on any thread, the loader's too);
// RefreshAllShaders reads it under the lock and resolves outside it.
#include <cstddef>
#include <cstdint>

#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/rtti/SimpleGUID.h"
#include "core/text/NameString.h"

class CriticalSection;
class EntityTemplate;
class RTTIClass;
class Resource;
class ResourceShader;

enum ParticleBlendingMode : uint32_t {
    PARTICLE_BLEND_NONE = 0,
    PARTICLE_BLEND_ALPHA = 1,
    PARTICLE_BLEND_ADD = 2,
    PARTICLE_BLEND_ADD_ALPHA = 3,
    PARTICLE_BLEND_INV_ALPHA = 4,
    PARTICLE_BLEND_SUBTRACT = 5,
    PARTICLE_BLEND_MODULATE = 6,
    PARTICLE_BLEND_MODULATE_INV = 7,
    PARTICLE_BLEND_MIN = 8,
};
enum ParticleAlphaTestMode : uint32_t { PARTICLE_ALPHA_TEST_NONE = 0, PARTICLE_ALPHA_TEST_GREATER = 1, PARTICLE_ALPHA_TEST_LESS = 2 };
enum ParticleSortMode : uint32_t { PARTICLE_SORT_NONE = 0, PARTICLE_SORT_REVERSE = 1 };
enum ParticleFaceCameraMode : uint32_t {
    PARTICLE_FACE_LOCAL_X = 0,
    PARTICLE_FACE_LOCAL_Y = 1,
    PARTICLE_FACE_LOCAL_Z = 2,
    PARTICLE_FACE_CAMERA = 3,
    PARTICLE_FACE_VELOCITY_ALIGN = 4,
    PARTICLE_FACE_VELOCITY_NORMAL = 5,
};
enum ParticleAnimationMode : uint32_t {
    PARTICLE_ANIMATION_RANDOM_FRAME = 0,
    PARTICLE_ANIMATION_CYCLE = 1,
    PARTICLE_ANIMATION_CYCLE_WITH_BLEND = 2,
};

constexpr uint32_t kParticleNodes = 4;
// Longest "Particle" option text the properties can choose, with its NUL.
constexpr size_t kParticleShaderOptionsSize = 192;

// Guards the list of live definitions. Made by a start-up row; null before it (the list
// is then used unguarded, on the start-up thread only).
extern CriticalSection* gParticleSystemListLock;

class ParticleSystem {
public:
    // The defaults, then appended to the global list.
    ParticleSystem();
    // Releases what the last resolve took and leaves the global list.
    ~ParticleSystem();
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    static const RTTIClass* RegisterClass();

    // Main thread, after loading or editing the owner. Releases the shaders, the texture
    // and the mesh template; then takes the mesh template named by "Mesh template" (kept
    // only when it is a mesh template: mesh particles need nothing else), or else the
    // "Particle" shaders for ShaderOptions and the texture. The inverse of flag is the
    // load flag handed on: the registry's load flag, the shader manager's queued mode and
    // Resource::Load's loader-thread flag.
    void Resolve(bool flag);
    // Main thread: resolves every live definition again, loading what it takes. The list
    // lock is held only to read the list, never while a load is awaited.
    static void RefreshAllShaders();
    // The "Particle" option text these properties choose at an effect-quality level.
    void ShaderOptions(uint32_t effectQuality, char (&text)[kParticleShaderOptionsSize]) const;
    // The effect-quality level the option text follows: the renderer's graphics quality.
    static uint32_t EffectQuality();

    // Live definitions (tests).
    static uint32_t LiveCount();

    HDRColor nodeColor[kParticleNodes];  // "Node n color"
    float nodeSize[kParticleNodes] = {0.0f, 0.1f, 0.1f, 0.1f};   // "Node n size"
    float nodeTime[kParticleNodes] = {0.0f, 0.1f, 0.9f, 1.0f};   // fraction of life; "Node 1/2 time"
    Vector anchor{0.5f, 0.5f, 0.0f, 0.0f};                         // "Anchor"
    Vector shape{1.0f, 1.0f, 0.0f, 0.0f};                          // "Shape"
    Vector emitterSize{0.0f, 0.0f, 0.0f, 0.0f};                    // "Emitter size"
    Vector initialVelocity{0.0f, 1.0f, 0.0f, 0.0f};                // "Initial velocity"
    Vector initialVelocityVar{0.1f, 0.1f, 0.1f, 0.0f};             // "Initial velocity var"
    Vector globalGravity{0.0f, 0.0f, 0.0f, 0.0f};                  // "Global gravity"
    Vector localGravity{0.0f, 0.0f, 0.0f, 0.0f};                   // "Local gravity"
    uint32_t blendingMode = PARTICLE_BLEND_ADD_ALPHA;              // "Blending mode"
    uint32_t alphaTestMode = PARTICLE_ALPHA_TEST_GREATER;          // "Alpha test mode"
    uint32_t sortMode = PARTICLE_SORT_NONE;                        // "Sort mode"
    float alphaReference = 0.01f;                                  // "Alpha reference value"
    uint32_t faceCameraMode = PARTICLE_FACE_CAMERA;                // "Face camera mode"
    bool randomRotationAtStart = false;                            // "Random rotation at start"
    bool zBufferWrite = false;                                     // "Z buffer write"
    bool softness = false;                                         // "Softness"
    bool fog = true;                                               // no property
    float rotationSpeed = 0.0f;                                    // "Rotation speed"
    float rotationSpeedVar = 0.0f;                                 // "Rotation speed var"
    float secondaryRotationSpeed = 0.0f;                           // "Secondary rotation speed"
    float secondaryRotationSpeedVar = 0.0f;                        // "Secondary rotation speed var"
    bool localSpace = false;                                       // "Local space"
    float lifeTime = 1.0f;                                         // "Life time", seconds
    float lifeTimeVar = 0.0f;                                      // "Life time variable"
    float spawnRate = 10.0f;                                       // "Spawn rate", particles per second
    float velocityDamping = 1.0f;                                  // "Velocity damping"
    float circleVelocityYawRange = 180.0f;                         // "Circle velocity yaw range", degrees
    float circleVelocityPitchRange = 90.0f;                        // "Circle velocity pitch range", degrees
    float circleVelocityConst = 1.0f;                              // "Circle velocity const"
    float circleVelocityVar = 0.2f;                                // "Circle velocity var"
    bool circleVelocityEnabled = false;                            // "Circle velocity enabled"
    bool highPrecisionMode = false;                                // "High precision mode"
    NameString textureFileName;                                    // "Texture file name", in "Textures"
    uint32_t textureFramesX = 1;                                   // "Texture frames X"
    uint32_t textureFramesY = 1;                                   // "Texture frames Y"
    uint32_t animationMode = PARTICLE_ANIMATION_CYCLE_WITH_BLEND;  // "Animation mode"
    float desaturationFactor = 0.0f;                               // "Desaturation factor"
    SimpleGUID meshTemplateGuid;                                   // "Mesh template"
    NameString shaderPreset;                                       // "Shader preset"

    // What the last resolve took (each holds one use).
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    Resource* texture = nullptr;
    EntityTemplate* meshTemplate = nullptr;

private:
    void ReleaseResolved();

    ParticleSystem* previous = nullptr;
    ParticleSystem* next = nullptr;
};
