// A stand-in for the device-lighting library: every entry point of its table, an
// initialisation result the test chooses, and a record of the calls.
// shared-library: LightFX
#include "env_light_fake.h"

namespace {
FakeLightFXRecord gRecord;
uint32_t gInitializeResult = 0;
}  // namespace

extern "C" {
void FakeLightFX_SetInitializeResult(uint32_t result) { gInitializeResult = result; }
FakeLightFXRecord* FakeLightFX_Log() { return &gRecord; }

uint32_t LFX_Initialize() { return ++gRecord.initialize, gInitializeResult; }
uint32_t LFX_Release() { return ++gRecord.release, 0; }
uint32_t LFX_Reset() { return ++gRecord.reset, 0; }
uint32_t LFX_Update() { return ++gRecord.update, 0; }
uint32_t LFX_Light(uint32_t mask, uint32_t colour) { return ++gRecord.light, gRecord.lastMask = mask, gRecord.lastColour = colour, 0; }
// Entries the engine resolves but never calls.
uint32_t LFX_GetNumDevices() { return 0; }
uint32_t LFX_GetDeviceDescription() { return 0; }
uint32_t LFX_GetNumLights() { return 0; }
uint32_t LFX_SetLightColor() { return 0; }
uint32_t LFX_GetLightColor() { return 0; }
uint32_t LFX_GetLightDescription() { return 0; }
uint32_t LFX_ActionColor() { return 0; }
uint32_t LFX_ActionColorEx() { return 0; }
}
