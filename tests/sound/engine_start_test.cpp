// test-sanitize: thread address
// test-depends: shader_data
// test-timeout: 600
// The engine's own start-up with the sound library linked: its start-up starts the
// sound thread and waits for its initialisation, and its shutdown stops the thread and
// releases the audio engine.
#include <gtest/gtest.h>

#include "../engine/EngineDataSet.h"
#include "engine/VornexEngine.h"
#include "engine/services/SoundServices.h"
#include "platform/window/Window.h"
#include "sound/SoundEngine.h"

namespace {

TEST(EngineStart, StartsTheSoundThreadAndStopsItAtShutdown) {
    ASSERT_NE(gSoundEngine, nullptr);
    ASSERT_EQ(GetSoundServices().GetSoundEngine(), gSoundEngine);  // the sound library's services
    enginetest::EngineDataSet set;
    set.WriteProjectConfig();
    const uint32_t window = enginetest::MakeWindow();
    ASSERT_FALSE(gSoundEngine->IsRunning());
    ASSERT_TRUE(gVornexEngine.Init(window, "Engine Test", gGameConfig, true));
    // The start-up flushed the thread: its initialisation has run.
    EXPECT_TRUE(gSoundEngine->IsRunning());
    EXPECT_TRUE(gSoundEngine->HasAudioEngine());
    gVornexEngine.Shutdown();
    EXPECT_FALSE(gSoundEngine->IsRunning());
    EXPECT_FALSE(gSoundEngine->HasAudioEngine());
    gVornexEngine.SetConfiguration(nullptr);
    wnd::ResetWindowLayer();
}

}  // namespace
