#pragma once
// EntitySoundEmitter: what an entity that makes sound shows the sound thread: its global
// transform as last received, its velocity and an optional altitude override. It is the
// owner of the entity's positional sound instances (sound/SoundInstance.h).
//
// Life: made on the main thread the first time the entity needs it; from then on only
// the sound thread reads or writes it. The main thread sends it operations as jobs on the
// sound thread's ring (SoundEngine::PostJob), in order with every other sound command.
// The release operation makes the emitter's instances drop it before it is deleted, so
// no instance ever sees a freed emitter.
//
// While the sound thread does not run (never started, or stopped) operations 0-3 run at
// once on the caller (the stop command deleted every instance, so none holds the
// emitter); the start operation creates nothing then, so no instance is ever made on the
// main thread.
//
// Job record: executor, emitter and (in the payload) u32 operation, then its data:
//   0 release            none
//   1 transform          Matrix (64 bytes)
//   2 velocity           Vector (16 bytes)
//   3 altitude override  f32 (negative: none)
//   4 start sound        u32 id, SoundParamWrapper (48 bytes), name with terminator
// Operations 5 and above are ignored.
#include <cstdint>

#include "core/math/Matrix.h"
#include "core/math/Vector.h"

struct SoundParamWrapper;

class EntitySoundEmitter {
public:
    enum Operation : uint32_t {
        OP_RELEASE = 0,
        OP_TRANSFORM = 1,
        OP_VELOCITY = 2,
        OP_ALTITUDE_OVERRIDE = 3,
        OP_START_SOUND = 4,
    };
    // Seconds over which the sounds of a released emitter fade out.
    static constexpr float kReleaseFadeSeconds = 0.3f;
    // The longest sound name the start operation carries.
    static constexpr uint32_t kMaxNameLength = 1024;

    // Main thread: an entity's global transform, or the matrix of an effect's sound
    // element.
    explicit EntitySoundEmitter(const Matrix& transform);
    EntitySoundEmitter(const EntitySoundEmitter&) = delete;
    EntitySoundEmitter& operator=(const EntitySoundEmitter&) = delete;

    // ======== Main (or render) thread: post an operation ========
    // The emitter is deleted by the operation: the caller forgets the pointer.
    void PostRelease();
    void PostTransform(const Matrix& transform);
    void PostVelocity(const Vector& velocity);
    void PostAltitudeOverride(float altitude);
    // A new instance id posted with the block (null: the defaults) and the name; 0 for a
    // null or over-long name, or while the sound thread does not run.
    uint32_t StartSound(const char* name, const SoundParamWrapper* params);

    // ======== Sound thread ========
    const Matrix& Transform() const { return transform; }
    const Vector& Velocity() const { return velocity; }
    float AltitudeOverride() const { return altitudeOverride; }
    float SavedAltitude() const { return savedAltitude; }

    // The job of every operation: argument the emitter, payload the operation and data.
    static void Execute(void* emitter, const uint8_t* payload, uint32_t bytes);

private:
    ~EntitySoundEmitter() = default;
    void Post(uint32_t operation, const void* data, uint32_t bytes);

    Matrix transform;
    Vector velocity;
    float altitudeOverride = -1.0f;
    float savedAltitude;
};
