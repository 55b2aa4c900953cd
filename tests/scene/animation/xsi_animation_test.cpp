// XSIAnimation against tests/scene/animation/anim_reference.py: binding by name, key
// decoding, interpolation inside a clip and across the loop wrap, held end keys, cursors
// going back, the override progress, auto-finish and the zero-length clip. Clips come
// from tests/support/anim_file.py; time comes from a GameTimer given as the custom clock.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/fs/FileSystem.h"
#include "engine/game/Game.h"
#include "render/resources/ResourceAnimation.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"

namespace {

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
    Game* const saved = gGame;
    auto game = std::make_unique<Game>();
    gGame = game.get();
    struct Row {
        uint32_t flags;
        const GameTimer* clock;
    } const rows[] = {
        {ANIMFLAG_GAMETIME, &game->GetGameTimer()},
        {ANIMFLAG_GAMEPLAYTIME | ANIMFLAG_LOOP, &game->GetGameplayTimer()},
        {ANIMFLAG_SMOOTHGAMEPLAYTIME | ANIMFLAG_AUTOFINISH, &game->GetSmoothGameplayTimer()},
        {ANIMFLAG_SMOOTHGAMETIME | ANIMFLAG_PROCCALLBACKS, &game->GetSmoothGameTimer()},
        {ANIMFLAG_GAMEPLAYTIME | ANIMFLAG_SMOOTHGAMETIME, &game->GetGameTimer()},
        {0xF0, &game->GetGameTimer()},
        {ANIMFLAG_SYSTEMTIME, &game->GetGameTimer()},  // the Game keeps no system clock
    };
    for (const Row& row : rows) EXPECT_EQ(SelectAnimationClock(row.flags), row.clock) << row.flags;
    // The custom clock comes first.
    AnimationParams params;
    params.Flags = ANIMFLAG_GAMEPLAYTIME;
    XSIAnimation a(1, nullptr, params, 1.0f);
    EXPECT_EQ(a.Clock(), &game->GetGameplayTimer());
    GameTimer custom;
    a.SetCustomClock(&custom);
    EXPECT_EQ(a.Clock(), &custom);
    gGame = saved;
}

}  // namespace
