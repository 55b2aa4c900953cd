// The render-side scene grid and the rendering contexts listed in it: cell counts and
// bounds against an independent calculation, task 7, job passes during a rebuild, and
// contexts moved, flagged and destroyed through the real render thread, checked against
// a brute-force overlap of boxes and cells.
// test-sanitize: thread address
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>

#include "../RenderTestSupport.h"
#include "SceneTestSupport.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/scene/RenderSceneGrid.h"

namespace {

using scenetest::Reference;

TEST(RenderSceneGridTest, CellsMatchTheReferenceForSeveralBoxesAndSizes) {
    struct Case {
        BoundingBox4 box;
        float size;
    } cases[] = {
        {{{0, 0, 0, 1}, {10, 5, 7.4f, 1}}, 2.5f},
        {{{-33.3f, -2, 12.7f, 1}, {41.9f, 9, 80.05f, 1}}, 3.7f},
        {{{-1, 0, -1, 1}, {1, 1, 1, 1}}, 0.3f},
        {{{5, 0, 5, 1}, {6, 1, 6, 1}}, 4.0f},  // 0.25 + 0.5 truncates to 0: no cells
        {{{0, 0, 0, 1}, {10, 1, 10, 1}}, 0.0f},
        {{{0, 0, 0, 1}, {10, 1, 10, 1}}, -2.0f},
    };
    for (const Case& c : cases) {
        char args[256];
        std::snprintf(args, sizeof args, "grid %.9g %.9g %.9g %.9g %.9g %.9g %.9g", c.box.min.x, c.box.min.y,
                      c.box.min.z, c.box.max.x, c.box.max.y, c.box.max.z, c.size);
        std::istringstream expected(Reference(args));
        uint32_t columns = 0, rows = 0;
        if (!(expected >> columns >> rows)) GTEST_SKIP() << "python3 not available";
        RenderSceneGrid grid;
        grid.Rebuild(c.box, c.size);
        ASSERT_EQ(grid.ColumnCount(), columns) << args;
        ASSERT_EQ(grid.RowCount(), rows) << args;
        for (uint32_t i = 0; i < columns; ++i)
            for (uint32_t j = 0; j < rows; ++j) {
                const RenderSceneCell& c = grid.Cell(i, j);
                for (float v : {c.bounds.min.x, c.bounds.min.y, c.bounds.min.z, c.bounds.max.x, c.bounds.max.y,
                                c.bounds.max.z, c.value}) {
                    float e = NAN;
                    expected >> e;
                    EXPECT_EQ(v, e) << args << " cell " << i << "," << j;
                }
            }
    }
}

TEST(RenderSceneGridTest, ValuesRangesJobPassesAndUnusableInput) {
    RenderSceneGrid grid;
    grid.Rebuild({{0, 0, 0, 1}, {40, 1, 30, 1}}, 10.0f);  // 4 x 3
    grid.SetValue(7.5f);
    for (uint32_t i = 0; i < grid.CellCount(); ++i) EXPECT_EQ(grid.Cell(i / 3, i % 3).value, 7.5f);

    struct RangeCase {
        BoundingBox4 box;
        RenderSceneCellRange range;
    } ranges[] = {
        {{{1, 0, 1, 1}, {2, 0, 2, 1}}, {0, 0, 1, 1}},
        {{{9, 0, 19, 1}, {10, 0, 20, 1}}, {0, 1, 2, 3}},       // a box on a cell edge covers both
        {{{-50, 0, -50, 1}, {500, 0, 500, 1}}, {0, 0, 4, 3}},  // clamped
        {{{100, 0, 1, 1}, {200, 0, 2, 1}}, {4, 0, 4, 1}},      // beyond the grid: empty
        {{{NAN, 0, 1, 1}, {2, 0, 2, 1}}, {}},
        {{{1, 0, 1, 1}, {INFINITY, 0, 2, 1}}, {}},
    };
    for (const RangeCase& c : ranges) EXPECT_EQ(grid.GetCellRange(c.box), c.range) << c.box.min.x;

    // While freeing 12 cells, the pass between runs after cells 8 (once).
    uint32_t passes = 0;
    grid.Rebuild(
        {{0, 0, 0, 1}, {80, 1, 80, 1}}, 10.0f, [](void* n) { ++*static_cast<uint32_t*>(n); }, &passes);
    EXPECT_EQ(passes, 1u);
    grid.Rebuild(
        {{0, 0, 0, 1}, {10, 1, 10, 1}}, 1.0f, [](void* n) { ++*static_cast<uint32_t*>(n); }, &passes);
    EXPECT_EQ(passes, 1u + 64u / 8u);

    for (float size : {0.0f, -1.0f, NAN}) {
        grid.Rebuild({{0, 0, 0, 1}, {10, 1, 10, 1}}, size);
        EXPECT_EQ(grid.CellCount(), 0u);
        EXPECT_EQ(grid.GetCellRange({{1, 0, 1, 1}, {2, 0, 2, 1}}), RenderSceneCellRange{});
    }
    grid.Rebuild({{0, 0, 0, 1}, {1e30f, 1, 10, 1}}, 1.0f);  // far too many cells
    EXPECT_EQ(grid.CellCount(), 0u);
}

// ---------------------------------------------------------------------------------------
// Contexts through the render thread.

struct CountingContext : EntityRenderingContext {
    using EntityRenderingContext::EntityRenderingContext;
    void OnRefreshed() override { ++refreshes; }
    void Draw(void*, const Matrix& m, const void*) override { drawn = m; }
    uint32_t refreshes = 0;
    Matrix drawn = Matrix::ZERO;
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
        EntityRenderingContextSetup s;
        s.owner = this;
        s.hasEntity = true;
        s.creationFlags = flags;
        s.localBox = {{-1, -1, -1, 1}, {1, 1, 1, 1}};
        return new CountingContext(s);
    }

    static Matrix At(float x, float z, float scale = 1.0f) {
        Matrix m;
        m.LoadScale(scale, scale, scale);
        m.r[3] = Vector(x, 0, z, 1);
        return m;
    }

    // Every cell list against a brute-force overlap of the live contexts' world boxes.
    void ExpectListsMatch(const std::map<CountingContext*, Matrix>& live) {
        gVornexRenderer.FlushCommands(true);
        const RenderSceneGrid& grid = *gVornexRenderer.SceneGrid();
        for (uint32_t i = 0; i < grid.ColumnCount(); ++i)
            for (uint32_t j = 0; j < grid.RowCount(); ++j) {
                std::vector<EntityRenderingContext*> expected, actual;
                for (const auto& [c, m] : live) {
                    if (c->CreationFlags() & ERC_FLAG_NO_GRID) continue;
                    const float half = m.r[0].x;  // uniform scale of the unit box
                    const float cx = m.r[3].x, cz = m.r[3].z;
                    // Half-open cells: a box covers cell i when floor(min) <= i < floor(max) + 1.
                    const bool x = std::floor((cx - half - kSceneBox.min.x) / kCell) <= i &&
                                   i < std::floor((cx + half - kSceneBox.min.x) / kCell) + 1;
                    const bool z = std::floor((cz - half - kSceneBox.min.z) / kCell) <= j &&
                                   j < std::floor((cz + half - kSceneBox.min.z) / kCell) + 1;
                    if (x && z) expected.push_back(c);
                }
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
    std::map<CountingContext*, Matrix> live;
    for (int round = 0; round < 6; ++round) {
        for (int k = 0; k < 20; ++k) {
            CountingContext* c = Make(random() % 5 == 0 ? uint32_t(ERC_FLAG_NO_GRID) : 0u);
            live[c] = Matrix::IDENTITY;
        }
        for (auto& [c, m] : live) {
            m = At(position(random), position(random), scale(random));
            Matrix inverse;
            inverse.Inverse(m);
            c->PostTransform(m, inverse, 1, c->LocalBox());
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
    for (auto& [c, m] : live) c->Release();
    ExpectListsMatch({});
}

TEST_F(ContextTest, OpsApplyInStreamOrder) {
    CountingContext* c = Make();
    c->PostTransform(At(1, 1), Matrix::IDENTITY, 1, c->LocalBox());
    gVornexRenderer.FlushCommands(true);
    const RenderSceneCellRange range = c->CellRange();
    const uint32_t refreshes = c->refreshes;

    // A move within the same cells keeps the range and refreshes once.
    c->PostTransform(At(2, 2), Matrix::IDENTITY, 1, c->LocalBox());
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
    c->PostTransform(At(NAN, 1), Matrix::IDENTITY, 1, c->LocalBox());
    ExpectListsMatch({});
    EXPECT_EQ(c->CellRange(), RenderSceneCellRange{});

    // A release after a move sees the move and leaves no list entry.
    c->PostTransform(At(-35, -25), Matrix::IDENTITY, 1, c->LocalBox());
    c->Release();
    ExpectListsMatch({});
}

TEST_F(ContextTest, RenderDrawsWithTheWorldOrTheAlignedMatrix) {
    Matrix view;
    view.LoadLookAtLH(Vector(30, 20, -40, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
    gVornexRenderer.SetCamera(view, Matrix::IDENTITY, Matrix::IDENTITY);
    CountingContext* c = Make();
    Matrix world;
    world.LoadComplexTransformation(Vector(3, 1, -2, 1), Vector(10, 20, 30, 1), Vector(2, 2, 2, 1));
    c->PostTransform(world, Matrix::IDENTITY, 1, c->LocalBox());
    for (uint32_t mode = 0; mode <= 8; ++mode) {
        c->PostSetAlignment(mode, 0.25f);
        Matrix drawn;
        rendertest::RunOnRenderThread([&] {
            c->Render(nullptr, nullptr);
            drawn = c->drawn;
        });
        Matrix expected = world;
        if (mode != 0) {
            Matrix camera;
            camera.Inverse(view);
            expected.LoadAlignedToTarget(world, mode, camera, 0.25f);
        }
        EXPECT_TRUE(drawn == expected) << "mode " << mode;
    }
    c->Release();
}

}  // namespace
