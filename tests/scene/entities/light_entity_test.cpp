// test-sanitize: address
// Light entities on the real render thread: each kind's set-up as the light record holds
// it, the falloff order and local boxes, an unknown kind, the mask on load, the re-sends
// on change and move, the per-frame registration and the editor drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <memory>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "render/DeviceObjectHandle.h"
#include "render/RenderTestSupport.h"
#include "render/resources/ResourceTestSupport.h"
#include "render/resources/ResourceTexture.h"
#include "render/resources/Resource.h"
#include "render/scene/RendererLightWrapper.h"
#include "scene/entities/LightEntity.h"
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
    gVornexRenderer.PostCommand22(0);
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
        gVornexRenderer.PostCommand22(0);
        e->DrawHelpers(2);
        EXPECT_TRUE(e->GetTemplate()->DrawHelper(Matrix::IDENTITY, Vector(1, 1, 1, 1), 0, nullptr));
        EndFrame();
        EXPECT_EQ(Draws().size(), 2 * expected[type]);
    }
}

std::vector<uint8_t> WriteWithTool(const char* kind, const std::string& json) { return shelltest::PropList(kind, json); }

std::vector<uint8_t> Write(const RTTIPolyBaseClass& object) {
    const RTTIClass* cls = object.GetRTTIClass();
    std::vector<uint8_t> out(cls->SerializeProperties(nullptr, &object, 0));
    cls->SerializeProperties(out.data(), &object, 0);
    return out;
}

bool EndsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& tail) {
    return bytes.size() >= tail.size() && std::equal(tail.begin(), tail.end(), bytes.end() - tail.size());
}

// The own parts of both lists against the independent writer: defaults, then a list with
// every value changed read into the entity and written back unchanged.
TEST_F(LightEntityTest, PropertyListsMatchTheWriter) {
    LightTemplate t;
    EXPECT_TRUE(EndsWith(Write(t), WriteWithTool("lighttemplate", "{}")));
    LightEntity* e = Make(LIGHT_KIND_POINT);
    std::vector<uint8_t> bytes = Write(*e);
    const std::vector<uint8_t> defaults = WriteWithTool("lightentity", "{}");
    ASSERT_TRUE(EndsWith(bytes, defaults));
    const std::vector<uint8_t> own = WriteWithTool(
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
    EXPECT_EQ(Write(*e), bytes);
    EXPECT_EQ(e->color, HDRColor(10, 20, 30, 40, 2.0f));
    EXPECT_EQ(e->specularMultiplier, 2.5f);
    EXPECT_EQ(e->OuterRange(), 9.0f);
    EXPECT_EQ(e->twoSidedMode, 1u);
    EXPECT_EQ(e->sideColor, HDRColor(5, 6, 7, 8, 3.0f));
    EXPECT_STREQ(e->maskFileName.CStr(), "masks/star.dds");
    EXPECT_EQ(e->maskScale, Vector(5, 6, 7, 8));
}

}  // namespace
