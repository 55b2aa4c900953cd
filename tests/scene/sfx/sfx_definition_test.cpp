// Effect definitions: the template's stored form against the independent writer (every
// default, every kind, written back byte for byte), the view mask, the frame layout, the
// quad's option text, template references of the wrong type, and stripping disabled
// elements.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "scene/sfx/SFXElementContexts.h"
#include "scene/sfx/SFXEntity.h"

namespace {

std::vector<uint8_t> Tool(const std::string& json) { return shelltest::PropList("sfxtemplate", json); }

std::vector<uint8_t> Write(const SFXTemplate& t) {
    std::vector<uint8_t> out(t.SolidSerialize(nullptr, 0));
    t.SolidSerialize(out.data(), 0);
    return out;
}

// Reads without resolving (nothing to load here).
bool Read(SFXTemplate& t, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    t.SolidDeserialize(in, 4);
    return !in.Failed() && in.Remaining() == 0;
}

TEST(SFXDefinitionTest, DefaultsMatchTheWriter) {
    SFXTemplate t;
    EXPECT_EQ(Write(t), Tool("{}"));

    // Every kind with its defaults, in the writer's order.
    const char* kinds[] = {"SFXQuadElementDefinition", "SFXParticleElementDefinition", "SFXMeshElementDefinition",
                           "SFXPointLightElementDefinition", "SFXSpotLightElementDefinition",
                           "SFXSoundElementDefinition"};
    std::string json = "{\"definition\": {\"elements\": [";
    for (const char* k : kinds) json += std::string(k == kinds[0] ? "" : ",") + "{\"class\": \"" + k + "\"}";
    json += "]}}";
    const std::vector<uint8_t> tool = Tool(json);
    SFXTemplate loaded;
    ASSERT_TRUE(Read(loaded, tool));
    ASSERT_EQ(loaded.definition->elements.Count(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(kinds[i]);
        SFXElementDefinition* e = loaded.definition->elements[i];
        EXPECT_STREQ(e->GetClassName(), kinds[i]);
        EXPECT_EQ(e->owner, loaded.definition);
        EXPECT_TRUE(e->enabled);
        EXPECT_EQ(e->visibleInTacticalExtended, SFX_TACTICAL_EXTENDED_FALSE);
    }
    auto* quad = static_cast<SFXQuadElementDefinition*>(loaded.definition->elements[0]);
    EXPECT_STREQ(quad->textureFileName.CStr(), "SFX/glow.dds");
    EXPECT_EQ(quad->blendingMode, uint32_t(SFX_BLEND_ADD_ALPHA));
    EXPECT_EQ(static_cast<SFXSpotLightElementDefinition*>(loaded.definition->elements[4])->spotWidth, 30.0f);
    EXPECT_EQ(Write(loaded), tool);
}

TEST(SFXDefinitionTest, EveryKindWithValuesWritesBackTheSameBytes) {
    const std::string json = R"({
      "template": {"lua_class": "Boom"},
      "own": {"Activity timer": 1, "Offscreen processing enabled": false, "Activation at start delay": 0.5,
              "Constant BoundingBox Update Enabled": true, "Use FSE SFX Color Multiplier": false},
      "definition": {"Delete timeout": 2.5, "Scale for all elements": [2, 3, 4, 1], "elements": [
        {"class": "SFXQuadElementDefinition", "Description": "flare", "Texture frames X": 2,
         "Texture frames Y": 2, "Render as lens flare": true, "Flare distance": 0.5,
         "Frame animation curve": {"key_times": [0, 3584], "keys": [[0, 0, 0, 0], [3.5, 0, 0, 0]],
                                   "loops": [[0, 1024, "L"]]},
         "Visible in tactical extended": 1, "Face camera mode": 2},
        {"class": "SFXParticleElementDefinition", "Particle template": "00112233445566778899aabbccddeeff",
         "Enabled": false},
        {"class": "SFXMeshElementDefinition", "Shader preset": "Glow", "Animation": "Walk",
         "AnimationProgress": {"key_times": [0, 1024], "keys": [[0, 0, 0, 0], [1, 0, 0, 0]]}},
        {"class": "SFXPointLightElementDefinition", "Mask texture": "mask.dds", "Draw light wireframe": true},
        {"class": "SFXSpotLightElementDefinition", "Spot width": 45, "Spot softness": 0.25},
        {"class": "SFXSoundElementDefinition", "Sound entry name": "Boom", "Sound channel": 3,
         "Color": {"kind": "color", "constant": [10, 20, 30, 40, 2.0]}}
      ]}})";
    const std::vector<uint8_t> tool = Tool(json);
    SFXTemplate t;
    ASSERT_TRUE(Read(t, tool));
    EXPECT_EQ(t.activityTimer, SFX_TIMER_SYSTEM);
    EXPECT_FALSE(t.useFSEColorMultiplier);
    const SFXDefinition& d = *t.definition;
    EXPECT_EQ(d.deleteTimeout, 2.5f);
    ASSERT_EQ(d.elements.Count(), 6u);
    auto* quad = static_cast<SFXQuadElementDefinition*>(d.elements[0]);
    EXPECT_STREQ(quad->description, "flare");
    EXPECT_TRUE(quad->renderAsLensFlare);
    EXPECT_EQ(quad->frameAnimationCurve.loops.Count(), 1u);
    EXPECT_FALSE(d.elements[1]->enabled);
    EXPECT_STREQ(static_cast<SFXMeshElementDefinition*>(d.elements[2])->animation.CStr(), "Walk");
    EXPECT_EQ(static_cast<SFXSoundElementDefinition*>(d.elements[5])->soundChannel, 3u);
    EXPECT_EQ(Write(t), tool);

    // A truncated blob fails cleanly.
    for (size_t cut : {tool.size() - 1, tool.size() / 2, size_t(100)}) {
        std::vector<uint8_t> part(tool.begin(), tool.begin() + cut);
        SFXTemplate broken;
        EXPECT_FALSE(Read(broken, part)) << cut;
    }
}

TEST(SFXDefinitionTest, ViewMaskTruthTable) {
    struct Row {
        bool combat, tactical;
        uint8_t extended;
        uint32_t mask;
    } rows[] = {
        {true, true, SFX_TACTICAL_EXTENDED_FALSE, 3},      {true, false, SFX_TACTICAL_EXTENDED_FALSE, 1},
        {false, true, SFX_TACTICAL_EXTENDED_SAME_AS_VR, 6}, {false, false, SFX_TACTICAL_EXTENDED_SAME_AS_VR, 0},
        {false, false, SFX_TACTICAL_EXTENDED_TRUE, 4},      {true, true, SFX_TACTICAL_EXTENDED_TRUE, 7},
    };
    for (const Row& r : rows) {
        SFXSoundElementDefinition e;
        e.visibleInCombatView = r.combat;
        e.visibleInTacticalView = r.tactical;
        e.visibleInTacticalExtended = r.extended;
        e.Resolve(false);
        EXPECT_EQ(e.viewMask, r.mask) << r.combat << r.tactical << int(r.extended);
        EXPECT_EQ(e.envelopeBindings.Count(), 6u);  // four base curves, start and volume
    }
}

TEST(SFXDefinitionTest, FrameLayoutAndOptionText) {
    struct Row {
        uint32_t x, y;
        bool softness;
        uint32_t count;
        float sizeX;
        const char* options;
    } rows[] = {
        {1, 1, false, 1, 1.0f, "TEXTURE "},
        {0, 5, false, 1, 1.0f, "TEXTURE "},  // X = 0: one frame, no division by zero
        {2, 2, false, 4, 0.5f, "TEXTURE TEXTURE_ANIMATION "},
        {4, 1, true, 4, 0.25f, "TEXTURE SOFTNESS TEXTURE_ANIMATION "},
        {1, 1, true, 1, 1.0f, "TEXTURE SOFTNESS "},
    };
    for (const Row& r : rows) {
        SFXQuadElementDefinition q;
        q.softness = r.softness;
        q.SetTextureFramesX(r.x);
        q.SetTextureFramesY(r.y);
        EXPECT_EQ(q.frameCount, r.count);
        EXPECT_FLOAT_EQ(q.frameSize.x, r.sizeX);
        EXPECT_FLOAT_EQ(q.frameSize.z, r.sizeX);
        char text[96];
        q.ShaderOptions(text, sizeof text);
        EXPECT_STREQ(text, r.options);
    }
}

// Templates in the registry's GUID index for the test's length.
class SFXResolveTest : public testing::Test {
protected:
    void SetUp() override { log.Attach(); }
    void TearDown() override {
        log.Detach();
        for (auto& s : stubs) gEntityTemplateRegistry.RemoveStub(s.get());
        templates.clear();
        stubs.clear();
    }
    SimpleGUID Register(uint32_t typeId, uint8_t id, const char* name) {
        templates.push_back(std::make_unique<EntityTemplate>());
        templates.back()->typeId = typeId;
        templates.back()->SetName(name);
        stubs.push_back(std::make_unique<EntityTemplateStub>());
        EntityTemplateStub* s = stubs.back().get();
        s->guid = SimpleGUID();
        s->guid.bytes[0] = id;
        s->guid.bytes[15] = 0x5F;
        s->SetTemplate(templates.back().get());
        EXPECT_TRUE(gEntityTemplateRegistry.InsertStub(s));
        return s->guid;
    }
    CaptureLogSink log;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<std::unique_ptr<EntityTemplateStub>> stubs;
};

TEST_F(SFXResolveTest, WrongTemplateKindsAreLoggedAndDropped) {
    const SimpleGUID mesh = Register(1, 1, "rock");
    const SimpleGUID trigger = Register(4, 2, "zone");
    {
        SFXParticleElementDefinition p;
        p.templateGuid = mesh;
        p.Resolve(false);
        EXPECT_EQ(p.heldTemplate, nullptr);
        EXPECT_TRUE(log.Contains("Template rock is not particle while used as such in SFX definition"));
        EXPECT_EQ(p.passMask, 17u);
        EXPECT_EQ(p.envelopeBindings.Count(), 5u);  // its curves still run
        EXPECT_NE(std::unique_ptr<SFXElementContext>(p.CreateContext()), nullptr);

        SFXMeshElementDefinition m;
        m.templateGuid = trigger;
        m.Resolve(false);
        EXPECT_EQ(m.heldTemplate, nullptr);
        EXPECT_TRUE(log.Contains("Template zone is not mesh while used as such in SFX definition"));
        m.templateGuid = mesh;
        m.Resolve(false);
        EXPECT_EQ(m.heldTemplate, templates[0].get());
        m.Resolve(false);  // the same template: still one use
        EXPECT_EQ(templates[0]->GetUseCount(), 1u);
    }
    EXPECT_EQ(templates[0]->GetUseCount(), 0u);
    EXPECT_EQ(templates[1]->GetUseCount(), 0u);
}

TEST(SFXDefinitionTest, StripDisabledElementsKeepsTheOrder) {
    SFXDefinition d;
    const bool enabled[] = {true, false, true};
    const char* names[] = {"first", "gone", "last"};
    for (int i = 0; i < 3; ++i) {
        auto* e = new SFXSoundElementDefinition();
        e->enabled = enabled[i];
        char* n = const_cast<char*>(names[i]);
        RTTIValueStore<char*>::Assign(e->description, n);
        d.AddElement(e);
    }
    d.StripDisabledElements();
    ASSERT_EQ(d.elements.Count(), 2u);
    EXPECT_STREQ(d.elements[0]->description, "first");
    EXPECT_STREQ(d.elements[1]->description, "last");
}

TEST(SFXDefinitionTest, LiveDefinitionsAreListed) {
    const uint32_t before = SFXDefinition::LiveCount();
    auto a = std::make_unique<SFXDefinition>();
    auto b = std::make_unique<SFXDefinition>();
    auto c = std::make_unique<SFXDefinition>();
    EXPECT_EQ(SFXDefinition::LiveCount(), before + 3);
    b.reset();
    uint32_t seen = 0;
    for (SFXDefinition* d = SFXDefinition::FirstLive(); d; d = d->NextLive()) seen += d == a.get() || d == c.get();
    EXPECT_EQ(seen, 2u);
    EXPECT_EQ(SFXDefinition::LiveCount(), before + 2);
}

}  // namespace
