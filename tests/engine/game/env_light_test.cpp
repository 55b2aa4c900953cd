// test-depends: fake_LightFX
// The device lighting through a stand-in library built beside the test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "CaptureLogSink.h"
#include "engine/game/EnvLight.h"
#include "env_light_fake.h"
#include "platform/os/SharedLibrary.h"

namespace {

class EnvLightTest : public ::testing::Test {
protected:
    void SetUp() override {  // the test's own reference keeps the library and its record loaded
        fake = os::OpenSharedLibrary(PROJECT_BINARY_ROOT "/tests/libLightFX.so");
        ASSERT_NE(fake, nullptr);
        setResult = reinterpret_cast<FakeLightFXSetInitializeResult>(os::FindSharedSymbol(fake, "FakeLightFX_SetInitializeResult"));
        record = reinterpret_cast<FakeLightFXLog>(os::FindSharedSymbol(fake, "FakeLightFX_Log"))();
        sink.Attach();
    }
    void TearDown() override { setResult(0), os::CloseSharedLibrary(fake); }
    void* fake = nullptr;
    FakeLightFXSetInitializeResult setResult = nullptr;
    FakeLightFXRecord* record = nullptr;
    CaptureLogSink sink;
};

TEST_F(EnvLightTest, InitialisationOutcomesWithoutRetry) {
    struct Case {
        const char* library;
        uint32_t result, state, initializeCalls;
        std::string message;  // "severity text"; empty: none
    } cases[] = {
        {"LightFX.dll", 0, EnvLight::kReady, 1, ""},
        {"LightFX.dll", 3, EnvLight::kUnavailable, 1, "1 There is not AlienFX device available."},
        {"LightFX.dll", 7, EnvLight::kUnavailable, 1, "3 There was an error initializing the AlienFX device."},
        {"NoSuchLightFX.dll", 0, EnvLight::kUnavailable, 0, "3 Failed to load LightFX.dll."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.library) + " " + std::to_string(c.result));
        *record = {};
        sink.Clear(), setResult(c.result);
        EnvLight light(c.library);
        light.Init();
        light.Init();  // never a second attempt
        EXPECT_EQ(light.GetState(), c.state);
        EXPECT_EQ(record->initialize, c.initializeCalls);
        std::string logged;
        for (const auto& m : sink.Messages()) logged += std::to_string(m.severity) + " " + m.text;
        EXPECT_EQ(logged, c.message);
        light.Update();
        light.Reset();
        light.SetColor(1, 1.0f, 1.0f, 1.0f, 1.0f);
        EXPECT_EQ(record->update + record->reset + record->light, c.state == EnvLight::kReady ? 3u : 0u);
        EXPECT_EQ(record->release, 0u);  // a failure frees the library without releasing a device
    }
}

TEST_F(EnvLightTest, ColoursAreClampedScaledAndPacked) {
    *record = {};
    EnvLight light;
    light.Init();
    ASSERT_EQ(light.GetState(), EnvLight::kReady);
    const struct {
        float red, green, blue, brightness;
        uint32_t packed;
    } cases[] = {
        {1.0f, 0.5f, 0.25f, 1.0f, 0xFFFF7F3Fu},
        {0.999f, 0.004f, 0.0039f, 0.1f, 0x19FE0100u},
        {2.0f, -1.0f, 300.0f, 1.5f, 0xFFFF00FFu},  // clamped, never wrapped into a neighbour
        {-0.0f, std::nanf(""), 1e30f, -1e30f, 0x000000FFu},
    };
    for (const auto& c : cases) {
        light.SetColor(0x07FFFFFF, c.red, c.green, c.blue, c.brightness);
        EXPECT_EQ(record->lastColour, c.packed) << c.red << " " << c.green << " " << c.blue << " " << c.brightness;
        EXPECT_EQ(record->lastMask, 0x07FFFFFFu);
    }
    light.Release();
    light.Release();  // only a ready device is released
    EXPECT_EQ(record->release, 1u);
    light.Init();  // a released device may start again
    EXPECT_EQ(light.GetState(), EnvLight::kReady);
    EXPECT_EQ(record->initialize, 2u);
}

}  // namespace
