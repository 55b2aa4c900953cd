// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// UI pictures on the drawing device (128 x 128): a blended picture, the letterboxed band of
// a wider reference size and its hit test, clipping with a fading parent, and a rounded
// rectangle's corner. Expected colours come from the reference script; a failed check
// saves the picture under the build's pictures folder and prints its path.
#include <algorithm>
#include <tuple>

#include "KindsTestSupport.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIViewState.h"

using namespace kindstest;

namespace {

constexpr uint32_t kSide = 128;

struct PicturesTest : KindsFixtureOf<shadertest::DrawingShaderFixture> {
    void SetUp() override {
        KindsFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        SetUISizeOverride(float(kSide), float(kSide));
        ASSERT_TRUE(MakeTexture("white", "white"));
    }
    // The screen drawn into a fresh kSide x kSide target as a frame would draw it; the
    // candidates are taken afterwards. Pixels 0xRRGGBB.
    std::vector<uint32_t> Draw(const std::string& name, bool save = false) {
        std::vector<uint32_t> pixels = kindstest::DrawScreenPixels(
            *this, screen, kSide, name, save, [&] { srgbWrite = 0; },
            [&] { gVornexRenderer.Device()->GetRenderState(gfx::RS_SRGBWRITEENABLE, &srgbWrite); });
        screen->Update(Vector());
        return pixels;
    }
    // Draws, checks, and draws again saving the picture when the check failed.
    template <class Check>
    void DrawAndCheck(const std::string& name, Check check) {
        if (!check(Draw(name))) Draw(name + "-failed", true);
    }
    static int Channel(uint32_t p, int c) { return int((p >> (16 - 8 * c)) & 0xFF); }
    static bool Near(uint32_t p, const int rgb[3], int tolerance) {
        for (int c = 0; c < 3; ++c)
            if (std::abs(Channel(p, c) - rgb[c]) > tolerance) return false;
        return true;
    }
    uint32_t srgbWrite = 0;
};

}  // namespace

TEST_F(PicturesTest, ABlendedPictureLightsItsRectangle) {
    UIPicture* p = AddPicture(screen, 32, 40, 48, 24);
    p->SetTexture("UI/white.dds", 0, 7);
    p->SetShader("iPhoneUI", "", 0, 0);
    p->SetLinearColor(1, 0.5f, 0.25f, 0.5f);
    DrawAndCheck("ui-blended-picture", [&](const std::vector<uint32_t>& px) {
        EXPECT_EQ(px.size(), size_t(kSide * kSide));
        if (px.size() != size_t(kSide * kSide)) return false;
        const auto want = rendertest::Numbers(
            RunNumpyReference(drawtest::kScript, "B 1 0.5 0.25 0.5 " + std::to_string(srgbWrite) + "\n").at(0));
        const int rgb[3] = {int(want[0]), int(want[1]), int(want[2])};
        const int black[3] = {0, 0, 0};
        int left = kSide, top = kSide, right = -1, bottom = -1;
        size_t good = 0, inside = 0;
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const uint32_t v = px[y * kSide + x];
                if (v) left = std::min(left, int(x)), right = std::max(right, int(x)), top = std::min(top, int(y)),
                       bottom = std::max(bottom, int(y));
                const bool in = x >= 32 && x < 80 && y >= 40 && y < 64;
                inside += in;
                good += in ? Near(v, rgb, 3) : Near(v, black, 1);
            }
        const bool box = std::abs(left - 32) <= 1 && std::abs(right - 79) <= 1 && std::abs(top - 40) <= 1 &&
                         std::abs(bottom - 63) <= 1;
        EXPECT_TRUE(box) << left << " " << top << " " << right << " " << bottom;
        EXPECT_GE(good, size_t(0.99 * kSide * kSide)) << "expected " << rgb[0] << " " << rgb[1] << " " << rgb[2];
        EXPECT_EQ(inside, 48u * 24u);
        return box && good >= size_t(0.99 * kSide * kSide);
    });
}

TEST_F(PicturesTest, AWiderReferenceSizeIsLetterboxedAndItsCentreHits) {
    SetUISizeOverride(1280, 720);
    screen->SetSize(1280, 720);
    UIPicture* p = AddPicture(screen, 0, 0, 1280, 720);
    p->SetTexture("UI/white.dds", 0, 7);
    p->SetShader("iPhoneUI", "", 0, 0);
    p->RaiseFlag(UIFLAG_FOCUSABLEWITHMOUSE, false);
    DrawAndCheck("ui-letterbox", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide * kSide)) return false;
        int first = -1, last = -1;
        for (uint32_t y = 0; y < kSide; ++y)
            if (px[y * kSide + kSide / 2]) {
                if (first < 0) first = int(y);
                last = int(y);
            }
        EXPECT_NEAR(first, 28, 1);
        EXPECT_NEAR(last, 99, 1);
        return std::abs(first - 28) <= 1 && std::abs(last - 99) <= 1;
    });
    // The centre pixel, as a normalised point, hits the picture.
    EXPECT_EQ(screen->GetElementAt(Vector((64 + 0.5f) / kSide, (64 + 0.5f) / kSide, 0, 0)).id, p->GetId());
    EXPECT_EQ(screen->GetElementAt(Vector(0.5f, 10.0f / kSide, 0, 0)).id, 0u) << "the band above is empty";
}

TEST_F(PicturesTest, AClipParentCutsItsChildAndAFadingParentHalvesIt) {
    UIElement* clip = new UIElement;
    clip->SetPosition(16, 16, 0);
    clip->SetSize(32, 32);
    clip->RaiseFlag(UIFLAG_TRANSPARENT, false);
    screen->AddChild(clip);
    RunOnRenderThread([&] {});
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { clip->RenderMutable().flags |= UIRENDERFLAG_CLIPCHILDREN; });
    UIPicture* child = AddPicture(clip, 0, 0, 64, 32);
    child->SetTexture("UI/white.dds", 0, 7);
    child->SetShader("iPhoneUI", "", 0, 0);

    // Faded parents: alpha 0.5 reaches the child; the band fades nothing inside (f tiny),
    // for a batched child (x 16-80) and one drawn at once (x 88-120).
    for (const auto& [x, w, immediate] : {std::tuple{16.0f, 64.0f, false}, std::tuple{88.0f, 32.0f, true}}) {
        UIElement* fader = new UIElement;
        fader->SetPosition(x, 80, 0);
        fader->SetSize(w, 32);
        fader->RaiseFlag(UIFLAG_TRANSPARENT | UIFLAG_FADECHILDREN, false);
        fader->SetLinearColor(1, 1, 1, 0.5f);
        fader->SetExtraParamVector(Vector(0.001f, 0, 0, 0));
        screen->AddChild(fader);
        UIPicture* faded = AddPicture(fader, 0, 0, w, 32);
        faded->SetTexture("UI/white.dds", 0, 7);
        faded->SetShader("iPhoneUI", "", 0, 0);
        if (immediate) faded->SetRenderGatheringChannel(uint32_t(-1));
    }

    DrawAndCheck("ui-clip-fade", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide * kSide)) return false;
        const auto half = rendertest::Numbers(
            RunNumpyReference(drawtest::kScript, "B 1 1 1 0.5 " + std::to_string(srgbWrite) + "\n").at(0));
        size_t good = 0;
        for (uint32_t y = 0; y < kSide; ++y)
            for (uint32_t x = 0; x < kSide; ++x) {
                const bool clipped = x >= 16 && x < 48 && y >= 16 && y < 48;
                const bool faderColumns = (x >= 16 && x < 80) || (x >= 88 && x < 120);
                const bool fadedArea = faderColumns && y >= 81 && y < 111;  // rows inside the band
                const uint32_t v = px[y * kSide + x];
                if (clipped) good += Channel(v, 0) >= 252;
                else if (fadedArea) good += std::abs(Channel(v, 0) - int(half[0])) <= 3;
                else if (y >= 80 && y < 112 && faderColumns) good += 1;  // the band's edge rows
                else good += v == 0;
            }
        EXPECT_GE(good, size_t(0.99 * kSide * kSide));
        EXPECT_EQ(px[20 * kSide + 60], 0u) << "the child beyond its clip parent";
        const int immediate = Channel(px[96 * kSide + 100], 0);
        EXPECT_NEAR(immediate, int(half[0]), 3) << "the faded child drawn at once";
        return good >= size_t(0.99 * kSide * kSide) && px[20 * kSide + 60] == 0 &&
               std::abs(immediate - int(half[0])) <= 3;
    });
}

TEST_F(PicturesTest, ARoundedRectangleLeavesItsCornerOutsideTheArc) {
    // The corner texture: a quarter disc of radius 32 around its texel (0, 0).
    ASSERT_TRUE(rendertest::Shell("convert -size 32x32 xc:none -fill white -draw 'circle 0,0 31.5,0' -alpha on "
                                  "-define dds:compression=none -define dds:mipmaps=0 " +
                                  root + "/textures/UI/corner.dds"));
    UIRoundedRect* rr = new UIRoundedRect;
    rr->SetPosition(32, 32, 0);
    rr->SetSize(64, 64);
    rr->SetCornerTexture("UI/corner.dds");
    screen->AddChild(rr);
    DrawAndCheck("ui-rounded-rect", [&](const std::vector<uint32_t>& px) {
        if (px.size() != size_t(kSide * kSide)) return false;
        const uint32_t corner = px[32 * kSide + 32], centre = px[64 * kSide + 64];
        const uint32_t edge = px[32 * kSide + 64], farCorner = px[95 * kSide + 95];
        EXPECT_EQ(corner, 0u) << "the corner pixel lies outside the arc";
        EXPECT_EQ(farCorner, 0u);
        EXPECT_GE(Channel(centre, 1), 250) << "the centre is lit";
        EXPECT_GE(Channel(edge, 1), 250) << "the top strip is lit";
        return corner == 0 && farCorner == 0 && Channel(centre, 1) >= 250 && Channel(edge, 1) >= 250;
    });
}
