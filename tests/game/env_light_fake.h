#pragma once
// What the stand-in lighting library records, read by the test through the library's
// own control entries.
#include <cstdint>

struct FakeLightFXRecord {
    uint32_t initialize, release, reset, update, light;
    uint32_t lastMask, lastColour;
};

extern "C" {
using FakeLightFXSetInitializeResult = void (*)(uint32_t result);
using FakeLightFXLog = FakeLightFXRecord* (*)();
}
