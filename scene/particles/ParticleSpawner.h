#pragma once
// Spawners fill the records of newly born particles. The runtime owns four shared ones
// (world or local space, with or without circle velocity); an owner may replace them for
// one instance. Render thread only.
#include <cstdint>

#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"

class ParticleSystemInstance;
struct ParticleRecord;

// Where new particles go and how they are spread over the step.
struct ParticleSpawnArgs {
    uint32_t count;            // n
    ParticleRecord* first;     // the first record to fill
    ParticleRecord* ringStart;
    ParticleRecord* ringEnd;   // wraps to ringStart
    float startTime;           // spawn time of the step's start (instance clock seconds)
    float spacing;             // seconds between particles
    float blend;               // previous-to-current matrix factor of the first particle
    float blendStep;           // its step per particle
    float now;                 // instance clock seconds at the end of the step
    uint32_t randomMask;
};

class ParticleSpawner : public SafePointerRoot {
public:
    ParticleSpawner(bool localSpace = false, bool circleVelocity = false)
        : localSpace(localSpace), circleVelocity(circleVelocity) {}
    ~ParticleSpawner() override = default;

    // Fills args.count records; returns the spawn time after the last particle.
    virtual float Spawn(ParticleSystemInstance& instance, const ParticleSpawnArgs& args);
    // Once per spawn step, before Spawn (scratch space for replacements).
    virtual void Prepare(ParticleSystemInstance& /*instance*/, void* /*scratch*/) {}
    // Every update: the instance's smoothed bounding box.
    virtual void OnBoundingBox(const Vector& /*min*/, const Vector& /*max*/) {}

private:
    bool localSpace;
    bool circleVelocity;
};

class LocalSpaceParticleSpawner : public ParticleSpawner {
public:
    LocalSpaceParticleSpawner() : ParticleSpawner(true, false) {}
};
class CircleVelParticleSpawner : public ParticleSpawner {
public:
    CircleVelParticleSpawner() : ParticleSpawner(false, true) {}
};
class CircleVelLocalSpaceParticleSpawner : public ParticleSpawner {
public:
    CircleVelLocalSpaceParticleSpawner() : ParticleSpawner(true, true) {}
};
