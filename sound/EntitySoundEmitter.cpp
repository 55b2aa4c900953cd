// Entity sound emitters: the main-thread senders of the emitter operations and their
// executor on the sound thread (see sound/EntitySoundEmitter.h for the record).
#include "sound/EntitySoundEmitter.h"

#include <cstring>

#include "core/Log.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"

namespace {
// The largest operation data: id, block and the longest name with its terminator.
constexpr uint32_t kStartFixedBytes = 4 + sizeof(SoundParamWrapper);
constexpr uint32_t kMaxPayload = 4 + kStartFixedBytes + EntitySoundEmitter::kMaxNameLength + 1;
}  // namespace

EntitySoundEmitter::EntitySoundEmitter(const Matrix& initial) : transform(initial), savedAltitude(initial.r[3].y) {}

void EntitySoundEmitter::Post(uint32_t operation, const void* data, uint32_t bytes) {
    uint8_t payload[kMaxPayload];
    std::memcpy(payload, &operation, 4);
    if (bytes) std::memcpy(payload + 4, data, bytes);
    if (gSoundEngine) gSoundEngine->PostJob(&Execute, this, payload, 4 + bytes);
    else Execute(this, payload, 4 + bytes);
}

void EntitySoundEmitter::PostRelease() { Post(OP_RELEASE, nullptr, 0); }

void EntitySoundEmitter::PostTransform(const Matrix& m) { Post(OP_TRANSFORM, &m, sizeof m); }

void EntitySoundEmitter::PostVelocity(const Vector& v) { Post(OP_VELOCITY, &v, sizeof v); }

void EntitySoundEmitter::PostAltitudeOverride(float altitude) { Post(OP_ALTITUDE_OVERRIDE, &altitude, sizeof altitude); }

uint32_t EntitySoundEmitter::StartSound(const char* name, const SoundParamWrapper* params) {
    if (!name || !gSoundEngine || !gSoundEngine->AcceptsPlays()) return 0;
    const size_t length = std::strlen(name);
    if (length > kMaxNameLength) {
        gLog.Print(LogSeverity::Error, LogCategory::Sound, "StartSound - a name of %zu characters is over %u", length,
                   kMaxNameLength);
        return 0;
    }
    uint8_t data[kStartFixedBytes + kMaxNameLength + 1];
    const uint32_t id = gSoundEngine->NextInstanceId();
    std::memcpy(data, &id, 4);
    std::memcpy(data + 4, params ? params : &SoundParamWrapper::DEFAULT, sizeof(SoundParamWrapper));
    std::memcpy(data + kStartFixedBytes, name, length + 1);
    Post(OP_START_SOUND, data, kStartFixedBytes + uint32_t(length) + 1);
    return id;
}

void EntitySoundEmitter::Execute(void* argument, const uint8_t* payload, uint32_t bytes) {
    auto* e = static_cast<EntitySoundEmitter*>(argument);
    uint32_t operation = 0;
    if (!e || bytes < 4) return;
    std::memcpy(&operation, payload, 4);
    const uint8_t* data = payload + 4;
    const uint32_t size = bytes - 4;
    switch (operation) {
    case OP_RELEASE:
        SoundInstanceBase::ReleaseOwner(e, kReleaseFadeSeconds);
        delete e;
        return;
    case OP_TRANSFORM:
        if (size < sizeof(Matrix)) return;
        std::memcpy(&e->transform, data, sizeof(Matrix));
        e->savedAltitude = e->transform.r[3].y;
        if (e->altitudeOverride >= 0.0f) e->transform.r[3].y = e->altitudeOverride;
        return;
    case OP_VELOCITY:
        if (size >= sizeof(Vector)) std::memcpy(&e->velocity, data, sizeof(Vector));
        return;
    case OP_ALTITUDE_OVERRIDE:
        if (size < 4) return;
        std::memcpy(&e->altitudeOverride, data, 4);
        e->transform.r[3].y = e->altitudeOverride < 0.0f ? e->savedAltitude : e->altitudeOverride;
        return;
    case OP_START_SOUND: {
        // Only where instances may live: on the sound thread, or on the thread that
        // steps an engine running without its thread. Never on a caller while the
        // thread is down.
        if (size < kStartFixedBytes + 1 || data[size - 1] != 0 || !gSoundEngine || !gSoundEngine->HasAudioEngine()) return;
        uint32_t id = 0;
        SoundParamWrapper params;
        params.LoadDefaults();
        std::memcpy(&id, data, 4);
        std::memcpy(&params, data + 4, sizeof params);
        SoundInstanceBase::CreateForOwner(e, reinterpret_cast<const char*>(data + kStartFixedBytes), id, params);
        return;
    }
    default:
        return;  // operations 5 and above change nothing
    }
}
