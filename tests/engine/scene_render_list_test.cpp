// The scene render list: the frustum gather against brute force over every entity, and
// the submission's task sequence on a running renderer.
// test-sanitize: thread address
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <set>

#include "entity/EntityTestSupport.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/EntityLayers.h"
#include "engine/SceneRenderList.h"
#include "platform/window/Window.h"
#include "render/VornexRenderer.h"

namespace {

class SceneRenderListTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        ASSERT_NE(gSceneRenderList, nullptr) << "made by the engine's start-up table";
        gSceneRenderList->Reset();
    }
    void TearDown() override {
        gSceneRenderList->Reset();
        EntityTest::TearDown();
    }
    // Entities of random boxes (some spanning many cells), flags, view visibility and
    // detail levels over the grid.
    std::vector<Entity*> Scene(std::mt19937& rng, int count) {
        std::uniform_real_distribution<float> pos(-95, 95), up(-10, 10), size(0.2f, 6), big(10, 40);
        EntityTemplate* detail[6];
        for (uint8_t q = 0; q < 6; ++q) (detail[q] = Template(0, "detail"))->minimumQualityLevel = q;
        std::vector<Entity*> all;
        for (int i = 0; i < count; ++i) {
            Entity* e = Make(nullptr, 0, detail[rng() % 6]);
            const float s = i % 10 == 0 ? big(rng) : size(rng);
            e->SetLocalBoundingBox(BoundingBox4(Vector(-s, -1, -size(rng), 1), Vector(size(rng), 1, s, 1)));
            e->SetLocalRotation3(0, float(rng() % 360), 0);
            e->SetGlobalPosition3(pos(rng), up(rng), pos(rng));
            const uint32_t roll = rng() % 10;
            if (roll == 0) e->RaiseFlag(ENTITYFLAG_HIDDEN, false);
            if (roll == 1) e->RaiseFlag(0x2, false);  // left out by option bit 4 only
            e->SetVisibleInCombatView(rng() % 4 != 0);
            e->SetVisibleInTacticalView(rng() % 4 != 0);
            all.push_back(e);
        }
        return all;
    }
    static void RandomCamera(std::mt19937& rng, bool singular = false) {
        std::uniform_real_distribution<float> pos(-120, 120), height(5, 80), fov(20, 90);
        Matrix view, projection;
        view.LoadLookAtLH(Vector(pos(rng), height(rng), pos(rng), 1), Vector(pos(rng) * 0.5f, 0, pos(rng) * 0.5f, 1),
                          Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(fov(rng), 1.5f, 1.0f, 150.0f + float(rng() % 200));
        if (singular) projection = Matrix::ZERO;
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    // Whether an entity's layer is drawn: a layer id without a layer counts as visible
    // and not frozen.
    static bool LayerShown(uint8_t id, uint32_t options) {
        const EntityLayer* l = EntityLayerSystem::LayerById(id);
        if (!l) return true;
        if (!(options & 8 ? l->visible : l->visibleInGame)) return false;
        return !(options & 16) || !l->frozen;
    }
    static std::set<Entity*> BruteForce(const std::vector<Entity*>& all, uint32_t options, uint32_t exclude) {
        Frustum f;
        std::copy(gVornexRenderer.FrustumPlanes(), gVornexRenderer.FrustumPlanes() + 6, f.planes);
        const uint32_t excluded = options & 16 ? 0x800012u : 0x10u;
        const uint32_t limit = options & 8 ? 5 : gVornexRenderer.QualityLevel();
        std::set<Entity*> s;
        for (Entity* e : all)
            if (!(e->GetFlags() & excluded) && !(e->GetBlockRenderingMask() & exclude) &&
                e->GetMinimumQualityLevel() <= limit && LayerShown(e->GetLayer(), options) &&
                e->GetLocalBoundingBox().IntersectsFrustumTransformed(f, e->GetGlobalLocationMatrix()))
                s.insert(e);
        return s;
    }
};

// Entities on layers of every word of the mask (ids 0 and 255 included, some ids without
// a layer); each round switches the layers' visible, in-game and frozen flags at random.
TEST_F(SceneRenderListTest, BuildGathersWhatBruteForceFindsEachOnce) {
    std::mt19937 rng(3109);
    const auto all = Scene(rng, 600);
    const uint8_t ids[] = {0, 1, 31, 32, 63, 64, 100, 150, 200, 255, 77};
    std::vector<std::unique_ptr<EntityLayer>> layers;
    for (uint8_t id : ids) {
        if (id == 0 || id == 77 || EntityLayerSystem::LayerById(id)) continue;  // 77 stays without a layer
        layers.push_back(std::make_unique<EntityLayer>());
        layers.back()->SetId(id);
    }
    for (Entity* e : all) e->SetLayer(ids[rng() % std::size(ids)]);
    size_t total = 0;
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        RandomCamera(rng);
        for (auto& l : layers) {
            const uint32_t roll = round == 0 ? 0 : rng() % 8;  // all shown in the first round
            l->visible = roll != 1 && roll != 4;
            l->visibleInGame = roll != 2 && roll != 4;
            l->frozen = roll == 3 || roll == 5;
        }
        // The configured detail limit, every level (option bit 3 uses 5 whatever it is).
        gVornexRenderer.Settings().gfxQualityLevel = uint32_t(round % 6);
        for (uint32_t options : {0u, 8u, 16u, 24u}) {
            const uint32_t exclude = rng() % 4;
            gSceneRenderList->Build(options, exclude);
            const std::vector<Entity*>& got = gSceneRenderList->Gathered();
            const std::set<Entity*> unique(got.begin(), got.end());
            EXPECT_EQ(unique.size(), got.size()) << "an entity gathered twice";
            EXPECT_EQ(unique, BruteForce(all, options, exclude)) << "options " << options;
            total += got.size();
        }
    }
    gVornexRenderer.Settings().gfxQualityLevel = 3;
    EXPECT_GT(total, 1000u) << "the cameras saw too little to test anything";
}

TEST_F(SceneRenderListTest, ASingularCameraGathersNothing) {
    std::mt19937 rng(5);
    Scene(rng, 200);
    RandomCamera(rng);
    gSceneRenderList->Build(8, 0);
    EXPECT_FALSE(gSceneRenderList->Gathered().empty());
    RandomCamera(rng, true);
    gSceneRenderList->Build(8, 0);
    EXPECT_TRUE(gSceneRenderList->Gathered().empty());
}

// On a running renderer: the main pass is 48, one 69 per entity not set aside, 49; the
// late pass posts nothing without set-aside entities, else 48, 69 ..., 49.
class SceneSubmissionTest : public SceneRenderListTest {
protected:
    void SetUp() override {
        SceneRenderListTest::SetUp();
        wnd::ResetWindowLayer();
        wnd::WindowDesc desc;
        desc.className = "SceneListTest";
        desc.style = wnd::kStylePopup;
        desc.width = 64;
        desc.height = 64;
        ASSERT_TRUE(gVornexRenderer.Start(wnd::CreateWindow(desc), 0));
        gVornexRenderer.SetTaskObserver([](void* user, uint32_t id) {
            if (id > TASK_END_OF_BLOCK_WAIT) static_cast<std::vector<uint32_t>*>(user)->push_back(id);
        }, &tasks);
    }
    void TearDown() override {
        gVornexRenderer.FlushCommands(true);
        gVornexRenderer.SetTaskObserver(nullptr, nullptr);
        gVornexRenderer.Stop();
        wnd::ResetWindowLayer();
        SceneRenderListTest::TearDown();
    }
    std::vector<uint32_t> Flushed() {
        gVornexRenderer.FlushCommands(true);
        std::vector<uint32_t> out;
        out.swap(tasks);
        return out;
    }
    std::vector<uint32_t> tasks;  // filled on the render thread, read after a flush
};

// Entities without a rendering context post no task 69 themselves: which were submitted
// shows in their last submitted frame.
uint32_t gFrame = 0;

// Task 49's payload as the main thread wrote it: the last record of the open block, read
// before the flush hands the block to the render thread.
struct PassRecord {
    float colour[4];
    uint32_t flags;
    uint8_t clear;
    bool operator==(const PassRecord& o) const {
        return std::memcmp(colour, o.colour, sizeof colour) == 0 && flags == o.flags && clear == o.clear;
    }
};
std::ostream& operator<<(std::ostream& os, const PassRecord& p) {
    return os << "(" << p.colour[0] << ", " << p.colour[1] << ", " << p.colour[2] << ", " << p.colour[3] << ") flags 0x"
              << std::hex << p.flags << std::dec << " clear " << int(p.clear);
}
PassRecord LastPassRecord() {
    const uint8_t* end = gVornexRenderer.Ring().Cursor();
    PassRecord p{};
    std::memcpy(p.colour, end - 21, 16);
    std::memcpy(&p.flags, end - 5, 4);
    p.clear = end[-1];
    uint32_t id = 0;
    std::memcpy(&id, end - 25, 4);
    EXPECT_EQ(id, uint32_t(TASK_RENDER_PASSES)) << "the last record is task 49";
    return p;
}

size_t SubmittedIn(const std::vector<Entity*>& entities, uint32_t frame) {
    return size_t(std::count_if(entities.begin(), entities.end(),
                                [frame](Entity* e) { return e->GetLastSubmittedFrame() == frame; }));
}

TEST_F(SceneSubmissionTest, MainAndLatePassesPostTheirTasks) {
    static struct : GameServices {
        uint32_t TickedFrameCount() const override { return gFrame; }
    } game;
    SetGameServices(&game);
    std::mt19937 rng(48);
    const auto all = Scene(rng, 300);
    RandomCamera(rng);
    gSceneRenderList->Build(8, 0);
    const std::vector<Entity*> seen = gSceneRenderList->Gathered();
    ASSERT_GT(seen.size(), 3u);
    Flushed();
    gFrame = 1;
    gSceneRenderList->GatherEntity(0x40, 2 | 4, 1, Vector(0.25f, 0.5f, 0.75f, 1));
    EXPECT_EQ(LastPassRecord(), (PassRecord{{0.25f, 0.5f, 0.75f, 1}, 0x40 | 0x1000 | 0x2000, 1}))
        << "task 49: the clear colour, the flags with both helper bits, the clear byte";
    EXPECT_EQ(gProfiler.Counter(PROFILE_VISIBLE_ENTITIES).value, float(seen.size()));
    EXPECT_EQ(Flushed(), (std::vector<uint32_t>{TASK_RESET_FRAME_GATHER, TASK_RENDER_PASSES}));
    EXPECT_EQ(SubmittedIn(all, 1), seen.size()) << "every gathered entity, and only those";
    EXPECT_EQ(SubmittedIn(seen, 1), seen.size());
    gFrame = 2;
    gSceneRenderList->Submit(0);
    EXPECT_TRUE(Flushed().empty()) << "no late pass without set-aside entities";

    // Two entities set aside for the late pass.
    gSceneRenderList->Reset();
    seen[0]->RaiseFlag(SceneRenderList::kLatePassEntityFlag, false);
    seen[1]->RaiseFlag(SceneRenderList::kLatePassEntityFlag, false);
    gSceneRenderList->Build(8, 0);
    gFrame = 3;
    gSceneRenderList->GatherEntity(0, 0, 1, Vector(0, 0, 0, 0));
    Flushed();
    EXPECT_EQ(SubmittedIn(all, 3), seen.size() - 2);
    gFrame = 4;
    gSceneRenderList->Submit(0x40);
    EXPECT_EQ(LastPassRecord(), (PassRecord{{0, 0, 0, 0}, 0x40 | 0x38000, 0})) << "the late pass never clears";
    EXPECT_EQ(Flushed(), (std::vector<uint32_t>{TASK_RESET_FRAME_GATHER, TASK_RENDER_PASSES}));
    EXPECT_EQ(SubmittedIn(all, 4), 2u);
    EXPECT_EQ(seen[0]->GetLastSubmittedFrame(), 4u);
}

}  // namespace
