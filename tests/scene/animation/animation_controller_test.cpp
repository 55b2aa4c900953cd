// test-sanitize: address
// MeshAnimationController and what hangs off it. The channel rules: cross-fades,
// ANIMFLAG_KEEPOTHERS, the restart of ANIMFLAG_IGNORESAME (parameters replaced, revival of
// a looping stopping animation, a non-looping one left alone, the others stopped with the
// scaled fade), stops by Id and the time flags, with a GameTimer as each animation's
// custom clock. Mounting child entities on hierarchy nodes: the placed matrix (offset
// first, then the node, then the entity), the refusals with their messages, unmounting,
// offsets and children that are gone. Starting a template's animations by name and by
// index: the parameter defaults, Id -1 becoming the index, ANIMFLAG_IGNORESAME restarting
// instead of adding, and every refusal with its message and severity (clips from
// tests/support/anim_file.py through the resource manager). AnimationSoundSyncObject with
// a recording SceneSoundServices::PlaySound: the event at 0 once (also while the position stays
// at 0), events passed since the last update, the wrap, backwards play, system sounds for a
// range not above 0, and the firing through an XSIAnimation's evaluation with its weight
// as the volume. XSIAnimation against tests/scene/animation/anim_reference.py: binding by
// name, key decoding, interpolation inside a clip and across the loop wrap, held end keys,
// cursors going back, the override progress, auto-finish and the zero-length clip (clips
// from tests/support/anim_file.py, time from a GameTimer given as the custom clock).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/fs/FileSystem.h"
#include "engine/TestGameServices.h"
#include "render/resources/ResourceAnimation.h"
#include "engine/entity/EntityTestSupport.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/SceneSoundServices.h"
#include "scene/animation/AnimationSoundSyncObject.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

// ---- Channels ----

struct ChannelsTest : testing::Test {
    void SetUp() override {
        for (const char* name : {"root", "spine", "arm"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        hierarchy.treeNodes.push_back({NameString("root"), 0, 3});
        hierarchy.treeNodes.push_back({NameString("upper"), 1, 2});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
    }
    // An animation without a clip, as the start by index would make it.
    XSIAnimation* Add(int32_t id, uint32_t flags = 0, float attack = 0.2f, uint32_t channel = 0) {
        AnimationParams p;
        p.Id = id;
        p.Flags = flags;
        p.AttackTime = attack;
        auto* a = new XSIAnimation(1, nullptr, p, 1.0f);
        a->SetCustomClock(&clock);
        controller->AddAnimation(channel, a);
        return a;
    }
    float Weight(BaseAnimation* a) {
        a->weight.Update(clock.Time());
        return a->weight.current;
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    GameTimer clock;
};

TEST_F(ChannelsTest, AStartCrossFadesFromTheOthersUnlessItKeepsThem) {
    XSIAnimation* a = Add(1, 0, 0.5f);
    EXPECT_EQ(a->state, uint32_t(ANIMSTATE_PLAYING));
    EXPECT_EQ(Weight(a), 0.0f);
    clock.Tick(0.5f);
    EXPECT_EQ(Weight(a), 1.0f);
    controller->evaluationFrame = 7;
    XSIAnimation* b = Add(2, 0, 0.4f);
    EXPECT_EQ(controller->evaluationFrame, 0u);
    EXPECT_TRUE(a->IsStopping());
    clock.Tick(0.1f);
    EXPECT_NEAR(Weight(a), 0.75f, 1e-5f);
    EXPECT_NEAR(Weight(b), 0.25f, 1e-5f);
    // Kept: nothing else stops.
    XSIAnimation* c = Add(3, ANIMFLAG_KEEPOTHERS);
    EXPECT_FALSE(b->IsStopping() || c->IsStopping());
    EXPECT_EQ(controller->Channel(0).Count(), 3u);
    EXPECT_EQ(controller->Channel(1).Count(), 0u);
}

TEST_F(ChannelsTest, RestartingTheSameIdReplacesRevivesOrLeavesAloneAndStopsTheOthers) {
    XSIAnimation* looping = Add(1, ANIMFLAG_LOOP, 1.0f);
    clock.Tick(1.0f);
    controller->StopAnimations(0, 1, 1.0f);
    clock.Tick(0.25f);  // weight 0.75 and falling
    XSIAnimation* other = Add(2, ANIMFLAG_KEEPOTHERS, 0.5f);
    clock.Tick(0.25f);  // other at weight 0.5, looping at 0.5
    AnimationParams p;
    p.Id = 1;
    p.AttackTime = 2.0f;
    p.SpeedMultiplier = 3.0f;
    EXPECT_TRUE(controller->RestartSame(0, p));
    EXPECT_FALSE(looping->IsStopping());
    EXPECT_EQ(looping->params.SpeedMultiplier, 3.0f);
    EXPECT_EQ(looping->params.Flags, 0u);  // the new words, loop bit included
    // Revived over (1 - 0.5) x 2 s; the other stopped over (1 - 0.5) x 2 s.
    EXPECT_TRUE(other->IsStopping());
    clock.Tick(0.5f);
    EXPECT_NEAR(Weight(looping), 0.75f, 1e-5f);
    EXPECT_NEAR(Weight(other), 0.25f, 1e-5f);

    // A stopping animation that does not loop is left alone and not found.
    XSIAnimation* once = Add(5, 0, 0.1f);
    controller->StopAnimations(0, 5, 1.0f);
    p.Id = 5;
    p.SpeedMultiplier = 9.0f;
    EXPECT_FALSE(controller->RestartSame(0, p));
    EXPECT_TRUE(once->IsStopping());
    EXPECT_EQ(once->params.SpeedMultiplier, 1.0f);
    // No animation of the Id: not found, nothing stopped.
    p.Id = 42;
    EXPECT_FALSE(controller->RestartSame(1, p));
}

TEST_F(ChannelsTest, StopsSettersAndTimeFlagsActOnTheIdOrAll) {
    XSIAnimation* a = Add(1, ANIMFLAG_LOOP | ANIMFLAG_AUTOFINISH | ANIMFLAG_GAMEPLAYTIME);
    XSIAnimation* b = Add(2, ANIMFLAG_KEEPOTHERS);
    controller->SetTimeFlags(0, 1, ANIMFLAG_SYSTEMTIME | ANIMFLAG_IGNORESAME);
    EXPECT_EQ(a->params.Flags, uint32_t(ANIMFLAG_LOOP | ANIMFLAG_AUTOFINISH | ANIMFLAG_SYSTEMTIME));
    EXPECT_EQ(b->params.Flags, uint32_t(ANIMFLAG_KEEPOTHERS));
    controller->SetSpeedMultiplier(0, -1, 0.5f);
    controller->SetProgress(0, 2, 0.25f);
    EXPECT_EQ(a->params.SpeedMultiplier, 0.5f);
    EXPECT_EQ(b->params.SpeedMultiplier, 0.5f);
    EXPECT_EQ(a->params.OverrideProgress, -1.0f);
    EXPECT_EQ(b->params.OverrideProgress, 0.25f);
    // A fade not above 0 sets the weight to 0 at once; a second stop changes nothing.
    clock.Tick(1.0f);
    controller->StopAnimations(0, 2, 0.0f);
    EXPECT_EQ(b->weight.current, 0.0f);
    controller->StopAnimations(0, -1, 5.0f);
    EXPECT_TRUE(a->IsStopping());
    EXPECT_EQ(b->weight.current, 0.0f);
    EXPECT_FALSE(b->weight.active);
    // Channels past the tree-node count are ignored; an animation added there is deleted.
    controller->StopAnimations(9, -1, 0.0f);
    Add(3, 0, 0.2f, 9);
    EXPECT_EQ(controller->Channel(0).Count(), 2u);
}

// ---- Mounts ----

struct MountsTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        for (const char* name : {"root", "spine", "hand"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        nodes[0] = nodes[1] = nodes[2] = Matrix::IDENTITY;
        nodes[2].LoadTranslation(0, 2, 0);
        global.LoadYRotation(90);
        Matrix move;
        move.LoadTranslation(10, 0, 0);
        global.Mul(move, global);  // rotate, then move
    }
    void TearDown() override {
        controller.reset();
        EntityTest::TearDown();
    }
    // The origin carried through each matrix in turn.
    static Vector Through(std::initializer_list<const Matrix*> matrices) {
        Vector p(0, 0, 0, 1);
        for (const Matrix* m : matrices) p.Transform3D(*m);
        return p;
    }
    std::vector<std::string> Errors() {
        std::vector<std::string> out;
        for (const CaptureLogSink::Message& m : log.Messages())
            if (m.severity == 4 && m.category == 2) out.push_back(m.text);
        return out;
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshAnimationController> controller;
    Matrix nodes[3];
    Matrix global;
};

TEST_F(MountsTest, AMountedChildGoesThroughItsOffsetTheNodeAndTheEntity) {
    Entity* child = Make();
    Matrix offset;
    offset.LoadTranslation(0, 0, 1);
    ASSERT_TRUE(controller->MountEntity("hand", child, offset));
    EXPECT_TRUE(child->GetMountFlags() & ENTITY_MOUNTED_TO_BONE);
    EXPECT_EQ(controller->evaluationFrame, 0u);
    controller->ApplyMounts(global, nodes, 3);
    const Vector want = Through({&offset, &nodes[2], &global});
    const Vector got = Through({&child->GetGlobalLocationMatrix()});
    EXPECT_NEAR(got.x, want.x, 1e-5f);
    EXPECT_NEAR(got.y, want.y, 1e-5f);
    EXPECT_NEAR(got.z, want.z, 1e-5f);
    EXPECT_NEAR(want.x, 11.0f, 1e-5f);  // (0, 2, 1) turned 90 degrees about y, then moved
    // A new offset replaces the old one.
    ASSERT_TRUE(controller->SetMountedEntityOffset(child));
    controller->ApplyMounts(global, nodes, 3);
    const Vector moved = Through({&child->GetGlobalLocationMatrix()});
    const Vector want2 = Through({&nodes[2], &global});
    EXPECT_NEAR(moved.x, want2.x, 1e-5f);
    EXPECT_NEAR(moved.z, want2.z, 1e-5f);
    EXPECT_FALSE(controller->SetMountedEntityOffset(Make()));
}

TEST_F(MountsTest, RefusedMountsLogTheirMessageAndChangeNothing) {
    Entity* child = Make();
    child->SetName("gun");
    ASSERT_TRUE(controller->MountEntity(1, child));
    log.Clear();
    struct Case {
        const char* node;  // null: by index
        int32_t index;
        const char* message;
    } const cases[] = {
        {"hand", 0, "Entity gun has already been mounted to some other entity"},
        {nullptr, 2, "Entity gun has already been mounted to some other entity"},
        {"tail", 0, "Cannot mount entity gun because tail cannot be found"},
        {nullptr, -1, "Cannot mount entity to bone with -1 index"},
        {nullptr, 3, "Cannot mount entity to bone with 3 index"},
    };
    for (const Case& c : cases) {
        log.Clear();
        if (c.index == 0 && c.node && std::string(c.node) == "tail")
            child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, false);
        EXPECT_FALSE(c.node ? controller->MountEntity(c.node, child) : controller->MountEntity(c.index, child));
        EXPECT_EQ(Errors(), std::vector<std::string>{c.message});
        child->SetMountFlags(ENTITY_MOUNTED_TO_BONE, true);
    }
    EXPECT_EQ(controller->MountCount(), 1u);
    EXPECT_FALSE(controller->MountEntity(0, nullptr));
}

TEST_F(MountsTest, UnmountingAndGoneChildren) {
    Entity* a = Make();
    Entity* b = Make();
    Entity* c = Make();
    for (Entity* e : {a, b, c}) ASSERT_TRUE(controller->MountEntity("spine", e));
    controller->UnmountEntity(b);
    EXPECT_FALSE(b->GetMountFlags() & ENTITY_MOUNTED_TO_BONE);
    EXPECT_EQ(controller->MountCount(), 2u);
    // Mounting again after the unmount works.
    EXPECT_TRUE(controller->MountEntity("hand", b));
    // A destroyed child leaves the list when the mounts are next applied.
    gEntityManager->DestroyEntity(a);
    controller->ApplyMounts(global, nodes, 3);
    EXPECT_EQ(controller->MountCount(), 2u);
    controller->UnmountEntity(nullptr);
    EXPECT_EQ(controller->MountCount(), 0u);
    for (Entity* e : {b, c}) EXPECT_FALSE(e->GetMountFlags() & ENTITY_MOUNTED_TO_BONE);
}

// ---- Starts ----

struct AnimationStartTest : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        for (const char* clip : {"idle", "walk"})
            ASSERT_TRUE(shelltest::Shell("echo '{\"length\": 1.0, \"tracks\": [{\"name\": \"spine\", \"rotation\": "
                                         "[[0,0,0,0]]}]}' | python3 " PROJECT_SOURCE_ROOT
                                         "/tests/support/anim_file.py write " + Path("animations", std::string(clip) + ".bin")));
        meshTemplate = std::make_unique<MeshTemplate>();
        // Sorted by name; "Run" has no file.
        const struct {
            const char* name;
            const char* file;
            float time;
        } definitions[] = {{"Idle", "idle", 2.0f}, {"Run", "", 1.0f}, {"Walk", "walk", 0.75f}};
        meshTemplate->animations.Resize(3);
        for (uint32_t i = 0; i < 3; ++i) {
            meshTemplate->animations[i].name = definitions[i].name;
            meshTemplate->animations[i].fileName = definitions[i].file;
            meshTemplate->animations[i].time = definitions[i].time;
        }
        meshTemplate->LoadAnimations();
        for (const char* name : {"root", "spine"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        hierarchy.treeNodes.push_back({NameString("root"), 0, 2});
        controller = std::make_unique<MeshAnimationController>(hierarchy);
        log.Clear();
    }
    void TearDown() override {
        controller.reset();
        meshTemplate.reset();
        ResourceFixture::TearDown();
    }
    XSIAnimation* Last() {
        const AnimationChannelList& c = controller->Channel(0);
        return c.Count() ? static_cast<XSIAnimation*>(c[c.Count() - 1].Get()) : nullptr;
    }
    MeshHierarchy hierarchy;
    std::unique_ptr<MeshTemplate> meshTemplate;
    std::unique_ptr<MeshAnimationController> controller;
};

TEST_F(AnimationStartTest, StartsByNameOrIndexWithDefaultsAndTheDefinitionsTime) {
    ASSERT_TRUE(controller->StartAnimation(*meshTemplate, "root", "walk", nullptr));
    XSIAnimation* walk = Last();
    ASSERT_NE(walk, nullptr);
    EXPECT_EQ(walk->params.Id, 2);
    EXPECT_EQ(walk->params.AnimIndex, 2);
    EXPECT_EQ(walk->params.AttackTime, 0.2f);
    EXPECT_EQ(walk->Length(), 0.75f);
    EXPECT_EQ(walk->BoundTrackCount(), 1u);
    EXPECT_EQ(walk->TrackNode(0), 1);

    AnimationParams p;
    p.Id = 7;
    p.Flags = ANIMFLAG_LOOP;
    ASSERT_TRUE(controller->StartAnimationByIndex(*meshTemplate, "root", 0, &p));
    EXPECT_EQ(Last()->params.Id, 7);
    EXPECT_EQ(Last()->params.AnimIndex, 0);
    EXPECT_EQ(Last()->Length(), 2.0f);
    EXPECT_TRUE(walk->IsStopping());
    EXPECT_TRUE(log.Messages().empty());
}

TEST_F(AnimationStartTest, IgnoreSameRestartsTheAnimationOfThatIdAndReturnsFalse) {
    ASSERT_TRUE(controller->StartAnimationByIndex(*meshTemplate, "root", 0, nullptr));
    XSIAnimation* idle = Last();
    AnimationParams p;
    p.Flags = ANIMFLAG_IGNORESAME;
    p.SpeedMultiplier = 2.0f;
    EXPECT_FALSE(controller->StartAnimationByIndex(*meshTemplate, "root", 0, &p));
    EXPECT_EQ(controller->Channel(0).Count(), 1u);
    EXPECT_EQ(idle->params.SpeedMultiplier, 2.0f);
    // Another Id is new.
    EXPECT_TRUE(controller->StartAnimationByIndex(*meshTemplate, "root", 2, &p));
    EXPECT_EQ(controller->Channel(0).Count(), 2u);
}

// A sync object lives while an animation runs with it, even after its maker let it go;
// replacing a running animation's parameters hands its use over to the new object.
int gDisposedSyncObjects = 0;
void CountDisposal(AnimationSoundSyncObject* sync) {
    ++gDisposedSyncObjects;
    delete sync;
}

TEST_F(AnimationStartTest, ARunningAnimationKeepsItsSyncObjectUntilItEnds) {
    gDisposedSyncObjects = 0;
    auto* first = new AnimationSoundSyncObject();
    auto* second = new AnimationSoundSyncObject();
    for (AnimationSoundSyncObject* sync : {first, second}) sync->SetDisposer(&CountDisposal);
    AnimationParams p;
    p.Id = 4;
    p.Flags = ANIMFLAG_LOOP;
    p.SyncObject = first;
    ASSERT_TRUE(controller->StartAnimationByIndex(*meshTemplate, "root", 0, &p));
    first->ReleaseUse();  // the maker drops it; the animation still runs with it
    EXPECT_EQ(gDisposedSyncObjects, 0);
    EXPECT_EQ(Last()->params.SyncObject, first);
    first->AddSoundEvent(0.5f, "step", 1, 2, 0);  // still a live object

    p.Flags |= ANIMFLAG_IGNORESAME;
    p.SyncObject = second;
    EXPECT_FALSE(controller->StartAnimationByIndex(*meshTemplate, "root", 0, &p));
    EXPECT_EQ(gDisposedSyncObjects, 1);  // the first one's last use went with the old parameters
    second->ReleaseUse();
    EXPECT_EQ(gDisposedSyncObjects, 1);
    controller.reset();  // the animation ends
    EXPECT_EQ(gDisposedSyncObjects, 2);
}

TEST_F(AnimationStartTest, RefusalsChangeNothingAndLogTheirMessages) {
    struct Case {
        const char* node;
        const char* animation;  // null: start by the index
        int32_t index;
        const char* message;  // null: no message
        uint8_t severity;
    } const cases[] = {
        {"root", "Jump", 0, "Animation Jump not found in ", 4},
        {"root", nullptr, 1, nullptr, 0},   // a definition without a resource
        {"root", nullptr, 3, nullptr, 0},   // past the definitions
        {"root", nullptr, -1, nullptr, 0},
        {"tail", "Walk", 0, "Cannot start animation because the node tail cannot be found", 3},
        {"tail", nullptr, 0, "Cannot start animation because the node tail cannot be found", 3},
    };
    for (const Case& c : cases) {
        log.Clear();
        const bool started = c.animation ? controller->StartAnimation(*meshTemplate, c.node, c.animation, nullptr)
                                         : controller->StartAnimationByIndex(*meshTemplate, c.node, c.index, nullptr);
        EXPECT_FALSE(started) << c.node << " " << c.index;
        EXPECT_EQ(controller->Channel(0).Count(), 0u);
        std::vector<CaptureLogSink::Message> errors;
        for (const CaptureLogSink::Message& m : log.Messages())
            if (m.severity >= 3) errors.push_back(m);
        if (!c.message) {
            EXPECT_TRUE(errors.empty()) << c.index;
            continue;
        }
        ASSERT_EQ(errors.size(), 1u) << c.message;
        EXPECT_EQ(errors[0].text, c.message);
        EXPECT_EQ(errors[0].severity, c.severity);
        EXPECT_EQ(errors[0].category, 2);
    }
    // The walk resource's use went back with the deleted animation.
    EXPECT_EQ(meshTemplate->GetAnimationResources()[2]->GetUseCount(), 1u);
}

// ---- Sound events ----

struct Played {
    Entity* owner;
    std::string name;
    float volume, full, zero;
    int channel;
};
std::vector<Played> gPlayed;

struct PlayRecorder : SceneSoundServices {
    unsigned PlaySound(Entity* owner, const char* name, float volume, float full, float zero, int channel) override {
        gPlayed.push_back({owner, name, volume, full, zero, channel});
        return unsigned(gPlayed.size());
    }
};

struct SoundSyncTest : EntityTest {
    void SetUp() override {
        EntityTest::SetUp();
        gPlayed.clear();
        saved = &GetSceneSoundServices();
        SetSceneSoundServices(&recorder);
        owner = Make();
        sync.SetOwner(owner);
        sync.AddSoundEvent(0.0f, "start", 10, 20, 3);
        sync.AddSoundEvent(0.5f, "middle", 0, 5, 1);
        sync.AddSoundEvent(0.8f, "late", 2, 8, 0);
    }
    void TearDown() override {
        SetSceneSoundServices(saved);
        EntityTest::TearDown();
    }
    std::string Names() {
        std::string out;
        for (const Played& p : gPlayed) out += p.name + " ";
        gPlayed.clear();
        return out;
    }
    SceneSoundServices* saved = nullptr;
    PlayRecorder recorder;
    Entity* owner = nullptr;
    AnimationSoundSyncObject sync;
};

TEST_F(SoundSyncTest, EventsFireOncePerPassAndOnlyForwards) {
    struct Step {
        float progress;
        bool forward;
        const char* want;
    };
    const Step steps[] = {
        {0.0f, true, "start "},     // the first update fires the event at 0
        {0.0f, true, ""},           // paused at 0: not again
        {0.5f, true, "middle "},    // t = now fires
        {0.7f, true, ""},
        {0.9f, true, "late "},
        {0.2f, true, "start "},     // wrapped: up to the position only
        {0.6f, true, "middle "},
        {0.55f, false, ""},         // backwards: nothing
        {0.3f, false, ""},
        {0.95f, true, "middle late "},  // forwards again from where backwards play left it
        {1.5f, true, ""},           // clamped to 1
    };
    int i = 0;
    for (const Step& s : steps) {
        sync.Update(s.progress, 0.7f, s.forward);
        EXPECT_EQ(Names(), s.want) << "step " << i++;
    }
}

TEST_F(SoundSyncTest, RangeNotAboveZeroPlaysASystemSoundWithTheEventsSettings) {
    sync.Update(0.9f, 0.25f, true);
    ASSERT_EQ(gPlayed.size(), 3u);
    const Played& p = gPlayed[0];
    EXPECT_EQ(std::make_tuple(p.owner, p.volume, p.full, p.zero, p.channel), std::make_tuple(owner, 0.25f, 10.0f, 20.0f, 3));
    EXPECT_EQ(gPlayed[1].owner, nullptr);  // "middle", range 0: a system sound
    EXPECT_EQ(gPlayed[2].owner, owner);
    // Without an owner nothing plays.
    gPlayed.clear();
    owner->Destroy();
    sync.Update(0.1f, 1.0f, true);
    EXPECT_TRUE(gPlayed.empty());
}

TEST_F(SoundSyncTest, AnAnimationDrivesItWithItsProgressAndWeight) {
    GameTimer clock;
    AnimationParams p;
    p.Flags = ANIMFLAG_LOOP;
    p.SyncObject = &sync;
    XSIAnimation a(1, nullptr, p, 2.0f);
    a.SetCustomClock(&clock);
    a.weight.current = 0.5f;
    AnimationPoseWorkspace* w = new AnimationPoseWorkspace();
    MeshHierarchy h;
    a.Evaluate(*w, h);
    EXPECT_EQ(Names(), "start ");
    clock.Tick(1.2f);  // progress 0.6
    a.Evaluate(*w, h);
    ASSERT_EQ(gPlayed.size(), 1u);
    EXPECT_EQ(gPlayed[0].volume, 0.5f);
    EXPECT_EQ(Names(), "middle ");
    a.params.SpeedMultiplier = -1.0f;  // backwards
    clock.Tick(0.2f);
    a.Evaluate(*w, h);
    EXPECT_EQ(Names(), "");
    delete w;
}

// ---- Clips ----

// Rotation keys inside 0.1 .. 0.8 so that both wrap branches are reached; a track that
// matches no node; "root" after "spine" so that its search wraps; a scale-only track.
const char* const kTracks =
    R"("tracks": [)"
    R"({"name": "spine", "rotation": [[0.1,0,0,0],[0.4,0,0.7071,0],[0.8,0.5,0.5,0.5]],)"
    R"( "translation": [[0.2,1,2,3],[0.9,-4,5,6]], "scale": [[0,1,2,3]]},)"
    R"({"name": "ghost", "translation": [[0,1,1,1]]},)"
    R"({"name": "root", "rotation": [[0,0,0,0],[1,0.8,0.8,0]]},)"
    R"({"name": "hand", "scale": [[0.3,1,1,1],[0.6,2,0.5,2]]}])";
const int kReferenceLine[] = {0, 2, 3};  // bound tracks among the clip's tracks

struct XSIAnimationTest : testing::Test {
    void SetUp() override {
        char pattern[] = "/tmp/xsi_animation_test_XXXXXX";
        root = mkdtemp(pattern);
        gFileSystem.MountDirectory("animations", root.c_str());
        for (const char* name : {"root", "spine", "arm", "hand"}) hierarchy.nodes.push_back({NameString(name), 255, 255});
        clip = std::string("{\"length\": 2.0, ") + kTracks + "}";
        resource = Load("walk", clip);
    }
    void TearDown() override {
        resource.reset();
        gFileSystem.UnmountAll();
        std::filesystem::remove_all(root);
    }
    std::unique_ptr<ResourceAnimation> Load(const char* name, const std::string& json) {
        EXPECT_TRUE(shelltest::Shell("echo '" + json + "' | python3 " PROJECT_SOURCE_ROOT
                                     "/tests/support/anim_file.py write " + root + "/" + name + ".bin"));
        auto r = std::make_unique<ResourceAnimation>(name);
        EXPECT_TRUE(r->LoadResource());
        return r;
    }
    std::unique_ptr<XSIAnimation> Start(const AnimationParams& params, float length = 2.0f) {
        auto a = std::make_unique<XSIAnimation>(1, resource.get(), params, length);
        a->SetCustomClock(&clock);
        a->Bind(hierarchy, 0, 0);
        return a;
    }
    // Steps the clock by each delta, evaluates, and compares every bound pose with the
    // reference at the progress the animation reached.
    void CheckAgainstReference(XSIAnimation& a, const std::vector<float>& deltas, bool loop, float scale = 1.0f) {
        workspace.animationScale = scale;
        std::vector<float> progress;
        std::vector<std::vector<AnimationPose>> poses;
        for (float dt : deltas) {
            clock.Tick(dt);
            a.Evaluate(workspace, hierarchy);
            progress.push_back(a.progress);
            poses.emplace_back();
            for (uint32_t b = 0; b < a.BoundTrackCount(); ++b) poses.back().push_back(a.Pose(b));
        }
        std::ostringstream request;
        request.precision(9);
        request << "{\"clip\": " << clip << ", \"loop\": " << (loop ? "true" : "false") << ", \"scale\": " << scale
                << ", \"progress\": [";
        for (size_t i = 0; i < progress.size(); ++i) request << (i ? "," : "") << progress[i];
        request << "]}";
        std::istringstream out(shelltest::ShellOutput("echo '" + request.str() + "' | /usr/bin/python3 " PROJECT_SOURCE_ROOT
                                                      "/tests/scene/animation/anim_reference.py"));
        std::vector<std::vector<double>> lines;
        for (std::string line; std::getline(out, line);) {
            std::istringstream fields(line);
            lines.emplace_back();
            for (double v; fields >> v;) lines.back().push_back(v);
        }
        ASSERT_EQ(lines.size(), progress.size() * 4);
        for (size_t f = 0; f < progress.size(); ++f) {
            ASSERT_EQ(poses[f].size(), 3u);
            for (int b = 0; b < 3; ++b) {
                const std::vector<double>& want = lines[f * 4 + kReferenceLine[b]];
                const AnimationPose& p = poses[f][b];
                const float got[] = {p.rotation.x,    p.rotation.y,    p.rotation.z, p.rotation.w, p.translation.x,
                                     p.translation.y, p.translation.z, p.scale.x,    p.scale.y,    p.scale.z};
                for (int i = 0; i < 10; ++i)
                    EXPECT_NEAR(got[i], want[i], 2e-4 * (1 + std::fabs(want[i])))
                        << "progress " << progress[f] << " track " << b << " value " << i;
            }
        }
    }

    std::string root, clip;
    MeshHierarchy hierarchy;
    std::unique_ptr<ResourceAnimation> resource;
    GameTimer clock;
    AnimationPoseWorkspace workspace;
};

TEST_F(XSIAnimationTest, TracksBindByNameWrappingTheSearchAndSkippingUnmatchedOnes) {
    auto a = Start(AnimationParams());
    ASSERT_EQ(a->BoundTrackCount(), 3u);
    EXPECT_EQ(a->TrackNode(0), 1);  // spine
    EXPECT_EQ(a->TrackNode(1), 0);  // root, found after wrapping
    EXPECT_EQ(a->TrackNode(2), 3);  // hand
    EXPECT_EQ(a->TrackNode(3), kAnimationNoIndex);
    EXPECT_EQ(a->NodeTrack(2), kAnimationNoIndex);  // arm
    Quaternion r;
    Vector t, s;
    EXPECT_FALSE(GetTrackPose(*a, 2, r, t, s));
    EXPECT_FALSE(GetTrackPose(*a, 254, r, t, s));
    clock.Tick(0.5f);
    a->Evaluate(workspace, hierarchy);
    ASSERT_TRUE(GetTrackPose(*a, 3, r, t, s));
    EXPECT_EQ(s.x, a->Pose(2).scale.x);
    // The channels a track lacks are neutral.
    EXPECT_EQ(r, Quaternion::ZERO);
    EXPECT_EQ(t, Vector(0, 0, 0, 0));
}

TEST_F(XSIAnimationTest, LoopingClipMatchesTheReferenceInsideAndAcrossTheWrap) {
    AnimationParams params;
    params.Flags = ANIMFLAG_LOOP;
    auto a = Start(params);
    // 0.05 s steps over 1.5 loops, then large steps; translation scaled by 2.5.
    std::vector<float> deltas(60, 0.05f);
    deltas.insert(deltas.end(), {0.7f, 1.1f, 0.9f, 1.3f});
    CheckAgainstReference(*a, deltas, true, 2.5f);
}

TEST_F(XSIAnimationTest, NonLoopingClipHoldsItsEndKeysAndClampsItsTime) {
    auto a = Start(AnimationParams());
    CheckAgainstReference(*a, std::vector<float>(50, 0.05f), false);
    EXPECT_EQ(a->Time(), 2.0f);
    EXPECT_EQ(a->progress, 1.0f);
}

TEST_F(XSIAnimationTest, CursorsRestartWhenTimeGoesBackwards) {
    AnimationParams params;
    params.Flags = ANIMFLAG_LOOP;
    params.StartTimeOffset = 1.9f;
    auto a = Start(params);
    clock.Tick(0.01f);
    a->Evaluate(workspace, hierarchy);
    EXPECT_EQ(a->Cursor(0, ANIMCHANNEL_ROTATION), 2);
    // The speed turns negative: time runs back through the keys.
    a->params.SpeedMultiplier = -1.0f;
    CheckAgainstReference(*a, std::vector<float>(30, 0.06f), true);
    EXPECT_LT(a->Time(), 0.2f);
}

TEST_F(XSIAnimationTest, StartTimeOverrideProgressAutoFinishAndZeroLength) {
    AnimationParams params;
    params.StartTimeOffset = 5.0f;
    EXPECT_EQ(Start(params)->Time(), 2.0f);  // at most the length

    params = AnimationParams();
    params.OverrideProgress = 0.5f;
    auto pinned = Start(params);
    for (float dt : {0.3f, 0.7f}) {
        clock.Tick(dt);
        pinned->Evaluate(workspace, hierarchy);
        EXPECT_EQ(pinned->Time(), 1.0f);
        EXPECT_EQ(pinned->progress, 0.5f);
    }

    params = AnimationParams();
    params.Flags = ANIMFLAG_AUTOFINISH;
    params.AutoFinishTime = 0.5f;
    auto finishing = Start(params);
    finishing->weight.current = 1.0f;
    clock.Tick(1.4f);
    finishing->Evaluate(workspace, hierarchy);
    EXPECT_FALSE(finishing->IsStopping());
    clock.Tick(0.2f);  // 0.4 s left
    finishing->Evaluate(workspace, hierarchy);
    ASSERT_TRUE(finishing->IsStopping());
    clock.Tick(0.25f);  // half the fade, linear
    finishing->Evaluate(workspace, hierarchy);
    EXPECT_NEAR(finishing->weight.current, 0.5f, 1e-5f);
    clock.Tick(0.25f);
    finishing->Evaluate(workspace, hierarchy);
    EXPECT_EQ(finishing->weight.current, 0.0f);
    // A stopping animation is no longer pinned by OverrideProgress.
    finishing->params.OverrideProgress = 0.0f;
    finishing->Evaluate(workspace, hierarchy);
    EXPECT_EQ(finishing->Time(), 2.0f);

    for (uint32_t flags : {0u, uint32_t(ANIMFLAG_LOOP)}) {
        params = AnimationParams();
        params.Flags = flags;
        auto empty = Start(params, 0.0f);
        clock.Tick(0.5f);
        empty->Evaluate(workspace, hierarchy);
        EXPECT_EQ(empty->Time(), 0.0f);
        EXPECT_EQ(empty->progress, 0.0f);
        for (uint32_t b = 0; b < empty->BoundTrackCount(); ++b) {
            const AnimationPose& p = empty->Pose(b);
            for (float v : {p.rotation.x, p.rotation.w, p.translation.x, p.scale.x}) EXPECT_TRUE(std::isfinite(v));
        }
    }
}

TEST_F(XSIAnimationTest, ClipWithoutMatchingTracksAdvancesWithoutAPose) {
    resource = Load("other", R"({"length": 1.0, "tracks": [{"name": "tail", "rotation": [[0,0,0,0]]}]})");
    AnimationParams params;
    params.Flags = ANIMFLAG_LOOP;
    auto a = Start(params);
    EXPECT_EQ(a->BoundTrackCount(), 0u);
    clock.Tick(0.75f);
    a->Evaluate(workspace, hierarchy);
    EXPECT_FLOAT_EQ(a->progress, 0.375f);
    // And none at all: no resource.
    XSIAnimation none(1, nullptr, params, 1.0f);
    none.SetCustomClock(&clock);
    none.Bind(hierarchy, 0, 0);
    clock.Tick(0.25f);
    none.Evaluate(workspace, hierarchy);
    EXPECT_FLOAT_EQ(none.progress, 0.25f);
}

TEST_F(XSIAnimationTest, TracksPastThe254thMatchStayUnbound) {
    std::string json = R"({"length": 1.0, "tracks": [)";
    for (int i = 0; i < 260; ++i) json += std::string(i ? "," : "") + R"({"name": "hand", "scale": [[0,1,1,1]]})";
    resource = Load("many", json + "]}");
    auto a = Start(AnimationParams());
    ASSERT_EQ(a->BoundTrackCount(), kAnimationMaxBoundTracks);
    EXPECT_EQ(a->TrackNode(253), 3);
    EXPECT_EQ(a->TrackNode(254), kAnimationNoIndex);
    EXPECT_EQ(a->NodeTrack(3), 253);
    clock.Tick(0.5f);
    a->Evaluate(workspace, hierarchy);
    EXPECT_EQ(a->Pose(253).scale.x, 1.0f);
}

TEST_F(XSIAnimationTest, TheAnimationHoldsAUseOfItsResource) {
    const uint32_t before = resource->GetUseCount();
    {
        auto a = Start(AnimationParams());
        EXPECT_EQ(resource->GetUseCount(), before + 1);
    }
    EXPECT_EQ(resource->GetUseCount(), before);
}

TEST(AnimationClock, TheTimeBitsPickTheGameClocksAndOtherCombinationsTheGameClock) {
    TestGameServices game;
    struct Row {
        uint32_t flags;
        const GameTimer* clock;
    } const rows[] = {
        {ANIMFLAG_GAMETIME, &game.gameTimer},
        {ANIMFLAG_GAMEPLAYTIME | ANIMFLAG_LOOP, &game.gameplayTimer},
        {ANIMFLAG_SMOOTHGAMEPLAYTIME | ANIMFLAG_AUTOFINISH, &game.smoothGameplayTimer},
        {ANIMFLAG_SMOOTHGAMETIME | ANIMFLAG_PROCCALLBACKS, &game.smoothGameTimer},
        {ANIMFLAG_GAMEPLAYTIME | ANIMFLAG_SMOOTHGAMETIME, &game.gameTimer},
        {0xF0, &game.gameTimer},
        {ANIMFLAG_SYSTEMTIME, &game.gameTimer},  // the Game keeps no system clock
    };
    for (const Row& row : rows) EXPECT_EQ(SelectAnimationClock(row.flags), row.clock) << row.flags;
    // The custom clock comes first.
    AnimationParams params;
    params.Flags = ANIMFLAG_GAMEPLAYTIME;
    XSIAnimation a(1, nullptr, params, 1.0f);
    EXPECT_EQ(a.Clock(), &game.gameplayTimer);
    GameTimer custom;
    a.SetCustomClock(&custom);
    EXPECT_EQ(a.Clock(), &custom);
}

}  // namespace
