// Arbitrary bytes as an animation file loaded by an animation resource. Seeds come from
// the independent clip writer tests/support/anim_file.py. The oracle: a file loads
// exactly when its header matches and its body reads whole, and a loaded clip holds what
// the file says.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "render/resources/ResourceAnimation.h"

namespace {

void AddWritten(void (*add)(const uint8_t*, size_t), const std::string& clip) {
    const std::string out = "/tmp/resource_animation_fuzz_seed.bin";
    const std::string cmd = "echo '" + clip + "' | python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py write " +
                            out + " >/dev/null";
    if (std::system(cmd.c_str()) != 0) return;
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    add(bytes.data(), bytes.size());
    std::remove(out.c_str());
}

// A plain walk over the body: T, its tracks, K equal to the tracks' key total, K keys,
// 24 finite floats of boxes and a finite length; trackCount, keyCount and length out.
bool BodyValid(const uint8_t* p, size_t n, uint32_t& trackCount, uint32_t& keyCount, float& length) {
    size_t at = 0;
    auto take = [&](void* out, size_t bytes) {
        if (n - at < bytes) return false;
        if (out) std::memcpy(out, p + at, bytes);
        at += bytes;
        return true;
    };
    if (!take(&trackCount, 4)) return false;
    uint64_t total = 0;
    for (uint32_t i = 0; i < trackCount; ++i) {
        uint32_t nameLength = 0;
        uint16_t counts[3];
        if (!take(&nameLength, 4) || !take(nullptr, nameLength) || !take(counts, 6)) return false;
        total += uint64_t(counts[0]) + counts[1] + counts[2];
    }
    if (!take(&keyCount, 4) || keyCount != total || !take(nullptr, uint64_t(keyCount) * 8)) return false;
    for (int i = 0; i < 24; ++i) {
        float v;
        if (!take(&v, 4) || !std::isfinite(v)) return false;
    }
    return take(&length, 4) && std::isfinite(length);
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (uint32_t version : {kAnimationFileVersion, 2u}) {
        std::vector<uint8_t> file(8 + 8 + 4, 0);
        std::memcpy(file.data(), &kAnimationFileMagic, 4);
        std::memcpy(file.data() + 4, &version, 4);
        for (int i = 8; i < 16; ++i) file[i] = uint8_t(i);
        add(file.data(), file.size());
    }
    AddWritten(add, R"({"length": 1.0, "tracks": []})");
    AddWritten(add, R"({"length": 2.0, "header": [1,2,3,4,5,6,7,8], "tracks": [)"
                    R"({"name": "root", "rotation": [[0,0,0,0],[0.5,0,0.7071,0],[1,0.5,0.5,0.5]],)"
                    R"( "translation": [[0,1,2,3],[1,-4,5,6]], "scale": [[0,1,1,1]]},)"
                    R"({"name": "", "translation": [[0.25,0,0,0]]},)"
                    R"({"name": "forearm", "scale": [[0.5,1,1,1],[1,2,0.5,2]]}]})");
    AddWritten(add, R"({"length": 0.5, "tracks": [{"name": "a", "rotation": [[0,0,0,0]]},)"
                    R"({"name": "b", "translation": [[0,0,0,0],[0.5,1,1,1],[1,0,0,0]]}]})");
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("animations");
    resourcefuzz::WriteInput(folder + "/fuzz.bin", data, size);
    ResourceAnimation animation("fuzz");
    const bool loaded = animation.LoadResource();
    uint32_t magic = 0, version = 0;
    if (size >= 8) {
        std::memcpy(&magic, data, 4);
        std::memcpy(&version, data + 4, 4);
    }
    uint32_t trackCount = 0, keyCount = 0;
    float length = 0.0f;
    const bool valid = size >= 16 && magic == kAnimationFileMagic && version == kAnimationFileVersion &&
                       BodyValid(data + 16, size - 16, trackCount, keyCount, length);
    if (loaded != valid) __builtin_trap();
    if (loaded && std::memcmp(animation.HeaderValue(), data + 8, 8) != 0) __builtin_trap();
    const AnimationClipData& clip = animation.Clip();
    if (loaded && (clip.TrackCount() != trackCount || clip.KeyCount() != keyCount || clip.Length() != length))
        __builtin_trap();
    if (!loaded && (clip.TrackCount() || clip.KeyCount())) __builtin_trap();
    return 0;
}
