// The game's kinds as classes: the template-type rows and their walk, the class names each
// template answers, the classes its factory and CreateEntity make, one descriptor for the
// tower entity's RTTI-only base, and every game class's property list against the
// independent writer (tests/support/proplist.py "gameclass"): the defaults, other values
// read and written back unchanged, the same values copied through the text forms, and an
// enumeration value outside its list kept as read but answered as the default.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "HexText.h"
#include "ProgramStaticInit.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/StaticInit.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKRMarkers.h"
#include "game/kinds/ZKRSmallKinds.h"
#include "game/kinds/ZKRTriggers.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceTemplatePool.h"

namespace {

std::vector<uint8_t> Written(const RTTIPolyBaseClass& object) {
    const RTTIClass* cls = object.GetRTTIClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &object, 0));
    cls->SerializeProperties(out.data(), &object, 0);
    return out;
}

// The list with its last tailSize bytes (the game classes' part) replaced by tail.
std::vector<uint8_t> WithTail(std::vector<uint8_t> bytes, size_t tailSize, const std::vector<uint8_t>& tail) {
    bytes.resize(bytes.size() - tailSize);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

bool Read(RTTIPolyBaseClass& object, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    return object.GetRTTIClass()->DeserializeProperties(in, &object, 0) == bytes.size() && !in.Failed();
}

std::string Json(const std::string& cls, const std::string& more = "") {
    return "{\"class\": \"" + cls + "\"" + more + "}";
}

EntityTemplate* NewTemplate(const char* className) {
    return dynamic_cast<EntityTemplate*>(NameRegistry::CreateObject(className));
}

struct KindCase {
    const char* templateClass;
    const char* entityClassName;  // what the template answers
    const char* createdClass;     // what it makes
    uint32_t type;
};

// The class-name table of the game's templates.
const KindCase kKinds[] = {
    {"ZKRPlayerMarkerTemplate", "ZKRPlayerMarkerEntity", "ZKRPlayerMarkerEntity", 262},
    {"ZKRVersusPlayerMarkerTemplate", "ZKRVersusPlayerMarkerEntity", "ZKRVersusPlayerMarkerEntity", 277},
    {"ZKRTowerMarkerTemplate", "ZKRTowerMarkerEntity", "ZKRTowerMarkerEntity", 256},
    {"ZKRPickupMarkerTemplate", "ZKRPickupMarkerEntity", "ZKRPickupMarkerEntity", 257},
    {"ZKRTriggerTemplate", "ZKRTriggerEntity", "ZKRTriggerEntity", 266},
    {"ZKRScriptTriggerTemplate", "ZKRScriptTriggerEntity", "ZKRScriptTriggerEntity", 258},
    {"ZKRSquadScriptTriggerTemplate", "ZKRSquadScriptTriggerEntity", "ZKRSquadScriptTriggerEntity", 276},
    {"ZKRSquadZDirTriggerTemplate", "ZKRSquadZDirTriggerEntity", "ZKRSquadZDirTriggerEntity", 275},
    {"ZKREffectTemplate", "ZKREffectEntity", "ZKREffectEntity", 259},
    {"ZKRDamageSurfaceTemplate", "ZKRDamageSurfaceEntity", "ZKRDamageSurfaceEntity", 260},
    {"ZKRUsableTemplate", "ZKRUsableEntity", "ZKRUsableEntity", 263},
    {"ZKRTowerTemplate", "ZKRTowerEntity", "ZKRTowerEntity", 272},
    {"ZKRObstacleMarkerTemplate", "ZKRObstacleMarkerEntity", "ZKRObstacleMarkerEntity", 264},
    {"ZKRHelicopterPathFlagTemplate", "ZKRHelicopterPathFlagEntity", "ZKRHelicopterPathFlagEntity", 265},
    {"ZKRAmbientSoundTemplate", "ZKRAmbientSoundEntity", "ZKRAmbientSoundEntity", 267},
    {"ZKRCheckpointTemplate", "ZKRCheckpointEntity", "ZKRCheckpointEntity", 270},
    {"ZKRProgressAreaTriggerTemplate", "ZKRProgressAreaTriggerEntity", "ZKRProgressAreaTriggerEntity", 271},
    {"ZKRLevelParamsTemplate", "Entity", "ZKRLevelParamsEntity", 268},
    {"ZKRiPhoneTriggerTemplate", "ZKRTriggerEntity", "ZKRiPhoneTriggerEntity", 269},
    {"ZKRRemoteConnectorArrayTemplate", "ZKRRemoteConnectorArrayEntity", "ZKRRemoteConnectorArrayEntity", 274},
};

TEST(GameKindTypes, RowsAndTheirWalk) {
    struct IsACase {
        uint32_t type, base;
        bool is;
    };
    const IsACase cases[] = {
        {271, 266, true}, {271, 4, true}, {258, 4, true}, {269, 266, true}, {277, 262, true}, {277, 5, true},
        {275, 4, true},   {276, 4, true}, {265, 2, true}, {268, 0, true},   {274, 0, false}, {274, 274, true},
        {262, 277, false}, {276, 266, false}, {259, 7, false},
    };
    for (const IsACase& c : cases)
        EXPECT_EQ(TemplateTypeTable::IsA(c.type, c.base), c.is) << c.type << " is a " << c.base;
    const TemplateTypeTable::Row& empty = TemplateTypeTable::Get()[ENTITY_ZKR_ABILITYTIMEOUTMULTIPLIER];
    EXPECT_EQ(empty.name, nullptr);
    EXPECT_EQ(empty.base, TemplateTypeTable::kRows);
    for (const KindCase& k : kKinds) {
        ASSERT_NE(TemplateTypeTable::Get()[k.type].name, nullptr) << k.type;
        EXPECT_STREQ(TemplateTypeTable::Get()[k.type].name, k.templateClass);
    }
}

// Each factory makes its class with its type; CreateEntity makes the entity class the
// table names, which takes the template's type.
TEST(GameKindTypes, FactoriesNamesAndCreatedClasses) {
    for (const KindCase& k : kKinds) {
        SCOPED_TRACE(k.templateClass);
        std::unique_ptr<EntityTemplate> t(NewTemplate(k.templateClass));
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t->GetRTTIClass()->Name(), k.templateClass);
        EXPECT_STREQ(t->GetClassName(), k.templateClass);
        EXPECT_STREQ(t->GetEntityClassName(), k.entityClassName);
        EXPECT_EQ(t->typeId, k.type);
        EXPECT_EQ(RTTIClassRegistry::FindClass(k.templateClass), t->GetRTTIClass());
        std::unique_ptr<Entity> e(t->CreateEntity());
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->GetRTTIClass()->Name(), k.createdClass);
        EXPECT_EQ(RTTIClassRegistry::FindClass(k.createdClass), e->GetRTTIClass());
    }
}

// A stored type chooses the class a template is rebuilt from: a versus template stays a
// versus template, and its entities carry the skills.
TEST(GameKindTypes, VersusTemplateReloadsAsItself) {
    const std::string props = HexText(shelltest::PropList("compoundtemplate", "{}"));
    const std::string own =
        HexText(shelltest::PropList("gameclass", Json("ZKRVersusPlayerMarkerTemplate", ", \"values\": {\"TeamIndex\": 2}")));
    const std::vector<uint8_t> bytes = shelltest::PropList(
        "binarytemplate", "{\"guid\": \"00112233-4455-6677-8899-AABBCCDDEEFF\", \"type\": 277, \"head_props\": \"" +
                              props + "\", \"class_props\": \"" + own + "\"}");
    ASSERT_GE(bytes.size(), 20u);
    uint32_t type = 0;
    std::memcpy(&type, bytes.data() + 16, 4);
    ResourceTemplatePool pool;
    Resource* r = pool.CreateResource("versus", type);
    ASSERT_NE(r, nullptr);
    std::unique_ptr<EntityTemplate> owned(TemplateFromResource(r));
    auto* t = dynamic_cast<ZKRVersusPlayerMarkerTemplate*>(owned.get());
    ASSERT_NE(t, nullptr);
    BoundedReader in(bytes.data(), bytes.size());
    ASSERT_TRUE(ReadBinaryTemplate(in, t));
    EXPECT_EQ(t->typeId, uint32_t(ENTITY_ZKR_VERSUSPLAYERMARKER));
    EXPECT_EQ(t->teamIndex, 2u);
    std::unique_ptr<Entity> e(t->CreateEntity());
    auto* versus = dynamic_cast<ZKRVersusPlayerMarkerEntity*>(e.get());
    ASSERT_NE(versus, nullptr);
    EXPECT_EQ(versus->GetSquadSkill(), 1200.0f);
}

// Every game class with properties, made as its template or its template's entity, with
// the template to make it from (phone-trigger entities by their TriggerType).
struct PropCase {
    const char* objectClass;
    const char* templateClass;
    uint32_t triggerType;
};
const PropCase kPropCases[] = {
    {"ZKRPlayerMarkerTemplate", nullptr, 0},         {"ZKRPlayerMarkerEntity", "ZKRPlayerMarkerTemplate", 0},
    {"ZKRVersusPlayerMarkerEntity", "ZKRVersusPlayerMarkerTemplate", 0},
    {"ZKRTowerMarkerTemplate", nullptr, 0},          {"ZKRTowerMarkerEntity", "ZKRTowerMarkerTemplate", 0},
    {"ZKRPickupMarkerTemplate", nullptr, 0},         {"ZKRPickupMarkerEntity", "ZKRPickupMarkerTemplate", 0},
    {"ZKRObstacleMarkerTemplate", nullptr, 0},       {"ZKRObstacleMarkerEntity", "ZKRObstacleMarkerTemplate", 0},
    {"ZKRTriggerTemplate", nullptr, 0},              {"ZKRTriggerEntity", "ZKRTriggerTemplate", 0},
    {"ZKRScriptTriggerEntity", "ZKRScriptTriggerTemplate", 0},
    {"ZKRProgressAreaTriggerEntity", "ZKRProgressAreaTriggerTemplate", 0},
    {"ZKRiPhoneTriggerTemplate", nullptr, 0},        {"ZKRiPhoneTriggerEntity", "ZKRiPhoneTriggerTemplate", 0},
    {"ZKRiPhoneChatBoxTriggerEntity", "ZKRiPhoneTriggerTemplate", 2},
    {"ZKRiPhoneDialogTriggerEntity", "ZKRiPhoneTriggerTemplate", 5},
    {"ZKRiPhoneDamageAreaEntity", "ZKRiPhoneTriggerTemplate", 9},
    {"ZKRiPhoneBurnAreaEntity", "ZKRiPhoneTriggerTemplate", 10},
    {"ZKRSquadScriptTriggerEntity", "ZKRSquadScriptTriggerTemplate", 0},
    {"ZKRSquadZDirTriggerEntity", "ZKRSquadZDirTriggerTemplate", 0},
    {"ZKRCheckpointEntity", "ZKRCheckpointTemplate", 0},
    {"ZKRDamageSurfaceTemplate", nullptr, 0},        {"ZKRDamageSurfaceEntity", "ZKRDamageSurfaceTemplate", 0},
    {"ZKREffectEntity", "ZKREffectTemplate", 0},     {"ZKRUsableEntity", "ZKRUsableTemplate", 0},
    {"ZKRAmbientSoundTemplate", nullptr, 0},         {"ZKRAmbientSoundEntity", "ZKRAmbientSoundTemplate", 0},
    {"ZKRHelicopterPathFlagEntity", "ZKRHelicopterPathFlagTemplate", 0},
    {"ZKRLevelParamsEntity", "ZKRLevelParamsTemplate", 0},
    // Classes without properties of their own: nothing after the engine's part.
    {"ZKRVersusPlayerMarkerTemplate", nullptr, 0},   {"ZKRTowerEntity", "ZKRTowerTemplate", 0},
    {"ZKRRemoteConnectorArrayEntity", "ZKRRemoteConnectorArrayTemplate", 0},
};

// A fresh object of the case's class with its constructor defaults.
std::unique_ptr<RTTIPolyBaseClass> Make(const PropCase& c, std::unique_ptr<EntityTemplate>& maker) {
    if (!c.templateClass) return std::unique_ptr<RTTIPolyBaseClass>(NameRegistry::CreateObject(c.objectClass));
    maker.reset(NewTemplate(c.templateClass));
    if (auto* phone = dynamic_cast<ZKRiPhoneTriggerTemplate*>(maker.get())) phone->triggerType = c.triggerType;
    return std::unique_ptr<RTTIPolyBaseClass>(maker->CreateEntity());
}

TEST(GameKindProperties, ListsAgainstTheIndependentWriter) {
    for (const PropCase& c : kPropCases) {
        SCOPED_TRACE(c.objectClass);
        std::unique_ptr<EntityTemplate> maker;
        std::unique_ptr<RTTIPolyBaseClass> object = Make(c, maker);
        ASSERT_NE(object, nullptr);
        ASSERT_STREQ(object->GetRTTIClass()->Name(), c.objectClass);
        const std::vector<uint8_t> written = Written(*object);
        const std::vector<uint8_t> defaults = shelltest::PropList("gameclass", Json(c.objectClass));
        ASSERT_GE(written.size(), defaults.size());
        EXPECT_EQ(std::vector<uint8_t>(written.end() - defaults.size(), written.end()), defaults);

        // Other values in every property: read, and written back byte for byte.
        const std::vector<uint8_t> otherTail = shelltest::PropList("gameclass", Json(c.objectClass, ", \"other\": true"));
        const std::vector<uint8_t> others = WithTail(written, defaults.size(), otherTail);
        ASSERT_TRUE(Read(*object, others));
        EXPECT_EQ(Written(*object), others);

        // The same values through the text forms, property by property, into a fresh object.
        std::unique_ptr<EntityTemplate> maker2;
        std::unique_ptr<RTTIPolyBaseClass> copy = Make(c, maker2);
        for (const RTTIClass* k = object->GetRTTIClass(); k; k = k->Base()) {
            if (std::strncmp(k->Name(), "ZKR", 3) != 0) break;
            for (uint32_t i = 0; i < k->PropertyCount(); ++i) {
                const char* name = k->PropertyAt(i)->Name();
                if (k->PropertyAt(i)->TypeId() <= 1) continue;  // group separators
                const char* text = object->GetPropertyValueAsString(name);
                ASSERT_NE(text, nullptr) << name;
                EXPECT_TRUE(copy->SetPropertyFromString(name, std::string(text).c_str())) << name;
            }
        }
        const std::vector<uint8_t> copied = Written(*copy);
        ASSERT_GE(copied.size(), otherTail.size());
        EXPECT_EQ(std::vector<uint8_t>(copied.end() - otherTail.size(), copied.end()), otherTail);
    }
}

// Whether a class is an entity or template class.
bool IsEntityKind(const RTTIClass* k) {
    for (; k; k = k->Base())
        if (std::strcmp(k->Name(), "Entity") == 0 || std::strcmp(k->Name(), "EntityTemplate") == 0) return true;
    return false;
}

// Every registered game class's own properties as the independent writer lists them: names,
// kinds, groups, flags and enumeration names, in declaration order.
TEST(GameKindProperties, DescriptorsAgainstTheIndependentWriter) {
    uint32_t classes = 0;
    for (uint32_t c = 0; c < RTTIClassRegistry::Count(); ++c) {
        const RTTIClass* k = RTTIClassRegistry::At(c);
        if (std::strncmp(k->Name(), "ZKR", 3) != 0 || !IsEntityKind(k)) continue;
        ++classes;
        std::string own;
        for (uint32_t i = 0; i < k->PropertyCount(); ++i) {
            const RTTIProperty* p = k->PropertyAt(i);
            std::string names;
            if (p->Flags() & kPropertyFlagEnum)
                for (const char* n = static_cast<const char*>(p->Extra()); *n; n += std::strlen(n) + 1)
                    names += (names.empty() ? "" : "|") + std::string(n);
            own += std::string(p->Name()) + "\t" + std::to_string(p->TypeId()) + "\t" + std::to_string(p->Flags()) +
                   "\t" + names + "\n";
        }
        const std::vector<uint8_t> listed = shelltest::PropList("gameclassinfo", Json(k->Name()));
        EXPECT_EQ(own, std::string(listed.begin(), listed.end())) << k->Name();
    }
    EXPECT_GE(classes, 45u);
}

// A stored enumeration value outside its list is kept (a round trip writes it again) and
// read as the list's default.
TEST(GameKindProperties, EnumerationOutsideItsListReadsAsDefault) {
    struct EnumCase {
        const char* templateClass;
        const char* entityClass;
        const char* property;
    };
    const EnumCase cases[] = {
        {"ZKRTowerMarkerTemplate", "ZKRTowerMarkerEntity", "EmergenceEffectType"},
        {"ZKRCheckpointTemplate", "ZKRCheckpointEntity", "TowerAwarenessType"},
        {"ZKRiPhoneTriggerTemplate", "ZKRiPhoneTriggerEntity", "iPhoneMode"},
    };
    for (const EnumCase& c : cases) {
        SCOPED_TRACE(c.entityClass);
        std::unique_ptr<EntityTemplate> t(NewTemplate(c.templateClass));
        std::unique_ptr<Entity> e(t->CreateEntity());
        const std::vector<uint8_t> defaults = shelltest::PropList("gameclass", Json(c.entityClass));
        const std::vector<uint8_t> seven = WithTail(
            Written(*e), defaults.size(),
            shelltest::PropList("gameclass", Json(c.entityClass, std::string(", \"values\": {\"") + c.property + "\": 7}")));
        ASSERT_TRUE(Read(*e, seven));
        EXPECT_EQ(Written(*e), seven);
        if (auto* tower = dynamic_cast<ZKRTowerMarkerEntity*>(e.get())) {
            EXPECT_STREQ(tower->GetEmergenceEffectType(), "Default");
        } else if (auto* checkpoint = dynamic_cast<ZKRCheckpointEntity*>(e.get())) {
            EXPECT_STREQ(checkpoint->GetTowerAwarenessType(), "Standard");
        } else if (auto* phone = dynamic_cast<ZKRiPhoneTriggerEntity*>(e.get())) {
            EXPECT_EQ(phone->GetMode(), 0u);
        }
    }
    // Inside the list each value answers its own name.
    ZKRTowerMarkerEntity tower;
    tower.emergenceEffectType = EMERGENCE_EFFECT_CONCRETE;
    EXPECT_STREQ(tower.GetEmergenceEffectType(), "Concrete");
    tower.emergenceEffectType = EMERGENCE_EFFECT_WATER;
    EXPECT_STREQ(tower.GetEmergenceEffectType(), "Water");
    ZKRCheckpointEntity checkpoint;
    checkpoint.towerAwarenessType = TOWER_AWARENESS_IGNORE_TOWERS;
    EXPECT_STREQ(checkpoint.GetTowerAwarenessType(), "IgnoreTowers");
}

// Registering the tower entity before or after its RTTI-only base leaves one base.
TEST(GameKindTypes, GameEntityRegisteredOnce) {
    for (bool towerFirst : {true, false}) {
        RunStaticShutdown();
        EXPECT_EQ(RTTIClassRegistry::FindClass("ZKRGameEntity"), nullptr);
        if (towerFirst) {
            ZKRTowerEntity::RegisterRTTIClass();
            ZKRGameEntity::RegisterRTTIClass();
        } else {
            ZKRGameEntity::RegisterRTTIClass();
            ZKRTowerEntity::RegisterRTTIClass();
        }
        uint32_t count = 0;
        for (uint32_t i = 0; i < RTTIClassRegistry::Count(); ++i)
            count += std::string(RTTIClassRegistry::At(i)->Name()) == "ZKRGameEntity";
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(RTTIClassRegistry::FindClass("ZKRTowerEntity")->Base(), RTTIClassRegistry::FindClass("ZKRGameEntity"));
    }
    RunStaticShutdown();
    RunProgramStaticInit();
}

}  // namespace
