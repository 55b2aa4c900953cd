// Recording device: draw ranges, binders, state-call limits and argument edges.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "DeviceFixture.h"

using namespace gfx;

namespace {

struct Draws : Fixture {
    void SetUp() override {
        Fixture::SetUp();
        ASSERT_EQ(device->CreateVertexBuffer(10 * 12, 0, 0, POOL_MANAGED, &vb, nullptr), OK);  // 10 vertices
        ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, FMT_INDEX16, POOL_MANAGED, &ib16, nullptr), OK);
        ASSERT_EQ(device->CreateIndexBuffer(6 * 4, 0, FMT_INDEX32, POOL_MANAGED, &ib32, nullptr), OK);
        device->SetFVF(FVF_XYZ);
        device->SetStreamSource(0, vb, 0, 12);
        device->SetIndices(ib16);
        ASSERT_EQ(device->BeginScene(), OK);
    }
    void TearDown() override {
        device->EndScene();  // what is still bound goes with the device
        for (Unknown* u : std::initializer_list<Unknown*>{vb, ib16, ib32}) u->Release();
        Fixture::TearDown();
    }
    // The rule a failed call broke; "" when it passed, "?" when it broke none.
    std::string Rule(Result r) {
        const auto reports = recorder->Reports();
        recorder->ClearReports();
        if (r == OK) return "";
        for (auto it = reports.rbegin(); it != reports.rend(); ++it)
            if (it->violation) return it->rule;
        return "?";
    }
    VertexBuffer* vb = nullptr;
    IndexBuffer *ib16 = nullptr, *ib32 = nullptr;
};

TEST_F(Draws, IndexedDrawsReadOnlyWhatTheBuffersHold) {
    struct Case { PrimitiveType type; int32_t baseVertex; uint32_t minIndex, numVertices, startIndex, count;
                  bool wide; /* 32-bit indices */ const char* rule; } cases[] = {
        {PT_TRIANGLELIST, 0, 0, 10, 0, 2, false, ""},  // six 16-bit indices: all of them
        {PT_TRIANGLELIST, 0, 0, 10, 1, 2, false, "draw-index-range"}, {PT_TRIANGLELIST, 0, 0, 10, 1, 2, true, "draw-index-range"},
        {PT_TRIANGLESTRIP, 0, 0, 10, 0, 4, false, ""}, {PT_TRIANGLESTRIP, 0, 0, 10, 0, 5, false, "draw-index-range"},
        {PT_LINELIST, 0, 0, 10, 0, 3, false, ""},      {PT_LINELIST, 0, 0, 10, 0, 4, false, "draw-index-range"},
        {PT_LINESTRIP, 0, 0, 10, 0, 5, false, ""},     {PT_LINESTRIP, 0, 0, 10, 0, 6, false, "draw-index-range"},
        {PT_POINTLIST, 0, 0, 10, 0, 6, false, ""},     {PT_POINTLIST, 0, 0, 10, 0, 7, false, "draw-index-range"},
        {PT_TRIANGLEFAN, 0, 0, 10, 2, 2, false, ""},
        // The vertices base + min .. + numVertices must lie in stream 0.
        {PT_TRIANGLELIST, 0, 9, 1, 0, 1, false, ""},   {PT_TRIANGLELIST, 0, 10, 1, 0, 1, false, "draw-vertex-range"},
        {PT_TRIANGLELIST, 4, 5, 1, 0, 1, false, ""},   {PT_TRIANGLELIST, 1, 0, 10, 0, 1, false, "draw-vertex-range"},
        {PT_TRIANGLELIST, -1, 0, 1, 0, 1, false, "draw-arguments"}, {PT_TRIANGLELIST, 0, 0, 0, 0, 1, false, "draw-arguments"},
    };
    for (const Case& c : cases) {
        device->SetIndices(c.wide ? ib32 : ib16);
        SCOPED_TRACE(testing::Message() << c.type << " " << c.baseVertex << " " << c.minIndex << " " << c.startIndex);
        EXPECT_EQ(Rule(device->DrawIndexedPrimitive(c.type, c.baseVertex, c.minIndex, c.numVertices, c.startIndex, c.count)),
                  c.rule);
    }
    const DrawRecord last = recorder->DrawRecords().back();
    EXPECT_EQ(std::make_tuple(last.call, last.baseVertex, last.minIndex, last.numVertices, last.indices),
              std::make_tuple(CallKind::DrawIndexedPrimitive, 4, 5u, 1u, SerialOf(ib16)));

    device->SetIndices(nullptr);
    EXPECT_EQ(Rule(device->DrawIndexedPrimitive(PT_TRIANGLELIST, 0, 0, 3, 0, 1)), "draw-no-indices");
}

TEST_F(Draws, PlainDrawsCheckTheirStreamAndLayout) {
    struct Case { PrimitiveType type; uint32_t start, count, offset; const char* rule; } cases[] = {
        {PT_TRIANGLELIST, 0, 3, 12, ""},  // nine vertices behind a one-vertex offset
        {PT_TRIANGLELIST, 1, 3, 12, "draw-vertex-range"}, {PT_TRIANGLELIST, 1, 3, 0, ""},
        {PT_LINESTRIP, 0, 9, 0, ""}, {PT_LINESTRIP, 0, 10, 0, "draw-vertex-range"},
        {PT_POINTLIST, 9, 1, 0, ""}, {PT_POINTLIST, 10, 1, 0, "draw-vertex-range"},
        {static_cast<PrimitiveType>(0), 0, 1, 0, "draw-arguments"}, {static_cast<PrimitiveType>(7), 0, 1, 0, "draw-arguments"},
        {PT_POINTLIST, 0, 0, 0, "draw-arguments"},
    };
    for (const Case& c : cases) {
        device->SetStreamSource(0, vb, c.offset, 12);
        EXPECT_EQ(Rule(device->DrawPrimitive(c.type, c.start, c.count)), c.rule) << c.type << " " << c.start;
    }
    // Index-data frequency on stream 0 leaves the range to the indices.
    device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | 2);
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 10, 1)), "");
    device->SetStreamSourceFreq(0, 1);

    // A declaration's elements on stream 0 must fit the stride; other streams do not count.
    const VertexElement elements[] = {{0, 0, DECLTYPE_FLOAT3, 0, DECLUSAGE_POSITION, 0},
                                      {0, 12, DECLTYPE_FLOAT2, 0, DECLUSAGE_TEXCOORD, 0},
                                      {1, 40, DECLTYPE_FLOAT4, 0, DECLUSAGE_COLOR, 0},
                                      kDeclEnd};
    VertexDeclaration* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), OK);
    device->SetVertexDeclaration(decl);
    device->SetStreamSource(0, vb, 0, 20);
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 6)), "");
    device->SetStreamSource(0, vb, 0, 19);
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)), "draw-stride");
    EXPECT_EQ(recorder->DrawRecords().back().declaration, SerialOf(decl));
    device->SetVertexDeclaration(nullptr);
    decl->Release();
    device->SetFVF(0);
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)), "draw-no-input-layout");
    device->SetFVF(FVF_XYZ);
    device->SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)), "draw-no-stream");
    device->EndScene();
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)), "draw-outside-scene");
}

TEST_F(Draws, UserPointerDrawsUnbindWhatTheyReplace) {
    const float vertices[9] = {};
    const uint16_t indices[3] = {0, 1, 2};
    EXPECT_EQ(Rule(device->DrawPrimitiveUP(PT_TRIANGLELIST, 1, nullptr, 12)), "draw-arguments");
    EXPECT_EQ(Rule(device->DrawPrimitiveUP(PT_TRIANGLELIST, 1, vertices, 0)), "draw-arguments");
    ASSERT_EQ(device->DrawPrimitiveUP(PT_TRIANGLELIST, 1, vertices, 12), OK);
    EXPECT_EQ(recorder->DrawRecords().back().userStride, 12u);
    EXPECT_EQ(recorder->DrawRecords().back().streams[0].buffer, 0u);  // unbound before it is recorded
    EXPECT_EQ(Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)), "draw-no-stream");
    EXPECT_EQ(Rule(device->DrawIndexedPrimitive(PT_POINTLIST, 0, 0, 1, 0, 1)), "draw-no-stream");  // indices stay

    struct Case { const void* indices; Format format; uint32_t numVertices, stride; const void* vertices; const char* rule; };
    const Case cases[] = {
        {indices, FMT_INDEX16, 3, 12, vertices, ""},                 {indices, FMT_INDEX32, 3, 12, vertices, ""},
        {indices, FMT_D16, 3, 12, vertices, "draw-arguments"},      {nullptr, FMT_INDEX16, 3, 12, vertices, "draw-arguments"},
        {indices, FMT_INDEX16, 0, 12, vertices, "draw-arguments"},  {indices, FMT_INDEX16, 3, 0, vertices, "draw-arguments"},
        {indices, FMT_INDEX16, 3, 12, nullptr, "draw-arguments"},
    };
    for (const Case& c : cases) {
        device->SetIndices(ib16);
        const Result r = device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, c.numVertices, 1, c.indices, c.format, c.vertices, c.stride);
        EXPECT_EQ(Rule(r), c.rule);
    }
    const DrawRecord record = recorder->DrawRecords().back();
    EXPECT_EQ(std::make_tuple(record.call, record.userIndexFormat, record.numVertices),
              std::make_tuple(CallKind::DrawIndexedPrimitiveUP, FMT_INDEX32, 3u));
    device->SetStreamSource(0, vb, 0, 12);
    EXPECT_EQ(Rule(device->DrawIndexedPrimitive(PT_POINTLIST, 0, 0, 1, 0, 1)), "");  // the failed call kept them
    device->DrawIndexedPrimitiveUP(PT_TRIANGLELIST, 0, 3, 1, indices, FMT_INDEX16, vertices, 12);
    device->SetStreamSource(0, vb, 0, 12);
    EXPECT_EQ(Rule(device->DrawIndexedPrimitive(PT_POINTLIST, 0, 0, 1, 0, 1)), "draw-no-indices");
}

TEST_F(Draws, TargetsDepthAndSampledTargetsAreChecked) {
    Surface *rtSame = nullptr, *rtWide = nullptr, *autoDepth = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(64, 32, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &rtSame, nullptr), OK);
    ASSERT_EQ(device->CreateRenderTarget(65, 32, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &rtWide, nullptr), OK);
    device->GetDepthStencilSurface(&autoDepth);
    auto draw = [&] { return Rule(device->DrawPrimitive(PT_POINTLIST, 0, 1)); };
    device->SetRenderTarget(3, rtSame);
    EXPECT_EQ(draw(), "");
    device->SetRenderTarget(3, rtWide);
    EXPECT_EQ(draw(), "draw-target-size-mismatch");
    device->SetRenderTarget(3, nullptr);
    const std::tuple<uint32_t, uint32_t, MultisampleType, const char*> depths[] = {
        {63, 32, MULTISAMPLE_NONE, "draw-depth-mismatch"}, {64, 31, MULTISAMPLE_NONE, "draw-depth-mismatch"},
        {64, 32, MULTISAMPLE_4_SAMPLES, "draw-depth-mismatch"}, {128, 64, MULTISAMPLE_NONE, ""}, {0, 0, MULTISAMPLE_NONE, ""}};
    for (const auto& [w, h, samples, rule] : depths) {
        Surface* depth = nullptr;
        if (w) device->CreateDepthStencilSurface(w, h, FMT_D24S8, samples, 0, 0, &depth, nullptr);
        device->SetDepthStencilSurface(depth);
        EXPECT_EQ(draw(), rule) << w << "x" << h;
        if (depth) depth->Release();
    }
    // Clears write each depth format's encoding and refuse what the surface lacks; only the
    // lockable formats lock (pitch 0: not lockable).
    const std::tuple<Format, uint32_t, float, const char*, uint32_t, int32_t> clears[] = {
        {FMT_D16_LOCKABLE, CLEAR_ZBUFFER, 0.5f, "", 0x80008000u, 8}, {FMT_D16, CLEAR_STENCIL, 0.5f, "clear-no-stencil", 0, 0},
        {FMT_D32, CLEAR_ZBUFFER, 1.0f, "", 0xFFFFFFFFu, 0},          {FMT_D32F_LOCKABLE, CLEAR_ZBUFFER, 0.25f, "", 0x3E800000u, 16},
        {FMT_D24S8, CLEAR_STENCIL, 1.0f, "", 7u, 0},                 {FMT_D24S8, CLEAR_ZBUFFER, 1.5f, "clear-depth-range", 0, 0},
        {FMT_UNKNOWN, CLEAR_TARGET, 1.0f, "", 0, 0},                 {FMT_UNKNOWN, CLEAR_ZBUFFER, 1.0f, "clear-no-depth", 0, 0}};
    for (const auto& [format, flags, z, rule, texel, pitch] : clears) {
        Surface* depth = nullptr;
        if (format) device->CreateDepthStencilSurface(4, 4, format, MULTISAMPLE_NONE, 0, 0, &depth, nullptr);
        device->SetDepthStencilSurface(depth);
        EXPECT_EQ(Rule(device->Clear(0, nullptr, flags, 0, z, 7)), rule) << format << " " << flags;
        if (depth) {
            EXPECT_EQ(Pixel(depth, 0, 0), texel) << format << " " << flags;
            LockedRect locked{};
            EXPECT_EQ(Rule(depth->LockRect(&locked, nullptr, 0)), pitch ? "" : "lock-not-lockable") << format;
            EXPECT_EQ(locked.pitch, pitch) << format;
            if (pitch) depth->UnlockRect();
            depth->Release();
        }
    }
    device->SetDepthStencilSurface(autoDepth);

    // Sampling a bound target is a warning; the draw goes ahead.
    Texture* target = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 32, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT, &target, nullptr), OK);
    Surface* level = nullptr;
    target->GetSurfaceLevel(0, &level);
    device->SetRenderTarget(1, level);
    device->SetTexture(5, target);
    device->SetTexture(0, target);
    EXPECT_EQ(device->DrawPrimitive(PT_POINTLIST, 0, 1), OK);
    const auto reports = recorder->Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_TRUE(reports.back().rule == "draw-texture-is-target" && !reports.back().violation);
    const DrawRecord record = recorder->DrawRecords().back();
    EXPECT_EQ(std::make_tuple(record.renderTargets[1], record.textures[5].serial, record.depthStencil),
              std::make_tuple(SerialOf(level), SerialOf(target), SerialOf(autoDepth)));
    device->SetTexture(0, nullptr);
    device->SetTexture(5, nullptr);
    device->SetRenderTarget(1, nullptr);
    for (Unknown* u : std::initializer_list<Unknown*>{level, target, autoDepth, rtSame, rtWide}) u->Release();
}

TEST_F(Draws, BindersTakeOnlyLiveObjectsOfThisDevice) {
    Device* other = nullptr;
    PresentParameters p = params;
    ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &p, &other), OK);
    Texture *ourTexture = nullptr, *theirTexture = nullptr;
    VertexBuffer* theirVb = nullptr;
    IndexBuffer* theirIb = nullptr;
    Surface *theirTarget = nullptr, *theirDepth = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &ourTexture, nullptr), OK);
    ASSERT_EQ(other->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &theirTexture, nullptr), OK);
    ASSERT_EQ(other->CreateVertexBuffer(64, 0, 0, POOL_MANAGED, &theirVb, nullptr), OK);
    ASSERT_EQ(other->CreateIndexBuffer(64, 0, FMT_INDEX16, POOL_MANAGED, &theirIb, nullptr), OK);
    ASSERT_EQ(other->CreateRenderTarget(64, 32, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &theirTarget, nullptr), OK);
    ASSERT_EQ(other->CreateDepthStencilSurface(64, 32, FMT_D24S8, MULTISAMPLE_NONE, 0, 0, &theirDepth, nullptr), OK);
    const VertexElement elements[] = {{0, 0, DECLTYPE_FLOAT3, 0, DECLUSAGE_POSITION, 0}, kDeclEnd};
    VertexDeclaration* theirDecl = nullptr;
    ASSERT_EQ(other->CreateVertexDeclaration(elements, &theirDecl), OK);

    EXPECT_EQ(Rule(device->SetTexture(0, theirTexture)), "foreign-object");
    EXPECT_EQ(Rule(device->SetStreamSource(1, theirVb, 0, 12)), "foreign-object");
    EXPECT_EQ(Rule(device->SetIndices(theirIb)), "foreign-object");
    EXPECT_EQ(Rule(device->SetRenderTarget(1, theirTarget)), "foreign-object");
    EXPECT_EQ(Rule(device->SetDepthStencilSurface(theirDepth)), "foreign-object");
    EXPECT_EQ(Rule(device->SetVertexDeclaration(theirDecl)), "foreign-object");
    // The refused calls changed nothing.
    VertexDeclaration* boundDecl = theirDecl;
    device->GetVertexDeclaration(&boundDecl);
    EXPECT_EQ(boundDecl, nullptr);
    EXPECT_EQ(device->DrawIndexedPrimitive(PT_POINTLIST, 0, 0, 1, 0, 1), OK);
    EXPECT_EQ(recorder->DrawRecords().back().indices, SerialOf(ib16));

    // An object released while bound stays bound but cannot be bound again.
    device->SetTexture(3, ourTexture);
    EXPECT_EQ(ourTexture->Release(), 0u);
    EXPECT_EQ(Rule(device->SetTexture(4, ourTexture)), "foreign-object");
    EXPECT_EQ(Rule(device->SetIndices(ib16)), "");
    device->SetStreamSource(1, vb, 0, 12);
    vb->AddRef();
    EXPECT_EQ(vb->Release(), 1u);
    device->SetTexture(3, nullptr);

    // Wrong usages and pools.
    Texture* sysmem = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_SYSTEMMEM, &sysmem, nullptr), OK);
    EXPECT_EQ(Rule(device->SetTexture(0, sysmem)), "texture-pool");
    Surface* ourDepth = nullptr;
    device->GetDepthStencilSurface(&ourDepth);
    EXPECT_EQ(Rule(device->SetRenderTarget(1, ourDepth)), "render-target-usage");
    Surface* back = nullptr;
    device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back);
    EXPECT_EQ(Rule(device->SetDepthStencilSurface(back)), "depth-usage");
    EXPECT_EQ(Rule(device->SetStreamSource(0, vb, 119, 12)), "");
    EXPECT_EQ(Rule(device->SetStreamSource(0, vb, 120, 12)), "stream-offset");
    for (Unknown* u : std::initializer_list<Unknown*>{sysmem, ourDepth, back, theirTexture, theirVb, theirIb, theirTarget,
                                                      theirDepth, theirDecl})
        u->Release();
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(Draws, GettersHandOutAReferenceOfTheirOwn) {
    Texture* texture = nullptr;
    Surface* target = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &texture, nullptr), OK);
    device->SetTexture(15, texture);
    BaseTexture* got = nullptr;
    ASSERT_EQ(device->GetTexture(15, &got), OK);
    EXPECT_EQ(got, texture);
    EXPECT_EQ(texture->AddRef(), 3u);  // ours, the one handed out, this one
    texture->Release();
    got->Release();
    EXPECT_TRUE(device->GetTexture(14, &got) == OK && got == nullptr);
    Device* owner = nullptr;
    ASSERT_TRUE(texture->GetDevice(&owner) == OK && owner == device);
    owner->Release();
    for (Result r : {device->GetTexture(16, &got), device->GetTexture(0, nullptr), texture->GetDevice(nullptr),
                     device->GetRenderTarget(4, &target), device->GetRenderTarget(0, nullptr),
                     device->GetDepthStencilSurface(nullptr), device->GetVertexShader(nullptr),
                     device->GetVertexDeclaration(nullptr)})
        EXPECT_EQ(r, ERR_INVALIDCALL);
    device->SetTexture(15, nullptr);
    texture->Release();

    EXPECT_TRUE(device->GetRenderTarget(1, &target) == ERR_NOTFOUND && target == nullptr);
    Surface* back = nullptr;
    device->GetBackBuffer(0, 0, BACKBUFFER_TYPE_MONO, &back);
    ASSERT_TRUE(device->GetRenderTarget(0, &target) == OK && target == back);
    target->Release();
    back->Release();
    device->SetDepthStencilSurface(nullptr);
    EXPECT_TRUE(device->GetDepthStencilSurface(&back) == ERR_NOTFOUND && back == nullptr);
    VertexShader* vs = nullptr;
    PixelShader* ps = nullptr;
    EXPECT_TRUE(device->GetVertexShader(&vs) == OK && device->GetPixelShader(&ps) == OK && vs == nullptr && ps == nullptr);
}

TEST_F(Draws, StateCallsStopAtTheirLimits) {
    const float f[4 * 257] = {1, 2, 3, 4};
    const int32_t n[4 * 17] = {5};
    struct Case { Result result; const char* rule; } cases[] = {
        {device->SetVertexShaderConstantF(0, f, 256), ""}, {device->SetVertexShaderConstantF(255, f, 1), ""},
        {device->SetVertexShaderConstantF(255, f, 2), "constant-range"},
        {device->SetVertexShaderConstantF(0, nullptr, 1), "?"}, {device->SetVertexShaderConstantF(0, nullptr, 0), ""},
        {device->SetPixelShaderConstantF(256, nullptr, 0), ""}, {device->SetVertexShaderConstantB(16, nullptr, 0), ""},
        {device->SetPixelShaderConstantF(256, f, 1), "constant-range"}, {device->SetVertexShaderConstantI(15, n, 1), ""},
        {device->SetVertexShaderConstantI(15, n, 2), "constant-range"},
        {device->SetPixelShaderConstantI(16, n, 1), "constant-range"}, {device->SetVertexShaderConstantB(15, n, 1), ""},
        {device->SetPixelShaderConstantB(16, n, 1), "constant-range"},
        {device->SetPixelShaderConstantB(0, nullptr, 1), "constant-range"},
        {device->SetSamplerState(15, SAMP_MAXANISOTROPY, 4), ""},
        {device->SetSamplerState(16, SAMP_MAXANISOTROPY, 4), "sampler-state-unknown"},
        {device->SetSamplerState(0, static_cast<SamplerStateType>(0), 4), "sampler-state-unknown"},
        {device->SetSamplerState(0, static_cast<SamplerStateType>(kSamplerStateCount - 1), 4), ""},
        {device->SetSamplerState(0, static_cast<SamplerStateType>(kSamplerStateCount), 4), "sampler-state-unknown"},
        {device->SetRenderState(RS_WRAP7, 1), ""}, {device->SetRenderState(RS_WRAP15, 1), ""},
        {device->SetRenderState(static_cast<RenderStateType>(kRenderStateCount), 1), "render-state-unknown"},
        {device->SetTexture(16, nullptr), "texture-stage"}, {device->SetStreamSource(16, nullptr, 0, 0), "stream-index"},
        {device->SetRenderTarget(4, nullptr), "render-target-index"}, {device->SetStreamSourceFreq(16, 1), "stream-index"},
        {device->SetStreamSourceFreq(1, 1), ""}, {device->SetStreamSourceFreq(1, STREAMSOURCE_INSTANCEDATA | 1), ""},
        {device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | 3), ""},
        {device->SetStreamSourceFreq(0, STREAMSOURCE_INSTANCEDATA | 1), "stream-frequency"},
        {device->SetStreamSourceFreq(1, STREAMSOURCE_INDEXEDDATA | STREAMSOURCE_INSTANCEDATA | 1), "stream-frequency"},
        {device->SetStreamSourceFreq(1, STREAMSOURCE_INDEXEDDATA), "stream-frequency"},
    };
    std::vector<std::string> rules, expected;  // the rules broken, in the order of the calls
    for (const ValidationReport& r : recorder->Reports())
        if (r.violation) rules.push_back(r.rule);
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, *c.rule ? ERR_INVALIDCALL : OK) << c.rule;
        if (*c.rule && std::string(c.rule) != "?") expected.push_back(c.rule);
    }
    EXPECT_EQ(rules, expected);

    // What was accepted reads back; the pixel registers past ps_3_0 only warn.
    float back[8] = {};
    ASSERT_EQ(device->GetVertexShaderConstantF(255, back, 1), OK);
    EXPECT_EQ(std::make_pair(back[0], back[3]), std::make_pair(1.0f, 4.0f));
    uint32_t v = 0, wrap = 0;
    for (Result r : {device->GetVertexShaderConstantF(255, back, 2), device->GetPixelShaderConstantF(0, nullptr, 1),
                     device->GetSamplerState(16, SAMP_MAXANISOTROPY, &v),
                     device->GetSamplerState(0, static_cast<SamplerStateType>(0), &v),
                     device->GetRenderState(RS_WRAP15, nullptr)})
        EXPECT_EQ(r, ERR_INVALIDCALL);
    EXPECT_TRUE(device->GetSamplerState(15, SAMP_MAXANISOTROPY, &v) == OK && device->GetRenderState(RS_WRAP15, &wrap) == OK);
    EXPECT_EQ(std::make_pair(v, wrap), std::make_pair(4u, 1u));
    recorder->ClearReports();
    EXPECT_TRUE(device->SetPixelShaderConstantF(223, f, 1) == OK && recorder->Reports().empty());
    EXPECT_EQ(device->SetPixelShaderConstantF(224, f, 1), OK);
    ASSERT_EQ(recorder->Reports().size(), 1u);
    EXPECT_EQ(recorder->Reports()[0].rule, "constant-beyond-ps30");
    ASSERT_EQ(device->GetPixelShaderConstantF(224, back, 2), OK);
    EXPECT_EQ(std::make_pair(back[1], back[4]), std::make_pair(2.0f, 0.0f));

    // The last draw records the constants and frequencies in effect.
    device->SetStreamSourceFreq(0, 1);
    ASSERT_EQ(device->DrawPrimitive(PT_POINTLIST, 0, 1), OK);
    const DrawRecord record = recorder->DrawRecords().back();
    EXPECT_EQ(std::make_tuple(record.VertexConstant(255)[2], record.PixelConstant(224)[0], record.streams[1].frequency,
                              record.SamplerState(15, SAMP_MAXANISOTROPY)),
              std::make_tuple(3.0f, 1.0f, uint32_t(STREAMSOURCE_INSTANCEDATA | 1), 4u));
    // Integer, then boolean registers set between draws reach the next one.
    for (int32_t step : {0, 1}) {
        const int32_t v[4] = {6 + step};
        (device->*(step ? &Device::SetVertexShaderConstantB : &Device::SetVertexShaderConstantI))(1, v, 1);
        (device->*(step ? &Device::SetPixelShaderConstantB : &Device::SetPixelShaderConstantI))(1, v, 1);
        ASSERT_EQ(device->DrawPrimitive(PT_POINTLIST, 0, 1), OK);
        const DrawRecord later = recorder->DrawRecords().back();
        EXPECT_EQ(std::make_tuple(later.vertexConstants->ints[1][0], later.vertexConstants->bools[1],
                                  later.pixelConstants->ints[1][0], later.pixelConstants->bools[1]),
                  std::make_tuple(6, 7 * step, 6, 7 * step));
    }
}

TEST_F(Draws, CreationLockAndPresentArgumentsAtTheirEdges) {
    Texture* t = nullptr;
    VertexBuffer* b = nullptr;
    IndexBuffer* i = nullptr;
    auto texture = [&](uint32_t w, uint32_t h, uint32_t levels, uint32_t usage, Format f, Pool pool) {
        const Result r = device->CreateTexture(w, h, levels, usage, f, pool, &t, nullptr);
        const uint32_t count = t ? t->GetLevelCount() : 0;
        if (t) t->Release();
        t = nullptr;
        return Rule(r) + (count ? "/" + std::to_string(count) : "");
    };
    EXPECT_EQ(texture(16384, 1, 1, 0, FMT_A8, POOL_SYSTEMMEM), "/1");
    EXPECT_EQ(texture(8, 8, 9, 0, FMT_A8, POOL_MANAGED), "/4");  // more levels than the chain: the chain
    EXPECT_EQ(texture(8, 2, 0, 0, FMT_A8, POOL_MANAGED), "/4");
    EXPECT_EQ(texture(16385, 1, 1, 0, FMT_A8, POOL_MANAGED), "texture-arguments");
    EXPECT_EQ(texture(1, 0, 1, 0, FMT_A8, POOL_MANAGED), "texture-arguments");
    EXPECT_EQ(texture(4, 4, 1, 0, FMT_A8, static_cast<Pool>(POOL_SCRATCH + 1)), "texture-arguments");
    EXPECT_EQ(texture(4, 4, 1, 0, static_cast<Format>(12345), POOL_MANAGED), "unknown-format");
    EXPECT_EQ(texture(4, 4, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_MANAGED), "target-not-default-pool");
    EXPECT_EQ(texture(4, 4, 1, USAGE_DYNAMIC, FMT_A8R8G8B8, POOL_MANAGED), "dynamic-managed");
    EXPECT_EQ(texture(4, 4, 1, USAGE_RENDERTARGET, FMT_DXT1, POOL_DEFAULT), "?");
    EXPECT_EQ(texture(4, 4, 1, 0, FMT_D16, POOL_DEFAULT), "?");  // depth formats need the depth usage
    EXPECT_EQ(texture(4, 4, 1, USAGE_DEPTHSTENCIL, FMT_A8R8G8B8, POOL_DEFAULT), "?");
    CubeTexture* cube = nullptr;
    EXPECT_EQ(Rule(device->CreateCubeTexture(0, 1, 0, FMT_A8, POOL_MANAGED, &cube, nullptr)), "texture-arguments");
    EXPECT_EQ(Rule(device->CreateVertexBuffer(0, 0, 0, POOL_MANAGED, &b, nullptr)), "buffer-arguments");  // null on refusal
    EXPECT_EQ(Rule(device->CreateVertexBuffer(4, USAGE_DYNAMIC, 0, POOL_MANAGED, &b, nullptr)), "dynamic-managed");
    EXPECT_EQ(Rule(device->CreateIndexBuffer(4, 0, FMT_A8, POOL_MANAGED, &i, nullptr)), "buffer-arguments");
    EXPECT_TRUE(b == nullptr && i == nullptr);

    // Buffer locks: offset and size within the buffer; size 0 runs to the end.
    ASSERT_EQ(device->CreateVertexBuffer(80, USAGE_DYNAMIC, 0, POOL_DEFAULT, &b, nullptr), OK);
    struct Lock { uint32_t offset, size, flags; const char* rule; } locks[] = {
        {60, 20, 0, ""}, {60, 21, 0, "lock-range"}, {80, 0, 0, ""}, {81, 0, 0, "lock-range"},
        {0, 0, LOCK_DISCARD | LOCK_NOOVERWRITE, "lock-discard-nooverwrite"}, {0, 0, LOCK_READONLY, ""},
    };
    for (const Lock& l : locks) {
        void* data = nullptr;
        const Result r = b->Lock(l.offset, l.size, &data, l.flags);
        EXPECT_EQ(Rule(r), l.rule) << l.offset << " " << l.size;
        EXPECT_EQ(data != nullptr, r == OK);
        EXPECT_EQ(r == OK ? b->Unlock() : OK, OK);
    }
    EXPECT_EQ(Rule(b->Unlock()), "unlock-not-locked");
    void* data = nullptr;
    ASSERT_EQ(b->Lock(0, 0, &data, LOCK_DISCARD), OK);
    EXPECT_EQ(static_cast<uint8_t*>(data)[79], 0xCD);  // discarded contents are visibly undefined
    b->Unlock();
    EXPECT_EQ(b->Lock(0, 0, nullptr, 0), ERR_INVALIDCALL);
    b->Release();

    // Surface locks: inside the surface, on 4x4 blocks when compressed, one at a time.
    Texture *dynamic = nullptr, *blocks = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, USAGE_DYNAMIC, FMT_A8R8G8B8, POOL_DEFAULT, &dynamic, nullptr), OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, FMT_DXT1, POOL_MANAGED, &blocks, nullptr), OK);
    struct RectLock { Texture* texture; Rect rect; uint32_t flags; const char* rule; } rects[] = {
        {dynamic, {0, 0, 8, 8}, 0, ""}, {dynamic, {7, 7, 8, 8}, 0, ""}, {dynamic, {-1, 0, 8, 8}, 0, "lock-rect-outside"},
        {dynamic, {0, 0, 9, 8}, 0, "lock-rect-outside"}, {dynamic, {0, 0, 8, 9}, 0, "lock-rect-outside"},
        {dynamic, {3, 0, 3, 8}, 0, "lock-rect-outside"}, {dynamic, {0, 5, 8, 5}, 0, "lock-rect-outside"},
        {dynamic, {0, 0, 8, 8}, LOCK_NOOVERWRITE, "lock-nooverwrite-texture"},
        {dynamic, {0, 0, 8, 8}, LOCK_DISCARD | LOCK_READONLY, "lock-discard-readonly"}, {blocks, {4, 4, 8, 8}, 0, ""},
        {blocks, {2, 0, 8, 8}, 0, "lock-rect-unaligned"}, {blocks, {0, 0, 8, 8}, LOCK_DISCARD, "lock-discard-not-dynamic"},
    };
    for (const RectLock& l : rects) {
        LockedRect locked{};
        const Result r = l.texture->LockRect(0, &locked, &l.rect, l.flags);
        EXPECT_EQ(Rule(r), l.rule) << l.rect.left << "," << l.rect.top << "," << l.rect.right << "," << l.rect.bottom;
        if (r == OK) {
            EXPECT_EQ(Rule(l.texture->LockRect(0, &locked, nullptr, 0)), "lock-twice");
            l.texture->UnlockRect(0);
        }
    }
    LockedRect locked{}, whole{};
    ASSERT_EQ(blocks->LockRect(0, &whole, nullptr, 0), OK);
    blocks->UnlockRect(0);
    const Rect lastBlock = {4, 4, 8, 8};
    ASSERT_EQ(blocks->LockRect(0, &locked, &lastBlock, 0), OK);
    EXPECT_EQ(std::make_pair(locked.pitch, static_cast<uint8_t*>(locked.bits) - static_cast<uint8_t*>(whole.bits)),
              std::make_pair(16, std::ptrdiff_t(16 + 8)));  // two 8-byte blocks per row of blocks
    blocks->UnlockRect(0);
    EXPECT_EQ(Rule(blocks->UnlockRect(0)), "unlock-not-locked");
    ASSERT_EQ(dynamic->LockRect(0, &locked, nullptr, LOCK_DISCARD), OK);
    EXPECT_EQ(static_cast<uint8_t*>(locked.bits)[255], 0xCD);  // discarded, as with buffers
    dynamic->UnlockRect(0);
    dynamic->Release();
    blocks->Release();

    // UpdateSurface copies between surfaces of one format only.
    Surface *sysA = nullptr, *sysL = nullptr, *target = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, FMT_A8R8G8B8, POOL_SYSTEMMEM, &sysA, nullptr), OK);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, FMT_L8, POOL_SYSTEMMEM, &sysL, nullptr), OK);
    ASSERT_EQ(device->CreateRenderTarget(4, 4, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr), OK);
    EXPECT_EQ(Rule(device->UpdateSurface(sysA, nullptr, target, nullptr)), "");
    EXPECT_EQ(Rule(device->UpdateSurface(sysL, nullptr, target, nullptr)), "update-surface");
    EXPECT_EQ(Rule(device->UpdateSurface(target, nullptr, sysA, nullptr)), "update-surface");
    for (Unknown* u : std::initializer_list<Unknown*>{sysA, sysL, target}) u->Release();

    Surface* none = nullptr;
    const std::tuple<uint32_t, uint32_t, Format> depthArguments[] = {{4, 4, FMT_A8R8G8B8}, {16385, 1, FMT_D16}, {1, 16385, FMT_D16}};
    for (const auto& [w, h, f] : depthArguments)
        EXPECT_EQ(Rule(device->CreateDepthStencilSurface(w, h, f, MULTISAMPLE_NONE, 0, 0, &none, nullptr)), "depth-arguments");
    EXPECT_EQ(Rule(device->CreateRenderTarget(8, 8, FMT_A8R8G8B8, MULTISAMPLE_4_SAMPLES, 0, 1, &none, nullptr)),
              "lockable-multisample");

    // Present parameters: a zero count means one buffer, an unknown format the default.
    Device* other = nullptr;
    PresentParameters p = params;
    p.backBufferCount = 0;
    p.backBufferFormat = FMT_UNKNOWN;
    ASSERT_EQ(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &p, &other), OK);
    SwapChain* chain = nullptr;
    ASSERT_EQ(other->GetSwapChain(0, &chain), OK);
    PresentParameters got{};
    chain->GetPresentParameters(&got);
    EXPECT_EQ(std::make_pair(got.backBufferCount, got.backBufferFormat), std::make_pair(1u, FMT_X8R8G8B8));
    // A chain handed out twice is released twice without a broken rule; its back buffer
    // locks only when the parameters ask for a lockable one (flag 1).
    SwapChain* again = nullptr;
    ASSERT_EQ(other->GetSwapChain(0, &again), OK);
    again->Release();
    chain->Release();
    EXPECT_EQ(GetRecorder(other)->ViolationCount(), 0u);
    EXPECT_EQ(other->Release(), 0u);
    p.backBufferCount = 1;
    for (uint32_t flags : {0u, 1u}) {
        p.flags = flags;
        ASSERT_EQ(device->CreateAdditionalSwapChain(&p, &chain), OK);
        Surface* backBuffer = nullptr;
        ASSERT_EQ(chain->GetBackBuffer(0, BACKBUFFER_TYPE_MONO, &backBuffer), OK);
        const Result r = backBuffer->LockRect(&locked, nullptr, 0);
        EXPECT_EQ(Rule(r), flags ? "" : "lock-not-lockable");
        if (r == OK) backBuffer->UnlockRect();
        backBuffer->Release();
        chain->Release();
    }
    p.backBufferWidth = 16385;
    EXPECT_NE(factory->CreateDevice(0, DEVTYPE_HAL, nullptr, CREATE_HARDWARE_VERTEXPROCESSING, &p, &other), OK);

}

}  // namespace
