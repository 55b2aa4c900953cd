// Fuzz target: arbitrary bytes read as a particle-system definition's property list. A
// list that reads must write back a list that reads back to the same bytes; whatever was
// read, the shader option text fits its buffer. Seeds are lists the engine's own writer
// makes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "scene/particles/ParticleSystem.h"

namespace {

std::vector<uint8_t> Write(const ParticleSystem& p) {
    const RTTIClass* cls = ParticleSystem::RegisterClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &p, 0));
    cls->SerializeProperties(out.data(), &p, 0);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const RTTIClass* cls = ParticleSystem::RegisterClass();
    ParticleSystem p;
    BoundedReader in(data, size);
    cls->DeserializeProperties(in, &p, 0);
    if (!in.Failed()) {
        const std::vector<uint8_t> out = Write(p);
        ParticleSystem back;
        BoundedReader again(out.data(), out.size());
        cls->DeserializeProperties(again, &back, 0);
        // Bytes, not PropertiesEqual: a NaN read from the input never equals itself.
        if (again.Failed() || Write(back) != out) __builtin_trap();
    }
    for (uint32_t quality = 0; quality < 4; ++quality) {
        char text[kParticleShaderOptionsSize];
        p.ShaderOptions(quality, text);
        if (std::strlen(text) >= sizeof text) __builtin_trap();
    }
    return 0;
}

using FuzzAddSeed = void (*)(const uint8_t* data, size_t size);

extern "C" void FuzzSeeds(FuzzAddSeed add) {
    ParticleSystem p;
    std::vector<uint8_t> seed = Write(p);
    add(seed.data(), seed.size());
    p.shaderPreset = "Glass";
    p.meshTemplateGuid.bytes[3] = 7;
    p.textureFramesX = 4;
    p.faceCameraMode = PARTICLE_FACE_VELOCITY_ALIGN;
    seed = Write(p);
    add(seed.data(), seed.size());
}
