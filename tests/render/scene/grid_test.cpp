// The scene grid against a reference, and contexts moved through it on the render thread.
// test-sanitize: thread address
#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "SceneTestSupport.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RenderSceneGrid.h"

namespace {

TEST(RenderSceneGridTest, CellsMatchTheReferenceForSeveralBoxesAndSizes) {
    const std::pair<BoundingBox4, float> cases[] = {
        {{{0, 0, 0, 1}, {10, 5, 7.4f, 1}}, 2.5f},
        {{{-33.3f, -2, 12.7f, 1}, {41.9f, 9, 80.05f, 1}}, 3.7f},
        {{{-1, 0, -1, 1}, {1, 1, 1, 1}}, 0.3f},
        {{{5, 0, 5, 1}, {6, 1, 6, 1}}, 4.0f},  // 0.25 + 0.5 truncates to 0: no cells
        {{{0, 0, 0, 1}, {10, 1, 10, 1}}, 0.0f},
        {{{0, 0, 0, 1}, {10, 1, 10, 1}}, -2.0f},
    };
    for (const auto& [box, size] : cases) {
        char args[256];
        std::snprintf(args, sizeof args, "grid %.9g %.9g %.9g %.9g %.9g %.9g %.9g", box.min.x, box.min.y, box.min.z,
                      box.max.x, box.max.y, box.max.z, size);
        std::istringstream expected(scenetest::Reference(args));
        uint32_t columns = 0, rows = 0;
        if (!(expected >> columns >> rows)) GTEST_SKIP() << "python3 not available";
        RenderSceneGrid grid;
        grid.Rebuild(box, size);
        ASSERT_EQ(grid.ColumnCount(), columns) << args;
        ASSERT_EQ(grid.RowCount(), rows) << args;
        for (uint32_t i = 0; i < columns * rows; ++i) {
            const RenderSceneCell& c = grid.Cell(i / rows, i % rows);
            for (float v : {c.bounds.min.x, c.bounds.min.y, c.bounds.min.z, c.bounds.max.x, c.bounds.max.y,
                            c.bounds.max.z, c.value}) {
                float e = NAN;
                expected >> e;
                EXPECT_EQ(v, e) << args << " cell " << i;
            }
        }
    }
}

TEST(RenderSceneGridTest, ValuesRangesJobPassesAndUnusableInput) {
    RenderSceneGrid grid;
    grid.Rebuild({{0, 0, 0, 1}, {40, 1, 30, 1}}, 10.0f);  // 4 x 3
    grid.SetValue(7.5f);
    for (uint32_t i = 0; i < grid.CellCount(); ++i) EXPECT_EQ(grid.Cell(i / 3, i % 3).value, 7.5f);

    const std::pair<BoundingBox4, RenderSceneCellRange> ranges[] = {
        {{{1, 0, 1, 1}, {2, 0, 2, 1}}, {0, 0, 1, 1}},
        {{{9, 0, 19, 1}, {10, 0, 20, 1}}, {0, 1, 2, 3}},       // a box on a cell edge covers both
        {{{-50, 0, -50, 1}, {500, 0, 500, 1}}, {0, 0, 4, 3}},  // clamped
        {{{100, 0, 1, 1}, {200, 0, 2, 1}}, {4, 0, 4, 1}},      // beyond the grid: empty
        {{{NAN, 0, 1, 1}, {2, 0, 2, 1}}, {}},
        {{{1, 0, 1, 1}, {INFINITY, 0, 2, 1}}, {}},
    };
    for (const auto& [box, range] : ranges) EXPECT_EQ(grid.GetCellRange(box), range) << box.min.x;

    // Freeing 12 cells runs the pass between once (after cell 8), freeing 64 eight times.
    uint32_t passes = 0;
    auto count = [](void* n) { ++*static_cast<uint32_t*>(n); };
    grid.Rebuild({{0, 0, 0, 1}, {80, 1, 80, 1}}, 10.0f, count, &passes);
    EXPECT_EQ(passes, 1u);
    grid.Rebuild({{0, 0, 0, 1}, {10, 1, 10, 1}}, 1.0f, count, &passes);
    EXPECT_EQ(passes, 1u + 64u / 8u);

    // No cells for an unusable size, or far too many cells along one axis or in all.
    const std::pair<float, float> unusable[] = {{10, 0}, {10, -1}, {10, NAN}, {1e30f, 1}, {2048, 1}};
    for (const auto& [extent, size] : unusable) {
        grid.Rebuild({{0, 0, 0, 1}, {extent, 1, 2048, 1}}, size);
        EXPECT_EQ(grid.CellCount(), 0u) << extent << " " << size;
        EXPECT_EQ(grid.GetCellRange({{1, 0, 1, 1}, {2, 0, 2, 1}}), RenderSceneCellRange{});
    }
}


struct CountingContext : EntityRenderingContext {
    using EntityRenderingContext::EntityRenderingContext;
    void OnRefreshed() override { ++refreshes; }
    uint32_t refreshes = 0;
};

struct ContextTest : rendertest::RendererFixture {
    static constexpr float kCell = 10.0f;
    const BoundingBox4 kSceneBox{{-40, 0, -30, 1}, {40, 10, 30, 1}};  // 8 x 6 cells

    void SetUp() override {
        RendererFixture::SetUp();
        ASSERT_TRUE(created);
        gVornexRenderer.PostNewScene(kSceneBox, kCell);
    }
    CountingContext* Make(uint32_t flags = 0) {
        return new CountingContext(
            {.owner = this, .hasEntity = true, .creationFlags = flags, .localBox = {{-1, -1, -1, 1}, {1, 1, 1, 1}}});
    }
    void Move(CountingContext* c, float x, float z, float scale = 1.0f) {
        Matrix m;
        m.LoadScale(scale, scale, scale);
        m.r[3] = Vector(x, 0, z, 1);
        c->PostTransform(m, Matrix::IDENTITY, 1, c->LocalBox());
    }

    // Every cell list against a brute-force overlap of the live boxes (centre x, z, half size).
    void ExpectListsMatch(const std::map<CountingContext*, Vector>& live) {
        gVornexRenderer.FlushCommands(true);
        const RenderSceneGrid& grid = *gVornexRenderer.SceneGrid();
        // Half-open cells: a box covers cell i when floor(min) <= i < floor(max) + 1.
        auto covers = [&](float centre, float half, float origin, uint32_t i) {
            return std::floor((centre - half - origin) / kCell) <= i && i < std::floor((centre + half - origin) / kCell) + 1;
        };
        for (uint32_t i = 0; i < grid.ColumnCount(); ++i)
            for (uint32_t j = 0; j < grid.RowCount(); ++j) {
                std::vector<EntityRenderingContext*> expected, actual;
                for (const auto& [c, at] : live)
                    if (!(c->CreationFlags() & ERC_FLAG_NO_GRID) && covers(at.x, at.w, kSceneBox.min.x, i) &&
                        covers(at.z, at.w, kSceneBox.min.z, j))
                        expected.push_back(c);
                std::sort(expected.begin(), expected.end());
                for (const RenderSceneCellRecord& r : grid.Cell(i, j).contexts) {
                    EXPECT_EQ(r.owner, this);
                    actual.push_back(r.context);
                }
                EXPECT_EQ(actual, expected) << "cell " << i << "," << j;
            }
    }
};

TEST_F(ContextTest, RandomMovesFlagsAndDestructionsKeepTheCellListsExact) {
    std::mt19937 random(19);
    std::uniform_real_distribution<float> position(-55.0f, 55.0f), scale(0.5f, 14.0f);
    std::map<CountingContext*, Vector> live;
    for (int round = 0; round < 6; ++round) {
        for (int k = 0; k < 20; ++k) live[Make(random() % 5 == 0 ? uint32_t(ERC_FLAG_NO_GRID) : 0u)] = Vector();
        for (auto& [c, at] : live) {
            at = Vector(position(random), 0, position(random), scale(random));
            Move(c, at.x, at.z, at.w);
        }
        for (auto it = live.begin(); it != live.end();)
            if (random() % 4 == 0) {
                it->first->Release();
                it = live.erase(it);
            } else {
                ++it;
            }
        ExpectListsMatch(live);
    }
    for (auto& [c, at] : live) c->Release();
    ExpectListsMatch({});
}

TEST_F(ContextTest, OpsApplyInStreamOrder) {
    CountingContext* c = Make();
    Move(c, 1, 1);
    gVornexRenderer.FlushCommands(true);
    const RenderSceneCellRange range = c->CellRange();
    const uint32_t refreshes = c->refreshes;

    // A move within the same cells keeps the range and refreshes once.
    Move(c, 2, 2);
    c->PostFlagRaised();
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(c->CellRange(), range);
    EXPECT_EQ(c->refreshes, refreshes + 1);
    EXPECT_TRUE(c->Hidden());
    c->PostFlagCleared();
    c->PostSetBucket(11);
    gVornexRenderer.FlushCommands(true);
    EXPECT_FALSE(c->Hidden());

    // Op 12 is ignored and the stream goes on; op 1 with no context sets bucket 0.
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + 2 * sizeof(void*)));
    gVornexRenderer.Ring().WriteValue(RenderCallFunction(&EntityRenderingContext::Execute));
    gVornexRenderer.Ring().WriteValue(uintptr_t(12));
    gVornexRenderer.Ring().WriteValue(static_cast<EntityRenderingContext*>(c));
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(c->Bucket(), 11u);
    EXPECT_EQ(c->refreshes, refreshes + 1);
    c->PostRenderingParam(nullptr);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(c->Bucket(), 0u);

    // A box with a non-finite coordinate leaves every cell.
    Move(c, NAN, 1);
    ExpectListsMatch({});
    EXPECT_EQ(c->CellRange(), RenderSceneCellRange{});

    // A release after a move sees the move and leaves no list entry.
    Move(c, -35, -25);
    c->Release();
    ExpectListsMatch({});
}

struct DrawingContext : CountingContext {
    using CountingContext::CountingContext;
    void Draw(void*, const Matrix& world, const RenderTaskArguments&) override { draws.push_back(world); }
    std::vector<Matrix> draws;  // render thread; read after a flush
};

// A call record's function: the record's op travels as the argument, the context follows.
void RenderOnRenderThread(uint32_t, CommandRingBuffer& ring) {
    EntityRenderingContext* c = nullptr;
    if (ring.ReadValue(c) && c) c->Render(nullptr, RenderTaskArguments{});
}

// Rendering draws the context once: with its world matrix when it has no alignment (the
// default, mode 0), else with that matrix turned toward the camera.
TEST_F(ContextTest, RenderDrawsTheWorldMatrixOrTheAlignedOne) {
    for (uint32_t mode : {0u, 1u, 3u}) {
        auto* c = new DrawingContext({.owner = this, .hasEntity = true, .alignmentMode = mode,
                                      .alignmentWeight = 1.0f, .localBox = {{-1, -1, -1, 1}, {1, 1, 1, 1}}});
        Matrix world;
        world.LoadScale(2, 2, 2);
        world.r[3] = Vector(5, 0, 7, 1);
        c->PostTransform(world, Matrix::IDENTITY, 1, c->LocalBox());
        ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + 2 * sizeof(void*)));
        gVornexRenderer.Ring().WriteValue(RenderCallFunction(&RenderOnRenderThread));
        gVornexRenderer.Ring().WriteValue(uintptr_t(0));
        gVornexRenderer.Ring().WriteValue(static_cast<EntityRenderingContext*>(c));
        gVornexRenderer.FlushCommands(true);
        ASSERT_EQ(c->draws.size(), 1u) << mode;
        Matrix expected = world;
        if (mode) expected.LoadAlignedToTarget(world, mode, gVornexRenderer.CameraWorldMatrix(), 1.0f);
        for (int r = 0; r < 4; ++r) EXPECT_EQ(c->draws[0].r[r], expected.r[r]) << mode << " row " << r;
        c->Release();
    }
    gVornexRenderer.FlushCommands(true);
}

}  // namespace
