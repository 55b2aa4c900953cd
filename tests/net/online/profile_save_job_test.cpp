// Saves written by the ResourceManager worker: a stream of saves alternates the copies
// and the next load picks the newest; with the broker program killed during a stream,
// the next log-in loads the newest acknowledged copy.
// test-depends: online_broker
// test-sanitize: thread address
// test-link: broker_server
// test-timeout: 120
#include <gtest/gtest.h>

#include "ProfileTestSupport.h"
#include <atomic>

#include "platform/os/Thread.h"
#include "render/resources/ResourceManager.h"

using namespace profiletest;

namespace {

class SaveJobTest : public ProfileTest {
protected:
    void SetUp() override {
        ProfileTest::SetUp();
        ASSERT_TRUE(gResourceManager.Start());
    }
    void TearDown() override {
        ProfileTest::TearDown();
        gResourceManager.Stop();
    }
    // Saves progress with local value "n" equal to the stamp the save will write.
    void SaveNumbered() {
        ASSERT_TRUE(Profile().UpdateUnsignedLocalDataValue("n", GamerProfile::ProgressStamp() + 1));
        ASSERT_TRUE(Profile().StoreProgress());
    }
};

TEST_F(SaveJobTest, AStreamOfSavesAlternatesAndTheNewestLoads) {
    LogIn();
    for (int i = 0; i < 12; ++i) {
        SaveNumbered();
        ASSERT_TRUE(Profile().StoreResults());
    }
    module->LogOut();  // waits for the worker
    EXPECT_FALSE(GamerProfile::WritePending());
    EXPECT_TRUE(CheckFile("progress", "progress", ProgressLayout(), 11));
    EXPECT_TRUE(CheckFile("progress.alt", "progress", ProgressLayout(), 12));
    EXPECT_TRUE(CheckFile("results.alt", "results", ResultsLayout(), 12));
    LogIn();
    EXPECT_EQ(Profile().GetUnsignedLocalDataValue("n", 0), 12u);
    EXPECT_TRUE(log.Contains("Loaded from progress.alt (11 vs 12)"));
}

TEST_F(SaveJobTest, TheModuleMayNotCloseWhileASaveIsPending) {
    LogIn();
    // A job ahead of the save holds the worker until the test lets it go (or 10 s pass).
    static std::atomic<bool> release;
    release = false;
    BaseThread::PostCallOrRunInline(
        &gResourceManager,
        [](void*, const uint8_t*, uint32_t) {
            for (int i = 0; i < 2000 && !release.load(); ++i) os::Sleep(5);
        },
        nullptr, nullptr, 0);
    ASSERT_TRUE(Profile().StoreProgress());
    EXPECT_TRUE(GamerProfile::WritePending());
    EXPECT_TRUE(Profile().HasPendingWork());
    EXPECT_FALSE(module->MayClose());
    release = true;
    GamerProfile::WaitForPendingWrites();
    EXPECT_TRUE(module->MayClose());
    EXPECT_TRUE(CheckFile("progress", "progress", ProgressLayout(), 1));
}

TEST_F(SaveJobTest, AKilledBrokerLosesNoAcknowledgedCopy) {
    const std::string folder = (dir.path / "program").string();
    std::filesystem::create_directories(folder);
    onlinetest::BrokerProcess program(folder);
    ASSERT_TRUE(program.Start());
    online::ClientConfig config = onlinetest::Config(1, "Me");
    config.brokerDir = folder;
    std::string error;
    ctx = online::OnlineContext::Connect(config, &error);
    ASSERT_TRUE(ctx) << error;
    module = std::make_unique<GameDelegateProfilesModuleSteam>(ctx.get());
    module->LogInDefaultUser();
    for (int i = 0; i < 5; ++i) SaveNumbered();
    GamerProfile::WaitForPendingWrites();  // five acknowledged copies
    for (int i = 0; i < 25; ++i) {
        SaveNumbered();
        if (i == 3) program.Stop(SIGKILL);
    }
    module->LogOut();
    module.reset();
    ctx.reset();

    ASSERT_TRUE(program.Start());
    ctx = online::OnlineContext::Connect(config, &error);
    ASSERT_TRUE(ctx) << error;
    GamerProfile::ResetProcessState();
    module = std::make_unique<GameDelegateProfilesModuleSteam>(ctx.get());
    module->LogInDefaultUser();
    const uint32_t loaded = GamerProfile::ProgressStamp();
    EXPECT_GE(loaded, 5u);
    EXPECT_LE(loaded, 9u);
    EXPECT_EQ(Profile().GetUnsignedLocalDataValue("n", 0), loaded);
    module.reset();
    ctx.reset();
    const int status = program.Stop();
    EXPECT_TRUE(onlinetest::ExitedNormally(status)) << "the broker ended with status " << status;
}

}  // namespace
