#include "game/EnvLight.h"

#include "core/Log.h"
#include "engine/services/OptionalLibrary.h"
#include "platform/os/SharedLibrary.h"

EnvLight gEnvLight;

namespace {

// In the order of EnvLight::Entry.
constexpr const char* kEntryNames[] = {
    "LFX_Initialize", "LFX_Release", "LFX_Reset", "LFX_Update", "LFX_GetNumDevices", "LFX_GetDeviceDescription",
    "LFX_GetNumLights", "LFX_SetLightColor", "LFX_GetLightColor", "LFX_GetLightDescription", "LFX_Light",
    "LFX_ActionColor", "LFX_ActionColorEx",
};
static_assert(sizeof(kEntryNames) / sizeof(kEntryNames[0]) == EnvLight::kEntryCount);

using VoidEntry = uint32_t (*)();
using LightEntry = uint32_t (*)(uint32_t locationMask, uint32_t colour);

// 0 to 1 (NaN as 0) scaled to 0 to 255.
uint32_t Channel(float v) {
    const float c = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    return static_cast<uint32_t>(c * 255.0f);
}

}  // namespace

void EnvLight::Init() {
    if (state != kNotTried) return;
    state = kUnavailable;
    library = optlib::OpenOptionalLibrary(libraryName);
    if (!library) {
        gLog.Warning(LogCategory::Engine, "Failed to load LightFX.dll.");
        return;
    }
    for (uint32_t i = 0; i < kEntryCount; ++i) entries[i] = os::FindSharedSymbol(library, kEntryNames[i]);
    uint32_t result = 0;
    if (Call(kInitialize, &result) && result == 0) {
        state = kReady;
        return;
    }
    if (entries[kInitialize] && result == kResultNoDevices)
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "There is not AlienFX device available.");
    else
        gLog.Warning(LogCategory::Engine, "There was an error initializing the AlienFX device.");
    Unload();
}

void EnvLight::Release() {
    if (state != kReady) return;
    Call(kRelease);
    Unload();
    state = kNotTried;
}

void EnvLight::Update() {
    if (state == kReady) Call(kUpdate);
}

void EnvLight::Reset() {
    if (state == kReady) Call(kReset);
}

void EnvLight::SetColor(uint32_t locationMask, float red, float green, float blue, float brightness) {
    if (state != kReady || !entries[kLight]) return;
    const uint32_t packed = Channel(brightness) << 24 | Channel(red) << 16 | Channel(green) << 8 | Channel(blue);
    reinterpret_cast<LightEntry>(entries[kLight])(locationMask, packed);
}

bool EnvLight::Call(Entry entry, uint32_t* result) {
    if (!entries[entry]) return false;
    const uint32_t r = reinterpret_cast<VoidEntry>(entries[entry])();
    if (result) *result = r;
    return true;
}

void EnvLight::Unload() {
    os::CloseSharedLibrary(library);
    library = nullptr;
    for (void*& e : entries) e = nullptr;
}
