// test-sanitize: address
// The scene's lighting. Light entities on the real render thread: each kind's set-up as
// the light record holds it, the falloff order and local boxes, an unknown kind, the mask
// on load, the re-sends on change and move, the per-frame registration and the editor
// drawing. Scene-parameter templates: the property list against the independent writer,
// the values record with its sampled curves, and on the running renderer the wrapper
// rebuilds, the transitions and the UI set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/services/SceneContentServices.h"
#include "platform/os/Clock.h"
#include "render/DeviceObjectHandle.h"
#include "render/SceneDrawServices.h"
#include "render/RenderTestSupport.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceTestSupport.h"
#include "render/resources/ResourceTexture.h"
#include "render/scene/RendererLightWrapper.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "scene/entities/LightEntity.h"
#include "scene/entities/SceneParametersTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

struct LightEntityTest : sceneframe::SceneEntityFixture<resourcetest::ResourceFixture> {
    void TearDown() override {
        EndScene();
        templates.clear();
        SceneEntityFixture::TearDown();
    }
    LightTemplate* Kind(uint32_t type) {
        templates.push_back(std::make_unique<LightTemplate>());
        templates.back()->lightType = type;
        templates.back()->SetName("light");
        return templates.back().get();
    }
    LightEntity* Make(uint32_t type, const Matrix& m = Matrix::IDENTITY) {
        Entity* made = gEntityManager->CreateEntityFromTemplate(Kind(type), nullptr, m, 0, nullptr);
        auto* e = dynamic_cast<LightEntity*>(made);
        EXPECT_NE(e, nullptr);
        return e;
    }
    // The light record's values once the render thread ran every earlier post.
    struct LightState {
        uint32_t type = 0;
        Matrix transform;
        float intensity = 0;
        Vector colors[3];
        float scalars[2] = {};
        float innerRange = 0, outerRange = 0, coneAngle = 0, coneFalloff = 0, length = 0;
        Vector maskAngles, maskScale;
        uint8_t ambientKind = 0;
        uint32_t exclusionBits = 0;
        bool listed = false;
        const DeviceObjectHandle* maskTexture = nullptr;
    };
    static LightState Record(LightEntity* e) {
        LightState copy;
        RunOnRenderThread([&] {
            const RendererLight& l = e->Proxy()->Light();
            copy.type = l.type, copy.transform = l.transform, copy.intensity = l.intensity;
            for (int i = 0; i < 3; ++i) copy.colors[i] = l.colors[i];
            copy.scalars[0] = l.scalars[0], copy.scalars[1] = l.scalars[1];
            copy.innerRange = l.innerRange, copy.outerRange = l.outerRange;
            copy.coneAngle = l.coneAngle, copy.coneFalloff = l.coneFalloff, copy.length = l.length;
            copy.maskAngles = l.maskAngles, copy.maskScale = l.maskScale;
            copy.ambientKind = l.ambientKind, copy.exclusionBits = l.exclusionBits;
            copy.listed = l.listed;
            copy.maskTexture = l.maskTexture;
        });
        return copy;
    }
    std::vector<std::unique_ptr<LightTemplate>> templates;
};

void ExpectBox(const BoundingBox4& got, const Vector& lo, const Vector& hi, const char* what) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR((&got.min.x)[i], (&lo.x)[i], 1e-4f) << what << " min " << i;
        EXPECT_NEAR((&got.max.x)[i], (&hi.x)[i], 1e-4f) << what << " max " << i;
    }
}

TEST_F(LightEntityTest, EachKindSetsUpItsRecordAndBox) {
    const struct {
        uint32_t type;
        Vector lo, hi;
    } cases[] = {
        // Falloffs given the wrong way round: inner 1, outer 2 (the spot's end falloff 10).
        {LIGHT_KIND_POINT, Vector(-2, -2, -2, 1), Vector(2, 2, 2, 1)},
        {LIGHT_KIND_SPOT, Vector(-10, -10, -0.1f, 1), Vector(10, 10, 10, 1)},  // 45 degrees: half width 10
        {LIGHT_KIND_TUBE, Vector(-2, -2, -3, 1), Vector(2, 2, 3, 1)},
        {LIGHT_KIND_DIRECTIONAL_AMBIENT, Vector(-0.5f, -0.5f, -4, 1), Vector(0.5f, 0.5f, 1, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        LightEntity* e = Make(c.type);
        e->color = HDRColor(200, 100, 50, 255, 2.0f);
        e->secondaryColor = HDRColor(10, 20, 30, 255, 1.0f);
        e->sideColor = HDRColor(40, 50, 60, 128, 1.5f);
        e->specularMultiplier = 3.0f;
        e->startFalloff = 2.0f;
        e->endFalloff = c.type == LIGHT_KIND_SPOT ? 10.0f : 1.0f;
        e->spotlightWidth = 45.0f;
        e->spotlightSoftness = 0.25f;
        e->tubeLength = 6.0f;
        e->twoSidedMode = 2;
        e->wrapAroundFactor = 0.75f;
        e->maskRotation = Vector(10, 20, 30, 0);
        e->maskScale = Vector(2, 3, 4, 1);
        e->SetVisibleInTacticalView(false);
        e->OnPropertyChanged("Color");
        ExpectBox(e->GetLocalBoundingBox(), c.lo, c.hi, "local box");
        const LightState l = Record(e);
        EXPECT_TRUE(l.listed);
        EXPECT_EQ(l.type, c.type);
        const Vector linear = e->color.ToLinearVector();
        EXPECT_NE(linear, e->color.ToVector()) << "the case must tell the two colour forms apart";
        EXPECT_EQ(l.colors[0], linear);
        EXPECT_EQ(l.intensity, 3.0f);
        EXPECT_EQ(l.maskAngles, Vector(10, 20, 30, 0));
        EXPECT_EQ(l.maskScale, Vector(2, 3, 4, 1));
        if (c.type == LIGHT_KIND_DIRECTIONAL_AMBIENT) {
            EXPECT_EQ(l.colors[1], e->secondaryColor.ToLinearVector());
            EXPECT_EQ(l.colors[2], e->sideColor.ToLinearVector());
            EXPECT_EQ(l.scalars[0], 0.75f);
            EXPECT_EQ(l.ambientKind, AMBIENT_KIND_BLENDED);
            EXPECT_EQ(l.exclusionBits, e->GetBlockRenderingMask());
            EXPECT_NE(l.exclusionBits, 0u);
            continue;
        }
        EXPECT_EQ(l.innerRange, c.type == LIGHT_KIND_SPOT ? 2.0f : 1.0f);
        EXPECT_EQ(l.outerRange, c.type == LIGHT_KIND_SPOT ? 10.0f : 2.0f);
        if (c.type == LIGHT_KIND_SPOT) {
            EXPECT_EQ(l.coneAngle, 45.0f);
            EXPECT_EQ(l.coneFalloff, 0.25f);
        }
        if (c.type == LIGHT_KIND_TUBE) {
            EXPECT_EQ(l.length, 6.0f);
        }
    }
}

TEST_F(LightEntityTest, UnknownKindSetsUpAndDrawsNothing) {
    LightEntity* e = Make(7);
    const BoundingBox4 before = e->GetLocalBoundingBox();
    e->OnPropertyChanged("End falloff");
    EXPECT_FALSE(Record(e).listed);
    ExpectBox(e->GetLocalBoundingBox(), before.min, before.max, "kept");
    recorder->ClearDrawRecords();
    BeginFrame();
    gVornexRenderer.SetPostProcessTargetMode(0);
    e->DrawHelpers(0);
    EXPECT_FALSE(e->GetTemplate()->DrawHelper(Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, nullptr));
    EndFrame();
    EXPECT_TRUE(Draws().empty());
}

TEST_F(LightEntityTest, TemplateKindChangeAppliesAtTheNextUpdate) {
    LightEntity* e = Make(LIGHT_KIND_POINT);
    e->OnLoaded(0);
    EXPECT_EQ(Record(e).type, uint32_t(LIGHT_TYPE_POINT));
    static_cast<LightTemplate*>(e->GetTemplate())->lightType = LIGHT_KIND_TUBE;
    e->OnLayerApplied();
    EXPECT_EQ(Record(e).type, uint32_t(LIGHT_TYPE_TUBE));
}

TEST_F(LightEntityTest, ChangeResendsTheSetUpAndAMoveTheTransform) {
    LightEntity* e = Make(LIGHT_KIND_POINT);
    e->OnLoaded(0);
    e->endFalloff = 7.0f;
    EXPECT_EQ(Record(e).outerRange, 1.0f) << "nothing sent before the change";
    e->OnPropertyChanged("End falloff");
    EXPECT_EQ(Record(e).outerRange, 7.0f);
    e->SetGlobalPosition3(3, 4, 5);
    EXPECT_EQ(Record(e).transform.r[3], Vector(3, 4, 5, 1));
    EXPECT_EQ(e->GetGlobalBoundingBox().max.x, 10.0f) << "the world box follows the local one";
}

TEST_F(LightEntityTest, LoadWithFlagFourLeavesTheMaskUnloaded) {
    resourcetest::WriteBytes(Path("textures", "lightmask.dds"), resourcetest::SmallDds(0xFF808080u));
    LightEntity* e = Make(LIGHT_KIND_SPOT);
    e->maskFileName = NameString("lightmask.dds");
    e->OnLoaded(4);
    ASSERT_NE(e->MaskTexture(), nullptr);
    EXPECT_EQ(e->MaskTexture()->GetState(), uint32_t(RESOURCE_NOT_LOADED));
    EXPECT_EQ(Record(e).maskTexture, nullptr);
    e->OnLoaded(0);
    auto* mask = static_cast<ResourceTexture*>(e->MaskTexture());
    ASSERT_TRUE(mask->IsLoaded()) << "a plain load makes the mask available through the loader";
    EXPECT_EQ(mask->GetUseCount(), 1u) << "the held texture is released before it is taken again";
    EXPECT_NE(mask->Handle(), nullptr);
    EXPECT_EQ(Record(e).maskTexture, mask->Handle());
    // A mask that cannot be found leaves the mask off and the light on.
    e->maskFileName = NameString("nosuch_light_mask.dds");
    e->OnPropertyChanged("Mask texture file name");
    LightState l = Record(e);
    EXPECT_EQ(l.maskTexture, nullptr);
    EXPECT_TRUE(l.listed);
    e->maskFileName = NameString();
    e->OnPropertyChanged("Mask texture file name");
    EXPECT_EQ(e->MaskTexture(), nullptr);
    EXPECT_EQ(mask->GetUseCount(), 0u);
}

TEST_F(LightEntityTest, SubmittedLightRegistersEveryFrame) {
    LightEntity* e = Make(LIGHT_KIND_POINT);
    e->OnLoaded(0);
    for (int frame = 0; frame < 2; ++frame) {
        gVornexRenderer.PostResetFrameGather();
        EXPECT_TRUE(e->RenderWithoutContext(0));
        uint32_t count = 0;
        RendererLight* first = nullptr;
        RunOnRenderThread([&] {
            count = gVornexRenderer.GatheredLights();
            first = gVornexRenderer.FrameLight(0);
        });
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(first, &e->Proxy()->Light());
    }
}

// Debug draws into the back buffer: the renderer draws a wire shape for the spot and tube
// tasks (58, 59) and nothing for 57 and 60; the template posts the same tasks.
TEST_F(LightEntityTest, EditorDrawingByKind) {
    const uint32_t expected[] = {0, 1, 1, 0};
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        LightEntity* e = Make(type);
        e->OnLoaded(0);
        recorder->ClearDrawRecords();
        BeginFrame();
        gVornexRenderer.SetPostProcessTargetMode(0);
        e->DrawHelpers(2);
        EXPECT_TRUE(e->GetTemplate()->DrawHelper(Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, nullptr));
        EndFrame();
        EXPECT_EQ(Draws().size(), 2 * expected[type]);
    }
}

// The own parts of both lists against the independent writer: defaults, then a list with
// every value changed read into the entity and written back unchanged.
TEST_F(LightEntityTest, PropertyListsMatchTheWriter) {
    LightTemplate t;
    EXPECT_TRUE(sceneframe::EndsWith(sceneframe::Written(t), shelltest::PropList("lighttemplate", "{}")));
    LightEntity* e = Make(LIGHT_KIND_POINT);
    std::vector<uint8_t> bytes = sceneframe::Written(*e);
    const std::vector<uint8_t> defaults = shelltest::PropList("lightentity", "{}");
    ASSERT_TRUE(sceneframe::EndsWith(bytes, defaults));
    const std::vector<uint8_t> own = shelltest::PropList(
        "lightentity",
        R"({"Color": [10, 20, 30, 40, 2.0], "Specualar multiplier": 2.5, "Start falloff": 3.0, "End falloff": 9.0,)"
        R"( "Spotlight width": 20.0, "Spotlight softness": 0.75, "Tube length": 5.0, "Two sided mode": 1,)"
        R"( "Wrap around factor": 0.5, "Secondary color": [1, 2, 3, 4, 1.0], "Side color": [5, 6, 7, 8, 3.0],)"
        R"( "Mask texture file name": "masks/star.dds", "Mask texture rotation": [1, 2, 3, 4],)"
        R"( "Mask texture scale": [5, 6, 7, 8]})");
    bytes.resize(bytes.size() - defaults.size());
    bytes.insert(bytes.end(), own.begin(), own.end());
    BoundedReader in(bytes.data(), bytes.size());
    EXPECT_EQ(e->GetRTTIClass()->DeserializeProperties(in, e, 0), bytes.size());
    EXPECT_EQ(sceneframe::Written(*e), bytes);
    EXPECT_EQ(e->color, HDRColor(10, 20, 30, 40, 2.0f));
    EXPECT_EQ(e->specularMultiplier, 2.5f);
    EXPECT_EQ(e->OuterRange(), 9.0f);
    EXPECT_EQ(e->twoSidedMode, 1u);
    EXPECT_EQ(e->sideColor, HDRColor(5, 6, 7, 8, 3.0f));
    EXPECT_STREQ(e->maskFileName.CStr(), "masks/star.dds");
    EXPECT_EQ(e->maskScale, Vector(5, 6, 7, 8));
}

// ---- Scene parameters ----

std::vector<uint8_t> WriteWithTool(const std::string& json) { return shelltest::PropList("sceneparameters", json); }

// The template's full list with its own part replaced by the writer's.
std::vector<uint8_t> WithOwnPart(const std::vector<uint8_t>& own) {
    auto base = std::make_unique<SceneParametersTemplate>();
    std::vector<uint8_t> bytes = sceneframe::Written(*base);
    const std::vector<uint8_t> defaults = WriteWithTool("{}");
    EXPECT_GE(bytes.size(), defaults.size());
    bytes.resize(bytes.size() - defaults.size());
    bytes.insert(bytes.end(), own.begin(), own.end());
    return bytes;
}

const char kGolden[] =
    R"({"Attack time": 4.0, "Affects sun": true, "Light yaw": 30.0, "Light pitch": 60.0,)"
    R"( "Color": [200, 180, 160, 255, 2.0], "Two sided mode": 2, "Secondary color": [1, 2, 3, 4, 1.5],)"
    R"( "Specular multiplier": 3.0, "Cloud texture file name": "clouds.dds", "Cloud drift": [1, 2, 3, 4],)"
    R"( "Layer cloud heigh": 75.0, "Fog color": [10, 20, 30, 40, 1.0], "Fog start": 100.0, "Fog end": 900.0,)"
    R"( "Tone mapping curve": {"kind": "vector", "key_times": [0, 2048], "key_flags": [0, 0],)"
    R"( "constant": [0, 0, 0, 0], "keys": [[0.5, 0.25, 0, 1], [1, 0.5, 2, 1]]},)"
    R"( "SRGB": false, "Edge treshold": 0.25, "Console edge treshold min": 0.01,)"
    R"( "RGB shift scale curve": {"kind": "vector", "key_times": [0, 5120], "key_flags": [0, 0],)"
    R"( "constant": [0, 0, 0, 0], "keys": [[0, 0, 0, 0], [5, 0, 0, 0]]},)"
    R"( "SSAO color": [9, 8, 7, 6, 1.0], "Fake diffuse normal scale": 0.125})";

TEST(SceneParametersTemplateTest, DefaultsInPropertyOrder) {
    auto t = std::make_unique<SceneParametersTemplate>();
    const std::vector<uint8_t> bytes = sceneframe::Written(*t);
    const std::vector<uint8_t> own = WriteWithTool("{}");
    ASSERT_GE(bytes.size(), own.size());
    EXPECT_TRUE(std::equal(own.begin(), own.end(), bytes.end() - own.size()));
}

TEST(SceneParametersTemplateTest, GoldenListLoadsEveryValueAndWritesTheSameBytes) {
    const std::vector<uint8_t> bytes = WithOwnPart(WriteWithTool(kGolden));
    auto t = std::make_unique<SceneParametersTemplate>();
    BoundedReader in(bytes.data(), bytes.size());
    EXPECT_EQ(t->GetRTTIClass()->DeserializeProperties(in, t.get(), 0), bytes.size());
    EXPECT_EQ(sceneframe::Written(*t), bytes);
    const SceneParameterValues& v = t->values;
    EXPECT_EQ(v.attackTime, 4.0f);
    EXPECT_TRUE(v.affectsSun);
    EXPECT_EQ(v.color, HDRColor(200, 180, 160, 255, 2.0f));
    EXPECT_EQ(v.twoSidedMode, 2u);
    EXPECT_EQ(v.secondaryColor, HDRColor(1, 2, 3, 4, 1.5f));
    EXPECT_EQ(v.specularMultiplier, 3.0f);
    EXPECT_STREQ(t->cloudTextureFileName.CStr(), "clouds.dds");
    EXPECT_EQ(v.cloudDrift, Vector(1, 2, 3, 4));
    EXPECT_EQ(v.layerCloudHeigh, 75.0f);
    EXPECT_EQ(v.rest.fogColor, HDRColor(10, 20, 30, 40, 1.0f));
    EXPECT_EQ(v.rest.fogStart, 100.0f);
    EXPECT_EQ(v.rest.fogEnd, 900.0f);
    EXPECT_FALSE(v.rest.srgb);
    EXPECT_EQ(v.rest.edgeTreshold, 0.25f);
    EXPECT_EQ(v.rest.consoleEdgeTresholdMin, 0.01f);
    EXPECT_EQ(v.rest.ssaoColor, HDRColor(9, 8, 7, 6, 1.0f));
    EXPECT_EQ(v.rest.fakeDiffuseNormalScale, 0.125f);
    ASSERT_EQ(t->toneMappingCurve.keys.Count(), 2u);
    EXPECT_EQ(t->toneMappingCurve.keyTimes[1], 2048u);
}

// The record: every value as loaded; the curves sampled at ascending times with one state.
TEST(SceneParametersTemplateTest, ValuesRecordHoldsTheValuesAndTheSampledCurves) {
    const std::vector<uint8_t> bytes = WithOwnPart(WriteWithTool(kGolden));
    auto t = std::make_unique<SceneParametersTemplate>();
    BoundedReader in(bytes.data(), bytes.size());
    t->GetRTTIClass()->DeserializeProperties(in, t.get(), 0);
    auto record = std::make_unique<SceneParameterValues>();
    t->FillValues(*record);
    EXPECT_EQ(record->attackTime, 4.0f);
    EXPECT_EQ(record->lightYaw, 30.0f);
    EXPECT_EQ(record->color, t->values.color);
    EXPECT_EQ(record->cloudDrift, Vector(1, 2, 3, 4));
    EXPECT_EQ(std::memcmp(&record->rest, &t->values.rest, sizeof record->rest), 0);
    EXPECT_EQ(record->cloudTexture, nullptr) << "no texture before a rebuild";
    // Tone curve: (0.5, 0.25, 0, 1) at 0 s to (1, 0.5, 2, 1) at 2 s, entry j at j / 256 s.
    const struct {
        uint32_t j;
        Vector want;
    } tone[] = {{0, Vector(0.5f, 0.25f, 0, 1)},  {256, Vector(0.75f, 0.375f, 1, 1)},
                {384, Vector(0.875f, 0.4375f, 1.5f, 1)}, {512, Vector(1, 0.5f, 2, 1)},
                {1023, Vector(1, 0.5f, 2, 1)}};
    for (const auto& c : tone)
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(record->toneMappingCurve[c.j][k], c.want[k], 1e-3f) << c.j;
    // RGB shift: x from 0 at 0 s to 5 at 5 s, entry j at 5j / 63 s: the x is 5j / 63.
    for (uint32_t j : {0u, 1u, 31u, 62u, 63u})
        EXPECT_NEAR(record->rgbShiftScaleCurve[j], 5.0f * float(j) / 63.0f, 2e-3f) << j;
    // The default colour lookup, multiplied by its white constant: black to (255, 255, 255, 0).
    EXPECT_EQ(record->colorLookupCurve[0], HDRColor(0, 0, 0, 0, 1.0f));
    EXPECT_EQ(record->colorLookupCurve[63], HDRColor(255, 255, 255, 0, 1.0f));
    for (uint32_t j = 1; j < kColorLookupEntries; ++j)
        EXPECT_GE(record->colorLookupCurve[j].c[0], record->colorLookupCurve[j - 1].c[0]) << j;
}

// ---------------------------------------------------------------------------------------
// On the renderer and the resource manager

struct RecordingSet : SceneParametersWrapper {
    void Blend(const SceneParametersWrapper& a, const SceneParametersWrapper& b, float t) override {
        factors.push_back(t);
        SceneParametersWrapper::Blend(a, b, t);
    }
    std::vector<float> factors;
};

std::vector<std::string> gHeard;
void Listen(const char* property, void*) { gHeard.push_back(property ? property : "(all)"); }

struct SceneParametersRenderTest : resourcetest::ResourceFixture {
    void SetUp() override {
        ResourceFixture::SetUp();
        ASSERT_TRUE(created);
        InstallSceneServices();
        gRendererScene->SetParameterSetFactory([]() -> SceneParametersWrapper* { return new RecordingSet; });
        gRendererScene->PostInit();
        gVornexRenderer.FlushCommands(true);
        gHeard.clear();
        savedConfig = gProjectConfig;
    }
    void TearDown() override {
        templates.clear();
        gVornexRenderer.FlushCommands(true);
        gRendererScene->PostShutdown();
        gRendererScene->SetParameterSetFactory(nullptr);
        gProjectConfig = savedConfig;
        ClearSceneServices();
        ResourceFixture::TearDown();
    }
    SceneParametersTemplate* Make() {
        templates.push_back(std::make_unique<SceneParametersTemplate>());
        return templates.back().get();
    }
    static void Frame(double game) {
        auto clock = [](double s) { return RenderFrameClock{int64_t(s * os::kCounterFrequency), 0.0f}; };
        gVornexRenderer.PostFrameParams(clock(0), clock(game), clock(0), 0);
        gVornexRenderer.FlushCommands(true);
    }
    static RecordingSet* InForce() {
        return static_cast<RecordingSet*>(gRendererScene->Set(RendererScene::SET_IN_FORCE));
    }
    std::vector<std::unique_ptr<SceneParametersTemplate>> templates;
    ProjectConfig config;
    ProjectConfig* savedConfig = nullptr;  // the program's, put back afterwards
};

TEST_F(SceneParametersRenderTest, TransitionWaitsForTheLoadAndTakesTheAttackTimeForANegativeTime) {
    SceneParametersTemplate* t = Make();
    t->values.attackTime = 4.0f;
    Frame(10.0);
    t->StartTransition(48, -1.0f);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(t->Wrapper(), nullptr);
    bool running = true;
    rendertest::RunOnRenderThread([&] { running = gRendererScene->BlendRunning(); });
    EXPECT_FALSE(running) << "nothing before the load";

    t->OnLoaded(4);
    ASSERT_NE(t->Wrapper(), nullptr);
    // Through the engine's scene-content services, as scene-parameter entities reach it;
    // linear easing.
    GetSceneContentServices().StartSceneParametersTransition(t, 48, -1.0f);
    gVornexRenderer.FlushCommands(true);
    InForce()->factors.clear();
    Frame(11.0);
    ASSERT_EQ(InForce()->factors.size(), 1u);
    EXPECT_FLOAT_EQ(InForce()->factors[0], 0.25f) << "one second of the four of \"Attack time\"";
}

TEST_F(SceneParametersRenderTest, ChangeRebuildsTheWrapperAndTheUITemplateReachesTheUISet) {
    gProjectConfig = &config;
    config.AddListener(&Listen, nullptr);
    SceneParametersTemplate* other = Make();
    SceneParametersTemplate* ui = Make();
    ASSERT_TRUE(ui->guid.FromString("00112233-4455-6677-8899-aabbccddeeff"));
    config.uiSceneParamTemplate = ui->guid;
    other->OnLoaded(4);
    ui->OnLoaded(4);
    SceneParametersWrapper* before = ui->Wrapper();
    ui->values.rest.fogStart = 123.0f;
    ui->OnPropertyChanged("Fog start");
    ASSERT_NE(ui->Wrapper(), nullptr);
    EXPECT_NE(ui->Wrapper(), before);
    EXPECT_EQ(ui->Wrapper()->Values().rest.fogStart, 123.0f);
    float preview = 0.0f;
    rendertest::RunOnRenderThread(
        [&] { preview = gRendererScene->Set(RendererScene::SET_PREVIEW)->Values().rest.fogStart; });
    EXPECT_EQ(preview, 123.0f) << "the UI set took the new values";
    EXPECT_EQ(gHeard, std::vector<std::string>{"UI scene param template"});

    other->values.rest.fogStart = 5.0f;
    other->OnPropertyChanged("Fog start");
    EXPECT_EQ(other->Wrapper()->Values().rest.fogStart, 5.0f);
    rendertest::RunOnRenderThread(
        [&] { preview = gRendererScene->Set(RendererScene::SET_PREVIEW)->Values().rest.fogStart; });
    EXPECT_EQ(preview, 123.0f) << "another template leaves the UI set";
    EXPECT_EQ(gHeard.size(), 1u);
    config.RemoveListener(&Listen, nullptr);
}

TEST_F(SceneParametersRenderTest, RebuildTakesTheCloudTexturesAndReleasesTheOldOnes) {
    resourcetest::WriteBytes(Path("textures", "clouds.dds"), resourcetest::SmallDds(0xFFFFFFFFu));
    SceneParametersTemplate* t = Make();
    t->cloudTextureFileName = NameString("clouds.dds");
    t->OnLoaded(0);
    ResourceTexture* cloud = t->CloudTexture();
    ASSERT_NE(cloud, nullptr);
    EXPECT_TRUE(cloud->IsLoaded()) << "the after-load rebuild waits for the texture";
    EXPECT_EQ(t->Wrapper()->Values().cloudTexture, cloud->Handle());
    EXPECT_EQ(cloud->GetUseCount(), 1u);
    t->cloudTextureFileName = NameString();
    t->OnPropertyChanged("Cloud texture file name");
    EXPECT_EQ(t->CloudTexture(), nullptr);
    EXPECT_EQ(cloud->GetUseCount(), 0u);
    EXPECT_EQ(t->Wrapper()->Values().cloudTexture, nullptr);
}

// The after-load rebuild on the ResourceManager thread, as a template file's load runs
// it: the textures load there (a queued load would wait behind this very command) and
// the first wrapper appears; a second load there replaces it.
TEST_F(SceneParametersRenderTest, LoadOnTheResourceManagerThreadFinishes) {
    resourcetest::WriteBytes(Path("textures", "layer.dds"), resourcetest::SmallDds(0xFF00FF00u));
    SceneParametersTemplate* t = Make();
    t->layerTextureFileName = NameString("layer.dds");
    std::atomic<int> done{0};
    std::function<void()> load = [&] {
        t->OnLoaded(0);
        ++done;
    };
    for (int round = 1; round <= 2; ++round) {
        gResourceManager.PostCall(
            [](BaseThread*, void* f, CommandRingBuffer*) { (*static_cast<std::function<void()>*>(f))(); }, &load);
        ASSERT_TRUE(rendertest::WaitUntil([&] { return done.load() == round; }, 30.0)) << "the loader hung";
    }
    ASSERT_NE(t->Wrapper(), nullptr);
    ASSERT_NE(t->LayerTexture(), nullptr);
    EXPECT_TRUE(t->LayerTexture()->IsLoaded());
    EXPECT_EQ(t->Wrapper()->Values().layerTexture, t->LayerTexture()->Handle());
    gResourceManager.Flush();
    gVornexRenderer.FlushCommands(true);
}

}  // namespace
