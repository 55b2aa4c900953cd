// The device lighting through a stand-in library built beside the test: the three
// outcomes of initialisation (and a missing library), no retry after a failure, the
// packed colours with clamping, and nothing reaching the library while not ready.
// test-depends: fake_LightFX
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
    void SetUp() override {
        // The test's own reference keeps the library (and its record) loaded.
        fake = os::OpenSharedLibrary(PROJECT_BINARY_ROOT "/tests/libLightFX.so");
        ASSERT_NE(fake, nullptr);
        setResult = reinterpret_cast<FakeLightFXSetInitializeResult>(os::FindSharedSymbol(fake, "FakeLightFX_SetInitializeResult"));
        record = reinterpret_cast<FakeLightFXLog>(os::FindSharedSymbol(fake, "FakeLightFX_Log"))();
        *record = {};
        sink.Attach();
    }
    void TearDown() override {
        setResult(0);
        os::CloseSharedLibrary(fake);
    }
    void* fake = nullptr;
    FakeLightFXSetInitializeResult setResult = nullptr;
    FakeLightFXRecord* record = nullptr;
    CaptureLogSink sink;
};

TEST_F(EnvLightTest, InitialisationOutcomesAndNoRetryAfterFailure) {
    struct Case {
        const char* library;
        uint32_t result;
        uint32_t state;
        uint32_t initializeCalls;
        const char* message;  // null: none
        uint8_t severity;
    } cases[] = {
        {"LightFX.dll", 0, EnvLight::kReady, 1, nullptr, 0},
        {"LightFX.dll", 3, EnvLight::kUnavailable, 1, "There is not AlienFX device available.", 1},
        {"LightFX.dll", 7, EnvLight::kUnavailable, 1, "There was an error initializing the AlienFX device.", 3},
        {"NoSuchLightFX.dll", 0, EnvLight::kUnavailable, 0, "Failed to load LightFX.dll.", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.library) + " " + std::to_string(c.result));
        *record = {};
        sink.Clear();
        setResult(c.result);
        EnvLight light(c.library);
        light.Init();
        light.Init();  // no second attempt, whatever the first gave
        EXPECT_EQ(light.GetState(), c.state);
        EXPECT_EQ(record->initialize, c.initializeCalls);
        const auto messages = sink.Messages();
        ASSERT_EQ(messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(messages[0].text, c.message);
            EXPECT_EQ(messages[0].severity, c.severity);
        }
        // Nothing reaches the library unless the device is ready.
        light.Update();
        light.Reset();
        light.SetColor(1, 1.0f, 1.0f, 1.0f, 1.0f);
        const uint32_t reached = c.state == EnvLight::kReady ? 1 : 0;
        EXPECT_EQ(record->update + record->reset + record->light, 3 * reached);
    }
    EXPECT_EQ(record->release, 0u);  // the failures freed the library without releasing a device
}

TEST_F(EnvLightTest, ColoursAreClampedScaledAndPacked) {
    EnvLight light;
    light.Init();
    ASSERT_EQ(light.GetState(), EnvLight::kReady);
    const float nan = std::nanf("");
    struct Case {
        float red, green, blue, brightness;
        uint32_t packed;
    } cases[] = {
        {1.0f, 0.5f, 0.25f, 1.0f, 0xFFFF7F3Fu},
        {0.0f, 0.0f, 0.0f, 0.0f, 0x00000000u},
        {0.999f, 0.004f, 0.0039f, 0.1f, 0x19FE0100u},
        // Out of range: clamped, never wrapped into a neighbouring channel.
        {2.0f, -1.0f, 300.0f, 1.5f, 0xFFFF00FFu},
        {-0.0f, nan, 1e30f, -1e30f, 0x000000FFu},
    };
    for (const Case& c : cases) {
        light.SetColor(0x07FFFFFF, c.red, c.green, c.blue, c.brightness);
        EXPECT_EQ(record->lastColour, c.packed) << c.red << " " << c.green << " " << c.blue << " " << c.brightness;
        EXPECT_EQ(record->lastMask, 0x07FFFFFFu);
    }
    light.Release();
    EXPECT_EQ(record->release, 1u);
    EXPECT_EQ(light.GetState(), EnvLight::kNotTried);
    light.Release();  // only a ready device is released
    EXPECT_EQ(record->release, 1u);
    light.Init();  // a released device may start again
    EXPECT_EQ(light.GetState(), EnvLight::kReady);
    EXPECT_EQ(record->initialize, 2u);
}

}  // namespace
