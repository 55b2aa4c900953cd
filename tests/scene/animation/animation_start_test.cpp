// Starting a template's animations on a controller: by name and by index, the parameter
// defaults, Id -1 becoming the index, ANIMFLAG_IGNORESAME restarting instead of adding,
// and every refusal with its message and severity. Clips come from
// tests/support/anim_file.py through the resource manager.
// test-sanitize: address
// test-timeout: 120
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "render/resources/ResourceTestSupport.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/mesh/MeshData.h"
#include "scene/mesh/MeshTemplate.h"

namespace {

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

}  // namespace
