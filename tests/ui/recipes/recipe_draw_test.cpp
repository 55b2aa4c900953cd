// test-depends: shader_data
// On the drawing device (128 x 128): a recipe tree of a picture, a rounded rectangle and a
// text read from its ".BinaryTemplate" (written by tests/support/recipes.py; the text in the
// box font of the text tests) draws the same picture as the same tree built in
// code with the same setter calls, within 1/255 per channel on every pixel. A failed
// comparison saves both pictures under the build's pictures folder.
#include <cstdlib>

#include "../elements/TextTestSupport.h"
#include "core/BoundedReader.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIViewState.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"

using namespace kindstest;

namespace {

constexpr uint32_t kSide = 128;

const char* const kScreen = R"({"guid": "00000000-0000-0000-0000-0000000000C1", "recipe": {"Children": [
  {"class": "UIPictureRecipe", "Texture": "UI/white.dds", "Position": [16, 20, 0, 1], "Size": [64, 40, 0, 0],
   "Color": [255, 128, 64, 200, 1.0], "CornerColor1": [0, 255, 0, 255, 1.0]},
  {"class": "UIRoundedRectRecipe", "Corner texture": "UI/white.dds", "Corner radius": 8,
   "Position": [40, 70, 0, 1], "Size": [70, 40, 0, 0], "Color": [64, 128, 255, 255, 1.0]},
  {"class": "UITextRecipe", "Font": "boxes.ttf", "Font size": 20, "Text": "AB A", "Position": [8, 100, 0, 1],
   "Color": [255, 255, 0, 255, 1.0], "Character spacing": 2}]}})";

struct RecipeDrawTest : texttest::TextFixtureOf<shadertest::DrawingShaderFixture> {
    void SetUp() override {
        TextFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        SetUISizeOverride(float(kSide), float(kSide));
        ASSERT_TRUE(MakeTexture("white", "white"));
    }
    std::vector<uint32_t> Draw(const std::string& name, bool save) {
        std::vector<uint32_t> pixels = kindstest::DrawScreenPixels(*this, screen, kSide, name, save);
        screen->Update(Vector());
        return pixels;
    }
    // The element setters Apply makes, in its order.
    static void Base(UIElement* e, const Vector& position, const Vector& size, const HDRColor& colour) {
        e->SetName("");
        e->SetPosition(position);
        e->SetRotation(Vector());
        e->SetAnchor(Vector());
        e->SetSize(size);
        e->SetSelectionFrame(Vector());
        e->SetScale(Vector(1, 1, 1, 0));
        e->SetOutline(0);
        e->RaiseFlag(UIFLAG_HIERARCHICALANCHOR, false);
        e->ClearFlag(UIFLAG_HIDDEN | UIFLAG_TRANSPARENT | UIFLAG_FOCUSABLEWITHMOUSE | UIRENDERFLAG_CLIPCHILDREN, false);
        e->SetColorMode(UICOLOR_MULTIPLYBYPARENTALPHA);
        e->SetLinearColor(colour.ToLinearVector());
        e->SetBlendMode(BLEND_ALPHA);
        e->SetWindowAlignment(0);
        e->SetAspectScaling(0);
    }
};

TEST_F(RecipeDrawTest, ARecipeTreeDrawsAsTheSameTreeBuiltInCode) {
    const std::string file = root + "/screen.BinaryTemplate";
    std::string quoted;
    for (char c : std::string(kScreen)) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/recipes.py binarytemplate " + file +
                                  " '" + quoted + "'"));
    const std::vector<uint8_t> bytes = resourcetest::ReadBytes(file);
    UIRecipeTemplate t;
    BoundedReader in(bytes.data(), bytes.size());
    ASSERT_TRUE(ReadBinaryTemplate(in, &t));
    UIElement* fromRecipe = UIElement::CreateFromRecipeObject(t.GetRecipe(), &t, nullptr, 1);
    ASSERT_NE(fromRecipe, nullptr);
    screen->AddChild(fromRecipe);
    const std::vector<uint32_t> a = Draw("recipe-tree", false);
    fromRecipe->Release();

    UIElement* inCode = new UIElement;
    inCode->RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_DRAWPENDINGUIELEMENTS, false);
    auto* picture = new UIPicture;
    Base(picture, Vector(16, 20, 0, 1), Vector(64, 40, 0, 0), HDRColor(255, 128, 64, 200, 1.0f));
    picture->SetTexture("UI/white.dds", 0, 7);
    picture->SetTexture("", 1, 7);
    picture->SetShader("iPhoneUI", "", 0, 0);
    picture->SetTextureTile(0, 0, 1, 1, Vector(1, 1, 1, 1), Vector(0, 0, 0, 0));
    const Vector white(1, 1, 1, 1);
    const Vector corners[4] = {white, HDRColor(0, 255, 0, 255, 1.0f).ToLinearVector(), white, white};
    picture->SetCornerColors(corners);
    inCode->AddChild(picture);
    auto* rect = new UIRoundedRect(1, "");
    Base(rect, Vector(40, 70, 0, 1), Vector(70, 40, 0, 0), HDRColor(64, 128, 255, 255, 1.0f));
    rect->SetCornerTexture("UI/white.dds");
    rect->SetCornerRadius(8);
    rect->RaiseFlag(UIFLAG_TRANSPARENT, false);
    rect->RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, false);
    inCode->AddChild(rect);
    auto* text = new UIText;
    Base(text, Vector(8, 100, 0, 1), Vector(64, 64, 0, 0), HDRColor(255, 255, 0, 255, 1.0f));
    text->SetIgnoreFontReplacement(false);
    text->SetCharacterSpacing(2);  // no lo-res offset in the recipe
    text->SetFont("boxes.ttf", 20, true, 0);
    text->SetAlignment(0, 0);
    text->SetText("AB A");
    text->RaiseFlag(0x60, false);
    text->SetShadowPosition(Vector());
    text->SetShadowColor(HDRColor(0, 0, 0, 255, 1.0f).ToVector());
    text->SetOutlineColor(HDRColor(255, 0, 255, 255, 1.0f).ToVector());
    text->SetBottomColor(HDRColor(255, 255, 255, 0, 1.0f).ToVector());
    text->RaiseFlag(UIFLAG_DRAWPENDINGUIELEMENTSBEFORE, false);
    inCode->AddChild(text);
    screen->AddChild(inCode);
    const std::vector<uint32_t> b = Draw("code-tree", false);

    ASSERT_EQ(a.size(), size_t(kSide * kSide));
    ASSERT_EQ(b.size(), a.size());
    size_t lit = 0, differing = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        lit += a[i] != 0;
        for (int c = 0; c < 3; ++c)
            if (std::abs(int((a[i] >> (8 * c)) & 0xFF) - int((b[i] >> (8 * c)) & 0xFF)) > 1) {
                ++differing;
                break;
            }
    }
    EXPECT_GT(lit, size_t(64 * 40 / 2));  // both shapes drew
    EXPECT_EQ(differing, 0u);
    if (differing || lit <= size_t(64 * 40 / 2)) {
        Draw("recipe-draw-code-tree-failed", true);
        inCode->Release();
        fromRecipe = UIElement::CreateFromRecipeObject(t.GetRecipe(), &t, nullptr, 1);
        screen->AddChild(fromRecipe);
        Draw("recipe-draw-recipe-tree-failed", true);
        fromRecipe->Release();
    } else {
        inCode->Release();
    }
    gVornexRenderer.FlushCommands(true);
}

}  // namespace
