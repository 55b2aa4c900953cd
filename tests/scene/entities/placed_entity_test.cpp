// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// Placed kinds on the entity manager. Compounds: the element entities made from the
// template's tree (missing templates, names, creation flags, once only), the lightmap
// mappings, the template's static box, change notifications, the script call of trigger
// activation and the helper drawing. Envelope entities (colour evaluation with and without
// gamma, advancing, the restart on a template change) and in-game UI entities (the
// element's life, the context's life, the UI transform against numpy through a recording
// draw entry, sizes that cannot draw). The kinds' own property lists against the
// independent writer (tests/support/proplist.py): the defaults, and lists with values read
// into the engine's objects and written back unchanged; compound lists come first in the
// walk ("Compound..." sorts before "Entity..."), the others last.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/math/HDRColor.h"
#include "core/rtti/RTTIClass.h"
#include "engine/NumpyReference.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/GameServices.h"
#include "render/RenderTestSupport.h"
#include "scene/SceneUIServices.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/GraphEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/entities/LightEntity.h"
#include "scene/mesh/MeshEntity.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/startup/SceneStaticInit.h"
#include "../SceneFrameTestSupport.h"

using namespace rendertest;

namespace {

// ---- Compounds ----

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
        SetGameServices(nullptr);
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
    // A Game with or without an entity-creation listener, which may or may not allow scripts.
    static struct : GameServices {
        bool listener = false, allow = false;
        bool HasEntityCreationListener() const override { return listener; }
        bool ListenerAllowsScripts() const override { return allow; }
    } game;
    SetGameServices(&game);
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
        game.listener = k.listener;
        game.allow = k.agrees;
        const int before = calls();
        c->InitTriggerActivation();
        EXPECT_EQ(calls() - before, k.expected) << k.passes << k.listener << k.agrees;
    }
    gEntityManager->NewScene();
    gLua.Close();
}

// ---- Envelope and in-game UI entities ----

struct UIElementDouble : SafePointerRoot {};

std::vector<SafePointerRoot*> gReleased;
struct DrawCall {
    SafePointerRoot* element;
    Matrix transform;
    bool interaction;
};
std::vector<DrawCall> gDraws;

struct EnvelopeUITest : sceneframe::SceneEntityFixture<RendererFixture> {
    void SetUp() override {
        SceneEntityFixture::SetUp();
        if (HasFatalFailure()) return;
        gReleased.clear();
        gDraws.clear();
        // The UI's releases and tree draws, recorded.
        static struct : SceneUIServices {
            void ReleaseElement(SafePointerRoot* e) override { gReleased.push_back(e); }
            void DrawElementTree(SafePointerRoot* e, const Matrix& m, bool interaction) override {
                gDraws.push_back({e, m, interaction});
            }
        } ui;
        SetSceneUIServices(&ui);
        colorTemplate.SetName("colour");
        uiTemplate.SetName("panel");
    }
    void TearDown() override {
        EndScene();
        SetSceneUIServices(nullptr);
        SetRenderVisualizationMode(0);
        SceneEntityFixture::TearDown();
    }
    template <class E, class T>
    E* Make(T& t, const Matrix& m = Matrix::IDENTITY) {
        auto* e = dynamic_cast<E*>(gEntityManager->CreateEntityFromTemplate(&t, nullptr, m, 0, nullptr));
        EXPECT_NE(e, nullptr);
        return e;
    }
    ColorEnvelopeTemplate colorTemplate;
    InGameUITemplate uiTemplate;
};

TEST_F(EnvelopeUITest, ColourEnvelopeEntity) {
    auto* e = Make<ColorEnvelopeEntity>(colorTemplate);
    for (uint32_t mode : {0u, 1u}) {
        SetRenderVisualizationMode(mode);
        Vector c;
        e->GetLinearColor(c);
        EXPECT_EQ(c, Vector(1, 1, 1, 1)) << "mode " << mode;
    }
    // A grey constant tells the gamma flag apart: raised to 2.2 only in mode 0.
    colorTemplate.envelope.SetConstantValue(HDRColor(128, 64, 255, 255, 1.0f));
    Vector linear, plain;
    SetRenderVisualizationMode(0);
    e->GetLinearColor(linear);
    SetRenderVisualizationMode(1);
    e->GetLinearColor(plain);
    EXPECT_NEAR(plain.x, 128.0f / 255.0f, 1e-6f);
    EXPECT_NEAR(linear.x, std::pow(128.0f / 255.0f, 2.2f), 1e-5f);
    EXPECT_EQ(linear.z, 1.0f);
    // Without keys the playback is over at once.
    EXPECT_TRUE(e->Advance(0.25f));
    // A template change restarts the playback and keeps the broken loops.
    e->state.time = 3.0f;
    e->state.keyIndex = 2;
    e->state.brokenLoops = 5;
    colorTemplate.OnPropertyChanged("Envelope");
    EXPECT_EQ(e->state.time, 0.0f);
    EXPECT_EQ(e->state.keyIndex, 0u);
    EXPECT_EQ(e->state.brokenLoops, 5u);
    e->state.time = 1.0f;
    e->Reset();
    EXPECT_EQ(e->state.time, 0.0f);

    VectorEnvelopeTemplate vectorTemplate;
    vectorTemplate.SetName("vector");
    Vector v;
    vectorTemplate.envelope.GetConstantValue(v);
    EXPECT_EQ(v, Vector(1, 1, 1, 1));
    auto* ve = Make<VectorEnvelopeEntity>(vectorTemplate);
    ve->state.time = 2.0f;
    vectorTemplate.OnPropertyChanged("Envelope");
    EXPECT_EQ(ve->state.time, 0.0f);
    gEntityManager->DestroyEntity(ve);
}

TEST_F(EnvelopeUITest, ElementAndContextLife) {
    UIElementDouble first, second;
    auto* e = Make<InGameUIEntity>(uiTemplate);
    EXPECT_EQ(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    e->SetUIElement(&first);
    EntityRenderingContext* context = e->GetRenderingContext();
    ASSERT_NE(context, nullptr);
    EXPECT_NE(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    e->SetUIElement(&first);
    EXPECT_EQ(e->GetRenderingContext(), context) << "the same element keeps its context";
    EXPECT_TRUE(gReleased.empty());
    e->SetUIElement(&second);
    EXPECT_EQ(gReleased, std::vector<SafePointerRoot*>{&first});
    ASSERT_NE(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext())->Element(), &second);
    e->SetUIElement(nullptr);
    EXPECT_EQ(e->GetRenderingContext(), nullptr);
    EXPECT_EQ(e->GetEnforcedRenderingFlags() & kInGameUIRenderBit, 0u);
    EXPECT_EQ(gReleased.size(), 2u);
    // Destruction releases the shown element once.
    e->SetUIElement(&first);
    gReleased.clear();
    gEntityManager->DestroyEntity(e);
    gVornexRenderer.FlushCommands(true);
    EXPECT_EQ(gReleased, std::vector<SafePointerRoot*>{&first});
    // An element that dies first is not released again.
    {
        auto dying = std::make_unique<UIElementDouble>();
        auto* f = Make<InGameUIEntity>(uiTemplate);
        f->SetUIElement(dying.get());
        gVornexRenderer.FlushCommands(true);
        f->SetUIElement(nullptr);
        gReleased.clear();
        f->SetUIElement(dying.get());
        f->DeleteRenderingContext();
        gVornexRenderer.FlushCommands(true);
        dying.reset();
        gEntityManager->DestroyEntity(f);
        EXPECT_TRUE(gReleased.empty());
    }
}

TEST_F(EnvelopeUITest, UITransformAgainstNumpy) {
    uiTemplate.size = Vector(320, 200, 50, 0);
    Matrix world;
    world.LoadComplexTransformation(Vector(4, 2, -3, 1), Vector(20, 35, -10, 1), Vector(1.5f, 2, 0.5f, 0));
    auto* e = Make<InGameUIEntity>(uiTemplate, world);
    UIElementDouble element;
    e->SetUIElement(&element);
    gVornexRenderer.FlushCommands(true);
    auto* context = static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext());
    ASSERT_NE(context, nullptr);
    for (uint32_t flags : {0u, 2u}) {
        RenderTaskArguments arguments;
        arguments.flags = flags;
        RunOnRenderThread([&] { context->Draw(nullptr, world, arguments); });
    }
    ASSERT_EQ(gDraws.size(), 2u);
    EXPECT_EQ(gDraws[0].element, &element);
    EXPECT_TRUE(gDraws[0].interaction);
    EXPECT_FALSE(gDraws[1].interaction) << "draw flag 2 turns interaction off";
    std::string input = "ui";
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) input += " " + FloatBits(world.r[r][c]);
    const std::vector<std::string> lines = RunNumpyReference("../scene/entities/path_reference.py", input + "\n");
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<float> want = ParseFloats(lines[0]);
    ASSERT_EQ(want.size(), 6u);
    Vector origin(0, 0, 0, 1), corner(320, 200, 0, 1);
    origin.Transform(gDraws[0].transform);
    corner.Transform(gDraws[0].transform);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(origin[i], want[i], 1e-4f) << "UI (0, 0) " << i;
        EXPECT_NEAR(corner[i], want[3 + i], 1e-4f) << "UI (Size.x, Size.y) " << i;
    }
}

TEST_F(EnvelopeUITest, SizesThatCannotDraw) {
    const Vector sizes[] = {Vector(0, 100, 100, 0), Vector(100, -1, 100, 0), Vector(100, 100, 0, 0),
                            Vector(NAN, 100, 100, 0)};
    for (const Vector& size : sizes) {
        CaptureLogSink log;
        log.Attach();
        uiTemplate.size = size;
        auto* e = Make<InGameUIEntity>(uiTemplate);
        UIElementDouble element;
        e->SetUIElement(&element);
        auto* context = static_cast<InGameUIEntityRenderingContext*>(e->GetRenderingContext());
        ASSERT_NE(context, nullptr);
        EXPECT_FALSE(context->Drawable());
        RunOnRenderThread([&] { context->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{}); });
        EXPECT_TRUE(gDraws.empty());
        int warnings = 0;
        for (const auto& m : log.Messages()) warnings += m.text.find("In-game UI size") != std::string::npos;
        EXPECT_EQ(warnings, 1);
        e->SetUIElement(nullptr);
        gEntityManager->DestroyEntity(e);
    }
}

// ---- Property lists ----

using sceneframe::EndsWith;
using sceneframe::StartsWith;
using sceneframe::Written;
// bytes with its own part (at the front or the back, of the default's size) replaced.
std::vector<uint8_t> Replace(std::vector<uint8_t> bytes, size_t defaultSize, const std::vector<uint8_t>& own,
                             bool front) {
    if (front) {
        bytes.erase(bytes.begin(), bytes.begin() + defaultSize);
        bytes.insert(bytes.begin(), own.begin(), own.end());
    } else {
        bytes.resize(bytes.size() - defaultSize);
        bytes.insert(bytes.end(), own.begin(), own.end());
    }
    return bytes;
}

// Reads bytes into object; true when all of it was read and it writes back the same.
bool ReadsBack(RTTIPolyBaseClass& object, const std::vector<uint8_t>& bytes) {
    BoundedReader in(bytes.data(), bytes.size());
    return object.GetRTTIClass()->DeserializeProperties(in, &object, 0) == bytes.size() && !in.Failed() &&
           Written(object) == bytes;
}

struct PlacementPropListTest : sceneframe::SceneEntityFixture<RendererFixture> {};

TEST_F(PlacementPropListTest, Templates) {
    CompoundTemplate compound;
    const std::vector<uint8_t> compoundDefaults = shelltest::PropList("compoundtemplate", "{}");
    EXPECT_TRUE(StartsWith(Written(compound), compoundDefaults));
    const std::vector<uint8_t> elements = Replace(
        Written(compound), compoundDefaults.size(),
        shelltest::PropList("compoundtemplate",
                            R"({"definition": "<x/>", "elements": [{"name": "Door", "template": "Sample/Crate",)"
                            R"( "matrix": [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [2, 3, 4, 1]], "preset": "Glow",)"
                            R"( "children": [{"name": "Handle", "template": "Sample/Marker"}]}]})"),
        true);
    EXPECT_TRUE(ReadsBack(compound, elements));
    ASSERT_EQ(compound.elements.Count(), 1u);
    EXPECT_STREQ(compound.elements[0].shaderPreset.CStr(), "Glow");
    EXPECT_EQ(compound.elements[0].locationMatrix.r[3], Vector(2, 3, 4, 1));
    ASSERT_EQ(compound.elements[0].children.Count(), 1u);
    EXPECT_STREQ(compound.elements[0].children[0].templateName.CStr(), "Sample/Marker");
    EXPECT_STREQ(compound.definition, "<x/>");

    FlagTemplate flag;
    const std::vector<uint8_t> flagDefaults = shelltest::PropList("flagtemplate", "{}");
    EXPECT_TRUE(EndsWith(Written(flag), flagDefaults));
    EXPECT_TRUE(ReadsBack(flag, Replace(Written(flag), flagDefaults.size(),
                                        shelltest::PropList("flagtemplate", R"({"Size": 2.5})"), false)));
    EXPECT_EQ(flag.size, 2.5f);

    GraphTemplate graph;
    const std::vector<uint8_t> graphDefaults = shelltest::PropList("graphtemplate", "{}");
    EXPECT_TRUE(EndsWith(Written(graph), graphDefaults));
    EXPECT_TRUE(ReadsBack(graph, Replace(Written(graph), graphDefaults.size(),
                                         shelltest::PropList("graphtemplate",
                                                             R"({"Node template": "Paths/Node", "Width": 2.0,)"
                                                             R"( "Texture": "ribbon.dds", "Blend mode": 3,)"
                                                             R"( "Mappnig size": 6.0, "Cut off nasty ends": true})"),
                                         false)));
    EXPECT_STREQ(graph.nodeTemplate.CStr(), "Paths/Node");
    EXPECT_EQ(graph.blendMode, 3u);
    EXPECT_TRUE(graph.cutOffNastyEnds);

    InGameUITemplate ui;
    const std::vector<uint8_t> uiDefaults = shelltest::PropList("ingameuitemplate", "{}");
    EXPECT_TRUE(EndsWith(Written(ui), uiDefaults));
    EXPECT_TRUE(ReadsBack(ui, Replace(Written(ui), uiDefaults.size(),
                                      shelltest::PropList("ingameuitemplate", R"({"Size": [320, 200, 10, 0]})"), false)));
    EXPECT_EQ(ui.size, Vector(320, 200, 10, 0));
}

// A kind's editor colour is its "Wireframe color" default, which its files store and the
// flag marker draws in.
TEST_F(PlacementPropListTest, EditorColours) {
    const auto colour = [](const Vector& v) {
        HDRColor c;
        c.SetFromVector(v);
        return c;
    };
    EXPECT_EQ(FlagTemplate().wireframeColor, colour(Vector(0.3f, 0.3f, 1.0f, 1.0f)));
    EXPECT_EQ(GraphTemplate().wireframeColor, colour(Vector(0.22745098f, 0.7019608f, 0.8392157f, 1.0f)));
}

TEST_F(PlacementPropListTest, Entities) {
    CompoundTemplate compoundKind;
    compoundKind.SetName("compound");
    auto* compound = static_cast<CompoundEntity*>(
        gEntityManager->CreateEntityFromTemplate(&compoundKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> compoundDefaults = shelltest::PropList("compoundentity", "{}");
    EXPECT_TRUE(StartsWith(Written(*compound), compoundDefaults));
    EXPECT_TRUE(ReadsBack(*compound, Replace(Written(*compound), compoundDefaults.size(),
                                             shelltest::PropList("compoundentity",
                                                                 R"({"color": [10, 20, 30, 255, 2.0],)"
                                                                 R"( "box": [-2, 0, -2, 1, 2, 3, 2, 1],)"
                                                                 R"( "lightmaps": [[0.5, 0.5, 0.25, 0, 7]]})"),
                                             true)));
    EXPECT_EQ(compound->localColor, HDRColor(10, 20, 30, 255, 2.0f));
    ASSERT_EQ(compound->elementLightmaps.Count(), 1u);
    EXPECT_EQ(compound->elementLightmaps[0].lightmapId, 7u);

    FlagTemplate flagKind;
    flagKind.SetName("flag");
    auto* flag = static_cast<FlagEntity*>(
        gEntityManager->CreateEntityFromTemplate(&flagKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> flagDefaults = shelltest::PropList("flagentity", "{}");
    EXPECT_TRUE(EndsWith(Written(*flag), flagDefaults));
    EXPECT_TRUE(ReadsBack(*flag, Replace(Written(*flag), flagDefaults.size(),
                                         shelltest::PropList("flagentity",
                                                             R"({"connections": [{"points": [[1, 2, 3, 4.5]],)"
                                                             R"( "length": 9.0}]})"),
                                         false)));
    ASSERT_EQ(flag->connections.Count(), 1u);
    EXPECT_EQ(flag->connections[0].length, 9.0f);
    EXPECT_EQ(flag->connections[0].controlPoints[0].position, Vector3(1, 2, 3));
    EXPECT_EQ(flag->connections[0].controlPoints[0].distance, 4.5f);

    GraphTemplate graphKind;
    graphKind.SetName("graph");
    auto* graph = static_cast<GraphEntity*>(
        gEntityManager->CreateEntityFromTemplate(&graphKind, nullptr, Matrix::IDENTITY, 0, nullptr));
    const std::vector<uint8_t> graphDefaults = shelltest::PropList("graphentity", R"({"box": [-1, -1, -1, 1, 1, 1, 1, 1]})");
    EXPECT_TRUE(EndsWith(Written(*graph), graphDefaults));
    EXPECT_TRUE(ReadsBack(*graph, Replace(Written(*graph), graphDefaults.size(),
                                          shelltest::PropList("graphentity", R"({"box": [-5, 0, -5, 1, 5, 1, 5, 1]})"),
                                          false)));
    EXPECT_EQ(graph->GetLocalBoundingBox().max, Vector(5, 1, 5, 1));
    // The entities go before their templates.
    gEntityManager->NewScene();
}

}  // namespace
