// test-sanitize: address
// What the game's kinds do on the entity manager: the marker template load (the named
// template looked up, left loaded and in use, no reference kept), the referenced names
// with and without the bare-name flag, the trigger reaction defaults copied or not, the
// phone-trigger classes by type (and a scene losing the record of one that makes
// nothing), the preload hooks (templates and sound entries), the damage accessors, and
// what marker, versus and ambient sound entities read from their templates.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HexText.h"
#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "engine/entity/BinaryScene.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/kinds/GameKindSupport.h"
#include "game/kinds/GameTypes.h"
#include "game/kinds/ZKREffect.h"
#include "game/kinds/ZKRMarkers.h"
#include "game/kinds/ZKRSmallKinds.h"
#include "game/kinds/ZKRTriggers.h"
#include "render/RenderTestSupport.h"
#include "render/resources/ResourceManager.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sfx/SFXEntity.h"
#include "sound/SoundEntries.h"
#include "../../engine/entity/SceneFiles.h"
#include "../../scene/SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

struct GameKindsTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NE(gEntityTemplateRegistry.Root(), nullptr);
        // The template pool the registry makes templates in.
        ASSERT_TRUE(gResourceManager.Start());
    }
    void TearDown() override {
        EndScene();
        for (EntityTemplateStub* s : stubs) {
            gEntityTemplateRegistry.Root()->RemoveStub(s);
            if (!s->ReleaseTemplate()) {
                if (EntityTemplate* t = s->GetLoadedTemplate()) t->stub = nullptr;
                s->DetachTemplate();
            }
            delete s;
        }
        owned.clear();
        gResourceManager.Stop();
        gVornexRenderer.FlushCommands(true);
        SceneEntityFixture::TearDown();
    }
    // A stub of that name: with the template (kept by the test), or none, to be made as a
    // usable-object template (a plain compound kind) when something loads it.
    EntityTemplateStub* Stub(const char* name, std::unique_ptr<EntityTemplate> t = nullptr) {
        auto* s = new EntityTemplateStub();
        s->SetFileName(name);
        s->typeId = ENTITY_ZKR_USABLE;
        if (t) {
            t->SetName(name);
            s->typeId = t->typeId;
            s->SetTemplate(t.get());
            owned.push_back(std::move(t));
        }
        gEntityTemplateRegistry.Root()->AddStub(s);
        stubs.push_back(s);
        return s;
    }
    template <class T>
    T* Own(std::unique_ptr<T> t) {
        T* raw = t.get();
        owned.push_back(std::move(t));
        return raw;
    }
    template <class E>
    E* Make(EntityTemplate* t) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(t, nullptr, Matrix::IDENTITY, 0, nullptr);
        auto* typed = dynamic_cast<E*>(e);
        EXPECT_NE(typed, nullptr);
        return typed;
    }
    std::vector<EntityTemplateStub*> stubs;
    std::vector<std::unique_ptr<EntityTemplate>> owned;
};

// ---- Markers ----

TEST(GameKindNames, ReferencedTemplateNames) {
    struct Case {
        const char* name;
        bool bare;
        const char* want;
    };
    const Case cases[] = {
        {"a/b\\c", true, "c"},          {"towers/Laser", true, "Laser"}, {"Laser", true, "Laser"},
        {"a\\b/c", true, "c"},          {"a/b\\c", false, "a/b\\c"},     {"towers/", true, ""},
        {nullptr, true, nullptr},       {nullptr, false, nullptr},
    };
    for (const Case& c : cases) {
        const char* got = ReferencedTemplateName(c.name, c.bare);
        if (!c.want) EXPECT_EQ(got, nullptr);
        else EXPECT_STREQ(got, c.want) << (c.name ? c.name : "(null)") << " " << c.bare;
    }
    // Through a marker entity's template.
    ZKRTowerMarkerTemplate t;
    SetOwnedText(t.towerTemplateName, "units/towers\\Laser");
    std::unique_ptr<Entity> e(t.CreateEntity());
    EXPECT_EQ(static_cast<ZKRTowerMarkerEntity*>(e.get())->GetTowerTemplateName(), nullptr) << "no template yet";
}

// A marker template's load leaves the template it names loaded and in use but holds no
// reference on it (the stub can still let it go); unknown and empty names load normally.
TEST_F(GameKindsTest, MarkerLoadMarksTheNamedTemplate) {
    struct Case {
        const char* json;  // the marker's own properties
        const char* kind;
        uint32_t type;
        bool linksCrate;
    };
    const Case cases[] = {
        {R"({"class": "ZKRTowerMarkerTemplate", "values": {"TowerTemplateName": "crate"}})", "tower", 256, true},
        {R"({"class": "ZKRObstacleMarkerTemplate", "values": {"ObstacleTemplateName": "crate"}})", "obstacle", 264,
         true},
        {R"({"class": "ZKRPlayerMarkerTemplate", "values": {"HeroTemplateName": "crate"}})", "player", 262, true},
        {R"({"class": "ZKRVersusPlayerMarkerTemplate", "values": {"HeroTemplateName": "crate"}})", "versus", 277,
         true},
        {R"({"class": "ZKRPickupMarkerTemplate", "values": {"AbilityName": "crate"}})", "pickup", 257, false},
        {R"({"class": "ZKRTowerMarkerTemplate", "values": {"TowerTemplateName": "nothing"}})", "unknown", 256,
         false},
        {R"({"class": "ZKRTowerMarkerTemplate", "values": {"TowerTemplateName": ""}})", "empty", 256, false},
        {R"({"class": "ZKRTowerMarkerTemplate"})", "unset", 256, false},
    };
    const std::string compound = HexText(shelltest::PropList("compoundtemplate", "{}"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EntityTemplateStub* crate = Stub("crate");
        const std::vector<uint8_t> bytes = shelltest::PropList(
            "binarytemplate", "{\"guid\": \"00112233-4455-6677-8899-AABBCCDDEEFF\", \"type\": " +
                                  std::to_string(c.type) + ", \"head_props\": \"" + compound +
                                  "\", \"class_props\": \"" + HexText(shelltest::PropList("gameclass", c.json)) + "\"}");
        std::unique_ptr<EntityTemplate> marker(
            dynamic_cast<EntityTemplate*>(NameRegistry::CreateObject(TemplateTypeTable::Get()[c.type].name)));
        ASSERT_NE(marker, nullptr);
        marker->SetName("#marker");
        BoundedReader in(bytes.data(), bytes.size());
        marker->optimizedSource = &in;
        EXPECT_TRUE(marker->LoadResource());
        marker->optimizedSource = nullptr;
        EXPECT_EQ(crate->GetLoadedTemplate() != nullptr, c.linksCrate);
        EXPECT_TRUE(crate->ReleaseTemplate()) << "the look-up's reference was kept";
        gEntityTemplateRegistry.Root()->RemoveStub(crate);
        stubs.pop_back();
        delete crate;
    }
}

TEST_F(GameKindsTest, MarkerEntitiesReadTheirTemplates) {
    auto* player = Own(std::make_unique<ZKRVersusPlayerMarkerTemplate>());
    SetOwnedText(player->heroTemplateName, "heroes/squad\\Leader");
    player->teamIndex = 2;
    auto* versus = Make<ZKRVersusPlayerMarkerEntity>(player);
    ASSERT_NE(versus, nullptr);
    EXPECT_EQ(versus->GetType(), uint32_t(ENTITY_ZKR_VERSUSPLAYERMARKER));
    EXPECT_TRUE(versus->IsKindOf(ENTITY_ZKR_PLAYERMARKER));
    EXPECT_STREQ(versus->GetPlayerControllerTemplateName(), "Leader");
    EXPECT_STREQ(versus->GetPlayerControllerTemplateName(false), "heroes/squad\\Leader");
    EXPECT_EQ(versus->GetTeamIndex(), 2u);
    EXPECT_EQ(versus->GetPlayerIndex(), 1u);
    EXPECT_TRUE(versus->IsActiveAtStart());
    for (float skill : {versus->GetSquadSkill(), versus->GetTowersSkill(), versus->GetRankedSquadSkill(),
                        versus->GetRankedTowersSkill()})
        EXPECT_EQ(skill, 1200.0f);
    EXPECT_EQ(versus->GetGrade(), 1);

    auto* pickup = Own(std::make_unique<ZKRPickupMarkerTemplate>());
    SetOwnedText(pickup->abilityName, "Airstrike");
    EXPECT_STREQ(Make<ZKRPickupMarkerEntity>(pickup)->GetAbilityName(), "Airstrike");

    // An ambient sound reads its entry and switches from its template.
    auto* ambient = Own(std::make_unique<ZKRAmbientSoundTemplate>());
    ambient->soundEntryName = NameString("Wind");
    auto* sound = Make<ZKRAmbientSoundEntity>(ambient);
    EXPECT_STREQ(sound->GetSoundEntryName(), "Wind");
    EXPECT_TRUE(sound->ShouldDropVolumeDuringSpeech());
    EXPECT_FALSE(sound->IsActiveDuringGameplayPause());
    ambient->keepVolumeDuringSpeech = true;
    ambient->activeDuringGameplayPause = true;
    EXPECT_FALSE(sound->ShouldDropVolumeDuringSpeech());
    EXPECT_TRUE(sound->IsActiveDuringGameplayPause());
}

// ---- Triggers ----

TEST_F(GameKindsTest, TriggerReactionDefaults) {
    auto* zkr = Own(std::make_unique<ZKRTriggerTemplate>());
    zkr->defaults.reactToHero = true;
    zkr->defaults.firstUnit = false;
    zkr->defaults.multipleActivation = true;
    auto* plain = Make<ZKRTriggerEntity>(zkr);
    EXPECT_TRUE(plain->ReactsToHero());
    EXPECT_FALSE(plain->IsFirstUnitReaction());
    EXPECT_TRUE(plain->reactions.multipleActivation);
    EXPECT_FALSE(plain->ReactsToUnits());

    // A script trigger keeps its constructor defaults whatever its template says.
    auto* script = Own(std::make_unique<ZKRScriptTriggerTemplate>());
    script->defaults.reactToHero = true;
    auto* scripted = Make<ZKRScriptTriggerEntity>(script);
    EXPECT_FALSE(scripted->ReactsToHero());
    EXPECT_TRUE(scripted->IsFirstUnitReaction());

    // A progress area reacts to units; a plain ZKR trigger does not.
    auto* area = Make<ZKRProgressAreaTriggerEntity>(Own(std::make_unique<ZKRProgressAreaTriggerTemplate>()));
    EXPECT_TRUE(area->ReactsToUnits());
    EXPECT_FALSE(Make<ZKRTriggerEntity>(Own(std::make_unique<ZKRTriggerTemplate>()))->ReactsToUnits());

    // The phone template fills whichever class it makes.
    auto* phone = Own(std::make_unique<ZKRiPhoneTriggerTemplate>());
    phone->defaults.anyUnit = true;
    phone->triggerType = 10;
    auto* burn = Make<ZKRiPhoneBurnAreaEntity>(phone);
    EXPECT_TRUE(burn->IsAnyUnitReaction());
    EXPECT_EQ(burn->GetType(), uint32_t(ENTITY_ZKR_IPHONETRIGGER));
}

TEST(GameKindTriggers, PhoneTriggerClassByType) {
    const char* const kWant[] = {
        "ZKRiPhoneTriggerEntity",       nullptr,                         "ZKRiPhoneChatBoxTriggerEntity",
        "ZKRiPhoneTriggerEntity",       "ZKRiPhoneTriggerEntity",        "ZKRiPhoneDialogTriggerEntity",
        "ZKRiPhoneDialogTriggerEntity", "ZKRiPhoneTriggerEntity",        "ZKRiPhoneDialogTriggerEntity",
        "ZKRiPhoneDamageAreaEntity",    "ZKRiPhoneBurnAreaEntity",       nullptr,
    };
    ZKRiPhoneTriggerTemplate t;
    for (uint32_t type = 0; type < 14; ++type) {
        t.triggerType = type;
        std::unique_ptr<Entity> e(t.CreateEntity());
        const char* want = type < 12 ? kWant[type] : nullptr;
        if (!want) {
            EXPECT_EQ(e, nullptr) << type;
        } else {
            ASSERT_NE(e, nullptr) << type;
            EXPECT_STREQ(e->GetRTTIClass()->Name(), want) << type;
        }
    }
    t.triggerType = 0xFFFFFFFFu;
    EXPECT_EQ(std::unique_ptr<Entity>(t.CreateEntity()), nullptr);
}

// A phone-trigger template that makes nothing loses its scene entity with one line; the
// scene loads the rest.
TEST_F(GameKindsTest, APhoneTriggerMakingNothingIsDroppedFromItsScene) {
    ZKRiPhoneTriggerTemplate phone;
    phone.SetName("silent");
    phone.triggerType = 1;
    EntityTemplate plain;
    scenefiles::RegisteredTemplate phoneStub{&phone, "00000000-0000-0000-0000-0000000000B1", ENTITY_ZKR_IPHONETRIGGER};
    scenefiles::RegisteredTemplate plainStub{&plain, scenefiles::kPlainTemplate, 0};
    const std::vector<uint8_t> bytes = scenefiles::Write(
        R"({"entities": [{"template": "00000000-0000-0000-0000-0000000000B1", "name": "lost"},)"
        R"( {"template": ")" + std::string(scenefiles::kPlainTemplate) + R"(", "name": "kept"}]})",
        "phone");
    ASSERT_FALSE(bytes.empty());
    CaptureLogSink log;
    log.Attach();
    gEntityManager->NewScene();
    EXPECT_TRUE(ParseBinaryScene(bytes.data(), bytes.size(), 0, 0));
    EXPECT_TRUE(log.Contains("Scene entity 0 of template silent makes no entity and is dropped"));
    EXPECT_EQ(gEntityManager->FindEntityByName("lost"), nullptr);
    EXPECT_NE(gEntityManager->FindEntityByName("kept"), nullptr);
    gEntityManager->NewScene();
}

// The preload hooks load the template they name, and only that; the phone trigger only
// for the damage and burn areas.
TEST_F(GameKindsTest, PreloadHooks) {
    struct Case {
        uint32_t triggerType;
        const char* param;
        bool loads;
    };
    const Case cases[] = {{9, "burn", true}, {10, "burn", true}, {2, "burn", false},
                          {0, "burn", false}, {9, "", false}};
    for (const Case& c : cases) {
        EntityTemplateStub* s = Stub("burn");
        ZKRiPhoneTriggerTemplate phone;
        phone.triggerType = c.triggerType;
        phone.param = NameString(c.param);
        phone.PreloadReferencedResources();
        EXPECT_EQ(s->GetLoadedTemplate() != nullptr, c.loads) << c.triggerType << " " << c.param;
    }
    EntityTemplateStub* effect = Stub("sparks");
    ZKRDamageSurfaceTemplate surface;
    surface.PreloadReferencedResources();
    EXPECT_EQ(effect->GetLoadedTemplate(), nullptr);
    SetOwnedText(surface.effectTemplate, "sparks");
    surface.PreloadReferencedResources();
    EXPECT_NE(effect->GetLoadedTemplate(), nullptr);
}

// The ambient sound template preloads its element templates' resources, then its entry's
// sounds by the entry's name (an entry whose only sound has a name too long to load says
// so when it is reached), and no entry without a name.
TEST_F(GameKindsTest, AmbientSoundPreloadsItsEntry) {
    ASSERT_NE(gSoundEntriesContainer, nullptr);
    SoundEntryParams entry;
    entry.AddSound(std::string(300, 'w').c_str());
    ASSERT_TRUE(gSoundEntriesContainer->AddSoundEntry("Wind", entry));
    CaptureLogSink log;
    log.Attach();
    EntityTemplateStub* sparks = Stub("sparks");
    ZKRDamageSurfaceTemplate surface;
    SetOwnedText(surface.effectTemplate, "sparks");
    ZKRAmbientSoundTemplate ambient;
    ambient.elements.Add(CompoundTemplateElement());
    ambient.elements[0].SetTemplate(&surface);
    ambient.PreloadReferencedResources();
    EXPECT_NE(sparks->GetLoadedTemplate(), nullptr);
    EXPECT_FALSE(log.Contains("not preloaded"));
    ambient.ClearElements();
    ambient.soundEntryName = NameString("Wind");
    ambient.PreloadReferencedResources();
    EXPECT_TRUE(log.Contains("entry Wind over"));
    gSoundEntriesContainer->RemoveAllSoundEntries();
}

TEST_F(GameKindsTest, DamageSurfaceAccessors) {
    auto* t = Own(std::make_unique<ZKRDamageSurfaceTemplate>());
    auto* e = Make<ZKRDamageSurfaceEntity>(t);
    struct Case {
        float own, want;
    };
    for (const Case& c : {Case{-1.0f, 5.0f}, Case{0.0f, 0.0f}, Case{-0.5f, 5.0f}, Case{12.5f, 12.5f}}) {
        e->SetDamagePerSec(c.own);
        EXPECT_EQ(e->GetDamagePerSec(), c.want) << c.own;
    }
    EXPECT_STREQ(e->GetDamageType(), "Normal");
    e->SetDamageType("Fire");
    EXPECT_STREQ(e->GetDamageType(), "Fire");
    EXPECT_STREQ(t->damageType, "Normal");
    e->SetDamageType("");
    EXPECT_STREQ(e->GetDamageType(), "");
    e->SetDamageType(nullptr);
    EXPECT_STREQ(e->GetDamageType(), "Normal");
    SetOwnedText(t->damageType, "Acid");
    EXPECT_STREQ(e->GetDamageType(), "Acid");
    EXPECT_EQ(e->GetEffectTemplate(), nullptr);
}

}  // namespace

