// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Compounds: the element entities made from the template's tree (missing templates,
// names, creation flags, once only), the lightmap mappings, the template's static box,
// change notifications, the script call of trigger activation and the helper drawing.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NumpyReference.h"
#include "core/rtti/RTTIClass.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/EngineServices.h"
#include "render/RenderTestSupport.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

// An element template that records its helper draws.
struct RecordingTemplate : EntityTemplate {
    struct Draw {
        Matrix m;
        std::string preset;
    };
    bool DrawHelper(const Matrix& m, const Vector&, uint32_t, const char* preset) override {
        draws.push_back({m, preset ? preset : ""});
        return true;
    }
    std::vector<Draw> draws;
};

Matrix Translation(float x, float y, float z) {
    Matrix m;
    m.LoadTranslation(x, y, z);
    return m;
}

Matrix Transform(const Vector& position, const Vector& angles, const Vector& scale) {
    Matrix m;
    m.LoadComplexTransformation(position, angles, scale);
    return m;
}

CompoundTemplateElement Element(const char* name, const char* templateName, const Matrix& m,
                                std::vector<CompoundTemplateElement> children = {}, const char* preset = "") {
    CompoundTemplateElement e;
    e.name = NameString(name);
    e.templateName = NameString(templateName);
    e.shaderPreset = NameString(preset);
    e.locationMatrix = m;
    for (const auto& c : children) e.children.Add(c);
    return e;
}

void ExpectMatrixNear(const Matrix& got, const Matrix& want, const char* what) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(got.r[r][c], want.r[r][c], 1e-4f) << what << " " << r << c;
}

struct CompoundTest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        ASSERT_NE(gEntityTemplateRegistry.Root(), nullptr);
    }
    void TearDown() override {
        EndScene();
        for (EntityTemplateStub* s : stubs) {
            gEntityTemplateRegistry.Root()->RemoveStub(s);
            if (EntityTemplate* t = s->GetLoadedTemplate()) t->stub = nullptr;
            s->DetachTemplate();
            delete s;
        }
        // Compounds hold references on the others: they go first.
        compounds.clear();
        templates.clear();
        gVornexRenderer.FlushCommands(true);
        gEngineServices.entityCreationListener = nullptr;
        gEngineServices.entityListenerAllowsScripts = nullptr;
        SceneEntityFixture::TearDown();
    }
    template <class T>
    T* Register(const char* name, std::unique_ptr<T> t) {
        T* raw = t.get();
        raw->SetName(name);
        auto* s = new EntityTemplateStub();
        s->SetFileName(name);
        s->typeId = raw->typeId;
        s->SetTemplate(raw);
        gEntityTemplateRegistry.Root()->AddStub(s);
        stubs.push_back(s);
        templates.push_back(std::move(t));
        return raw;
    }
    RecordingTemplate* Plain(const char* name, const BoundingBox4& box = BoundingBox4::UNITCUBE3D) {
        auto t = std::make_unique<RecordingTemplate>();
        t->staticBoundingBox = box;
        return Register(name, std::move(t));
    }
    CompoundTemplate* Compound(std::vector<CompoundTemplateElement> elements) {
        compounds.push_back(std::make_unique<CompoundTemplate>());
        CompoundTemplate* t = compounds.back().get();
        t->SetName("compound");
        for (const auto& e : elements) t->elements.Add(e);
        t->ResolveElementTemplates();
        return t;
    }
    CompoundEntity* Make(CompoundTemplate* t, uint32_t flags = 0, const Matrix& m = Matrix::IDENTITY) {
        Entity* e = gEntityManager->CreateEntityFromTemplate(t, nullptr, m, flags, nullptr);
        auto* c = dynamic_cast<CompoundEntity*>(e);
        EXPECT_NE(c, nullptr);
        return c;
    }
    // Names of the descendants, depth first, with their depth.
    static void Names(Entity* e, std::vector<std::string>& out, int depth = 0) {
        for (uint32_t i = 0; i < e->GetChildrenCount(); ++i) {
            Entity* c = e->GetChild(i);
            out.push_back(std::string(depth, '>') + c->GetName());
            Names(c, out, depth + 1);
        }
    }
    std::vector<EntityTemplateStub*> stubs;
    std::vector<std::unique_ptr<EntityTemplate>> templates;
    std::vector<std::unique_ptr<CompoundTemplate>> compounds;
};

TEST_F(CompoundTest, ElementTreeBecomesChildEntities) {
    Plain("crate", BoundingBox4(Vector(-1, 0, -1, 1), Vector(1, 2, 1, 1)));
    Plain("lamp");
    CompoundTemplate* t = Compound({
        Element("Door", "crate", Translation(2, 0, 0), {Element("Handle", "lamp", Translation(0, 1, 0))}),
        Element("Ghost", "missing", Translation(0, 0, 0), {Element("Lost", "crate", Translation(0, 0, 0))}),
        Element("", "crate", Translation(-3, 0, 0)),
    });
    CompoundEntity* c = Make(t, ENTITYCREATION_MULTIPLAYER_AUTHORITY);
    std::vector<std::string> names;
    Names(c, names);
    // The missing template drops its subtree, not its siblings; an empty name keeps the
    // entity's default name.
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "~Door");
    EXPECT_EQ(names[1], ">~Handle");
    EXPECT_EQ(names[2].find("~"), std::string::npos) << names[2];
    EXPECT_TRUE(c->IsMultiplayerAuthority());
    for (uint32_t i = 0; i < c->GetChildrenCount(); ++i) {
        Entity* e = c->GetChild(i);
        EXPECT_TRUE(e->IsPartOfCompoundEntity());
        EXPECT_EQ(e->GetMultiplayerRole(), MPROLE_NONE) << "multiplayer creation flags are not passed on";
        EXPECT_FALSE(e->IsStaticMultiplayer());
    }
    EXPECT_TRUE(c->GetChild(0)->GetChild(0)->IsPartOfCompoundEntity());
    EXPECT_EQ(c->GetChild(0)->GetLocalPosition(), Vector(2, 0, 0, 1));
    // The local box is the union of the elements' boxes under their matrices.
    EXPECT_EQ(c->GetLocalBoundingBox().min, Vector(-4, 0, -1, 1));
    EXPECT_EQ(c->GetLocalBoundingBox().max, Vector(3, 2, 1, 1));
    // Created once; rebuilt after a property change, not doubled.
    c->CreateElements(0);
    EXPECT_EQ(c->GetChildrenCount(), 2u);
    c->OnPropertyChanged("Local color");
    EXPECT_EQ(c->GetChildrenCount(), 2u);
    // A plain child of the compound is not an element and survives the rebuild.
    Entity* own = gEntityManager->CreateEntityFromTemplate(templates[0].get(), c, Matrix::IDENTITY, 0, nullptr);
    own->SetName("own");
    c->RebuildElements();
    names.clear();
    Names(c, names);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "own");
}

TEST_F(CompoundTest, SuppressedCompoundsAndLongNames) {
    Plain("crate");
    const std::string longName(1500, 'n');
    CompoundTemplate* t = Compound({Element(longName.c_str(), "crate", Matrix::IDENTITY)});
    CompoundEntity* c = Make(t);
    ASSERT_EQ(c->GetChildrenCount(), 1u);
    EXPECT_EQ(std::string(c->GetChild(0)->GetName()).size(), kCompoundMaxElementName);
    c->DestroyElements();
    EXPECT_EQ(c->GetChildrenCount(), 0u);
    c->RaiseFlag(kCompoundSuppressElements, false);
    c->CreateElements(0);
    EXPECT_EQ(c->GetChildrenCount(), 0u);
    EXPECT_TRUE(c->ElementsCreated());
}

TEST_F(CompoundTest, MeshElementsTakePresetColourAndLightmaps) {
    auto mesh = std::make_unique<MeshTemplate>();
    Register("mesh", std::move(mesh));
    Plain("crate");
    CompoundTemplate* t = Compound({
        Element("A", "mesh", Matrix::IDENTITY, {}, "Glow"),
        Element("B", "crate", Matrix::IDENTITY),
        Element("C", "mesh", Matrix::IDENTITY),
        Element("D", "crate", Matrix::IDENTITY),
    });
    CompoundEntity* c = Make(t);
    ASSERT_EQ(c->GetChildrenCount(), 4u);
    auto* a = dynamic_cast<MeshEntity*>(c->GetChild(0));
    auto* m = dynamic_cast<MeshEntity*>(c->GetChild(2));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(a->GetShaderPreset().CStr(), "Glow");
    // Three stored mappings grow to four; only the mesh children take theirs.
    for (uint32_t i = 0; i < 3; ++i) {
        LightmapMapping l;
        l.uvMulAdd = Vector(float(i + 1), 2, 3, 4);
        l.lightmapId = 10 + i;
        c->elementLightmaps.Add(l);
    }
    c->OnLoaded(0);
    ASSERT_EQ(c->elementLightmaps.Count(), 4u);
    EXPECT_EQ(c->elementLightmaps[3].lightmapId, LightmapMapping().lightmapId);
    EXPECT_EQ(a->lightmapMapping.lightmapId, 10u);
    EXPECT_EQ(m->lightmapMapping.lightmapId, 12u);
    EXPECT_EQ(m->lightmapMapping.uvMulAdd, Vector(3, 2, 3, 4));
    // Identity refresh: the compound's colour reaches its mesh elements.
    c->localColor = HDRColor(10, 20, 30, 255, 2.0f);
    c->RefreshElementIdentity();
    EXPECT_EQ(a->GetLocalColor().ToVector(), c->localColor.ToVector());
    EXPECT_EQ(c->GetColor().ToVector(), c->localColor.ToVector());
}

TEST_F(CompoundTest, TemplateStaticBoxAndChanges) {
    RecordingTemplate* crate = Plain("crate", BoundingBox4(Vector(-1, -1, -1, 1), Vector(1, 2, 3, 1)));
    const Matrix outer = Transform(Vector(4, 1, -2, 1), Vector(0, 30, 0, 1), Vector(2, 2, 2, 0));
    const Matrix inner = Transform(Vector(1, 0, 3, 1), Vector(45, 0, 10, 1), Vector(1, 0.5f, 1, 0));
    CompoundTemplate* t = Compound({Element("Outer", "crate", outer, {Element("Inner", "crate", inner)})});
    // Against numpy: the inner element's box goes through its own matrix, then its parent's.
    std::ostringstream input;
    for (const Matrix* m : {&outer, &inner})
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) input << (r || k || m == &inner ? " " : "") << FloatBits(m->r[r][k]);
    for (float v : {-1.0f, -1.0f, -1.0f, 1.0f, 2.0f, 3.0f}) input << " " << FloatBits(v);
    const std::vector<std::string> lines =
        RunNumpyReference("../scene/entities/path_reference.py", "box " + input.str() + "\n");
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<float> want = ParseFloats(lines[0]);
    ASSERT_EQ(want.size(), 6u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(t->staticBoundingBox.min[i], want[i], 1e-4f) << i;
        EXPECT_NEAR(t->staticBoundingBox.max[i], want[i + 3], 1e-4f) << i;
    }
    const BoundingBox4 kept = t->staticBoundingBox;

    // A change notification keeps the elements and rebuilds the live compounds.
    CompoundEntity* c = Make(t);
    ASSERT_EQ(c->GetChildrenCount(), 1u);
    Entity* before = c->GetChild(0);
    const uint32_t uses = crate->GetUseCount();
    t->OnPropertyChanged("Definition");
    EXPECT_EQ(t->elements.Count(), 1u);
    EXPECT_EQ(crate->GetUseCount(), uses) << "the old references are released as the new ones are taken";
    ASSERT_EQ(c->GetChildrenCount(), 1u);
    EXPECT_EQ(c->GetChild(0)->GetChildrenCount(), 1u);
    (void)before;

    // Elements without templates keep the previous box; clearing empties the template.
    t->elements[0].templateName = NameString("missing");
    t->elements[0].children.Clear();
    t->ResolveElementTemplates();
    EXPECT_EQ(t->staticBoundingBox, kept);
    t->ClearElements();
    EXPECT_EQ(t->elements.Count(), 0u);
    EXPECT_EQ(t->staticBoundingBox, kept);
}

TEST_F(CompoundTest, HelperDrawingComposesMatrices) {
    RecordingTemplate* crate = Plain("crate");
    const Matrix outer = Transform(Vector(4, 1, -2, 1), Vector(0, 90, 0, 1), Vector(1, 1, 1, 0));
    const Matrix inner = Translation(1, 0, 0);
    CompoundTemplate* t = Compound({Element("Outer", "crate", outer, {Element("Inner", "crate", inner, {}, "P")}),
                                    Element("Gone", "missing", inner)});
    const Matrix placed = Translation(0, 5, 0);
    EXPECT_TRUE(t->DrawHelper(placed, Vector(1, 1, 1, 1), 0, nullptr));
    ASSERT_EQ(crate->draws.size(), 2u);
    Matrix first, second;
    first.Mul(placed, outer);
    second.Mul(first, inner);
    ExpectMatrixNear(crate->draws[0].m, first, "outer");
    ExpectMatrixNear(crate->draws[1].m, second, "inner");
    EXPECT_EQ(crate->draws[1].preset, "P");
    // The inner element sits 1 unit along the rotated x axis of the outer one.
    EXPECT_NEAR(crate->draws[1].m.r[3].x, 4.0f, 1e-4f);
    EXPECT_NEAR(crate->draws[1].m.r[3].y, 6.0f, 1e-4f);
    EXPECT_NEAR(std::abs(crate->draws[1].m.r[3].z + 2.0f), 1.0f, 1e-4f);
    Compound({});
    EXPECT_FALSE(compounds.back()->DrawHelper(placed, Vector(1, 1, 1, 1), 0, nullptr));
}

TEST_F(CompoundTest, InitCompoundEntityScriptCall) {
    Plain("crate");
    gLua.Init();
    gLua.RegisterClass("CompoundEntity", "");
    ASSERT_TRUE(gLua.ExecuteString("Calls = 0\nfunction CompoundEntity:InitCompoundEntity() Calls = Calls + 1 end\n"));
    static bool allow = false;
    const auto calls = [] {
        lua_getglobal(gLua.GetState(), "Calls");
        const int n = int(lua_tonumber(gLua.GetState(), -1));
        lua_pop(gLua.GetState(), 1);
        return n;
    };
    const struct {
        uint32_t passes;
        bool listener, agrees;
        int expected;
    } cases[] = {{0, true, true, 0}, {1, false, true, 0}, {1, true, false, 0}, {2, true, true, 1}};
    for (const auto& k : cases) {
        CompoundTemplate* t = Compound({Element("A", "crate", Matrix::IDENTITY)});
        t->initPassCount = k.passes;
        CompoundEntity* c = Make(t);
        gEngineServices.entityCreationListener = k.listener ? +[](Entity*) {} : nullptr;
        gEngineServices.entityListenerAllowsScripts = [] { return allow; };
        allow = k.agrees;
        const int before = calls();
        c->InitTriggerActivation();
        EXPECT_EQ(calls() - before, k.expected) << k.passes << k.listener << k.agrees;
    }
    gEntityManager->NewScene();
    gLua.Close();
}

}  // namespace
