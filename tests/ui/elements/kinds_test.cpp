// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// The element kinds on the recording device: the picture setters and their ops, batched
// and immediate picture draws, atlas cells, the rounded rectangle's layout, the blur's
// two ways and the template view's render half.
#include "KindsTestSupport.h"
#include <cmath>

#include "core/Memory.h"
#include "core/Time.h"
#include "core/math/Quaternion.h"
#include "render/resources/ResourceTexture.h"
#include "scene/mesh/MeshTemplate.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXEntity.h"
#include "ui/elements/UIBlur.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UITemplateView.h"
#include "ui/elements/UIViewState.h"

using namespace kindstest;
using namespace drawtest;

namespace {

struct KindsTest : KindsFixture {
    std::vector<gfx::DrawRecord> FrameDraws() {
        recorder->ClearDrawRecords();
        Frame();
        return Draws();
    }
    static std::vector<gfx::DrawRecord> Immediate(const std::vector<gfx::DrawRecord>& all) {
        std::vector<gfx::DrawRecord> out;
        for (const gfx::DrawRecord& d : all)
            if (d.call == gfx::CallKind::DrawPrimitive && d.primitiveType == gfx::PT_TRIANGLEFAN) out.push_back(d);
        return out;
    }
};

}  // namespace

TEST_F(KindsTest, TextureSettersPostOnlyWhatResolves) {
    ASSERT_TRUE(MakeTexture("red", "red"));
    ASSERT_TRUE(MakeTexture("blue", "blue"));
    UIPicture* p = AddPicture(screen, 0, 0, 10, 10);
    uitest::OpRecorder ops;
    p->SetTexture("UI/red.dds", 2, 7);
    EXPECT_TRUE(ops.For(p).empty()) << "index 2 does nothing";
    p->SetTexture("UI/missing.dds", 0, 7);
    EXPECT_TRUE(ops.For(p).empty()) << "an unresolved name posts nothing";
    EXPECT_EQ(p->TextureResource(0), nullptr);

    p->SetTexture("UI/red.dds", 0, 7);
    Resource* red = p->TextureResource(0);
    ASSERT_NE(red, nullptr);
    const uint32_t held = red->GetUseCount();
    p->SetTexture("UI/blue.dds", 0, 7);
    EXPECT_EQ(red->GetUseCount(), held - 1) << "the replaced texture's use goes";
    EXPECT_EQ(ops.For(p), (std::vector<uint32_t>{UIOP_PICTURE_TEXTURE, UIOP_PICTURE_TEXTURE}));
    gVornexRenderer.FlushCommands(true);
    const DeviceObjectHandle* blue = static_cast<ResourceTexture*>(p->TextureResource(0))->Handle();
    const DeviceObjectHandle* seen = nullptr;
    uint32_t sampler = 0;
    RunOnRenderThread([&] { seen = p->PictureRender().textures[0], sampler = p->PictureRender().samplers[0]; });
    EXPECT_EQ(seen, blue);
    EXPECT_EQ(sampler, 7u);

    // A missing shader: one error line, nothing posted, no shader kept.
    ops.ops.clear();
    p->SetShader("NoSuchFamily", "", 0, 0);
    EXPECT_TRUE(ops.For(p).empty());
    EXPECT_TRUE(Logged("Unable to load shader NoSuchFamily with option string: "));
    p->SetShader("iPhoneUI", "", 5, 1);
    EXPECT_EQ(ops.For(p), (std::vector<uint32_t>{UIOP_PICTURE_SHADERS}));
    gVornexRenderer.FlushCommands(true);
    int32_t channel = -2;
    RunOnRenderThread([&] { channel = p->PictureRender().channel; });
    EXPECT_EQ(channel, 3) << "channels above 3 are stored as 3";
}

TEST_F(KindsTest, AvatarsCopyOnlyWhatFitsAndTheOwnTextureComesBack) {
    ASSERT_TRUE(MakeTexture("own", "green"));
    UIPicture* p = AddPicture(screen, 0, 0, 10, 10);
    p->SetTexture("UI/own.dds", 0, 3);
    gVornexRenderer.FlushCommands(true);
    const DeviceObjectHandle* own = static_cast<ResourceTexture*>(p->TextureResource(0))->Handle();
    const DeviceObjectHandle* avatar = gShaderManager->SystemTexture(3);
    ASSERT_NE(avatar, nullptr);

    // A block whose rows are not the texture's pitch: freed, nothing changes.
    uint8_t* narrow = static_cast<uint8_t*>(EngineAlloc(16 * 16 * 4));
    std::memset(narrow, 0x11, 16 * 16 * 4);
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_AVATAR, p, uint32_t(0), uint32_t(16), uint32_t(16), narrow);
    gVornexRenderer.FlushCommands(true);
    const DeviceObjectHandle* seen = nullptr;
    RunOnRenderThread([&] { seen = p->PictureRender().textures[0]; });
    EXPECT_EQ(seen, own);

    // A block of the texture's size: red and blue swapped, stage 0 with sampler 7.
    uint8_t* image = static_cast<uint8_t*>(EngineAlloc(32 * 32 * 4));
    for (uint32_t i = 0; i < 32 * 32; ++i) image[4 * i] = 10, image[4 * i + 1] = 20, image[4 * i + 2] = 30, image[4 * i + 3] = 255;
    PostUIOpValues(kUIPictureFamily, UIOP_PICTURE_AVATAR, p, uint32_t(0), uint32_t(32), uint32_t(32), image);
    gVornexRenderer.FlushCommands(true);
    uint32_t sampler = 0;
    uint8_t texel[4] = {};
    RunOnRenderThread([&] {
        seen = p->PictureRender().textures[0], sampler = p->PictureRender().samplers[0];
        gfx::LockedRect locked{};
        if (avatar->Texture2D()->LockRect(0, &locked, nullptr, gfx::LOCK_READONLY) == gfx::OK) {
            std::memcpy(texel, locked.bits, 4);
            avatar->Texture2D()->UnlockRect(0);
        }
    });
    EXPECT_EQ(seen, avatar);
    EXPECT_EQ(sampler, 7u);
    EXPECT_EQ(texel[0], 30);  // B, G, R, A in memory: the image's blue byte first
    EXPECT_EQ(texel[2], 10);

    // Handle 0: the picture's own texture comes back with sampler 7; a repeat posts nothing.
    uitest::OpRecorder ops;
    p->SetSteamTexture(1, 0);
    EXPECT_EQ(ops.For(p), (std::vector<uint32_t>{UIOP_PICTURE_TEXTURE}));
    p->SetSteamTexture(1, 0);
    EXPECT_EQ(ops.For(p).size(), 1u) << "the same (index, handle) as the last request";
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { seen = p->PictureRender().textures[0], sampler = p->PictureRender().samplers[0]; });
    EXPECT_EQ(seen, own);
    EXPECT_EQ(sampler, 7u);
}

TEST_F(KindsTest, AtlasEntriesRepeatOverTheCellsAndLandInTheirVertexSlots) {
    UIPictureAtlas* a = new UIPictureAtlas;
    screen->AddChild(a);
    uitest::OpRecorder ops;
    const float sizes[5] = {1, 2, 3, 4, 5};  // kind 1: two entries, the fifth number is left over
    a->SetAtlasData(UIPictureAtlas::kCellSizes, 1, 3, sizes, 5);
    a->SetAtlasData(UIPictureAtlas::kCellSizes, 0, 1, sizes, 1);  // no whole entry: nothing
    ASSERT_EQ(ops.ops.size(), 1u);
    EXPECT_EQ(ops.ops[0].bytes, 16u + 2 * 2 * 4);
    const float colours[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    const float rects[4] = {5, 6, 7, 8};
    a->SetAtlasData(UIPictureAtlas::kCellColours, 0, 1, colours, 4);
    a->SetAtlasData(UIPictureAtlas::kCellRectangles, 0, 1, rects, 4);
    gVornexRenderer.FlushCommands(true);
    std::vector<UIQuadVertex> cells;
    RunOnRenderThread([&] { cells = a->Cells(); });
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[1].uv[0], 1.0f);
    EXPECT_EQ(cells[2].uv[1], 4.0f);
    EXPECT_EQ(cells[3].uv[0], 1.0f);  // the entries repeat
    EXPECT_EQ(cells[0].parameter[2], 0.3f) << "kind 2 writes the parameter slot";
    EXPECT_EQ(cells[0].colour[3], 8.0f) << "kind 3 writes the colour slot";

    // A header claiming more entries than the record carries changes nothing.
    const uint32_t header[4] = {UIPictureAtlas::kCellSizes, 0, 50, 9};
    const float two[2] = {40, 41};
    const UIOpPart parts[2] = {{header, sizeof header}, {two, sizeof two}};
    PostUIOpParts(kUIAtlasFamily, UIOP_ATLAS_DATA, a, parts, 2);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { cells = a->Cells(); });
    EXPECT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].uv[0], 0.0f);
}

TEST_F(KindsTest, BatchedPicturesShareDrawsAndImmediateOnesCarryTheirState) {
    ASSERT_TRUE(MakeTexture("white", "white"));
    ASSERT_TRUE(MakeTexture("red", "red"));
    std::vector<UIPicture*> batched;
    for (int i = 0; i < 5; ++i) {
        UIPicture* p = AddPicture(screen, 10.0f * i, 0, 8, 8);
        p->SetTexture("UI/white.dds", 0, 7);
        p->SetShader("iPhoneUI", "", 1, 0);
        batched.push_back(p);
    }
    auto up = IndexedUPDraws(FrameDraws());
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(up[0].numVertices, 20u);
    EXPECT_EQ(up[0].primitiveCount, 10u);

    // A texture change in the middle splits the run in three.
    batched[2]->SetTexture("UI/red.dds", 0, 7);
    up = IndexedUPDraws(FrameDraws());
    EXPECT_EQ(up.size(), 3u);
    // Flush-after draws each picture of the channel on its own.
    batched[2]->SetTexture("UI/white.dds", 0, 7);
    for (UIPicture* p : batched) p->SetShader("iPhoneUI", "", 1, 1);
    EXPECT_EQ(IndexedUPDraws(FrameDraws()).size(), 5u);
    for (UIPicture* p : batched) p->Release();

    // A mirrored picture keeps the texture on its corners: emitted (0, 1), (1, 1), (1, 0), (0, 0).
    UIPicture* mirrored = AddPicture(screen, 100, 50, 20, 10);
    mirrored->SetTexture("UI/white.dds", 0, 7);
    mirrored->SetShader("iPhoneUI", "", 0, 0);
    mirrored->SetScale(-1, 1, 1);
    up = IndexedUPDraws(FrameDraws());
    ASSERT_EQ(up.size(), 1u);
    const std::vector<float> v = VertexFloats(up[0]);
    ASSERT_GE(v.size(), 52u);
    // x runs leftwards from 100 under the negative scale.
    const float expected[4][4] = {{100, 60, 0, 1}, {80, 60, 1, 1}, {80, 50, 1, 0}, {100, 50, 0, 0}};  // x, y, u, v
    for (int k = 0; k < 4; ++k) {
        EXPECT_FLOAT_EQ(v[13 * k + 4], expected[k][0]) << k;
        EXPECT_FLOAT_EQ(v[13 * k + 5], expected[k][1]) << k;
        EXPECT_FLOAT_EQ(v[13 * k + 11], expected[k][2]) << k;
        EXPECT_FLOAT_EQ(v[13 * k + 12], expected[k][3]) << k;
    }
    mirrored->Release();

    // Immediate: depth state 4 with UIFLAG_DEPTHTEST, else 8; the mapping in c195/c196,
    // the parameter in pixel c32.
    UIPicture* now = AddPicture(screen, 0, 0, 30, 20);
    now->SetTexture("UI/white.dds", 0, 7);
    now->SetTextureMapping(2, 3, 0.25f, 0.5f);
    now->SetPixelShaderParam(Vector(9, 8, 7, 6));
    const struct {
        uint32_t flags, zfunc;
    } rows[] = {{0, gfx::CMP_ALWAYS}, {UIFLAG_DEPTHTEST, gfx::CMP_LESSEQUAL}};
    for (const auto& r : rows) {
        if (r.flags) now->RaiseFlag(r.flags, false);
        const auto fans = Immediate(FrameDraws());
        ASSERT_EQ(fans.size(), 1u);
        EXPECT_EQ(fans[0].RenderState(gfx::RS_ZFUNC), r.zfunc);
        EXPECT_EQ(fans[0].VertexConstant(kUITexScaleRegister)[1], 3.0f);
        EXPECT_EQ(fans[0].VertexConstant(kUITexOffsetRegister)[0], 0.25f);
        EXPECT_EQ(fans[0].PixelConstant(kUIParameterPixelRegister)[3], 6.0f);
    }
}

TEST_F(KindsTest, RoundedRectangleLaysOutItsSevenPictures) {
    UIRoundedRect* rr = new UIRoundedRect;
    screen->AddChild(rr);
    struct Row {
        float w, h, radius, r;
    } rows[] = {{100, 60, 10, 10}, {100, 8, 10, 8}, {6, 60, 10, 6}, {100, 60, 30, 30}};
    for (const Row& row : rows) {
        rr->SetCornerRadius(row.radius);
        rr->SetSize(row.w, row.h);
        gVornexRenderer.FlushCommands(true);
        std::vector<std::pair<Vector, Vector>> placed;  // size, position
        std::vector<float> angles;
        RunOnRenderThread([&] {
            for (UIElement* c = rr->Render().firstChild; c; c = c->Render().nextSibling) {
                placed.push_back({c->Render().size, c->Render().position});
                angles.push_back(c->Render().rotation.z);
            }
        });
        ASSERT_EQ(placed.size(), 7u);
        const float w = row.w, h = row.h, r = row.r;
        const float want[7][4] = {{w - 2 * r, r, r, 0}, {w, h - 2 * r, 0, r}, {w - 2 * r, r, r, h - r},
                                  {r, r, r, r},         {r, r, w - r, r},     {r, r, r, h - r},
                                  {r, r, w - r, h - r}};
        for (int i = 0; i < 7; ++i) {
            EXPECT_FLOAT_EQ(placed[i].first.x, want[i][0]) << i;
            EXPECT_FLOAT_EQ(placed[i].first.y, want[i][1]) << i;
            EXPECT_FLOAT_EQ(placed[i].second.x, want[i][2]) << i;
            EXPECT_FLOAT_EQ(placed[i].second.y, want[i][3]) << i;
        }
        EXPECT_EQ(angles, (std::vector<float>{0, 0, 0, 180, -90, 90, 0}));
    }
}

TEST_F(KindsTest, BlurFallsBackBelowQualityTwoAndPicksItsPairBySaturation) {
    UIBlur* blur = new UIBlur;
    blur->SetSize(40, 30);
    blur->SetLinearColor(1, 1, 1, 0.5f);
    screen->AddChild(blur);
    const struct {
        uint32_t quality;
        float saturation;
        uint32_t slot;  // 0: the fallback quad
    } rows[] = {{1, 1.0f, 0}, {2, 1.0f, 7}, {3, 1.0005f, 7}, {3, 0.5f, 8}};
    for (const auto& r : rows) {
        gVornexRenderer.Settings().gfxQualityLevel = r.quality;
        blur->SetSaturation(r.saturation);
        const auto all = FrameDraws();
        if (r.slot == 0) {
            const auto up = IndexedUPDraws(all);
            ASSERT_EQ(up.size(), 1u);
            const std::vector<float> v = VertexFloats(up[0]);
            EXPECT_FLOAT_EQ(v[0], 0.02f);
            EXPECT_FLOAT_EQ(v[3], 0.5f * 0.84f);
            continue;
        }
        const auto fans = Immediate(all);
        ASSERT_EQ(fans.size(), 1u) << r.quality;
        EXPECT_EQ(fans[0].pixelShader.serial, gfx::SerialOf(gShaderManager->Fixed(r.slot).pixelObject->DeviceShader()));
        EXPECT_FLOAT_EQ(fans[0].PixelConstant(kUIScreenQuadPixelRegister)[0], r.saturation);
    }
}

TEST_F(KindsTest, TemplateViewRenderHalfAndItsRotationAction) {
    UITemplateView* view = new UITemplateView;
    screen->AddChild(view);
    uitest::OpRecorder ops;
    view->SetTemplate("no/such/template");
    view->Restart();  // no effect template: nothing posted
    EXPECT_EQ(ops.For(view), (std::vector<uint32_t>{UIOP_TEMPLATE_SET}));
    EXPECT_EQ(view->EffectContext(), nullptr);

    // The local matrix turns from its start to the target: half way at half time.
    Matrix start;
    start.LoadTranslation(2, 4, 6);
    view->SetLocalMatrix(start);
    Quaternion q;
    q.LoadZRotation(90);
    view->LocalRotateWithOffset(1.0f, Vector(q.x, q.y, q.z, q.w), Vector(10, 4, 6, 1), UIACTIONFLAG_LINEAR, 0);
    gVornexRenderer.FlushCommands(true);
    const int64_t second = Time::Base().frequency;
    Matrix half;
    RunOnRenderThread([&] {
        SetUIViewTransform(0, 0, 256, 144, 1, 1, Vector());
        view->TickActions();
        SetUIViewTransform(second / 2, 0, 256, 144, 1, 1, Vector());
        view->TickActions();
        half = view->LocalTemplateMatrix();
    });
    EXPECT_NEAR(half.r[3].x, 6.0f, 1e-4);
    EXPECT_NEAR(half.r[0].x, std::cos(3.14159265f / 4), 1e-4);
    EXPECT_NEAR(half.r[0].y, std::sin(3.14159265f / 4), 1e-4);
}

TEST_F(KindsTest, TemplateViewsPlayEffectTemplatesThroughAnEffectContext) {
    SFXTemplate effect;
    MeshTemplate mesh;
    EXPECT_EQ(CreateTemplateViewEffect(&mesh, 0x21), nullptr);  // not an effect template
    SFXContext* c = CreateTemplateViewEffect(&effect, 0x21);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Definition(), effect.definition);
    c->BreakLoop(nullptr);
    gVornexRenderer.FlushCommands(true);
    RunOnRenderThread([&] { c->Draw(nullptr, Matrix::IDENTITY, RenderTaskArguments{}); });
    c->Release();
    gVornexRenderer.FlushCommands(true);
}
