// Recording device: defaults, draw records, bytes of clears and copies, implicit rules.
// test-sanitize: thread address
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "DeviceFixture.h"
#include "platform/gfx/PixelFormat.h"
#include "platform/gfx/ShaderCompiler.h"

using namespace gfx;

namespace {

TEST_F(Fixture, DefaultsModesAndCaps) {
    uint32_t v = 0;
    EXPECT_EQ(device->SetRenderState(static_cast<RenderStateType>(1), 0), ERR_INVALIDCALL);
    GammaRamp ramp{};
    device->GetGammaRamp(0, &ramp);
    EXPECT_EQ(std::make_tuple(ramp.red[1], ramp.green[128], ramp.blue[255]), std::make_tuple(257, 32896, 65535));
    // Every default render and sampler state as one digest (checked one by one once).
    uint64_t defaults = 1469598103934665603ull;
    auto fold = [&defaults](uint32_t value) {
        for (int b = 0; b < 4; ++b) defaults = (defaults ^ ((value >> (8 * b)) & 0xFF)) * 1099511628211ull;
    };
    for (uint32_t s = 0; s < kRenderStateCount; ++s) fold(device->GetRenderState(static_cast<RenderStateType>(s), &v) == OK ? v : 0xDEADu);
    for (uint32_t stage = 0; stage < kSamplerStageCount; ++stage)
        for (uint32_t t = 1; t < kSamplerStateCount; ++t)
            fold(device->GetSamplerState(stage, static_cast<SamplerStateType>(t), &v) == OK ? v : 0xDEADu);
    EXPECT_EQ(defaults, 0x4168D85F8137AED1ull);
    const uint32_t modes = factory->GetAdapterModeCount(0, FMT_X8R8G8B8);
    DisplayMode m{};
    EXPECT_TRUE(modes > 0 && factory->EnumAdapterModes(0, FMT_X8R8G8B8, modes - 1, &m) == OK && m.format == FMT_X8R8G8B8);
    EXPECT_EQ(factory->EnumAdapterModes(0, FMT_X8R8G8B8, modes, &m), ERR_INVALIDCALL);
    const std::tuple<uint32_t, ResourceType, Format, Result> formats[] = {
        {USAGE_DEPTHSTENCIL, RTYPE_TEXTURE, FMT_INTZ, OK}, {0, RTYPE_TEXTURE, FMT_D16, ERR_NOTAVAILABLE},
        {0, RTYPE_SURFACE, FMT_D16, OK}, {USAGE_DEPTHSTENCIL, RTYPE_TEXTURE, FMT_A8R8G8B8, ERR_NOTAVAILABLE}};
    for (const auto& [usage, type, format, result] : formats)
        EXPECT_EQ(factory->CheckDeviceFormat(0, DEVTYPE_HAL, FMT_X8R8G8B8, usage, type, format), result) << format;
    EXPECT_EQ(CreateDeviceFactory(31), nullptr);
}

// Shader code comes from a cache on disk: creation reads only the bytes it is given, and
// code whose end token lies outside them is refused (AddressSanitizer sees any read past
// the exactly sized copies below).
TEST_F(Fixture, ShaderCreationReadsOnlyTheGivenBytes) {
    Blob* code = Compile("float4 pixel() : COLOR { return 1; }\n", "pixel", "ps_3_0");
    ASSERT_NE(code, nullptr);
    const auto* words = Code(code);
    const uint32_t bytes = code->GetBufferSize();
    for (const uint32_t size : {bytes - 4, bytes - 5, 8u, 4u, 0u}) {
        std::vector<uint32_t> cut(words, words + size / 4);
        cut.shrink_to_fit();
        PixelShader* ps = nullptr;
        EXPECT_EQ(device->CreatePixelShader(cut.data(), size, &ps), ERR_INVALIDCALL) << size;
        EXPECT_EQ(ps, nullptr);
    }
    EXPECT_TRUE(Broke("shader-no-end"));
    std::vector<uint32_t> whole(words, words + bytes / 4);
    PixelShader* ps = nullptr;
    ASSERT_EQ(device->CreatePixelShader(whole.data(), bytes, &ps), OK);
    uint32_t size = 0;
    EXPECT_EQ(ps->GetFunction(nullptr, &size), OK);
    EXPECT_EQ(size, bytes);
    ps->Release();
    code->Release();
}

TEST_F(Fixture, DrawRecordsHoldTheBoundState) {
    Blob* code = Compile("float4 Tint : register(c3);\nsampler2D Base : register(s2);\nfloat4 pixel() : COLOR { return Tint; }\n",
                         "pixel", "ps_3_0");
    ASSERT_NE(code, nullptr);
    PixelShader* ps = nullptr;
    ASSERT_EQ(device->CreatePixelShader(Code(code), code->GetBufferSize(), &ps), OK);
    VertexShader* wrongStage = nullptr;
    EXPECT_EQ(device->CreateVertexShader(Code(code), code->GetBufferSize(), &wrongStage), ERR_INVALIDCALL);
    code->Release();

    VertexBuffer* vb = Quad();
    Texture* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, FMT_A8R8G8B8, POOL_MANAGED, &tex, nullptr), OK);
    EXPECT_EQ(tex->GetLevelCount(), 4u);
    const float tint[4] = {1, 0.5f, 0.25f, 1};
    device->SetPixelShaderConstantF(3, tint, 1);
    device->SetPixelShader(ps);
    device->SetTexture(2, tex);
    device->SetRenderState(RS_STENCILFUNC, CMP_EQUAL);
    device->SetFVF(FVF_XYZ | FVF_TEX1);
    device->SetStreamSource(0, vb, 0, 20);
    ASSERT_EQ(device->BeginScene(), OK);
    EXPECT_EQ(device->DrawPrimitive(PT_TRIANGLEFAN, 0, 2), OK);
    device->SetRenderState(RS_STENCILFUNC, CMP_NOTEQUAL);
    EXPECT_EQ(device->DrawPrimitive(PT_TRIANGLEFAN, 0, 2), OK);
    EXPECT_EQ(device->DrawPrimitive(PT_TRIANGLEFAN, 1, 2), ERR_INVALIDCALL);  // failed calls count too
    ASSERT_EQ(device->EndScene(), OK);

    const auto records = recorder->DrawRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::make_tuple(records[0].RenderState(RS_STENCILFUNC), records[1].RenderState(RS_STENCILFUNC),
                              records[0].primitiveType),
              std::make_tuple(CMP_EQUAL, CMP_NOTEQUAL, PT_TRIANGLEFAN));
    EXPECT_EQ(records[0].pixelShader.serial, SerialOf(ps));
    ASSERT_TRUE(records[0].pixelShader.constants && records[0].pixelShader.constants->size() == 2u);
    EXPECT_EQ((*records[0].pixelShader.constants)[0].name, "Tint");
    EXPECT_EQ(records[0].PixelConstant(3)[1], 0.5f);
    EXPECT_EQ(std::make_tuple(records[0].textures[2].serial, records[0].textures[2].levels, records[0].streams[0].stride),
              std::make_tuple(SerialOf(tex), 4u, 20u));
    EXPECT_EQ(records[0].pixelConstants, records[1].pixelConstants);  // unchanged blocks are shared
    EXPECT_EQ(recorder->CallCount(CallKind::DrawPrimitive), 3u);
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture, POOL_MANAGED), 1u);

    // Released while bound: gone for the counters, kept until unbound.
    tex->Release();
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::Texture), 0u);
    device->SetTexture(2, nullptr);
    vb->Release();
    ps->Release();

    // Last-frame mode keeps only the frame being drawn.
    recorder->SetDrawRecordMode(DrawRecordMode::LastFrame);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), OK);
    vb = Quad();
    device->SetStreamSource(0, vb, 0, 20);
    device->BeginScene();
    device->DrawPrimitive(PT_TRIANGLELIST, 0, 1);
    device->EndScene();
    EXPECT_EQ(recorder->DrawRecords().size(), 1u);
    device->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

TEST_F(Fixture, ImplicitRules) {
    recorder->SetValidationMode(ValidationMode::Warn);
    // Render target 0 resets the viewport and scissor; target 1 may be null, target 0 may not.
    Surface* rt = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(16, 8, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &rt, nullptr), OK);
    Viewport vp = {1, 1, 4, 4, 0, 1};
    const Rect smallScissor = {1, 1, 3, 3};
    ASSERT_TRUE(device->SetViewport(&vp) == OK && device->SetScissorRect(&smallScissor) == OK);
    ASSERT_EQ(device->SetRenderTarget(0, rt), OK);
    Rect scissor{};
    device->GetViewport(&vp);
    device->GetScissorRect(&scissor);
    EXPECT_EQ(std::make_tuple(vp.x, vp.y, vp.width, vp.height, scissor.left, scissor.top, scissor.right, scissor.bottom),
              std::make_tuple(0u, 0u, 16u, 8u, 0, 0, 16, 8));
    EXPECT_EQ(device->SetRenderTarget(1, nullptr), OK);
    EXPECT_TRUE(device->SetRenderTarget(0, nullptr) == ERR_INVALIDCALL && Broke("render-target-0-null"));
    Viewport outside = {0, 0, 17, 8, 0, 1};
    EXPECT_EQ(device->SetViewport(&outside), ERR_INVALIDCALL);

    VertexBuffer* vb = Quad();
    device->SetFVF(FVF_XYZ);
    device->SetStreamSource(0, vb, 0, 12);
    for (Result want : {OK, ERR_INVALIDCALL}) EXPECT_EQ(device->BeginScene(), want);  // scenes do not nest
    for (Result want : {OK, ERR_INVALIDCALL}) EXPECT_EQ(device->EndScene(), want);

    // Discard needs DYNAMIC; read-only is refused on write-only buffers.
    void* p = nullptr;
    EXPECT_TRUE(vb->Lock(0, 0, &p, LOCK_DISCARD) == ERR_INVALIDCALL && Broke("lock-discard-not-dynamic"));
    EXPECT_TRUE(vb->Lock(0, 0, &p, LOCK_READONLY) == ERR_INVALIDCALL && Broke("lock-readonly-writeonly"));
    VertexBuffer* dyn = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, USAGE_DYNAMIC | USAGE_WRITEONLY, 0, POOL_DEFAULT, &dyn, nullptr), OK);

    // Event queries report not-done until the configured number of polls passed.
    Query* q = nullptr;
    ASSERT_EQ(device->CreateQuery(QUERYTYPE_EVENT, &q), OK);
    recorder->SetQueryLatency(2);
    q->Issue(ISSUE_END);
    for (Result want : {OK_FALSE, OK_FALSE, OK}) EXPECT_EQ(q->GetData(nullptr, 0, GETDATA_FLUSH), want);
    q->Release();

    // Reset refuses while default-pool objects or back-buffer references live.
    Surface* back = nullptr;
    device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back);
    Surface* autoDepth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&autoDepth), OK);
    device->SetRenderState(RS_CULLMODE, CULL_NONE);
    device->SetSamplerState(4, SAMP_MAGFILTER, TEXF_LINEAR);
    Texture* managedTexture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &managedTexture, nullptr), OK);
    device->SetTexture(7, managedTexture);
    Blob* code = Compile("float4 vertex() : POSITION { return 0; }\n", "vertex", "vs_3_0");
    ASSERT_NE(code, nullptr);
    VertexShader* vs = nullptr;
    ASSERT_EQ(device->CreateVertexShader(Code(code), code->GetBufferSize(), &vs), OK);
    // The code comes back whole: its size first, then the bytes into a buffer that fits.
    uint32_t size = 0;
    ASSERT_TRUE(vs->GetFunction(nullptr, &size) == OK && size == code->GetBufferSize());
    std::vector<uint8_t> function(size + 4, 0xEE);
    uint32_t shorter = size - 1;
    EXPECT_EQ(vs->GetFunction(function.data(), &shorter), ERR_MOREDATA);
    ASSERT_EQ(vs->GetFunction(function.data(), &size), OK);
    EXPECT_EQ(std::memcmp(function.data(), code->GetBufferPointer(), size), 0);
    EXPECT_EQ(function[size], 0xEE);
    code->Release();
    device->SetVertexShader(vs);
    PresentParameters next = params;
    next.backBufferWidth = 40;
    EXPECT_EQ(device->Reset(&next), ERR_INVALIDCALL);
    EXPECT_TRUE(Broke("reset-live-default-objects"));
    rt->Release();
    dyn->Release();
    EXPECT_EQ(device->Reset(&next), ERR_INVALIDCALL);  // still the back-buffer reference
    back->Release();
    EXPECT_EQ(device->Reset(&next), ERR_INVALIDCALL);  // still the automatic depth surface reference
    autoDepth->Release();
    EXPECT_EQ(device->Reset(&next), OK);  // the managed buffer, texture and shader survive
    BaseTexture* boundTexture = managedTexture;
    VertexShader* boundShader = vs;
    device->GetTexture(7, &boundTexture);
    device->GetVertexShader(&boundShader);
    EXPECT_TRUE(boundTexture == nullptr && boundShader == nullptr);
    managedTexture->Release();
    vs->Release();
    uint32_t v = 0, w = 0;
    device->GetRenderState(RS_CULLMODE, &v);
    device->GetSamplerState(4, SAMP_MAGFILTER, &w);
    device->GetViewport(&vp);
    EXPECT_EQ(std::make_tuple(v, w, vp.width), std::make_tuple(uint32_t(CULL_CCW), uint32_t(TEXF_POINT), 40u));
    device->BeginScene();
    EXPECT_EQ(device->DrawPrimitive(PT_POINTLIST, 0, 1), ERR_INVALIDCALL);  // streams were unbound
    EXPECT_TRUE(Broke("draw-no-stream") || Broke("draw-no-input-layout"));
    device->EndScene();
    vb->Release();
}

TEST_F(Fixture, LossResetFailuresAndRefusedCapabilities) {
    recorder->LoseDeviceOnNextPresent();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), ERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), ERR_DEVICENOTRESET);
    recorder->FailResets(2);
    PresentParameters p = params;
    for (Result want : {ERR_DEVICELOST, ERR_DEVICELOST, OK}) EXPECT_EQ(device->Reset(&p), want);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), OK);
    EXPECT_EQ(recorder->CallCount(CallKind::Reset), 3u);

    CapabilityFaults faults;
    faults.refuseHardwareVertexProcessing = faults.refuseIntz = faults.refuse10BitRenderTarget = faults.refuseMultisample = true;
    SetCapabilityFaults(faults);
    Device* other = nullptr;
    PresentParameters q = params;
    EXPECT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &q, &other),
              ERR_NOTAVAILABLE);
    ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_SOFTWARE_VERTEXPROCESSING, &q, &other), OK);
    other->Release();
    for (Format f : {FMT_INTZ, FMT_RAWZ})
        EXPECT_EQ(factory->CheckDeviceFormat(0, DEVTYPE_HAL, FMT_X8R8G8B8, USAGE_DEPTHSTENCIL, RTYPE_TEXTURE, f),
                  f == FMT_RAWZ ? OK : ERR_NOTAVAILABLE);
    Texture* t = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, USAGE_RENDERTARGET, FMT_A2R10G10B10, POOL_DEFAULT, &t, nullptr),
              ERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
    Surface* s = nullptr;
    EXPECT_EQ(device->CreateRenderTarget(8, 8, FMT_A8R8G8B8, MULTISAMPLE_4_SAMPLES, 0, 0, &s, nullptr), ERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, USAGE_DEPTHSTENCIL, FMT_D16, POOL_DEFAULT, &t, nullptr), OK);  // shadow map
    t->Release();
}

TEST_F(Fixture, ClearStretchAndLockBytes) {
    Texture* target = nullptr;
    Surface *level = nullptr, *msaa = nullptr, *back = nullptr, *depth = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT, &target, nullptr), OK);
    target->GetSurfaceLevel(0, &level);
    ASSERT_EQ(device->CreateRenderTarget(8, 8, FMT_A8R8G8B8, MULTISAMPLE_4_SAMPLES, 0, 0, &msaa, nullptr), OK);
    device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back);

    // Clear is clipped to the viewport and writes the target's format.
    Viewport vp = {2, 0, 4, 4, 0, 1};
    device->SetViewport(&vp);
    ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER | CLEAR_STENCIL, 0x80FF0000u, 1.0f, 7), OK);
    EXPECT_EQ(std::make_pair(Pixel(back, 2, 0), Pixel(back, 1, 0)), std::make_pair(0xFFFF0000u, 0u));  // X8R8G8B8 keeps the unused byte set
    device->GetDepthStencilSurface(&depth);
    EXPECT_EQ(Pixel(depth, 3, 3), 0xFFFFFF07u);
    depth->Release();

    // StretchRect: multisampled source resolves into a texture level; point vs linear.
    device->SetRenderTarget(0, msaa);
    device->Clear(0, nullptr, CLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    const Rect right = {4, 0, 8, 8};
    device->ColorFill(msaa, &right, 0xFFFFFFFFu);
    EXPECT_EQ(device->StretchRect(msaa, nullptr, level, nullptr, TEXF_POINT), OK);
    EXPECT_EQ(std::make_pair(Pixel(level, 1, 0), Pixel(level, 2, 0)), std::make_pair(0xFF000000u, 0xFFFFFFFFu));
    const Rect twoColumns = {3, 0, 5, 1};
    const Rect onePixel = {0, 0, 1, 1};
    EXPECT_EQ(device->StretchRect(msaa, &twoColumns, level, &onePixel, TEXF_LINEAR), OK);
    EXPECT_EQ(Pixel(level, 0, 0), 0xFF808080u);  // average of black and white
    EXPECT_TRUE(device->StretchRect(level, nullptr, msaa, nullptr, TEXF_POINT) == ERR_INVALIDCALL &&
                Broke("stretch-dest-multisampled"));
    Surface* ds = nullptr;
    device->CreateDepthStencilSurface(4, 4, FMT_D24S8, MULTISAMPLE_NONE, 0, 1, &ds, nullptr);
    EXPECT_EQ(device->StretchRect(ds, nullptr, level, nullptr, TEXF_NONE), ERR_INVALIDCALL);
    EXPECT_EQ(device->StretchRect(msaa, nullptr, level, nullptr, TEXF_ANISOTROPIC), ERR_INVALIDCALL);

    // Locks on a managed texture: uploads land in the level bytes.
    Texture* managed = nullptr;
    device->CreateTexture(4, 2, 1, 0, FMT_L8, POOL_MANAGED, &managed, nullptr);
    LockedRect lr;
    const Rect sub = {1, 1, 3, 2};
    ASSERT_TRUE(managed->LockRect(0, &lr, &sub, 0) == OK && lr.pitch == 4);
    static_cast<uint8_t*>(lr.bits)[0] = 9;
    EXPECT_EQ(managed->UnlockRect(0), OK);
    Surface* ml = nullptr;
    managed->GetSurfaceLevel(0, &ml);
    std::vector<uint8_t> bytes;
    recorder->ReadSurface(ml, &bytes);
    EXPECT_EQ(std::make_pair(bytes[4], bytes[5]), std::make_pair(uint8_t(0), uint8_t(9)));  // the rest untouched
    EXPECT_EQ(level->LockRect(&lr, nullptr, 0), ERR_INVALIDCALL);  // render targets are not lockable
    // Levels of ordinary textures are neither StretchRect sources nor destinations.
    EXPECT_EQ(device->StretchRect(msaa, nullptr, ml, nullptr, TEXF_POINT), ERR_INVALIDCALL);
    EXPECT_TRUE(Broke("stretch-dest-not-target"));
    EXPECT_EQ(device->StretchRect(ml, nullptr, level, nullptr, TEXF_POINT), ERR_INVALIDCALL);

    device->SetRenderTarget(0, back);
    for (Unknown* u : std::initializer_list<Unknown*>{ml, managed, ds, back, msaa, level, target}) u->Release();
}

// A linear stretch gives, byte for byte, the texel-by-texel filter (four decoded
// neighbours, weights from the texel centres), down and up, across formats and from a
// part of the source; and a depth clear leaves the part of the texel it does not clear.
TEST_F(Fixture, LinearStretchAndPartialDepthClearsKeepTheirTexels) {
    struct Case {
        uint32_t sw, sh;
        Format sf;
        uint32_t dw, dh;
        Format df;
        Rect from;
    } const cases[] = {
        {13, 9, FMT_A8R8G8B8, 8, 5, FMT_X8R8G8B8, {0, 0, 13, 9}},
        {5, 3, FMT_A8R8G8B8, 11, 7, FMT_A8R8G8B8, {0, 0, 5, 3}},
        {12, 10, FMT_A16B16G16R16F, 5, 4, FMT_A8R8G8B8, {2, 1, 11, 10}},
        {9, 6, FMT_A8R8G8B8, 4, 6, FMT_A2R10G10B10, {1, 0, 9, 6}},
    };
    for (const Case& c : cases) {
        Surface *src = nullptr, *dst = nullptr;
        ASSERT_EQ(device->CreateRenderTarget(c.sw, c.sh, c.sf, MULTISAMPLE_NONE, 0, 0, &src, nullptr), OK);
        ASSERT_EQ(device->CreateRenderTarget(c.dw, c.dh, c.df, MULTISAMPLE_NONE, 0, 0, &dst, nullptr), OK);
        for (uint32_t y = 0; y < c.sh; ++y)
            for (uint32_t x = 0; x < c.sw; ++x) {
                const Rect one = {int32_t(x), int32_t(y), int32_t(x + 1), int32_t(y + 1)};
                device->ColorFill(src, &one, 0x10203040u * (x + 1) ^ 0x01357913u * (y + 3));
            }
        ASSERT_EQ(device->StretchRect(src, &c.from, dst, nullptr, TEXF_LINEAR), OK);
        std::vector<uint8_t> in, out;
        ASSERT_TRUE(recorder->ReadSurface(src, &in) == OK && recorder->ReadSurface(dst, &out) == OK);
        detail::FormatInfo si{}, di{};
        detail::GetFormatInfo(c.sf, &si);
        detail::GetFormatInfo(c.df, &di);
        const int32_t sw = c.from.right - c.from.left, sh = c.from.bottom - c.from.top;
        const float sx = float(sw) / float(c.dw), sy = float(sh) / float(c.dh);
        auto decode = [&](int32_t x, int32_t y, float* rgba) {
            detail::DecodeTexel(c.sf, in.data() + (size_t(c.from.top + y) * c.sw + c.from.left + x) * si.bytesPerTexel,
                                rgba);
        };
        int wrong = 0;
        for (uint32_t y = 0; y < c.dh; ++y)
            for (uint32_t x = 0; x < c.dw; ++x) {
                const float cx = std::clamp((float(x) + 0.5f) * sx - 0.5f, 0.0f, float(sw - 1));
                const float cy = std::clamp((float(y) + 0.5f) * sy - 0.5f, 0.0f, float(sh - 1));
                const int32_t x0 = int32_t(cx), y0 = int32_t(cy), x1 = std::min(x0 + 1, sw - 1),
                              y1 = std::min(y0 + 1, sh - 1);
                const float ax = cx - float(x0), ay = cy - float(y0);
                float c00[4], c10[4], c01[4], c11[4], want[4];
                decode(x0, y0, c00), decode(x1, y0, c10), decode(x0, y1, c01), decode(x1, y1, c11);
                for (int k = 0; k < 4; ++k) {
                    const float top = c00[k] + (c10[k] - c00[k]) * ax, bottom = c01[k] + (c11[k] - c01[k]) * ax;
                    want[k] = top + (bottom - top) * ay;
                }
                uint8_t texel[16] = {};
                detail::EncodeTexel(c.df, want, texel);
                wrong += std::memcmp(texel, out.data() + (size_t(y) * c.dw + x) * di.bytesPerTexel, di.bytesPerTexel) != 0;
            }
        EXPECT_EQ(wrong, 0) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
        src->Release();
        dst->Release();
    }

    Surface* depth = nullptr;
    device->GetDepthStencilSurface(&depth);
    ASSERT_EQ(device->Clear(0, nullptr, CLEAR_ZBUFFER | CLEAR_STENCIL, 0, 0.5f, 0x35), OK);
    const Rect left = {0, 0, 10, 4}, right = {20, 0, 30, 4};
    ASSERT_EQ(device->Clear(1, &left, CLEAR_ZBUFFER, 0, 1.0f, 0x99), OK);
    ASSERT_EQ(device->Clear(1, &right, CLEAR_STENCIL, 0, 0.0f, 0x1A7), OK);
    const uint32_t half = uint32_t(0.5 * 16777215.0 + 0.5) << 8;
    EXPECT_EQ(std::make_tuple(Pixel(depth, 9, 3), Pixel(depth, 20, 0), Pixel(depth, 15, 2), Pixel(depth, 9, 4)),
              std::make_tuple(0xFFFFFF35u, half | 0xA7u, half | 0x35u, half | 0x35u));
    depth->Release();
}

TEST_F(Fixture, StrictModeReportsToTheSink) {
    std::vector<std::string> seen;
    SetValidationSink([](void* user, const ValidationReport& r) {
        static_cast<std::vector<std::string>*>(user)->push_back(r.rule);
    }, &seen);
    recorder->SetValidationMode(ValidationMode::Strict);
    EXPECT_EQ(device->EndScene(), ERR_INVALIDCALL);
    const float c[4] = {};
    EXPECT_EQ(device->SetPixelShaderConstantF(247, c, 1), OK);  // a warning, not a violation
    SetValidationSink(nullptr, nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"scene-not-begun", "constant-beyond-ps30"}));
    EXPECT_EQ(recorder->ViolationCount(), 1u);
    // Without a sink a strict violation stops the process.
    EXPECT_DEATH(device->EndScene(), "strict validation");
}

TEST_F(Fixture, ThreeThreadsShareTheDevice) {
    // Main creates, render draws, presenter presents and polls; calls are serialised.
    VertexBuffer* vb = Quad();
    Query* q = nullptr;
    device->CreateQuery(QUERYTYPE_EVENT, &q);
    recorder->SetDrawRecordMode(DrawRecordMode::LastFrame);
    std::atomic<os::ThreadId> renderId{0};
    std::thread render([&] {
        renderId = os::CurrentThreadId();
        for (int i = 0; i < 200; ++i) {
            device->BeginScene();
            device->SetFVF(FVF_XYZ);
            device->SetStreamSource(0, vb, 0, 12);
            const float c[4] = {static_cast<float>(i), 0, 0, 0};
            device->SetVertexShaderConstantF(0, c, 1);
            device->DrawPrimitive(PT_TRIANGLELIST, 0, 1);
            device->EndScene();
        }
    });
    std::thread presenter([&] {
        for (int i = 0; i < 200; ++i) {
            device->Present(nullptr, nullptr, nullptr, nullptr);
            q->Issue(ISSUE_END);
            while (q->GetData(nullptr, 0, GETDATA_FLUSH) == OK_FALSE) {
            }
        }
    });
    for (int i = 0; i < 100; ++i) {
        Texture* t = nullptr;
        device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &t, nullptr);
        t->Release();
        (void)recorder->DrawRecords();
    }
    render.join();
    presenter.join();
    const os::ThreadId self = os::CurrentThreadId();
    EXPECT_EQ(recorder->CallCountOnThread(self, CallKind::DrawPrimitive), 0u);
    EXPECT_EQ(recorder->CallCountOnThread(renderId, CallKind::DrawPrimitive), 200u);
    EXPECT_EQ(recorder->CallCount(CallKind::DrawPrimitive), 200u);
    EXPECT_EQ(recorder->CallCount(CallKind::Present), 200u);
    EXPECT_EQ(recorder->CallsByThread().size(), 3u);
    q->Release();
    device->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

// The call log keeps every logged call's arguments and copied bytes in order, and holds
// the objects it names after their users let them go, until it is turned off.
TEST_F(Fixture, CallLogHoldsArgumentsBytesAndObjects) {
    recorder->SetCallLogging(true);
    VertexBuffer* vb = Quad();
    Texture* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT, &texture, nullptr), OK);
    Surface* level = nullptr;
    texture->GetSurfaceLevel(0, &level);
    Surface* back = nullptr;
    device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back);
    const float constants[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const Rect source = {0, 0, 2, 2};
    device->SetStreamSource(0, vb, 4, 20);
    device->SetTexture(1, texture);
    device->SetPixelShaderConstantF(5, constants, 2);
    device->SetRenderState(static_cast<RenderStateType>(1000), 1);  // refused, yet made
    device->StretchRect(back, &source, level, nullptr, TEXF_LINEAR);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetTexture(1, nullptr);
    level->Release();
    back->Release();
    const uint32_t vbSerial = SerialOf(vb);
    vb->Release();
    texture->Release();

    const std::vector<CallRecord> log = recorder->CallLog();
    ASSERT_EQ(log.size(), 7u);
    struct Expected {
        CallKind call;
        std::array<uint32_t, 3> args;
        size_t bytes;
    };
    const Expected expected[] = {
        {CallKind::SetStreamSource, {0, 4, 20}, 0},
        {CallKind::SetTexture, {1, 0, 0}, 0},
        {CallKind::SetPixelShaderConstant, {5, 2, uint32_t(ConstantKind::Float)}, sizeof constants},
        {CallKind::SetRenderState, {1000, 1, 0}, 0},
        {CallKind::StretchRect, {TEXF_LINEAR, 0, 0}, 2 * (1 + sizeof(Rect))},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(log[i].call, expected[i].call);
        EXPECT_TRUE(std::equal(expected[i].args.begin(), expected[i].args.end(), log[i].args.begin()));
        EXPECT_EQ(log[i].data.size(), expected[i].bytes);
    }
    EXPECT_EQ(log[2].args[3], 1u);  // pixel constants
    EXPECT_EQ(std::memcmp(log[2].data.data(), constants, sizeof constants), 0);
    EXPECT_EQ(std::memcmp(log[4].data.data() + 1, &source, sizeof source), 0);
    EXPECT_EQ(log[4].data[1 + sizeof(Rect)], 0);  // no destination rectangle
    EXPECT_EQ(log[5].object, nullptr);

    // Released by their users, the logged objects are still there to be read.
    EXPECT_EQ(SerialOf(log[0].object), vbSerial);
    VertexBufferDesc vd{};
    EXPECT_EQ(static_cast<VertexBuffer*>(log[0].object)->GetDesc(&vd), OK);
    EXPECT_EQ(vd.size, 80u);
    SurfaceDesc sd{};
    EXPECT_EQ(static_cast<Surface*>(log[4].object2)->GetDesc(&sd), OK);
    EXPECT_EQ(sd.width, 4u);
    EXPECT_EQ(recorder->LiveObjects(ObjectKind::VertexBuffer), 0u);

    // Turning the log off lets them go: the device's own last reference ends it (TearDown).
    recorder->SetCallLogging(false);
    EXPECT_TRUE(recorder->CallLog().empty());
    device->SetRenderState(RS_CULLMODE, CULL_NONE);
    EXPECT_TRUE(recorder->CallLog().empty());
}

// Every kind of set call, each as the same value twice and then a new one: the repeat is
// dropped (counted as a call, no work), the new value is not and reaches the next draw.
TEST_F(Fixture, RepeatedSetsAreDroppedAndChangedOnesReachTheDraw) {
    VertexBuffer* vb = Quad();
    VertexBuffer* other = Quad();
    IndexBuffer* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(12, USAGE_WRITEONLY, FMT_INDEX16, POOL_MANAGED, &ib, nullptr), OK);
    Texture* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &tex, nullptr), OK);
    const VertexElement elements[] = {{0, 0, DECLTYPE_FLOAT3, 0, DECLUSAGE_POSITION, 0}, kDeclEnd};
    VertexDeclaration* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), OK);
    Blob* code = Compile("float4 pixel() : COLOR { return 1; }\n", "pixel", "ps_3_0");
    ASSERT_NE(code, nullptr);
    PixelShader* ps = nullptr;
    ASSERT_EQ(device->CreatePixelShader(Code(code), code->GetBufferSize(), &ps), OK);
    code->Release();
    const float one[8] = {1, 2, 3, 4, 5, 6, 7, 8}, two[8] = {1, 2, 3, 4, 5, 6, 7, 9};
    const int32_t ints[4] = {1, 2, 3, 4}, ints2[4] = {1, 2, 3, 5};
    const Viewport port{0, 0, 32, 16, 0, 1}, port2{0, 0, 32, 16, 0, 0.5f};
    const Rect cut{1, 2, 3, 4}, cut2{1, 2, 3, 5};

    struct Case {
        const char* name;
        std::function<Result(bool second)> set;  // the first value, or the new one
    };
    const std::vector<Case> cases = {
        {"render state", [&](bool b) { return device->SetRenderState(RS_STENCILREF, b ? 7 : 3); }},
        {"sampler state", [&](bool b) { return device->SetSamplerState(1, SAMP_ADDRESSU, b ? TADDRESS_MIRROR : TADDRESS_CLAMP); }},
        {"texture", [&](bool b) { return device->SetTexture(3, b ? nullptr : tex); }},
        {"pixel shader", [&](bool b) { return device->SetPixelShader(b ? nullptr : ps); }},
        {"vertex constants", [&](bool b) { return device->SetVertexShaderConstantF(10, b ? two : one, 2); }},
        {"pixel constants", [&](bool b) { return device->SetPixelShaderConstantF(20, b ? two : one, 2); }},
        {"int constants", [&](bool b) { return device->SetPixelShaderConstantI(2, b ? ints2 : ints, 1); }},
        {"bool constants", [&](bool b) { return device->SetVertexShaderConstantB(5, b ? ints2 + 3 : ints, 1); }},
        {"declaration", [&](bool b) { return device->SetVertexDeclaration(b ? nullptr : decl); }},
        {"fvf", [&](bool b) { return device->SetFVF(b ? FVF_XYZ | FVF_TEX1 : FVF_XYZ); }},
        {"stream", [&](bool b) { return device->SetStreamSource(0, b ? other : vb, 0, b ? 20 : 12); }},
        {"stream offset", [&](bool b) { return device->SetStreamSource(1, vb, b ? 4 : 0, 12); }},
        {"stream frequency", [&](bool b) { return device->SetStreamSourceFreq(1, b ? (STREAMSOURCE_INSTANCEDATA | 1) : 1); }},
        {"indices", [&](bool b) { return device->SetIndices(b ? nullptr : ib); }},
        {"viewport", [&](bool b) { return device->SetViewport(b ? &port2 : &port); }},
        {"scissor", [&](bool b) { return device->SetScissorRect(b ? &cut2 : &cut); }},
    };
    // The first value differs from what the device holds (its defaults and nulls) except
    // where noted by the count: stream frequency 1 is the default.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t before = recorder->DroppedCalls();
        EXPECT_EQ(c.set(false), OK);
        const uint64_t afterFirst = recorder->DroppedCalls();
        EXPECT_EQ(c.set(false), OK);
        EXPECT_EQ(recorder->DroppedCalls(), afterFirst + 1) << "the repeat was not dropped";
        EXPECT_EQ(c.set(true), OK);
        EXPECT_EQ(recorder->DroppedCalls(), afterFirst + 1) << "a changed value was dropped";
        EXPECT_EQ(afterFirst - before, std::string(c.name) == "stream frequency" ? 1u : 0u);
    }
    // Dropped calls still count as calls; a refused call is not a dropped one.
    EXPECT_EQ(recorder->CallCount(CallKind::SetRenderState), 3u);
    const uint64_t dropped = recorder->DroppedCalls();
    EXPECT_EQ(device->SetRenderState(static_cast<RenderStateType>(kRenderStateCount + 1), 0), ERR_INVALIDCALL);
    EXPECT_EQ(device->SetStreamSource(0, vb, 4096, 12), ERR_INVALIDCALL);
    EXPECT_EQ(recorder->DroppedCalls(), dropped);

    // What the changed calls left is what a draw records.
    device->SetFVF(FVF_XYZ);
    device->SetStreamSource(0, vb, 0, 12);
    device->SetStreamSourceFreq(1, 1);
    ASSERT_EQ(device->BeginScene(), OK);
    ASSERT_EQ(device->DrawPrimitive(PT_TRIANGLELIST, 0, 1), OK);
    ASSERT_EQ(device->EndScene(), OK);
    const auto records = recorder->DrawRecords();
    ASSERT_EQ(records.size(), 1u);
    const DrawRecord& r = records[0];
    EXPECT_EQ(std::make_tuple(r.RenderState(RS_STENCILREF), r.textures[3].serial, r.pixelShader.serial, r.indices),
              std::make_tuple(7u, 0u, 0u, 0u));
    EXPECT_EQ(std::make_tuple(r.VertexConstant(11)[3], r.PixelConstant(21)[3], r.streams[1].offset, r.viewport.maxZ,
                              r.scissor.bottom),
              std::make_tuple(9.0f, 9.0f, 4u, 0.5f, 5));

    // Reset puts the defaults back: the default value is dropped, the value held before is not.
    recorder->ResetCallCounts();
    EXPECT_EQ(recorder->DroppedCalls(), 0u);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetStreamSource(1, nullptr, 0, 0);
    PresentParameters p = params;
    ASSERT_EQ(device->Reset(&p), OK);
    EXPECT_EQ(device->SetRenderState(RS_STENCILREF, 0), OK);
    EXPECT_EQ(recorder->DroppedCalls(), 1u);
    EXPECT_EQ(device->SetRenderState(RS_STENCILREF, 7), OK);
    EXPECT_EQ(recorder->DroppedCalls(), 1u);

    for (Unknown* u : std::initializer_list<Unknown*>{vb, other, ib, tex, decl, ps}) u->Release();
}

}  // namespace
