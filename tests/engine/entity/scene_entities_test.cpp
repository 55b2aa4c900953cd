#include <cmath>

#include "EntityTestSupport.h"
#include "SceneFiles.h"
#include "core/config/ProjectConfig.h"
#include "engine/tween/FadeCurve.h"
#include "engine/entity/EntityBlender.h"
#include "engine/entity/SceneParametersEntity.h"
#include "engine/tween/Fade.h"
#include "platform/os/Clock.h"
#include "render/RenderTestSupport.h"
#include "render/resources/ResourceTestSupport.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/scene/EntityRenderingContext.h"

namespace {

constexpr int64_t kSecond = os::kCounterFrequency;

TEST(FloatFadeTest, CurvesAtChosenTimes) {
    const float pi = 3.14159265f;
    const struct {
        uint32_t curve;
        float atHalf;
    } cases[] = {{0, 0.5f}, {1, std::sin(0.25f * pi)}, {2, 1.0f - std::sin(0.25f * pi)}, {3, 0.5f}, {7, 0.5f}};
    for (const auto& c : cases) {
        FloatFade f;
        f.current = 2.0f;
        f.Start(100 * kSecond, 6.0f, 2.0f, c.curve);
        const float expected[] = {2.0f, 2.0f + 4.0f * c.atHalf, 6.0f, 6.0f};
        const int64_t at[] = {100 * kSecond, 101 * kSecond, 102 * kSecond, 103 * kSecond};
        for (int i = 0; i < 4; ++i) {
            f.Update(at[i]);
            EXPECT_NEAR(f.current, expected[i], 1e-5f) << c.curve << " " << i;
            EXPECT_EQ(f.active, i < 3) << c.curve << " " << i;  // t = 1 is still running
        }
    }
    FloatFade f;
    f.current = 3.0f;
    f.Start(0, 5.0f, 10.0f, 0);
    f.Update(-kSecond);  // before the start counts as the start
    EXPECT_EQ(f.current, 3.0f);
    for (float d : {0.0f, -1.0f, NAN}) {
        f.Start(kSecond, 8.0f, d, 1);
        EXPECT_FALSE(f.active);
        EXPECT_EQ(f.current, 8.0f);
    }
}

class SceneEntitiesTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        clock.Install();
    }
    void TearDown() override {
        EntityBlender::UpdateAllBlenders();
        clock.Uninstall();
        EntityTest::TearDown();
    }
    os::ManualClock clock{1000 * kSecond};
};

TEST_F(SceneEntitiesTest, BlendersShowHideAndLeaveTheList) {
    Entity* e = Make();
    auto* b = new EntityBlender(e);
    b->SetAutoShowHide(true);
    b->Blend(0.0f, 0.0f, INTERPOLATION_SINE);
    EXPECT_TRUE(b->IsLinked());
    EXPECT_FALSE(e->IsHidden());
    EntityBlender::UpdateAllBlenders();
    EXPECT_TRUE(e->IsHidden());
    EXPECT_FALSE(b->IsLinked());

    b->Blend(1.0f, 2.0f, INTERPOLATION_LINEAR);  // a target above 0 shows at once
    EXPECT_FALSE(e->IsHidden());
    clock.AdvanceSeconds(1.0);
    EntityBlender copy(*b);
    EXPECT_TRUE(copy.IsLinked());
    EntityBlender::UpdateAllBlenders();
    EXPECT_NEAR(b->GetValue(), 0.5f, 1e-5f);
    EXPECT_TRUE(b->IsLinked());
    clock.AdvanceSeconds(1.5);
    EntityBlender::UpdateAllBlenders();
    EXPECT_EQ(b->GetValue(), 1.0f);
    EXPECT_FALSE(e->IsHidden());
    EXPECT_FALSE(b->IsLinked() || copy.IsLinked());

    EntityBlender unlinked(e);
    EntityBlender unlinkedCopy(unlinked);
    EXPECT_FALSE(unlinkedCopy.IsLinked());
    b->Blend(0.0f, 5.0f, INTERPOLATION_HALFSINE);
    gEntityManager->DestroyEntity(e);
    EntityBlender::UpdateAllBlenders();
    EXPECT_FALSE(b->IsLinked());
    b->SetColorMultiplier(1, 1, 1, 1);
    delete b;  // a linked blender leaves the list as it dies
    EntityBlender::UpdateAllBlenders();
}

TEST_F(SceneEntitiesTest, SceneParametersFollowTheRootsActiveEntity) {
    static std::vector<std::pair<uint32_t, float>> started;
    started.clear();
    static struct : SceneContentServices {
        void StartSceneParametersTransition(EntityTemplate*, uint32_t flags, float seconds) override {
            started.push_back({flags, seconds});
        }
    } scene;
    SetSceneContentServices(&scene);
    auto* params = new scenefiles::ParamsTemplate();
    templates.emplace_back(params);
    params->SetName("params");
    auto* p = static_cast<SceneParametersEntity*>(Make(nullptr, 0, params));
    Entity* mesh = Make(nullptr, 0, Template(ENTITY_MESH, "mesh"));
    auto* root = static_cast<SceneEntity*>(Root());
    EXPECT_TRUE(root->IsHidden());

    root->activeSceneParamBox = mesh->GetGUID();  // not a parameter entity: defaults
    root->ActivateSceneParams();
    EXPECT_EQ(gEntityManager->GetActiveSceneParamsEntity(), nullptr);
    SceneParametersEntity::ActivateDefaultSceneParams(64, 1.0f);
    EXPECT_TRUE(started.empty());

    p->Activate(SceneParametersEntity::kKeepActiveGuid, 0.5f);
    EXPECT_EQ(root->activeSceneParamBox, mesh->GetGUID());
    p->Activate(0, 0.25f);
    EXPECT_EQ(gEntityManager->GetActiveSceneParamsEntity(), p);
    root->ActivateSceneParams();
    SceneParametersEntity::ActivateDefaultSceneParams(64, 3.0f);
    p->ChangeTemplate(Template(ENTITY_SCENEPARAMBOX, "other"));
    EXPECT_STREQ(p->GetTemplate()->GetName(), "other");
    const std::vector<std::pair<uint32_t, float>> expected = {{1, 0.5f}, {0, 0.25f}, {2, 0.0f}, {64, 3.0f}, {0, 0.0f}};
    EXPECT_EQ(started, expected);
}

struct ContextEntity : Entity {
    EntityRenderingContext* CreateRenderingContext() override {
        EntityRenderingContextSetup s;
        FillRenderingContextSetup(s, 1, 0);
        return new EntityRenderingContext(s);
    }
};

struct BlenderColourTest : rendertest::RendererFixture {};

TEST_F(BlenderColourTest, ColourSentForEachCurve) {
    ASSERT_TRUE(created);
    os::ManualClock clock(50 * kSecond);
    clock.Install();
    gEntityManager->Init(BoundingBox4(Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)), 10.0f);
    struct ContextTemplate : EntityTemplate {
        Entity* CreateEntity() override { return new ContextEntity(); }
    } t;
    t.SetName("lit");
    Entity* e = gEntityManager->CreateEntityFromTemplate(&t, nullptr, Matrix::IDENTITY, 0, nullptr);
    EntityRenderingContext* context = e->GetRenderingContext();
    ASSERT_NE(context, nullptr);
    const Vector white = e->GetColor().ToLinearVector();
    for (uint32_t curve = 0; curve < 4; ++curve) {
        for (bool alphaOnly : {false, true}) {
            EntityBlender b(e);
            b.SetAlphaOnly(alphaOnly);
            b.SetColorMultiplier(0.5f, 1.0f, 1.0f, 1.0f);
            b.Blend(0.0f, 2.0f, curve);  // from 1 towards 0
            clock.AdvanceSeconds(0.5);
            EntityBlender::UpdateAllBlenders();
            gVornexRenderer.FlushCommands(true);
            const float v = 1.0f - FadeCurve(curve, 0.25f);
            const Vector expected = alphaOnly ? Vector(0.5f * white.x, white.y, white.z, v * white.w)
                                              : Vector(0.5f * white.x, white.y, white.z, white.w) * v;
            const Vector got = context->Color();
            EXPECT_NEAR(got.x, expected.x, 1e-6f) << curve << alphaOnly;
            EXPECT_NEAR(got.y, expected.y, 1e-6f) << curve << alphaOnly;
            EXPECT_NEAR(got.w, expected.w, 1e-6f) << curve << alphaOnly;
        }
    }
    gEntityManager->NewScene();
    gVornexRenderer.FlushCommands(true);
    clock.Uninstall();
}

// The scene-parameter commands as the render thread applies them: with an override set
// active, mode 1 drops it, mode 0 keeps it, and mode 10 drops it (and blends to the
// defaults); without flag 64 and an active entity nothing is posted.
struct SceneParameterPostsTest : resourcetest::ResourceFixture {};

TEST_F(SceneParameterPostsTest, ModesReachTheRendererScene) {
    ASSERT_TRUE(created);
    RendererScene& scene = *gRendererScene;
    scene.PostInit();
    gEntityManager->Init(BoundingBox4(Vector(-40, -5, -30, 1), Vector(40, 50, 30, 1)), 10.0f);
    auto* root = static_cast<SceneEntity*>(gEntityManager->GetRootEntity());
    SceneParametersWrapper override;
    const struct {
        void (*post)(SceneEntity*);
        bool overrideAfter;
    } cases[] = {
        {[](SceneEntity*) { SceneParametersEntity::DeactivateOverrideParams(); }, false},
        {[](SceneEntity*) { SceneParametersEntity::ActivateDefaultSceneParams(64, 1.0f); }, true},
        {[](SceneEntity*) { SceneParametersEntity::ActivateDefaultSceneParams(2, 1.0f); }, true},
        {[](SceneEntity* r) { r->ActivateSceneParams(); }, false},
    };
    for (const auto& c : cases) {
        scene.PostSceneParameters(&override, 1, 0.0f);
        c.post(root);
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(scene.OverrideActive(), c.overrideAfter) << &c - cases;
    }
    EXPECT_TRUE(scene.BlendRunning());

    // A loaded root sends its visualization mode (DEFAULT: the configured one) and the
    // terrain lightmap vectors.
    ProjectConfig config;
    config.visualizationMode = 1;
    ProjectConfig* saved = gProjectConfig;
    gProjectConfig = &config;
    for (uint32_t mode : {2u, 3u}) {
        root->visualizationMode = mode;
        root->terrainLightmapPosBBox = Vector(1, 2, 3, 4);
        root->terrainLightmapUVBBox = Vector(5, 6, 7, 8);
        root->terrainLightmapUVMulAdd = Vector(float(mode), 0, 0, 1);
        root->OnLoaded(0);
        gVornexRenderer.FlushCommands(true);
        EXPECT_EQ(gVornexRenderer.VisualizationMode(), mode == 3 ? 1u : mode);
        EXPECT_EQ(scene.TerrainLightmapBox(0), Vector(1, 2, 3, 4));
        EXPECT_EQ(scene.TerrainLightmapBox(1), Vector(5, 6, 7, 8));
        EXPECT_EQ(scene.TerrainLightmapBox(2), Vector(float(mode), 0, 0, 1));
    }
    gProjectConfig = saved;
    gVornexRenderer.SetVisualizationMode(0);
    scene.PostShutdown();
    gEntityManager->NewScene();
}

}  // namespace
