// test-sanitize: address thread
// Refreshing every particle-system definition while the loader thread makes a new one:
// the refresh waits for the loader (a texture queued behind the loader's job), and the
// loader's job constructs a definition, which enters the list under its lock. The refresh
// holds that lock only to read the list, so both finish; a refresh that kept the lock
// while waiting would never return (the test gives up after 30 s).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "render/RenderTestSupport.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/particles/ParticleSystem.h"

namespace {

// A loader job that makes a definition once the refresh is under way.
class DefinitionMaker : public Resource {
public:
    DefinitionMaker() : Resource("particle definition maker") {}
    uint32_t GetResourceType() const override { return RESOURCE_TEXTURE; }
    bool LoadResource() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        made = std::make_unique<ParticleSystem>();
        return true;
    }
    std::unique_ptr<ParticleSystem> made;
};

using ParticleRefreshTest = resourcetest::ResourceFixture;

TEST_F(ParticleRefreshTest, ADefinitionMadeOnTheLoaderThreadDuringARefresh) {
    ASSERT_TRUE(created);
    const uint32_t before = ParticleSystem::LiveCount();
    ParticleSystem definition;
    definition.textureFileName = NameString("SFX/absent.dds");  // queued behind the maker, then missing
    DefinitionMaker maker;
    maker.QueueLoad();
    std::future<void> refresh = std::async(std::launch::async, [] { ParticleSystem::RefreshAllShaders(); });
    if (refresh.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the refresh and the loader wait for each other";
        std::_Exit(1);  // the two threads never finish: end the program
    }
    maker.WaitUntilLoaded(false);
    ASSERT_NE(maker.made, nullptr);
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 2);
    EXPECT_NE(definition.texture, nullptr);
    maker.made.reset();
    EXPECT_EQ(ParticleSystem::LiveCount(), before + 1);
}

}  // namespace
