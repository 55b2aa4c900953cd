// test-sanitize: address
// test-sources: ../NumpyReference.cpp
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "EntityTestSupport.h"
#include "SceneFiles.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntitySet.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/NumpyReference.h"
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
    // Scene content that records transitions and reads a two-byte sequence block.
    struct RecordingScene : SceneContentServices {
        void StartSceneParametersTransition(EntityTemplate*, uint32_t flags, float) override {
            gTransitions.push_back(flags);
        }
        bool ReadSequenceProperties(BoundedReader& in) override {
            ++gSequenceReads;
            return in.Read(nullptr, 2);
        }
    } scene;

    void SetUp() override {
        EntityTest::SetUp();
        gPostLoaded.clear();
        gTransitions.clear();
        gSequenceReads = 0;
        plainTemplate.SetName("plain");
        paramsTemplate.SetName("params");
        SetSceneContentServices(&scene);
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

// ---------------------------------------------------------------------------------
// Placements under transformed parents.

// A chain of four under transformed parents (non-uniform scale on the first, the second
// without its parent's scale), listed children first, and one entity on its own. Every
// parent is moved, rotated and scaled; the writer stores each record's true world values.
std::string PlacementScene() {
    const auto entity = [](const char* name, const char* guid, const char* parent, uint32_t flags, const char* pos,
                           const char* rot, const char* scale) {
        return "{\"template\":\"" + std::string(kPlainTemplate) + "\",\"name\":\"" + name + "\",\"guid\":\"" +
               guid + "\",\"parent\":\"" + parent + "\",\"flags\":" + std::to_string(flags) + ",\"pos\":" + pos +
               ",\"rot\":" + rot + ",\"scale\":" + scale + "}";
    };
    const char* a = "00000000-0000-0000-0000-0000000000B1";
    const char* b = "00000000-0000-0000-0000-0000000000B2";
    const char* c = "00000000-0000-0000-0000-0000000000B3";
    const char* d = "00000000-0000-0000-0000-0000000000B4";
    const char* e = "00000000-0000-0000-0000-0000000000B5";
    // Rotations about y by 30 and 60 degrees, x by 45, z by 20.
    return "{\"entities\":[" +
           entity("d", d, c, 0, "[2,0,1]", "[0,0.5,0,0.8660254]", "[0.5,0.5,0.5]") + "," +
           entity("b", b, a, ENTITYFLAG_PARENTNOSCALE, "[1,2,3]", "[0.3826834,0,0,0.9238795]", "[1.5,1.5,1.5]") + "," +
           entity("c", c, b, 0, "[0,1,0]", "[0,0,0.1736482,0.9848078]", "[1,3,1]") + "," +
           entity("a", a, "", 0, "[3,1,-2]", "[0,0.2588190,0,0.9659258]", "[2,1,0.5]") + "," +
           entity("e", e, "", 0, "[-4,0,5]", "[0,0,0,1]", "[1,1,1]") + "]}";
}

// The loaded entities written back as a binary scene by the engine's own property writer.
std::vector<uint8_t> SaveScene(const SimpleGUID& templateGuid) {
    std::vector<uint8_t> out, scratch(64 * 1024);
    const auto append = [&](const void* p, size_t n) {
        out.insert(out.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    };
    const auto u32 = [&](uint32_t v) { append(&v, 4); };
    u32(0);
    Entity* root = gEntityManager->GetRootEntity();
    append(scratch.data(), root->GetRTTIClass()->SerializeProperties(scratch.data(), root, 8));
    std::vector<Entity*> entities;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e != root) entities.push_back(e);
    u32(uint32_t(entities.size()));
    for (Entity* e : entities) {
        const uint32_t size = e->GetRTTIClass()->SerializeProperties(scratch.data(), e, 0);
        append(templateGuid.bytes, 16);
        u32(size);
        append(scratch.data(), size);
    }
    u32(0);  // sets
    u32(0);
    EntityLayerSystem* layers = gEntityManager->GetLayerSystem();
    append(scratch.data(), layers->GetRTTIClass()->SerializeProperties(scratch.data(), layers, 0));
    out.push_back(0);  // no grid
    u32(0);            // no sequences
    return out;
}

// name -> (world from the record's "Global" values, local times the parent chain), by numpy.
std::map<std::string, std::pair<std::vector<float>, std::vector<float>>> ReferencePlacements(
    const std::vector<uint8_t>& bytes) {
    const std::string path = "/tmp/placement_" + std::to_string(::getpid()) + ".BinaryScene";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    std::map<std::string, std::pair<std::vector<float>, std::vector<float>>> out;
    for (const std::string& line : RunNumpyReference("entity/placement_reference.py", path + "\n")) {
        const size_t space = line.find(' ');
        const std::vector<float> values = ParseFloats(line.substr(space + 1));
        if (values.size() != 32) continue;
        out[line.substr(0, space)] = {std::vector<float>(values.begin(), values.begin() + 16),
                                      std::vector<float>(values.begin() + 16, values.end())};
    }
    std::remove(path.c_str());
    return out;
}

std::vector<float> Flat(const Matrix& m) {
    std::vector<float> v;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) v.push_back(m.r[r][c]);
    return v;
}

void ExpectNear(const std::vector<float>& got, const std::vector<float>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], 1e-4f * std::max(1.0f, std::fabs(want[i]))) << what << " element " << i;
}

// The record's world values hold, whatever the depth and the order of the records, and a
// load -> save -> load round trip moves nothing. (Before, the world values were applied
// under the root and the parent link kept the local matrix, so each child was moved by
// its parent's placement a second time.)
TEST_F(SceneLoadingTest, ChildrenOfTransformedParentsLandWhereTheFileSaysAndSurviveASave) {
    const std::vector<uint8_t> bytes = scenefiles::Write(PlacementScene(), "placement");
    ASSERT_FALSE(bytes.empty());
    const auto reference = ReferencePlacements(bytes);
    ASSERT_EQ(reference.size(), 5u);
    ASSERT_TRUE(Parse(bytes, 0));
    std::map<std::string, std::vector<float>> first;
    for (const auto& [name, ref] : reference) {
        SCOPED_TRACE(name);
        ExpectNear(ref.second, ref.first, "the writer's world values against its chain");
        Entity* e = gEntityManager->FindEntityByName(name.c_str());
        ASSERT_NE(e, nullptr);
        ExpectNear(Flat(e->GetGlobalLocationMatrix()), ref.first, "loaded");
        first[name] = Flat(e->GetGlobalLocationMatrix());
    }
    Entity* d = gEntityManager->FindEntityByName("d");
    ASSERT_TRUE(d->GetParent() && d->GetParent()->GetParent() && d->GetParent()->GetParent()->GetParent());
    EXPECT_STREQ(d->GetParent()->GetParent()->GetParent()->GetName(), "a");
    EXPECT_TRUE(gEntityManager->FindEntityByName("b")->CheckFlag(ENTITYFLAG_PARENTNOSCALE));

    // Saved by the engine and loaded again, twice: nothing moves.
    SimpleGUID templateGuid;
    templateGuid.FromString(kPlainTemplate);
    std::vector<uint8_t> saved = SaveScene(templateGuid);
    for (int round = 0; round < 2; ++round) {
        const auto again = ReferencePlacements(saved);
        ASSERT_EQ(again.size(), 5u);
        ASSERT_TRUE(Parse(saved, 0));
        for (const auto& [name, world] : first) {
            SCOPED_TRACE(name + " round " + std::to_string(round));
            ExpectNear(again.at(name).first, world, "saved world values");
            ExpectNear(again.at(name).second, world, "saved chain");
            Entity* e = gEntityManager->FindEntityByName(name.c_str());
            ASSERT_NE(e, nullptr);
            ExpectNear(Flat(e->GetGlobalLocationMatrix()), world, "reloaded");
        }
        saved = SaveScene(templateGuid);
    }
}

// A set whose member list is refused goes with one line, as a refused entity record does;
// the sets around it load.
TEST_F(SceneLoadingTest, ASetWhoseMemberListIsRefusedIsDropped) {
    const std::string sets = ",\"sets\":[{\"name\":\"Broken\",\"guid\":\"" + kS1 + "\",\"members\":[\"" + kG1 +
                             "\"],\"member_count\":1000},{\"name\":\"Whole\",\"guid\":\"" +
                             std::string("00000000-0000-0000-0000-0000000000F2") + "\",\"members\":[\"" + kG1 + "\"]}]";
    const std::string scene = "{\"entities\":[{\"template\":\"" + std::string(kPlainTemplate) +
                              "\",\"name\":\"one\",\"guid\":\"" + kG1 + "\"}]" + sets + "}";
    const std::vector<uint8_t> bytes = scenefiles::Write(scene, "sets");
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(Parse(bytes, 0));
    EXPECT_EQ(gEntityManager->FindEntitySetByName("broken"), nullptr);
    EXPECT_EQ(Count("Scene entity set 0 has an unreadable property list and is dropped"), 1u);
    EntitySet* whole = gEntityManager->FindEntitySetByName("whole");
    ASSERT_NE(whole, nullptr);
    Entity* one = gEntityManager->FindEntityByName("one");
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(whole->MemberCount(), 1u);
    EXPECT_EQ(one->EntitySets().Count(), 1u);  // the dropped set left no link behind
    EXPECT_EQ(gEntityManager->GetEntitySets().Count(), 1u);
}

}  // namespace
