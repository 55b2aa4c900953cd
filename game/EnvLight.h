#pragma once
// EnvLight: colours the lights of a device-lighting controller through the optional
// library "LightFX.dll" (loaded as described in OptionalLibrary.h). The library is
// never required: without it, or without a device, every call does nothing.
//
// State: 0 not tried, 1 ready, 2 tried and unavailable. Init tries once; a failure is
// final (no retry) until the process ends, while Release of a ready device goes back
// to "not tried".
//
// Threads: main thread only (the Game's script functions).
#include <cstdint>

class EnvLight {
public:
    enum State : uint32_t { kNotTried = 0, kReady = 1, kUnavailable = 2 };
    // The library's entry points, in its table order.
    enum Entry : uint32_t {
        kInitialize, kRelease, kReset, kUpdate, kGetNumDevices, kGetDeviceDescription, kGetNumLights,
        kSetLightColor, kGetLightColor, kGetLightDescription, kLight, kActionColor, kActionColorEx, kEntryCount
    };
    // LFX_Initialize's result when no device is present.
    static constexpr uint32_t kResultNoDevices = 3;
    static constexpr const char* kLibraryName = "LightFX.dll";

    explicit constexpr EnvLight(const char* library = kLibraryName) : libraryName(library) {}
    ~EnvLight() { Release(); }
    EnvLight(const EnvLight&) = delete;
    EnvLight& operator=(const EnvLight&) = delete;

    void Init();
    void Release();
    void Update();
    void Reset();
    // Colour components and brightness in 0 to 1 (clamped), packed as
    // brightness << 24 | red << 16 | green << 8 | blue of 0 to 255 each.
    void SetColor(uint32_t locationMask, float red, float green, float blue, float brightness);

    uint32_t GetState() const { return state; }

private:
    // Calls an entry point of the kind (void) -> result; false when it is missing.
    bool Call(Entry entry, uint32_t* result = nullptr);
    void Unload();

    const char* libraryName;
    uint32_t state = kNotTried;
    void* library = nullptr;
    void* entries[kEntryCount] = {};
};

// The process-wide device.
extern EnvLight gEnvLight;
