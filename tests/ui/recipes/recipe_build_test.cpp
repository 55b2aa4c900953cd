// test-sanitize: thread address
// test-depends: shader_data
// Building element trees from recipes and recipe templates on the recording device: the
// templates are written by the independent writers (tests/support/recipes.py and
// proplist.py) and found through the catalogue; the render halves are read after the
// render thread has run the posted ops.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <memory>

#include "../elements/KindsTestSupport.h"
#include "../elements/UIElementTestSupport.h"
#include "core/BoundedReader.h"
#include "core/config/ProjectConfig.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "render/resources/ResourceTexture.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIText.h"
#include "ui/elements/UITextBox.h"
#include "ui/recipes/UIElementPreset.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"
#include "ui/widgets/UIWidgetRecipes.h"

using namespace kindstest;

namespace {

const char* const kMenuGuid = "00000000-0000-0000-0000-0000000000B1";
const char* const kPlainGuid = "00000000-0000-0000-0000-0000000000B2";

// The menu: a picture, a rounded rectangle, a sub-tree with a disabled and an "In game"
// branch, a clipboard and a button.
const char* const kMenu = R"({"Name": "Menu", "Children": [
  {"class": "UIPictureRecipe", "Name": "Back", "Texture": "UI/Back.dds", "Clamp U": false,
   "Size": [200, 100, 0, 0], "Color": [255, 128, 0, 255, 1.0], "Anchor by": 0},
  {"class": "UIRoundedRectRecipe", "Name": "Panel", "Corner radius": 6},
  {"class": "UIElementRecipe", "Name": "Group", "Transparent": true, "Children": [
     {"class": "UIElementRecipe", "Name": "Never", "Disabled": 1, "Children": [{"Name": "NeverChild"}]},
     {"class": "UIElementRecipe", "Name": "InGame", "Disabled": 2, "Children": [{"Name": "InGameChild"}]},
     {"class": "UIElementRecipe", "Name": "Leaf", "Hidden": true}]},
  {"class": "UIClipboardRecipe", "Name": "Clip", "Children": [{"Name": "ClipChild"}]},
  {"class": "UIButtonRecipe", "Name": "Start", "Shader": ""}]})";

struct RecipeBuildTest : KindsFixture {
    void SetUp() override {
        KindsFixture::SetUp();
        if (HasFatalFailure()) return;
        std::filesystem::create_directories(root + "/templates/UI");
        gFileSystem.MountDirectory("templates", (root + "/templates").c_str());
        gEntityTemplateRegistry.Clear();
        ASSERT_TRUE(MakeTexture("Back", "#ff8000"));
        ASSERT_TRUE(kindstest::WriteRecipeTemplates(root, "Menu", kMenuGuid, kMenu, kPlainGuid));
        ASSERT_TRUE(ReadTemplateInfoFile(gEntityTemplateRegistry));
        log.Clear();
    }
    void TearDown() override {
        gEntityTemplateRegistry.SetInitialised(true);
        gEntityTemplateRegistry.Shutdown();
        KindsFixture::TearDown();
    }
    void Settle() { gVornexRenderer.FlushCommands(true); }
    // An error line of the recipe failures (severity 4, category 3).
    bool RecipeError(const std::string& text) {
        for (const auto& m : log.Messages())
            if (m.text.find(text) != std::string::npos) return m.severity == 4 && m.category == 3;
        return false;
    }
};

uint32_t ChildCount(const UIElement* e) {
    uint32_t n = 0;
    for (const UIElement* c = e->GetFirstChild(); c; c = c->GetNextSibling()) ++n;
    return n;
}

TEST_F(RecipeBuildTest, CreateFromRecipeBuildsTheTree) {
    UIElement* root = UIElement::CreateFromRecipe("UI/Menu", nullptr);
    ASSERT_NE(root, nullptr);
    Settle();
    // The plain root holds the screen recipe's sub-recipes; the clipboard makes nothing.
    EXPECT_EQ(root->GetFlags() & (UIFLAG_TRANSPARENT | UIFLAG_DRAWPENDINGUIELEMENTS),
              UIFLAG_TRANSPARENT | UIFLAG_DRAWPENDINGUIELEMENTS);
    EXPECT_EQ(ChildCount(root), 4u);
    EXPECT_TRUE(root->FindElementByName(NameString("Start"))->IsUiButton());
    auto* back = dynamic_cast<UIPicture*>(root->FindElementByName(NameString("Back")));
    ASSERT_NE(back, nullptr);
    ASSERT_NE(back->TextureResource(0), nullptr);
    EXPECT_NE(Serial(back->PictureRender().textures[0]), 0u);
    EXPECT_EQ(back->PictureRender().samplers[0], 1u | 4u);  // clamp V only
    EXPECT_EQ(back->GetFlags() & UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, 0u);
    // "Anchor by" Center: the element's middle on its position; the colour linear.
    EXPECT_EQ(back->Render().anchor, Vector(-100, -50, 0, 0));
    EXPECT_EQ(back->Render().color, HDRColor(255, 128, 0, 255, 1.0f).ToLinearVector());
    auto* panel = dynamic_cast<UIRoundedRect*>(root->FindElementByName(NameString("Panel")));
    ASSERT_NE(panel, nullptr);
    EXPECT_FLOAT_EQ(panel->CornerRadius(), 6.0f);
    EXPECT_NE(panel->GetFlags() & UIFLAG_TRANSPARENT, 0u);
    UIElement* group = root->FindElementByName(NameString("Group"));
    ASSERT_NE(group, nullptr);
    EXPECT_NE(group->GetFlags() & UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, 0u);
    EXPECT_EQ(ChildCount(group), 1u);
    for (const char* absent : {"Never", "NeverChild", "InGame", "InGameChild", "Clip", "ClipChild"})
        EXPECT_EQ(root->FindElementByName(NameString(absent)), nullptr) << absent;
    UIElement* leaf = root->FindElementByName(NameString("Leaf"));
    ASSERT_NE(leaf, nullptr);
    EXPECT_FALSE(leaf->IsVisible());
    // Each made element holds the template.
    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByName("UI/Menu", false);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->GetInstanceCount(), 5u);
    EXPECT_EQ(leaf->GetRecipeOwner(), t);
    root->Release();
    Settle();
    EXPECT_EQ(t->GetInstanceCount(), 0u);

    // A named sub-recipe alone, and one built from an element's own recipe.
    UIElement* g = UIElement::CreateFromRecipe("UI/Menu", "Group");
    ASSERT_NE(g, nullptr);
    EXPECT_STREQ(g->GetName().CStr(), "Group");
    EXPECT_EQ(g->CreateElementFromSubRecipe("Back", 1), nullptr);  // not under "Group"
    UIElement* again = g->CreateElementFromSubRecipe("Leaf", 1);
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(again->GetName().CStr(), "Leaf");
    again->Release();
    g->Release();
}

TEST_F(RecipeBuildTest, FailuresLogOneErrorEach) {
    const struct {
        const char* name;
        const char* sub;
        const char* line;
    } cases[] = {
        {"UI/Missing", nullptr, "Recipe [UI/Missing] not found!"},
        {"UI/Plain", nullptr, "Template [UI/Plain] is not a UI recipe!"},
        {"UI/Menu", "Nowhere", "Subrecipe [Nowhere] not found"},
    };
    for (const auto& c : cases) {
        log.Clear();
        EXPECT_EQ(UIElement::CreateFromRecipe(c.name, c.sub), nullptr) << c.name;
        EXPECT_TRUE(RecipeError(c.line)) << c.line;
    }
    EXPECT_EQ(UIElement::CreateFromRecipeObject(nullptr, nullptr, nullptr, 1), nullptr);
}

TEST_F(RecipeBuildTest, ApplyRaisesAndClearsFlagsInOneOpEach) {
    UIElementRecipe r;
    r.hidden = true;
    r.focusableWithMouse = true;
    r.hierarchicalAnchor = false;
    UIElement* e = new UIElement;
    e->RaiseFlag(UIFLAG_HIERARCHICALANCHOR | UIRENDERFLAG_CLIPCHILDREN, false);
    uitest::OpRecorder ops;
    r.Apply(e);
    uint32_t raises = 0, clears = 0;
    for (uint32_t op : ops.For(e)) {
        raises += op == 4;
        clears += op == 5;
    }
    EXPECT_EQ(raises, 1u);
    EXPECT_EQ(clears, 1u);
    EXPECT_EQ(e->GetFlags() & (UIFLAG_HIDDEN | UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_HIERARCHICALANCHOR |
                               UIRENDERFLAG_CLIPCHILDREN | UIFLAG_TRANSPARENT),
              UIFLAG_HIDDEN | UIFLAG_FOCUSABLEWITHMOUSE);
    e->Release();
}

// A button centred by its recipe takes the pointer around its position, also while scaled
// by a click: what it draws and where it is hit share the anchor.
TEST_F(RecipeBuildTest, ACentredButtonIsHitAroundItsPosition) {
    UIButtonRecipe r;  // "Anchor by" Center and focusable by default
    r.SetShader(NameString(""));
    r.position = Vector(100, 60, 0, 1);
    r.size = Vector(80, 40, 0, 0);
    UIElement* button = r.CreateElementTree(nullptr, 0, 1);
    ASSERT_NE(button, nullptr);
    screen->AddChild(button);
    const struct {
        float scale, x, y;
        bool hit;
    } rows[] = {
        {1.0f, 100, 60, true},  {1.0f, 62, 42, true},  {1.0f, 138, 78, true},
        {1.0f, 150, 60, false}, {1.0f, 100, 85, false},  // right of it and below it
        {0.5f, 100, 60, true},  {0.5f, 118, 69, true}, {0.5f, 62, 42, false}, {0.5f, 125, 60, false},
    };
    for (const auto& row : rows) {
        button->SetScale(row.scale, row.scale, 1);
        Frame();
        const Vector at =
            screen->UIPointToScreenPoint(Vector(row.x, row.y, 0, 0), uint32_t(clientWidth), uint32_t(clientHeight));
        EXPECT_EQ(screen->GetElementAt(at).id == button->GetId(), row.hit)
            << "scale " << row.scale << " at " << row.x << ", " << row.y;
    }
}

TEST_F(RecipeBuildTest, DisabledRecipesFollowTheMode) {
    const struct {
        uint32_t disabled;
        uint32_t mode;
        bool built;
    } cases[] = {{0, 0, true}, {1, 0, false}, {1, 1, false}, {2, 0, false}, {2, 1, true}};
    for (const auto& c : cases) {
        UIElementRecipe r;
        r.disabled = c.disabled;
        r.children.Add(new UIElementRecipe);
        UIElement* e = r.CreateElementTree(nullptr, c.mode, 1);
        EXPECT_EQ(e != nullptr, c.built) << c.disabled << " " << c.mode;
        if (e) {
            EXPECT_EQ(ChildCount(e), 1u);
            e->Release();
        }
    }
    // Cycling: 0 -> 1 -> 2 -> 0; a screen recipe always goes back to 0.
    UIElementRecipe r;
    UIScreenRecipe s;
    for (uint32_t expected : {1u, 2u, 0u}) {
        r.CycleDisabled();
        EXPECT_EQ(r.disabled, expected);
    }
    s.disabled = 1;
    s.CycleDisabled();
    EXPECT_EQ(s.disabled, 0u);
    s.disabled = 2;
    s.OnPropertyChanged("Name");
    EXPECT_EQ(s.disabled, 0u);
}

TEST_F(RecipeBuildTest, PrefabPathsAndShaderNames) {
    const struct {
        const char* prefix;
        const char* prefab;
        const char* path;
    } paths[] = {
        {"", "Menus/Common/Back", "Menus/Common"},
        {"UI/Prefabs/", "Menus/Back", "UI/Prefabs/Menus"},
        {"UI/Prefabs", "Menus/Back", "UI/Prefabs/Menus"},
        {"UI", "Back", "UI/Back"},
        {"UI", "", ""},
    };
    for (const auto& p : paths) {
        ASSERT_TRUE(gProjectConfig->SetPropertyFromString("UI prefab path prefix", p.prefix));
        UIElementRecipe r;
        r.prefab = p.prefab;
        char buffer[kUIRecipePathSize];
        r.GetPrefabTemplatePath(buffer);
        EXPECT_STREQ(buffer, p.path) << p.prefix << " + " << p.prefab;
    }
    gProjectConfig->SetPropertyFromString("UI prefab path prefix", "");
    const struct {
        const char* given;
        const char* stored;
    } shaders[] = {{"x.fx", "x"}, {"UI/a.b.fx", "UI/a.b"}, {"plain", "plain"}, {".fx", ""}};
    for (const auto& s : shaders) {
        UIPictureRecipe r;
        r.SetShader(NameString(s.given));
        EXPECT_STREQ(r.shader.CStr(), s.stored) << s.given;
    }
}

TEST_F(RecipeBuildTest, PresetsSetAtOnceOrStartActions) {
    UIElementRecipe r;
    r.position = Vector(1, 2, 0, 1);
    auto* shown = new UIElementPreset;
    shown->id = "Shown";
    shown->position = Vector(50, 60, 0, 1);
    shown->hidden = true;
    r.presets.Add(shown);
    const struct {
        const char* preset;
        float t;
        bool actions;
        Vector position;
    } cases[] = {
        {"Shown", 0.0005f, false, Vector(50, 60, 0, 1)},
        {"Unknown", 0.0f, false, Vector(1, 2, 0, 1)},  // restores the recipe's own values
        {"Shown", 0.001f, true, Vector()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset);
        UIElement* e = new UIElement;
        e->SetRecipe(&r, nullptr);
        uitest::OpRecorder ops;
        e->ApplyRecipePreset(c.preset, false, c.t, 0x3, 1, false);
        Settle();
        uint32_t actionOps = 0;
        for (uint32_t op : ops.For(e)) actionOps += op == 23;
        if (!c.actions) {
            EXPECT_EQ(actionOps, 0u);
            EXPECT_EQ(e->Render().position, c.position);
            EXPECT_EQ(e->IsVisible(), std::strcmp(c.preset, "Shown") != 0);
        } else {
            // Blend out (hidden), move, rotate, scale, resize, colour with 0x80; a closing Wait.
            EXPECT_EQ(actionOps, 7u);
            const UIAction* a = e->Render().actionHeads[1];
            ASSERT_NE(a, nullptr);
            uint32_t n = 0, last = 0;
            for (; a; a = a->next, ++n) last = a->flags;
            EXPECT_EQ(n, 7u);
            EXPECT_EQ(last, 0x3u);
            EXPECT_EQ(e->Render().actionHeads[1]->flags & 0x80u, 0x80u);
        }
        e->Release();
        Settle();
    }
    // Without presets nothing happens.
    UIElementRecipe bare;
    UIElement* e = new UIElement;
    e->SetRecipe(&bare, nullptr);
    uitest::OpRecorder ops;
    e->ApplyRecipePreset("Unknown", false, 0.0f, 0, 0, true);
    EXPECT_TRUE(ops.For(e).empty());
    e->Release();
}

TEST_F(RecipeBuildTest, RecipePropertyReaders) {
    UIButtonRecipe r;
    r.scale = Vector(2, 3, 4, 0);
    r.color = HDRColor(255, 0, 0, 255, 1.0f);
    auto* p = new UIElementPreset;
    p->id = "Big";
    p->scale = Vector(9, 9, 9, 0);
    r.presets.Add(p);
    UIElement* e = new UIElement;
    Vector v(7, 7, 7, 7);
    e->LoadRecipeVectorProperty(v, "Scale", nullptr);  // no recipe: unchanged
    EXPECT_EQ(v, Vector(7, 7, 7, 7));
    EXPECT_EQ(e->GetRecipePrefab(), nullptr);
    e->SetRecipe(&r, nullptr);
    EXPECT_TRUE(e->GetRecipeBoolProperty("Is active", nullptr));
    EXPECT_FALSE(e->GetRecipeBoolProperty("Scale", nullptr));  // not a bool
    e->LoadRecipeVectorProperty(v, "Scale", nullptr);
    EXPECT_EQ(v, Vector(2, 3, 4, 0));
    e->LoadRecipeVectorProperty(v, "Scale", "Big");
    EXPECT_EQ(v, Vector(9, 9, 9, 0));
    e->LoadRecipeVectorProperty(v, "Nothing", nullptr);
    EXPECT_EQ(v, Vector(9, 9, 9, 0));
    e->LoadRecipeLinearColorProperty(v, "Color", nullptr);
    EXPECT_EQ(v, r.color.ToLinearVector());
    EXPECT_STREQ(e->GetRecipePrefab(), "");
    e->Release();
}

// Read option 4 loads the pictures' textures on the reading thread; without it they are
// only looked up. The loading-screen mark reaches them through the template.
TEST_F(RecipeBuildTest, TemplateReadOptionsAndResourceFlags) {
    const std::vector<uint8_t> list = resourcetest::ReadBytes(root + "/templates/UI/Menu.BinaryTemplate");
    for (uint32_t options : {0u, 4u}) {
        UIRecipeTemplate t;
        BoundedReader in(list.data() + 24, list.size() - 24);
        t.SolidDeserialize(in, options);
        ASSERT_FALSE(in.Failed());
        auto* back = dynamic_cast<UIPictureRecipe*>(t.GetRecipe()->FindSubRecipe(NameString("Back")));
        ASSERT_NE(back, nullptr);
        Resource* texture = back->HeldResource(UIPictureRecipe::kTexture0);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->IsLoaded(), options == 4) << options;
    }
    // The loading-screen mark of an element reaches the pictures' resources through the
    // template's request.
    EntityTemplate* menu = gEntityTemplateRegistry.FindTemplateByName("UI/Menu", true);
    ASSERT_NE(menu, nullptr);
    auto* back = dynamic_cast<UIPictureRecipe*>(
        static_cast<UIRecipeTemplate*>(menu)->GetRecipe()->FindSubRecipe(NameString("Back")));
    ASSERT_NE(back, nullptr);
    UIElement* built = UIElement::CreateFromRecipe("UI/Menu", "Back");
    ASSERT_NE(built, nullptr);
    built->MarkAsTemporaryLoadingScreenUI();
    EXPECT_EQ(back->HeldResource(UIPictureRecipe::kTexture0)->GetFlags() & 0x300u, 0x300u);
    built->Release();
    // The preparation builds the tree once and releases it at once, and keeps a template
    // that unloads with its last entity loaded.
    gResourceManager.SetResourceFlags(menu, kTemplateFlagUnloadWithLastEntity);
    Settle();
    const uint32_t live = UIElement::LiveCount();
    const uint32_t created = UIElement::CreatedCount();
    menu->PreloadReferencedResources();
    EXPECT_GT(UIElement::CreatedCount(), created);
    Settle();
    UIElement::FinishPendingDeletion();
    EXPECT_EQ(menu->GetInstanceCount(), 0u);
    EXPECT_EQ(UIElement::LiveCount(), live);
    EXPECT_EQ(gEntityTemplateRegistry.FindTemplateByName("UI/Menu", false), menu);
}

// Text recipes: a UIText or, wrapping, a UITextBox; the font, the text or string id, the
// pixel-perfect flags, and the character spacing posted (op 30) before the font (op 42).
TEST_F(RecipeBuildTest, TextRecipesMakeTextsWithTheirSpacingFirst) {
    float width = 0, height = 0;
    GetPhysicalScreenResolution(&width, &height);
    SetUIPhysicalResolution(640, 480);
    const struct {
        bool wrap;
        bool localized;
        uint8_t pixelPerfect;
        uint32_t flags;  // raised
    } cases[] = {{false, false, 1, 0x60}, {true, true, 2, 0x40 | kUITextRecipeBoxFlag}, {false, true, 3, 0x20}};
    for (const auto& c : cases) {
        UITextRecipe r;
        r.font = "_system.ttf";
        r.fontSize = 16;
        r.text = c.localized ? "Menu/Title" : "Hello";
        r.localized = c.localized;
        r.wrapText = c.wrap;
        r.pixelPerfect = c.pixelPerfect;
        r.characterSpacing = 3;
        r.charSpacingLoResOffset = -1;
        r.lineSpacing = 1.5f;
        uitest::OpRecorder ops;
        UIElement* e = r.CreateElementTree(nullptr, 0, 1);
        ASSERT_NE(e, nullptr);
        Settle();
        auto* text = dynamic_cast<UITextBase*>(e);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(e->IsUITextBox(), c.wrap);
        EXPECT_EQ(e->IsUIText(), !c.wrap);
        EXPECT_EQ(e->GetFlags() & (0x60u | kUITextRecipeBoxFlag), c.flags);
        EXPECT_STREQ(text->GetFontName().CStr(), "_system.ttf");
        EXPECT_STREQ(text->GetLocalizedTextId().CStr(), c.localized ? "Menu/Title" : "");
        EXPECT_EQ(text->TextRender().spacing, 2);
        const std::vector<uint32_t> posted = ops.For(e);
        const auto spacingOp = std::find(posted.begin(), posted.end(), uint32_t(UIOP_TEXT_SPACING));
        const auto fontOp = std::find(posted.begin(), posted.end(), uint32_t(UIOP_TEXT_FONT));
        EXPECT_TRUE(spacingOp < fontOp) << c.wrap;
        e->Release();
    }
    SetUIPhysicalResolution(width, height);
}

// Read on the ResourceManager's thread, a picture recipe loads its texture and its shaders
// there and then (a queued load would wait behind the very command reading it).
TEST_F(RecipeBuildTest, ATemplateReadOnTheLoaderThreadLoadsItsTextureAndShaders) {
    Resource* r = gResourceManager.GetResource(RESOURCE_TEMPLATE, "templates/UI/Menu", ENTITY_UIRECIPE, true, 0);
    ASSERT_NE(r, nullptr);
    r->QueueLoad();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!r->IsLoaded() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(r->IsLoaded());
    auto* t = dynamic_cast<UIRecipeTemplate*>(TemplateFromResource(r));
    ASSERT_NE(t, nullptr);
    auto* back = dynamic_cast<UIPictureRecipe*>(t->GetRecipe()->FindSubRecipe(NameString("Back")));
    ASSERT_NE(back, nullptr);
    const struct {
        uint32_t slot;
        const char* what;
    } held[] = {{UIPictureRecipe::kTexture0, "texture"},
                {UIPictureRecipe::kVertexShader, "vertex shader"},
                {UIPictureRecipe::kPixelShader, "pixel shader"}};
    for (const auto& h : held) {
        ASSERT_NE(back->HeldResource(h.slot), nullptr) << h.what;
        EXPECT_TRUE(back->HeldResource(h.slot)->IsLoaded()) << h.what;
    }
    r->Release();
}

}  // namespace
