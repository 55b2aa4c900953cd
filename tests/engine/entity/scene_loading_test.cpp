// test-sanitize: address
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "EntityTestSupport.h"
#include "SceneFiles.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/entity/SceneGrid.h"

namespace {

using scenefiles::kParamsTemplate;
using scenefiles::kPlainTemplate;

std::vector<std::string> gPostLoaded;
std::vector<uint32_t> gTransitions;
int gSequenceReads = 0;

struct HookedEntity : Entity {
    void OnPostLoad() override { gPostLoaded.push_back(GetName()); }
};
struct HookedTemplate : EntityTemplate {
    Entity* CreateEntity() override { return new HookedEntity(); }
};

const std::string kG1 = "00000000-0000-0000-0000-000000000001";
const std::string kG2 = "00000000-0000-0000-0000-000000000002";
const std::string kG3 = "00000000-0000-0000-0000-000000000003";
const std::string kS1 = "00000000-0000-0000-0000-0000000000F1";

std::string Scene(const std::string& active, const std::string& grid, const std::string& extra = "") {
    return "{\"root\":{\"active\":\"" + active + "\",\"universe_min_y\":-7.5},\"entities\":["
           "{\"template\":\"" + kPlainTemplate + "\",\"name\":\"child\",\"guid\":\"" + kG1 + "\",\"parent\":\"" + kG2 +
           "\"},"
           "{\"template\":\"00000000-0000-0000-0000-0000000000EE\",\"name\":\"lost\",\"guid\":\"" + kG3 + "\"},"
           "{\"template\":\"" + kPlainTemplate + "\",\"name\":\"parent\",\"guid\":\"" + kG2 + "\",\"pos\":[4,0,2]},"
           "{\"template\":\"" + std::string(kParamsTemplate) + "\",\"name\":\"params\",\"guid\":\"" + kG3 + "\"}" +
           extra + "],\"sets\":[{\"name\":\"Pair\",\"guid\":\"" + kS1 + "\",\"members\":[\"" + kG2 + "\",\"" + kG1 +
           "\"]}],\"layers\":[{\"name\":\"Default\",\"guid\":\"" + std::string(32, '1') +
           "\",\"id\":1},{\"name\":\"Walls\",\"guid\":\"" + std::string(32, '2') +
           "\",\"id\":2,\"visible_in_game\":false}]" + grid + ",\"sequence\":\"0102\"}";
}
const std::string kGrid = ",\"grid\":{\"width\":4,\"height\":3,\"origin\":[10,0,20,1],\"cell\":2.0}";

class SceneLoadingTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        gPostLoaded.clear();
        gTransitions.clear();
        gSequenceReads = 0;
        plainTemplate.SetName("plain");
        paramsTemplate.SetName("params");
        gEngineServices.sceneParametersStartTransition = [](EntityTemplate*, uint32_t flags, float) {
            gTransitions.push_back(flags);
        };
        gEngineServices.sequenceSystemReadProperties = [](BoundedReader& in) {
            ++gSequenceReads;
            return in.Read(nullptr, 2);
        };
    }
    void TearDown() override {
        gEntityManager->NewScene();
        EntityTest::TearDown();
    }
    bool Parse(const std::vector<uint8_t>& bytes, uint32_t parseFlags) {
        log.Clear();
        gEntityManager->NewScene();
        return ParseBinaryScene(bytes.data(), bytes.size(), parseFlags, 0);
    }
    uint32_t Count(const char* text) {
        uint32_t n = 0;
        for (const auto& m : log.Messages()) n += m.text.find(text) != std::string::npos;
        return n;
    }

    HookedTemplate plainTemplate;
    scenefiles::ParamsTemplate paramsTemplate;
    scenefiles::RegisteredTemplate plain{&plainTemplate, kPlainTemplate, 0};
    scenefiles::RegisteredTemplate params{&paramsTemplate, kParamsTemplate, ENTITY_SCENEPARAMBOX};
};

TEST_F(SceneLoadingTest, LoadsAWholeScene) {
    const std::vector<uint8_t> bytes = scenefiles::Write(Scene(kG3, kGrid));
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(Parse(bytes, SCENEPARSE_INSTALL_GRID | SCENEPARSE_SEQUENCES));
    EXPECT_EQ(Count("Unable to find template! Certain objects will be lost! Template GUID: "
                    "00000000-0000-0000-0000-0000000000EE"),
              1u);
    Entity* child = gEntityManager->FindEntityByName("child");
    Entity* parent = gEntityManager->FindEntityByName("parent");
    ASSERT_TRUE(child && parent);
    EXPECT_EQ(child->GetParent(), parent);  // a forward reference
    ASSERT_EQ(parent->GetChildrenCount(), 1u);
    EXPECT_EQ(child->GetGlobalPosition().x, 4.0f);
    EXPECT_EQ(gEntityManager->FindEntityByName("lost"), nullptr);
    EXPECT_EQ(gPostLoaded, (std::vector<std::string>{"child", "parent"}));
    EXPECT_EQ(gEntityManager->GetWorldBounds().min.y, -7.5f);

    EntitySet* set = gEntityManager->FindEntitySetByName("pair");
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->MemberCount(), 2u);
    EXPECT_EQ(set->Member(0), parent);
    EXPECT_EQ(set->Member(1), child);
    EXPECT_GE(child->EntitySets().Find(set), 0);

    EntityLayer* walls = gEntityManager->GetLayerSystem()->FindLayerByName("Walls");
    ASSERT_NE(walls, nullptr);
    EXPECT_FALSE(walls->visibleInGame);
    EXPECT_EQ(gTransitions, (std::vector<uint32_t>{SceneParametersEntity::kFromScene}));
    EXPECT_NE(gEntityManager->GetActiveSceneParamsEntity(), nullptr);

    const SceneGrid* grid = gEntityManager->GetSceneGrid();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->Width() * 100 + grid->Height(), 403u);
    const struct {
        float x, z;
        uint32_t cell;
    } cells[] = {{10, 20, 0},          {9, 19, 0},           {7.1f, 20, 0},        {7, 20, SceneGrid::kNoCell},
                 {12.9f, 24.9f, 1 | 2u << 16}, {16.9f, 20, 3}, {17, 20, SceneGrid::kNoCell}, {10, 25, SceneGrid::kNoCell},
                 {NAN, 20, SceneGrid::kNoCell}, {1e30f, 20, SceneGrid::kNoCell}};
    for (const auto& c : cells) EXPECT_EQ(grid->WorldToCell(Vector(c.x, 0, c.z, 1)), c.cell) << c.x << " " << c.z;
    EXPECT_EQ(grid->CellToWorld(1 | 2u << 16), Vector(12, 0, 24, 1));
    EXPECT_EQ(gSequenceReads, 1);
}

TEST_F(SceneLoadingTest, ParseFlagsDecideGridAndSequences) {
    // Grid width afterwards: -1 none, 0 the grid installed before, 4 the file's.
    const struct {
        bool grid;
        uint32_t flags;
        int width;
        int sequences;
    } cases[] = {{true, 0, 0, 0}, {true, 1, 4, 0}, {true, 2, 0, 1}, {true, 3, 4, 1}, {false, 1, -1, 0}, {false, 2, 0, 1}};
    const std::vector<uint8_t> with = scenefiles::Write(Scene(kG1, kGrid));
    const std::vector<uint8_t> without = scenefiles::Write(Scene(kG1, ""));
    for (const auto& c : cases) {
        gSequenceReads = 0;
        gTransitions.clear();
        gEntityManager->SetSceneGrid(new SceneGrid());
        const std::vector<uint8_t>& bytes = c.grid ? with : without;
        ASSERT_TRUE(ParseBinaryScene(bytes.data(), bytes.size(), c.flags, 0));
        const SceneGrid* grid = gEntityManager->GetSceneGrid();
        EXPECT_EQ(grid ? int(grid->Width()) : -1, c.width) << c.flags << c.grid;
        EXPECT_EQ(gSequenceReads, c.sequences) << c.flags;
        EXPECT_TRUE(gTransitions.empty());  // the active GUID names a plain entity
        gEntityManager->NewScene();
    }
}

TEST_F(SceneLoadingTest, PrefixesAndCorruptionsFailCleanly) {
    const std::vector<uint8_t> bytes = scenefiles::Write(Scene(kG3, kGrid));
    ASSERT_FALSE(bytes.empty());
    for (size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
        EXPECT_FALSE(Parse(prefix, 3)) << n;
        // Whatever was created ran its post-load hook.
        for (const char* name : {"child", "parent"}) {
            if (gEntityManager->FindEntityByName(name)) {
                EXPECT_NE(std::find(gPostLoaded.begin(), gPostLoaded.end(), name), gPostLoaded.end()) << n;
            }
        }
        gPostLoaded.clear();
    }

    // Records whose property lists end early: each entity is dropped with one line and
    // the next record starts after the stated bytes. One names its GUID before the list
    // ends; an entity naming it as parent stays in the scene under the root.
    const std::string kG4 = "00000000-0000-0000-0000-000000000004";
    const std::string shortRecords = ",{\"template\":\"" + std::string(kPlainTemplate) + "\",\"raw\":\"0000\"}" +
                                     ",{\"template\":\"" + std::string(kPlainTemplate) + "\",\"raw\":\"0000000000" + "04" +
                                     std::string(30, '0') + "\"}" + ",{\"template\":\"" + std::string(kPlainTemplate) +
                                     "\",\"name\":\"orphan\",\"parent\":\"" + kG4 + "\"}";
    const std::vector<uint8_t> dropped = scenefiles::Write(Scene(kG3, kGrid, shortRecords));
    ASSERT_TRUE(Parse(dropped, 3));
    EXPECT_EQ(Count("unreadable property list"), 2u);
    EXPECT_EQ(gEntityManager->GetLiveEntityCount(), 5u);  // root, child, parent, params, orphan
    Entity* orphan = gEntityManager->FindEntityByName("orphan");
    ASSERT_NE(orphan, nullptr);
    EXPECT_EQ(orphan->GetParent(), Root());
    EXPECT_NE(gEntityManager->GetSceneGrid(), nullptr);

    // Counts, sizes and grid sides altered in place.
    const auto patch = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> b = bytes;
        std::memcpy(b.data() + at, &value, 4);
        return b;
    };
    const size_t count = 4 + 16 + 2 + 4 + 1 + 4 + 3 * 16;  // after the root properties
    const size_t gridAt = bytes.size() - 4 - 2 - (36 + 12);
    const struct {
        size_t at;
        uint32_t value;
        bool ok;
    } cases[] = {{count, 0xFFFFFFFF, false}, {count + 4 + 16, 0x7FFFFFFF, false}, {count + 4 + 16, 3, false},
                 {gridAt + 8, 70000, false},  {gridAt + 12, 0x10000, false},   {gridAt + 8, 0, true},
                 {gridAt, 0, true}};
    for (const auto& c : cases) {
        ASSERT_LT(c.at + 4, bytes.size());
        EXPECT_EQ(Parse(patch(c.at, c.value), 1), c.ok) << c.at << " " << c.value;
    }
    // A grid whose sides do not fit leaves no grid installed.
    Parse(patch(gridAt + 8, 70000), 1);
    EXPECT_EQ(gEntityManager->GetSceneGrid(), nullptr);
    EXPECT_EQ(Count("does not fit"), 1u);
}

TEST_F(SceneLoadingTest, StatedParentLoopsAreRefused) {
    const std::string loop = "{\"entities\":[{\"template\":\"" + std::string(kPlainTemplate) +
                             "\",\"name\":\"a\",\"guid\":\"" + kG1 + "\",\"parent\":\"" + kG2 +
                             "\"},{\"template\":\"" + std::string(kPlainTemplate) + "\",\"name\":\"b\",\"guid\":\"" +
                             kG2 + "\",\"parent\":\"" + kG1 + "\"}],\"sets\":[{\"name\":\"A\",\"guid\":\"" + kS1 +
                             "\",\"members\":[\"" + kG1 + "\"]}]}";
    const std::vector<uint8_t> bytes = scenefiles::Write(loop);
    ASSERT_TRUE(Parse(bytes, 0));
    Entity* a = gEntityManager->FindEntityByName("a");
    Entity* b = gEntityManager->FindEntityByName("b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->GetParent(), b);
    EXPECT_EQ(b->GetParent(), Root());
    EXPECT_EQ(Root()->GetChildrenCount() + b->GetChildrenCount(), 2u);
    gEntityManager->DestroyEntity(b);  // takes a along, leaving nothing dangling
    EXPECT_EQ(gEntityManager->FindEntityByName("a"), nullptr);

    // Under a pass the caller opened, parents and sets are linked when the caller resolves.
    ASSERT_TRUE(EntityPointerFixups::Begin());
    gEntityManager->NewScene();
    ParseBinaryScene(bytes.data(), bytes.size(), 0, 0);
    EntityPointerFixups::Resolve();
    a = gEntityManager->FindEntityByName("a");
    b = gEntityManager->FindEntityByName("b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->GetParent(), b);
    EXPECT_EQ(b->GetChildrenCount(), 1u);
    EXPECT_EQ(Root()->GetChildrenCount(), 1u);
    EXPECT_EQ(a->EntitySets().Count(), 1u);  // the set's members know it
}

TEST_F(SceneLoadingTest, GridBlocksAndMissingFiles) {
    uint8_t block[40] = {};
    const uint32_t header[4] = {SceneGrid::kMagic, SceneGrid::kVersion, 0, 5};
    std::memcpy(block, header, sizeof header);
    SceneGrid grid;
    EXPECT_EQ(grid.Read(block, 36, true), 36u);  // width 0
    EXPECT_EQ(grid.WorldToCell(Vector(0, 0, 0, 1)), SceneGrid::kNoCell);
    block[4] = 2;
    EXPECT_EQ(grid.Read(block, 40, true), 0u);   // wrong version, checked
    EXPECT_EQ(grid.Read(block, 40, false), 36u);  // not checked
    EXPECT_EQ(grid.Read(block, 35, false), 0u);
    LoadBinaryScene("nothing_here", "scenes", 3, 0);
    EXPECT_EQ(Count("Unable to open file for reading (scenes/nothing_here)"), 1u);
}

}  // namespace
