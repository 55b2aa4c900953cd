// test-sanitize: thread address
// test-link: core
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Memory.h"
#include "core/config/CoreStaticInit.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileSystem.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/math/MathHelpers.h"

namespace {

class StaticInitTest : public ::testing::Test {
protected:
    void SetUp() override { RunStaticShutdown(); }
    void TearDown() override { RunStaticShutdown(); }
};

TEST_F(StaticInitTest, RegistersEveryBaseBeforeItsSubclassesAndBuildsTheGlobals) {
    ASSERT_TRUE(RunStaticInit());
    EXPECT_TRUE(IsStaticInitDone());
    // The registry stays sorted by name; a base registered after its subclass would have
    // left the subclass's base null.
    for (uint32_t i = 1; i < RTTIClassRegistry::Count(); ++i)
        EXPECT_LE(RTTIStricmp(RTTIClassRegistry::At(i - 1)->Name(), RTTIClassRegistry::At(i)->Name()), 0);
    const RTTIClass* game = RTTIClassRegistry::FindClass("GameConfig");
    ASSERT_NE(game, nullptr);
    ASSERT_EQ(game->ChainCount(), 3u);
    EXPECT_STREQ(game->ChainAt(0)->Name(), "CoreConfig");
    EXPECT_STREQ(game->ChainAt(1)->Name(), "EngineConfig");
    ASSERT_NE(gGameConfig, nullptr);
    EXPECT_EQ(gGameConfig->windowWidth, 800u);
    EXPECT_EQ(gGameConfig->GetRTTIClass(), game);
    ASSERT_NE(gProjectConfig, nullptr);
    EXPECT_STREQ(gProjectConfig->executableFileName, "Default");
    EXPECT_STREQ(GetPlatformName(), "PC");
    for (const RandomGenerator& g : gRandomGenerators) EXPECT_NE(g.state[0] | g.state[1] | g.state[4], 0u);
    const TemplateTypeTable::Row* rows = TemplateTypeTable::Get();
    for (uint32_t t = 0; t < TemplateTypeTable::kRows; ++t) ASSERT_EQ(rows[t].base, 4096u) << t;
}

TEST_F(StaticInitTest, RegisteringTwiceReturnsOneDescriptor) {
    ASSERT_TRUE(RunStaticInit());
    const uint32_t classes = RTTIClassRegistry::Count();
    const uint32_t handlers = ExitHandlerCount();
    EXPECT_EQ(GameConfig::RegisterClass(), GameConfig::RegisterClass());
    EXPECT_EQ(EngineConfig::RegisterClass(), RTTIClassRegistry::FindClass("EngineConfig"));
    EXPECT_FALSE(RunStaticInit());  // already done: nothing runs again
    EXPECT_EQ(RTTIClassRegistry::Count(), classes);
    EXPECT_EQ(ExitHandlerCount(), handlers);
}

TEST_F(StaticInitTest, ShutdownDestroysEverythingAndStartUpRunsAgain) {
    const uint32_t before = RTTIClassRegistry::Count();
    ASSERT_TRUE(RunStaticInit());
    EXPECT_GT(RTTIClassRegistry::Count(), before);
    RunStaticShutdown();
    EXPECT_EQ(ExitHandlerCount(), 0u);
    EXPECT_EQ(gGameConfig, nullptr);
    EXPECT_EQ(gProjectConfig, nullptr);
    EXPECT_EQ(GetPlatformName(), nullptr);
    EXPECT_EQ(RTTIClassRegistry::FindClass("CoreConfig"), nullptr);
    EXPECT_EQ(gSmallObjectPools, nullptr);
    ASSERT_TRUE(RunStaticInit());
    ASSERT_NE(gSmallObjectPools, nullptr);
    EXPECT_EQ(gSmallObjectPools->Class(1).capacity, 131072u);
    // The rebuilt file system and file reader are fresh: no mounts, a reader that starts
    // and stops again (the shutdown stops it if nobody did).
    const char* rest = nullptr;
    EXPECT_EQ(gFileSystem.FindMountPoint("user/x", &rest), nullptr);
    EXPECT_TRUE(gFileSystem.MountDirectory("user", "."));
    EXPECT_NE(gFileSystem.FindMountPoint("user/x", &rest), nullptr);
    EXPECT_TRUE(gPhysicalFileReader.Start());
    RunStaticShutdown();
    ASSERT_TRUE(RunStaticInit());
    EXPECT_EQ(gFileSystem.FindMountPoint("user/x", &rest), nullptr);
    EXPECT_FALSE(gPhysicalFileReader.IsRunning());
    const RTTIClass* game = RTTIClassRegistry::FindClass("GameConfig");
    ASSERT_TRUE(game && game->Base());
    EXPECT_STREQ(game->Base()->Name(), "EngineConfig");
    EXPECT_EQ(gGameConfig->GetRTTIClass(), game);
}

std::vector<std::string> gEvents;
int* gTestObject = nullptr;
template <char N>
void RunStep() {
    gEvents.push_back(std::string("run ") + N);
    PushExitHandler([](void*) { gEvents.push_back(std::string("exit ") + N); }, nullptr);
}

TEST_F(StaticInitTest, TablesMergeByModuleAndExitHandlersRunInReverse) {
    using K = StaticInitKind;
    const StaticInitRow first[] = {
        {1, K::GlobalObject, "A", &RunStep<'A'>, 0, 0},
        {4, K::TemplateTypeRow, "BaseTemplate", nullptr, 7, 4096},
        {4, K::TemplateTypeRow, "DerivedTemplate", nullptr, 300, 7},
        {9, K::GlobalObject, "C", &RunStep<'C'>, 0, 0},
    };
    const StaticInitRow second[] = {
        {2, K::BareClassRegistration, "BareTestClass", nullptr, 0, 0},
        {4, K::GlobalObject, "B", &RunStep<'B'>, 0, 0},
        {5, K::GlobalObject, "object", &StaticInitCreateGlobal<int, gTestObject>, 0, 0},
    };
    const StaticInitTable a = {first, 4}, b = {second, 3};
    const StaticInitTable* tables[] = {&a, &b};
    gEvents.clear();
    ASSERT_TRUE(RunStaticInit(tables, 2));
    EXPECT_EQ(gEvents, (std::vector<std::string>{"run A", "run B", "run C"}));
    const TemplateTypeTable::Row* rows = TemplateTypeTable::Get();
    EXPECT_STREQ(rows[7].name, "BaseTemplate");
    EXPECT_EQ(rows[7].base, 4096u);
    EXPECT_EQ(rows[300].base, 7u);
    EXPECT_TRUE(TemplateTypeTable::IsA(300, 7));
    EXPECT_EQ(rows[8].base, 4096u);
    const RTTIClass* bare = RTTIClassRegistry::FindClass("BareTestClass");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->Base(), nullptr);
    ASSERT_NE(gTestObject, nullptr);

    gEvents.clear();
    RunStaticShutdown();
    EXPECT_EQ(gEvents, (std::vector<std::string>{"exit C", "exit B", "exit A"}));
    EXPECT_EQ(rows[7].name, nullptr);
    EXPECT_EQ(rows[300].base, 4096u);
    EXPECT_EQ(RTTIClassRegistry::FindClass("BareTestClass"), nullptr);
    EXPECT_EQ(gTestObject, nullptr);
}

TEST_F(StaticInitTest, TemplateRowOutOfRangeIsRefused) {
    const StaticInitRow bad[] = {{8, StaticInitKind::TemplateTypeRow, "Bad", nullptr, 4096, 4096}};
    const StaticInitTable t = {bad, 1};
    const StaticInitTable* tables[] = {&t};
    EXPECT_TRUE(RunStaticInit(tables, 1));
    EXPECT_EQ(ExitHandlerCount(), 0u);
}

}  // namespace
