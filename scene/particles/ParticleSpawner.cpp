// The shared spawners: lifetime, random bits, a point of the emitter box and a velocity
// per particle, moved with the emitter over the step and pre-advanced by its age.
#include "scene/particles/ParticleSpawner.h"

#include <algorithm>
#include <cmath>

#include "scene/particles/ParticleSystemInstance.h"

namespace {

float SpawnFraction(RandomGenerator& g) { return static_cast<float>(g.Next()) * (1.0f / 65536.0f); }

Vector SpawnBlend(const Vector& a, const Vector& b, float t) { return a + (b - a) * t; }

}  // namespace

float ParticleSpawner::Spawn(ParticleSystemInstance& instance, const ParticleSpawnArgs& args) {
    // The first generator gives the lifetime and the random bits; the other three one
    // each to the x, y and z choices (position, velocity and the circle's yaw, pitch and
    // speed in that order).
    RandomGenerator& lifeGen = ParticleSystemInstance::Generator(0);
    RandomGenerator& xGen = ParticleSystemInstance::Generator(1);
    RandomGenerator& yGen = ParticleSystemInstance::Generator(2);
    RandomGenerator& zGen = ParticleSystemInstance::Generator(3);
    const Matrix& previous = instance.PreviousWorld();
    const Matrix& current = instance.World();
    const Vector k = instance.Acceleration();
    const BoundingBox4& emitter = instance.emitterBox;

    ParticleRecord* rec = args.first;
    float blend = args.blend;
    for (uint32_t i = 0; i < args.count; ++i) {
        const float time = args.startTime + static_cast<float>(i + 1) * args.spacing;
        float life = SpawnFraction(lifeGen) * instance.lifetimeSpread + instance.shortestLifetime * instance.lifetimeMultiplier;
        life = std::max(life, 0.0001f);
        rec->deathTime = time + life;
        rec->spawnTime = time;
        rec->inverseLifetime = 1.0f / life;
        rec->randomBits = lifeGen.Next() & args.randomMask;

        Vector p;
        p.x = emitter.min.x + SpawnFraction(xGen) * (emitter.max.x - emitter.min.x);
        p.y = emitter.min.y + SpawnFraction(yGen) * (emitter.max.y - emitter.min.y);
        p.z = emitter.min.z + SpawnFraction(zGen) * (emitter.max.z - emitter.min.z);
        p.w = 1.0f;
        Vector v;
        v.x = instance.velocityMin.x + SpawnFraction(xGen) * instance.velocitySpread.x;
        v.y = instance.velocityMin.y + SpawnFraction(yGen) * instance.velocitySpread.y;
        v.z = instance.velocityMin.z + SpawnFraction(zGen) * instance.velocitySpread.z;
        v.w = 0.0f;
        if (circleVelocity) {
            const float yaw = 1.5707964f + (2.0f * SpawnFraction(xGen) - 1.0f) * instance.circleYawRange;
            const float pitch = (2.0f * SpawnFraction(yGen) - 1.0f) * instance.circlePitchRange;
            const float speed = instance.circleSpeed + (2.0f * SpawnFraction(zGen) - 1.0f) * instance.circleSpeedVar;
            v.x += speed * std::cos(yaw) * std::cos(pitch);
            v.y += speed * std::sin(pitch);
            v.z += speed * std::sin(yaw) * std::cos(pitch);
        }
        if (!localSpace) {
            Vector a, b;
            a.Transform3D(previous, p);
            b.Transform3D(current, p);
            p = SpawnBlend(a, b, blend);
            a.Transform3DNormal(previous, v);
            b.Transform3DNormal(current, v);
            v = SpawnBlend(a, b, blend);
        }
        const float age = args.now - time;
        p = p + (v + k * (0.5f * age)) * age;
        v = v + k * age;
        rec->position[0] = p.x;
        rec->position[1] = p.y;
        rec->position[2] = p.z;
        rec->velocity[0] = v.x;
        rec->velocity[1] = v.y;
        rec->velocity[2] = v.z;

        blend += args.blendStep;
        if (++rec == args.ringEnd) rec = args.ringStart;
    }
    return args.startTime + static_cast<float>(args.count) * args.spacing;
}
