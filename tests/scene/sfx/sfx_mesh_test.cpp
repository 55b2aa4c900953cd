// test-sanitize: address thread
// test-timeout: 300
// The effect mesh element with a real mesh template (tests/support/mesh_block.py) and
// clips from tests/support/anim_file.py: the element plays its "Animation" at the node
// "root" on the render thread with its progress curve, and its bone palette equals the
// palette of a controller posed directly at that progress (the animation reference);
// the box, the preset fallback and the pass mask come from the template; "Animation"
// naming no clip, or a definition without data, plays nothing; a template change
// rebinds the element (RefreshMeshTemplate, sub-command 16) once the render thread is idle,
// also for effect entities when the mesh template tells its users of a change.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

#include "../animation/MeshEntityFixture.h"
#include "SFXTestSupport.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "scene/animation/MeshAnimationController.h"
#include "scene/animation/XSIAnimation.h"
#include "scene/sfx/SFXEntity.h"

using namespace sfxtest;
using rendertest::RunOnRenderThread;

namespace {

const char kTree[] =
    "[{'name': 'root', 'first': 0, 'count': 3, 'parent': 4294967295, 'child': 4294967295, 'sibling': 4294967295}]";

struct SFXMeshTest : animtest::MeshFixture {
    void SetUp() override {
        MeshFixture::SetUp();
        ASSERT_TRUE(shelltest::Shell(
            "echo '{\"length\": 1.0, \"tracks\": [{\"name\": \"fore\", \"rotation\": [[0, 0, 0, 0], [1, 0, 0, 0.7071]]}]}'"
            " | python3 " PROJECT_SOURCE_ROOT "/tests/support/anim_file.py write " + Path("animations", "bend.bin") +
            " >/dev/null"));
        arm = Template(animtest::ChainHierarchy({"upper", "fore", "hand"}, {-1, 0, 1}, {0, 1, 1}, kTree), "arm");
        arm->animations.Resize(2);
        arm->animations[0].name = NameString("Bend");
        arm->animations[0].fileName = NameString("bend");
        arm->animations[0].time = 2.0f;
        arm->animations[1].name = NameString("Empty");
        arm->animations[1].time = 1.0f;
        arm->LoadAnimations();
        stub.guid.bytes[0] = 0x77;
        stub.SetTemplate(arm);
        ASSERT_TRUE(gEntityTemplateRegistry.InsertStub(&stub));
    }
    void TearDown() override {
        for (SFXContext* c : contexts) c->Release();
        gVornexRenderer.FlushCommands(true);
        contexts.clear();
        definitions.clear();
        gEntityTemplateRegistry.RemoveStub(&stub);
        MeshFixture::TearDown();
    }
    SFXContext* Play(const char* animation, float progress) {
        definitions.push_back(std::make_unique<SFXDefinition>());
        SFXDefinition& d = *definitions.back();
        auto* m = new SFXMeshElementDefinition();
        m->templateGuid = stub.guid;
        m->animation = NameString(animation);
        m->animationProgress.SetConstantValue(Vector(progress, 0, 0, 0));
        d.AddElement(m);
        d.ResolveElements(false);
        contexts.push_back(MakeContext(d));
        contexts.back()->Restart(1, 0);
        gVornexRenderer.FlushCommands(true);
        return contexts.back();
    }

    MeshTemplate* arm = nullptr;
    EntityTemplateStub stub;
    std::unique_ptr<SFXTemplate> effect;
    std::vector<std::unique_ptr<SFXDefinition>> definitions;
    std::vector<SFXContext*> contexts;
};

TEST_F(SFXMeshTest, ThePaletteFollowsTheProgressCurve) {
    SFXContext* c = Play("Bend", 0.5f);
    Update(Clocks::All(0.1f));
    std::vector<float> palette;
    uint32_t bones = 0;
    float time = -1.0f;
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        ASSERT_NE(e->controller, nullptr);
        bones = e->controller->BoneCount();
        palette.assign(e->controller->Palette(), e->controller->Palette() + bones * 12);
        const AnimationChannelList& channel = e->controller->Channel(0);
        ASSERT_EQ(channel.Count(), 1u);
        time = static_cast<XSIAnimation*>(channel[0].Get())->Time();
    });
    EXPECT_EQ(bones, 3u);
    EXPECT_FLOAT_EQ(time, 1.0f);  // half of the definition's 2 s

    // The reference: a controller of its own posed with the same clip at the same progress.
    MeshAnimationController reference(*arm->GetHierarchy());
    AnimationParams p;
    p.OverrideProgress = 0.5f;
    p.AttackTime = 0.0f;
    ASSERT_TRUE(reference.StartAnimationByIndex(*arm, "root", 0, &p));
    AnimationPoseWorkspace workspace;
    reference.EvaluatePose(workspace, Matrix::IDENTITY, arm->xsiAnimationScale);
    ASSERT_EQ(palette.size(), size_t(reference.BoneCount()) * 12);
    for (size_t i = 0; i < palette.size(); ++i) EXPECT_NEAR(palette[i], reference.Palette()[i], 1e-5f) << i;
    // The bend moved the hand's bone away from the rest pose.
    EXPECT_GT(std::fabs(palette[24] - 1.0f), 0.01f);
}

TEST_F(SFXMeshTest, NoClipNoController) {
    for (const char* name : {"Missing", "Empty", ""}) {
        SCOPED_TRACE(name);
        SFXContext* c = Play(name, 0.5f);
        Update(Clocks::All(0.1f));
        RunOnRenderThread([&] {
            auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
            EXPECT_EQ(e->controller, nullptr);
            EXPECT_EQ(e->renderingData, arm->GetRenderingData());
        });
    }
}

TEST_F(SFXMeshTest, TemplateValuesAndTheRebind) {
    SFXContext* c = Play("Bend", 0.0f);
    const auto* m = static_cast<SFXMeshElementDefinition*>(definitions.back()->elements[0]);
    EXPECT_EQ(m->templateBox, arm->staticBoundingBox);
    EXPECT_EQ(m->presetIndex, 0u);  // "" and "Default" unknown: 0
    EXPECT_TRUE(m->IsMeshElement());
    EXPECT_EQ(m->passMask & 16u, 16u);
    Update(Clocks::All(0.1f));
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        EXPECT_EQ(e->localBox, arm->staticBoundingBox);
        e->renderingData = nullptr;  // stands for data that has since been replaced
    });
    // A slow job queued ahead: the element's box and preset change only once the render
    // thread, which draws with them, has finished it.
    std::atomic<bool> slowJobDone{false};
    const std::function<void()> slowJob = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        slowJobDone = true;
    };
    rendertest::PostCall(&slowJob);
    c->RefreshMeshTemplate(arm);
    EXPECT_TRUE(slowJobDone.load());
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        auto* e = static_cast<SFXMeshElementContext*>(c->ElementContexts()[0]);
        EXPECT_EQ(e->renderingData, arm->GetRenderingData());
        EXPECT_NE(e->controller, nullptr);  // the animation plays on
    });
}

TEST_F(SFXMeshTest, AMeshTemplateChangeReachesTheEffectEntities) {
    effect = std::make_unique<SFXTemplate>();
    auto* m = new SFXMeshElementDefinition();
    m->templateGuid = stub.guid;
    effect->definition->AddElement(m);
    effect->definition->ResolveElements(false);
    auto* e = dynamic_cast<SFXEntity*>(gEntityManager->CreateEntityFromTemplate(effect.get(), nullptr, Matrix::IDENTITY, 0, nullptr));
    ASSERT_NE(e, nullptr);
    ASSERT_NE(e->Context(), nullptr);
    e->Context()->Restart(1, 0);
    gVornexRenderer.FlushCommands(true);
    Update(Clocks::All(0.1f));
    RunOnRenderThread([&] { static_cast<SFXMeshElementContext*>(e->Context()->ElementContexts()[0])->renderingData = nullptr; });
    arm->NotifyEntitiesOfChange();
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] {
        EXPECT_EQ(static_cast<SFXMeshElementContext*>(e->Context()->ElementContexts()[0])->renderingData,
                  arm->GetRenderingData());
    });
    // The entity, then its template (which holds a use of the mesh template), go first.
    gEntityManager->NewScene();
    gVornexRenderer.FlushCommands(true);
    effect.reset();
}

}  // namespace
