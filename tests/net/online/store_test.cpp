// The in-game store definitions: a store and a backpack written by the engine's Solid
// writer load back equal, items created by their stored class names; the store's
// refusals (no file, not a standalone build, a missing, cut or foreign file) leave it
// empty and the image list as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "StoreTestSupport.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "engine/services/MultiplayerServices.h"

namespace {

using namespace storetest;

class NotStandalone : public GameConfig {
public:
    bool IsStandaloneBuild() const override { return false; }
};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTestClasses();
        char pattern[] = "/tmp/store_test_XXXXXX";
        root = mkdtemp(pattern);
        ASSERT_TRUE(gFileSystem.MountDirectory("common", root.c_str()));
        log.Attach();
    }
    void TearDown() override {
        log.Detach();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(root + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::string> ImageFiles(const InGameStore& store) {
        DynarraySafe<NameString> files;
        files.Add(NameString("before"));
        store.GetItemImageFiles(0, files);
        std::vector<std::string> out;
        for (uint32_t i = 0; i < files.Count(); ++i) out.emplace_back(files[i].CStr());
        return out;
    }
    static std::vector<uint8_t> Renamed(std::vector<uint8_t> bytes, const char* from, const char* to) {
        const size_t n = std::strlen(from);
        for (size_t i = 0; i + n <= bytes.size(); ++i)
            if (std::memcmp(&bytes[i], from, n) == 0) std::memcpy(&bytes[i], to, n);
        return bytes;
    }

    std::string root;
    CaptureLogSink log;
};

TEST_F(StoreTest, WrittenStoreLoadsBackEqualThroughTheEngineEntries) {
    InGameStore written;
    Fill(written);
    WriteFile("Store.bin", Written(written));
    // The Game's own way in: the entries the start-up table installs.
    InGameStore* store = GetMultiplayerServices().CreateInGameStore("Store");
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(store->items.Count(), 3u);
    EXPECT_STREQ(store->items[0]->GetRTTIClass()->Name(), "InGameStoreItem");
    EXPECT_STREQ(store->items[1]->GetRTTIClass()->Name(), kDerivedName);
    EXPECT_EQ(static_cast<TestStoreItem*>(store->items[1])->rarity, 7u);
    EXPECT_TRUE(InGameStore::RegisterClass()->PropertiesEqual(store, &written));
    DynarraySafe<NameString> files;
    GetMultiplayerServices().GetInGameStoreItemImageFiles(store, 0, files);
    ASSERT_EQ(files.Count(), 3u);
    EXPECT_STREQ(files[0].CStr(), "sheet.dds");
    EXPECT_STREQ(files[1].CStr(), "other.dds");
    EXPECT_STREQ(files[2].CStr(), "");  // an item without an image file adds an empty name
    GetMultiplayerServices().DeleteInGameStore(store);
}

TEST_F(StoreTest, BackpackRoundTripsAndDefaultsHold) {
    InGameBackpack pack;
    pack.items.Resize(2);
    pack.items[0].id = "potion";
    pack.items[0].count = 4;
    pack.items[0].consumed = 1;
    pack.items[0].exclusivityGroup = 9;
    pack.items[1].enabled = false;
    InGameBackpack read;
    const std::vector<uint8_t> bytes = Written(pack);
    ASSERT_TRUE(SolidDeserializeFromBuffer(read, bytes.data(), bytes.size(), 0));
    EXPECT_TRUE(InGameBackpack::RegisterClass()->PropertiesEqual(&pack, &read));
    ASSERT_EQ(read.items.Count(), 2u);
    EXPECT_TRUE(read.items[0].enabled);
    EXPECT_FALSE(read.items[1].enabled);
    read.items[1].count = 1;
    EXPECT_FALSE(InGameBackpack::RegisterClass()->PropertiesEqual(&pack, &read));

    const InGameBackpackItem fresh;
    EXPECT_TRUE(fresh.enabled);
    EXPECT_EQ(fresh.count, 0u);
    const InGameStoreItem item;
    EXPECT_EQ(item.image.tilesX, 0u);
    EXPECT_EQ(item.image.tilesY, 0u);
    EXPECT_EQ(item.image.x, 0u);
    EXPECT_EQ(item.image.y, 0u);
    EXPECT_EQ(item.image.color, Vector(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_FALSE(item.countable);

    RTTIPolyBaseClass* created = NameRegistry::CreateObject("InGameStoreItem");
    EXPECT_NE(dynamic_cast<InGameStoreItem*>(created), nullptr);
    delete created;
}

// The property lists are the file format the content tools write: names, value types and
// order must match theirs exactly.
TEST_F(StoreTest, ClassesListTheirPropertiesInFileOrder) {
    constexpr uint32_t kName = 21, kU32 = 10, kU16 = 11, kFloat = 8, kBool = 19, kVector = 14;
    constexpr uint32_t kEmbedded = 3, kEmbeddedArray = 6, kPolyPointerArray = 7;
    using Props = std::vector<std::pair<std::string, uint32_t>>;
    const struct {
        const RTTIClass* c;
        const char* name;
        Props properties;
    } cases[] = {
        {InGameStoreItem::RegisterClass(), "InGameStoreItem",
         {{"Id", kName}, {"Name", kName}, {"Description", kName}, {"Type", kName}, {"Price", kU32},
          {"RealMoneyPrice", kFloat}, {"ExclusivityGroup", kU16}, {"Countable", kBool}, {"Image", kEmbedded}}},
        {InGameStore::RegisterClass(), "InGameStore", {{"Items", kPolyPointerArray}}},
        {InGameBackpack::RegisterClass(), "InGameBackpack", {{"Items", kEmbeddedArray}}},
        {InGameBackpackItem::RegisterClass(), "InGameBackpackItem",
         {{"Id", kName}, {"Count", kU32}, {"Consumed", kU32}, {"ExclusivityGroup", kU16}, {"Enabled", kBool}}},
        {InGameStoreItemImage::RegisterClass(), "InGameStoreItemImage",
         {{"File", kName}, {"TilesX", kU32}, {"TilesY", kU32}, {"X", kU32}, {"Y", kU32}, {"Color", kVector}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.c->Name(), c.name);
        EXPECT_EQ(RTTIClassRegistry::FindClass(c.name), c.c);
        Props got;
        for (uint32_t i = 0; i < c.c->PropertyCount(); ++i)
            got.emplace_back(c.c->PropertyAt(i)->Name(), c.c->PropertyAt(i)->TypeId());
        EXPECT_EQ(got, c.properties);
    }
}

TEST_F(StoreTest, RefusedDefinitionsLeaveTheStoreEmpty) {
    InGameStore written;
    Fill(written);
    const std::vector<uint8_t> good = Written(written);
    WriteFile("Store.bin", good);
    WriteFile("Unknown.bin", Renamed(good, kDerivedName, kUnknownName));
    WriteFile("Foreign.bin", Renamed(good, kDerivedName, kForeignName));
    WriteFile("Cut.bin", std::vector<uint8_t>(good.begin(), good.end() - 9));
    std::vector<uint8_t> wild = good;
    wild[4] = 0xFF;  // the item count
    wild[5] = 0xFF;
    WriteFile("Wild.bin", wild);

    NotStandalone notStandalone;
    const struct {
        const char* file;
        GameConfig* config;
        bool logged;
    } cases[] = {
        {nullptr, gGameConfig, false},     {"", gGameConfig, false},         {"Store", &notStandalone, false},
        {"Missing", gGameConfig, false},   {"Unknown", gGameConfig, true},   {"Foreign", gGameConfig, true},
        {"Cut", gGameConfig, true},        {"Wild", gGameConfig, true},
    };
    GameConfig* saved = gGameConfig;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(none)");
        log.Clear();
        gGameConfig = c.config;
        InGameStore store(c.file);
        gGameConfig = saved;
        EXPECT_EQ(store.items.Count(), 0u);
        EXPECT_EQ(ImageFiles(store), std::vector<std::string>{"before"});
        bool logged = false;
        for (const auto& m : log.Messages()) logged |= m.severity >= static_cast<uint8_t>(LogSeverity::Warning);
        EXPECT_EQ(logged, c.logged);
    }
    InGameStore store("Store");
    EXPECT_EQ(ImageFiles(store), (std::vector<std::string>{"before", "sheet.dds", "other.dds", ""}));
}

}  // namespace
