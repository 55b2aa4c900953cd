// The drawing device: pixels drawn on the software rasteriser against the original
// device's rules (coverage, blending, tests, targets, textures, constants, locks).
// test-sanitize: address
// test-timeout: 600
#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

#include "DrawFixture.h"

namespace gfx {
namespace {

uint32_t Channel(uint32_t argb, int shift) { return (argb >> shift) & 0xFF; }

TEST_F(DrawFixture, FullScreenQuadCoversEveryPixelOnce) {
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    AdditiveBlend();
    const uint32_t one = Argb(1, 1, 1, 1);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, one), 2);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, one), 2);
    ExpectPicture("full_screen_quad", backBuffer, [](uint32_t, uint32_t) { return Argb(2, 2, 2, 2); }, 0);
}

// The vertex position named POSITION however a vertex shader returns it: as its return
// value, as an out parameter or in an output struct; an input struct keeps POSITION as
// the vertex attribute.
TEST_F(DrawFixture, VertexPositionByEveryWayOfWritingIt) {
    const char* const sources[] = {
        "float4 vertex(float4 p : POSITION, float4 c : COLOR0, out float4 oc : COLOR0) : POSITION {\n"
        "    oc = c; return float4(p.xyz, 1); }\n",
        "void vertex(float4 p : POSITION, float4 c : COLOR0, out float4 op : POSITION0, out float4 oc : COLOR0) {\n"
        "    op = float4(p.xyz, 1); oc = c; }\n",
        "struct VIn { float4 p : POSITION; float4 c : COLOR0; };\n"
        "struct VOut { float4 position : POSITION; float4 colour : COLOR0; };\n"
        "VOut vertex(VIn i) { VOut o; o.position = float4(i.p.xyz, 1); o.colour = i.c; return o; }\n",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        UseShaders(source, kColourPixel);
        Clear(0);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, Argb(255, 200, 100, 50)), 2);
        ExpectPicture("vertex_position", backBuffer, [](uint32_t, uint32_t) { return 0xC86432u; }, 1);
    }
}

TEST_F(DrawFixture, PrimitivesLandOnThePixelsTheirVerticesName) {
    UseShaders(kPassVertex, kColourPixel);
    // Pixel centres sit at integer coordinates: pixel i spans clip x from
    // (i - 0.5) * 2 / 64 - 1 to (i + 0.5) * 2 / 64 - 1. A rectangle from pixel edge 16 to
    // 48 in both directions covers pixels 16..47 with the top-left rule.
    auto clip = [](float pixel) { return (pixel - 0.5f) * 2.0f / kSize - 1.0f; };
    const uint32_t red = Argb(255, 255, 0, 0);
    struct Case {
        const char* name;
        PrimitiveType type;
        std::vector<Vertex> v;
        uint32_t count;
    } cases[] = {
        {"list", PT_TRIANGLELIST, Rectangle(clip(16), -clip(48), clip(48), -clip(16), red), 2},
        {"strip", PT_TRIANGLESTRIP,
         {{clip(16), -clip(48), 0.5f, red, 0, 0}, {clip(16), -clip(16), 0.5f, red, 0, 0},
          {clip(48), -clip(48), 0.5f, red, 0, 0}, {clip(48), -clip(16), 0.5f, red, 0, 0}},
         2},
        {"fan", PT_TRIANGLEFAN,
         {{clip(16), -clip(48), 0.5f, red, 0, 0}, {clip(16), -clip(16), 0.5f, red, 0, 0},
          {clip(48), -clip(16), 0.5f, red, 0, 0}, {clip(48), -clip(48), 0.5f, red, 0, 0}},
         2},
    };
    for (const Case& c : cases) {
        Clear(0);
        Draw(c.type, c.v, c.count);
        ExpectPicture(std::string("primitive_") + c.name, backBuffer, [&](uint32_t x, uint32_t y) {
            return x >= 16 && x < 48 && y >= 16 && y < 48 ? red : 0u;
        }, 0);
    }
    // A point lands on the pixel whose centre it names; a line along a row lights it.
    Clear(0);
    const float px = 10.0f * 2.0f / kSize - 1.0f, py = 1.0f - 20.0f * 2.0f / kSize;
    Draw(PT_POINTLIST, {{px, py, 0.5f, red, 0, 0}}, 1);
    const float ly = 1.0f - 40.0f * 2.0f / kSize;
    Draw(PT_LINELIST, {{clip(8), ly, 0.5f, red, 0, 0}, {clip(56), ly, 0.5f, red, 0, 0}}, 1);
    const std::vector<uint32_t> p = Pixels(backBuffer);
    EXPECT_EQ(p[20 * kSize + 10] & 0xFFFFFF, 0xFF0000u);
    uint32_t lit = 0;
    for (uint32_t x = 0; x < kSize; ++x) lit += (p[40 * kSize + x] & 0xFFFFFF) == 0xFF0000u;
    EXPECT_GE(lit, 46u);
    EXPECT_LE(lit, 49u);
}

// A point list draws squares of RS_POINTSIZE pixels a side, kept within the minimum and
// maximum states and at least one pixel.
TEST_F(DrawFixture, PointsDrawSquaresOfThePointSize) {
    UseShaders(kPassVertex, kColourPixel);
    const uint32_t white = Argb(255, 255, 255, 255);
    auto bits = [](float f) {
        uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        return b;
    };
    const struct {
        float size, minimum, maximum;
        uint32_t side;
    } cases[] = {
        {1, 1, 64, 1}, {4, 1, 64, 4}, {7, 1, 64, 7}, {0.25f, 0, 64, 1}, {20, 1, 9, 9}, {2, 5, 64, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        device->SetRenderState(RS_POINTSIZE, bits(c.size));
        device->SetRenderState(RS_POINTSIZE_MIN, bits(c.minimum));
        device->SetRenderState(RS_POINTSIZE_MAX, bits(c.maximum));
        Clear(0);
        // The centre of pixel (20, 30).
        Draw(PT_POINTLIST, {{20.0f * 2.0f / kSize - 1.0f, 1.0f - 30.0f * 2.0f / kSize, 0.5f, white, 0, 0}}, 1);
        // Where an even side puts its extra pixel is the rasteriser's choice: the square
        // starts at the first lit column and row, kept where it still covers (20, 30).
        const std::vector<uint32_t> p = Pixels(backBuffer);
        uint32_t x0 = kSize, y0 = kSize;
        for (uint32_t y = 0; y < kSize; ++y)
            for (uint32_t x = 0; x < kSize; ++x)
                if (Channel(p[y * kSize + x], 16) > 128) x0 = std::min(x0, x), y0 = std::min(y0, y);
        x0 = std::clamp(x0, 21 - c.side, 20u);
        y0 = std::clamp(y0, 31 - c.side, 30u);
        ExpectPicture("point_size_" + std::to_string(c.side), backBuffer, [&](uint32_t x, uint32_t y) {
            return x >= x0 && x < x0 + c.side && y >= y0 && y < y0 + c.side ? white : 0u;
        }, 8);
    }
}

TEST_F(DrawFixture, CullModesFollowTheWinding) {
    UseShaders(kPassVertex, kColourPixel);
    const uint32_t green = Argb(255, 0, 255, 0);
    // Rectangle() winds clockwise on screen; its mirror image winds counter-clockwise.
    std::vector<Vertex> cw = Rectangle(-1, -1, 0, 1, green);
    std::vector<Vertex> ccw = Rectangle(0, -1, 1, 1, green);
    std::swap(ccw[1], ccw[2]);
    std::swap(ccw[4], ccw[5]);
    for (const uint32_t cull : {CULL_NONE, CULL_CW, CULL_CCW}) {
        Clear(0);
        device->SetRenderState(RS_CULLMODE, cull);
        Draw(PT_TRIANGLELIST, cw, 2);
        Draw(PT_TRIANGLELIST, ccw, 2);
        const bool left = cull != CULL_CW, right = cull != CULL_CCW;
        ExpectPicture("cull_" + std::to_string(cull), backBuffer, [&](uint32_t x, uint32_t) {
            return (x < kSize / 2 ? left : right) ? green : 0u;
        }, 0);
    }
}

// The ten rows of the renderer's blend table against their formulas, over a known
// destination (alpha kept in an A8R8G8B8 target).
TEST_F(DrawFixture, BlendRowsFollowTheirFormulas) {
    Surface* target = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(kSize, kSize, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr), OK);
    held.push_back(target);
    device->SetRenderTarget(0, target);
    device->SetDepthStencilSurface(nullptr);
    UseShaders(kPassVertex, kColourPixel);
    const float s[4] = {0.8f, 0.4f, 0.2f, 0.6f}, d[4] = {0.2f, 0.5f, 1.0f, 0.4f};
    const uint32_t src = Argb(153, 204, 102, 51), dst = Argb(102, 51, 128, 255);
    struct Row {
        uint32_t enable, op, srcBlend, destBlend;
        std::function<float(float, float, float, float)> f;  // (s, d, sa, da)
    } rows[] = {
        {0, BLENDOP_ADD, BLEND_ONE, BLEND_ZERO, [](float s, float, float, float) { return s; }},
        {1, BLENDOP_ADD, BLEND_SRCALPHA, BLEND_INVSRCALPHA, [](float s, float d, float a, float) { return s * a + d * (1 - a); }},
        {1, BLENDOP_ADD, BLEND_ONE, BLEND_ONE, [](float s, float d, float, float) { return std::min(1.0f, s + d); }},
        {1, BLENDOP_ADD, BLEND_SRCALPHA, BLEND_ONE, [](float s, float d, float a, float) { return std::min(1.0f, s * a + d); }},
        {1, BLENDOP_ADD, BLEND_INVSRCALPHA, BLEND_SRCALPHA, [](float s, float d, float a, float) { return s * (1 - a) + d * a; }},
        {1, BLENDOP_SUBTRACT, BLEND_ONE, BLEND_ONE, [](float s, float d, float, float) { return std::max(0.0f, s - d); }},
        {1, BLENDOP_ADD, BLEND_DESTCOLOR, BLEND_ZERO, [](float s, float d, float, float) { return s * d; }},
        {1, BLENDOP_ADD, BLEND_ZERO, BLEND_INVSRCCOLOR, [](float s, float d, float, float) { return d * (1 - s); }},
        {1, BLENDOP_MIN, BLEND_ONE, BLEND_ONE, [](float s, float d, float, float) { return std::min(s, d); }},
        {0, BLENDOP_ADD, BLEND_ZERO, BLEND_ZERO, [](float s, float, float, float) { return s; }},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET, dst, 1.0f, 0), OK);
        device->SetRenderState(RS_ALPHABLENDENABLE, r.enable);
        device->SetRenderState(RS_BLENDOP, r.op);
        device->SetRenderState(RS_SRCBLEND, r.srcBlend);
        device->SetRenderState(RS_DESTBLEND, r.destBlend);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, src), 2);
        uint32_t expected = 0;
        const int shifts[4] = {16, 8, 0, 24};
        for (int c = 0; c < 4; ++c) {
            const float v = r.enable ? r.f(s[c], d[c], s[3], d[3]) : s[c];
            expected |= static_cast<uint32_t>(std::lround(v * 255.0f)) << shifts[c];
        }
        ExpectPicture("blend_row_" + std::to_string(i), target, [&](uint32_t, uint32_t) { return expected; }, 2, 0.0, true);
    }
}

// Alpha test GREATER and EQUAL at the reference and one either side.
TEST_F(DrawFixture, AlphaTestComparesTheOutputAlphaWithTheReference) {
    UseShaders(kPassVertex, kColourPixel);
    device->SetRenderState(RS_ALPHATESTENABLE, 1);
    device->SetRenderState(RS_ALPHAREF, 128);
    const uint32_t white = 0xFFFFFF;
    for (const uint32_t func : {CMP_GREATER, CMP_EQUAL}) {
        device->SetRenderState(RS_ALPHAFUNC, func);
        for (const uint32_t alpha : {127u, 128u, 129u}) {
            Clear(0);
            Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, (alpha << 24) | white), 2);
            const bool pass = func == CMP_GREATER ? alpha > 128 : alpha == 128;
            ExpectPicture("alpha_test_" + std::to_string(func) + "_" + std::to_string(alpha), backBuffer,
                          [&](uint32_t, uint32_t) { return pass ? white : 0u; }, 0);
        }
    }
    // Draws with and without a test that can fail use the same shaders within one scene:
    // each half shows what its own draw's test says (the left draw's test rejects alpha 128).
    struct Case {
        uint32_t enable, func;
        bool leftDrawn;
    };
    const Case cases[] = {{1, CMP_LESS, false}, {1, CMP_NEVER, false}, {0, CMP_NEVER, true},
                          {1, CMP_ALWAYS, true}, {1, CMP_LESSEQUAL, true}};
    const std::vector<Vertex> left = Rectangle(-1, -1, 0, 1, 0x80000000u | white);
    const std::vector<Vertex> right = Rectangle(0, -1, 1, 1, 0x80000000u | white);
    for (const Case& c : cases) {
        device->SetFVF(kVertexFvf);
        ASSERT_EQ(device->BeginScene(), OK);
        Clear(0);
        device->SetRenderState(RS_ALPHATESTENABLE, c.enable);
        device->SetRenderState(RS_ALPHAFUNC, c.func);
        device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, left.data(), sizeof(Vertex));
        device->SetRenderState(RS_ALPHATESTENABLE, 0);
        device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, right.data(), sizeof(Vertex));
        ASSERT_EQ(device->EndScene(), OK);
        ExpectPicture("alpha_test_toggled_" + std::to_string(c.enable) + "_" + std::to_string(c.func), backBuffer,
                      [&](uint32_t x, uint32_t) { return x >= kSize / 2 || c.leftDrawn ? white : 0u; }, 0);
    }
}

TEST_F(DrawFixture, DepthFunctionsWritesAndBias) {
    UseShaders(kPassVertex, kColourPixel);
    device->SetRenderState(RS_ZENABLE, 1);
    const uint32_t red = Argb(255, 255, 0, 0), blue = Argb(255, 0, 0, 255);
    struct Case {
        uint32_t func, write;
        float second;  // depth of the second (blue) rectangle; the first is red at 0.5
        bool blueWins;
    } cases[] = {
        {CMP_LESS, 1, 0.25f, true},   {CMP_LESS, 1, 0.75f, false},  {CMP_LESSEQUAL, 1, 0.5f, true},
        {CMP_GREATER, 1, 0.75f, true}, {CMP_EQUAL, 1, 0.5f, true},  {CMP_NEVER, 1, 0.25f, false},
        {CMP_ALWAYS, 1, 0.75f, true}, {CMP_LESS, 0, 0.75f, true},  // without writes the clear's 1.0 stays
    };
    for (const Case& c : cases) {
        Clear(0);
        device->SetRenderState(RS_ZFUNC, c.func == CMP_GREATER ? CMP_ALWAYS : CMP_LESSEQUAL);
        device->SetRenderState(RS_ZWRITEENABLE, c.write);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, red, 0.5f), 1 * 2);
        device->SetRenderState(RS_ZFUNC, c.func);
        device->SetRenderState(RS_ZWRITEENABLE, 1);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, blue, c.second), 2);
        ExpectPicture("depth_" + std::to_string(c.func) + "_" + std::to_string(c.write), backBuffer,
                      [&](uint32_t, uint32_t) { return c.blueWins ? blue : red; }, 0);
    }
    // Bias moves a coplanar draw in front: LESS fails at equal depth, passes with -bias.
    Clear(0);
    device->SetRenderState(RS_ZFUNC, CMP_LESSEQUAL);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, red, 0.5f), 2);
    device->SetRenderState(RS_ZFUNC, CMP_LESS);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, blue, 0.5f), 2);
    ExpectPicture("depth_no_bias", backBuffer, [&](uint32_t, uint32_t) { return red; }, 0);
    const float bias = -0.001f;
    uint32_t bits;
    std::memcpy(&bits, &bias, 4);
    device->SetRenderState(RS_DEPTHBIAS, bits);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, blue, 0.5f), 2);
    ExpectPicture("depth_bias", backBuffer, [&](uint32_t, uint32_t) { return blue; }, 0);
}

TEST_F(DrawFixture, StencilWritesAShapeAndTestsAgainstIt) {
    UseShaders(kPassVertex, kColourPixel);
    const uint32_t red = Argb(255, 255, 0, 0), green = Argb(255, 0, 255, 0);
    Clear(0);
    // Mark the left half with 5, without colour.
    device->SetRenderState(RS_STENCILENABLE, 1);
    device->SetRenderState(RS_STENCILFUNC, CMP_ALWAYS);
    device->SetRenderState(RS_STENCILREF, 5);
    device->SetRenderState(RS_STENCILPASS, STENCILOP_REPLACE);
    device->SetRenderState(RS_STENCILWRITEMASK, 0xFF);
    device->SetRenderState(RS_COLORWRITEENABLE, 0);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 0, 1, red), 2);
    device->SetRenderState(RS_COLORWRITEENABLE, 0xF);
    // Increment where marked, keep elsewhere; then draw only where the value is 6.
    device->SetRenderState(RS_STENCILFUNC, CMP_EQUAL);
    device->SetRenderState(RS_STENCILPASS, STENCILOP_INCR);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, red), 2);
    device->SetRenderState(RS_STENCILREF, 6);
    device->SetRenderState(RS_STENCILPASS, STENCILOP_KEEP);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, green), 2);
    ExpectPicture("stencil", backBuffer, [&](uint32_t x, uint32_t) { return x < kSize / 2 ? green : 0u; }, 0);
}

TEST_F(DrawFixture, ColourWriteMaskAndScissor) {
    UseShaders(kPassVertex, kColourPixel);
    const uint32_t white = Argb(255, 255, 255, 255);
    const struct {
        uint32_t mask, expect;
    } masks[] = {{COLORWRITEENABLE_RED, 0xFF0000}, {COLORWRITEENABLE_GREEN, 0x00FF00}, {COLORWRITEENABLE_BLUE, 0x0000FF},
                 {COLORWRITEENABLE_RED | COLORWRITEENABLE_BLUE, 0xFF00FF}};
    for (const auto& m : masks) {
        Clear(0);
        device->SetRenderState(RS_COLORWRITEENABLE, m.mask);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, white), 2);
        ExpectPicture("color_mask_" + std::to_string(m.mask), backBuffer, [&](uint32_t, uint32_t) { return m.expect; }, 0);
    }
    device->SetRenderState(RS_COLORWRITEENABLE, 0xF);
    Clear(0);
    const Rect scissor = {8, 4, 40, 20};
    device->SetScissorRect(&scissor);
    device->SetRenderState(RS_SCISSORTESTENABLE, 1);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, white), 2);
    ExpectPicture("scissor", backBuffer, [&](uint32_t x, uint32_t y) {
        return x >= 8 && x < 40 && y >= 4 && y < 20 ? 0xFFFFFFu : 0u;
    }, 0);
}

// Two render targets written at once by one pixel shader.
TEST_F(DrawFixture, TwoRenderTargetsAtOnce) {
    Surface* second = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(kSize, kSize, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &second, nullptr), OK);
    held.push_back(second);
    UseShaders(kPassVertex, R"(
struct POut { float4 a : COLOR0; float4 b : COLOR1; };
POut pixel(float4 c : COLOR0) { POut o; o.a = c; o.b = float4(1, 1, 1, 1) - c; return o; }
)");
    device->SetRenderTarget(1, second);
    Clear(0);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, Argb(255, 255, 64, 0)), 2);
    ExpectPicture("mrt_0", backBuffer, [](uint32_t, uint32_t) { return 0xFF4000u; }, 1);
    ExpectPicture("mrt_1", second, [](uint32_t, uint32_t) { return 0x00BFFFu; }, 1);
}

// sRGB write encodes, sRGB read decodes, with the sRGB transfer function.
TEST_F(DrawFixture, SrgbWriteAndReadFollowTheTransferFunction) {
    auto encode = [](float l) {
        return l <= 0.0031308f ? 12.92f * l : 1.055f * std::pow(l, 1.0f / 2.4f) - 0.055f;
    };
    auto decode = [](float s) { return s <= 0.04045f ? s / 12.92f : std::pow((s + 0.055f) / 1.055f, 2.4f); };
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    device->SetRenderState(RS_SRGBWRITEENABLE, 1);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, Argb(255, 64, 128, 200)), 2);
    device->SetRenderState(RS_SRGBWRITEENABLE, 0);
    auto byte = [](float v) { return static_cast<uint32_t>(std::lround(v * 255.0f)); };
    const uint32_t written = (byte(encode(64 / 255.0f)) << 16) | (byte(encode(128 / 255.0f)) << 8) | byte(encode(200 / 255.0f));
    ExpectPicture("srgb_write", backBuffer, [&](uint32_t, uint32_t) { return written; }, 1);

    // A texture read with and without decoding.
    Texture* tex = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &tex, nullptr), OK);
    held.push_back(tex);
    LockedRect lr{};
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) static_cast<uint32_t*>(lr.bits)[y * lr.pitch / 4 + x] = Argb(255, 64, 128, 200);
    tex->UnlockRect(0);
    UseShaders(kPassVertex, "sampler2D T : register(s0);\nfloat4 pixel(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(T, uv); }\n");
    device->SetTexture(0, tex);
    for (const uint32_t srgb : {0u, 1u}) {
        device->SetSamplerState(0, SAMP_SRGBTEXTURE, srgb);
        Clear(0);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, 0), 2);
        auto f = [&](uint32_t v) { return srgb ? byte(decode(v / 255.0f)) : v; };
        const uint32_t expect = (f(64) << 16) | (f(128) << 8) | f(200);
        ExpectPicture("srgb_read_" + std::to_string(srgb), backBuffer, [&](uint32_t, uint32_t) { return expect; }, 1);
    }
}

// Constants: registers the shader names, matrices, changes between draws, and a pixel
// register beyond ps_3_0 that the device honours.
TEST_F(DrawFixture, ShaderConstantsReachTheirRegisters) {
    UseShaders(R"(
float4 Offset : register(c0);
row_major float4x4 Transform : register(c4);
float4 Global : register(c249);
struct VOut { float4 position : POSITION; float4 colour : COLOR0; };
VOut vertex(float4 p : POSITION) {
    VOut o; o.position = mul(float4(p.xyz, 1), Transform) + Offset; o.colour = Global; return o;
}
)",
               "float4 Tint : register(c250);\nfloat4 pixel(float4 c : COLOR0) : COLOR0 { return c * Tint; }\n");
    const float zero[4] = {0, 0, 0, 0};
    // Scale x by 0.5 and move right by 0.5: the rectangle (-1..1) lands on clip 0..1 in x.
    const float transform[16] = {0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.5f, 0, 0, 1};
    const float global[4] = {1, 0.5f, 0.25f, 1};
    const float tint[4] = {1, 1, 1, 1};
    device->SetVertexShaderConstantF(0, zero, 1);
    device->SetVertexShaderConstantF(4, transform, 4);
    device->SetVertexShaderConstantF(249, global, 1);
    device->SetPixelShaderConstantF(250, tint, 1);
    Clear(0);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, 0), 2);
    ExpectPicture("constants", backBuffer, [](uint32_t x, uint32_t) { return x >= kSize / 2 ? 0xFF8040u : 0u; }, 1);
    // Constants set between two draws apply to the second only.
    const float moveLeft[4] = {-1, 0, 0, 0};
    const float half[4] = {0.5f, 0.5f, 0.5f, 1};
    device->SetFVF(kVertexFvf);
    ASSERT_EQ(device->BeginScene(), OK);
    Clear(0);
    const std::vector<Vertex> quad = Rectangle(-1, -1, 1, 1, 0);
    device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, quad.data(), sizeof(Vertex));
    device->SetVertexShaderConstantF(0, moveLeft, 1);
    device->SetPixelShaderConstantF(250, half, 1);
    device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, quad.data(), sizeof(Vertex));
    ASSERT_EQ(device->EndScene(), OK);
    ExpectPicture("constants_between_draws", backBuffer,
                  [](uint32_t x, uint32_t) { return x >= kSize / 2 ? 0xFF8040u : 0x804020u; }, 1);
    // A register beyond 255 is refused and reaches nothing.
    EXPECT_EQ(device->SetPixelShaderConstantF(256, tint, 1), ERR_INVALIDCALL);
}

// A dynamic buffer locked with discard before every draw: each draw reads its own data.
TEST_F(DrawFixture, DiscardLockedBufferDrawsEachDrawsOwnData) {
    UseShaders(kPassVertex, kColourPixel);
    VertexBuffer* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(6 * sizeof(Vertex), USAGE_DYNAMIC | USAGE_WRITEONLY, kVertexFvf, POOL_DEFAULT,
                                         &vb, nullptr),
              OK);
    held.push_back(vb);
    device->SetFVF(kVertexFvf);
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    Clear(0);
    AdditiveBlend();
    // Draw i lights one of 1000 cells (40 x 25 cells of the picture) ... a cell is drawn
    // once with 1/255 in red, so a draw that saw another draw's data shows as 0 or 2.
    ASSERT_EQ(device->BeginScene(), OK);
    constexpr uint32_t kDraws = 1000;
    constexpr uint32_t kColumns = 40, kRows = 25;
    for (uint32_t i = 0; i < kDraws; ++i) {
        const float x0 = -1.0f + 2.0f * static_cast<float>(i % kColumns) / kColumns;
        const float y1 = 1.0f - 2.0f * static_cast<float>(i / kColumns) / kRows;
        const std::vector<Vertex> v = Rectangle(x0, y1 - 2.0f / kRows, x0 + 2.0f / kColumns, y1, Argb(0, 1, 0, 0));
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &p, LOCK_DISCARD), OK);
        std::memcpy(p, v.data(), sizeof(Vertex) * 6);
        vb->Unlock();
        ASSERT_EQ(device->DrawPrimitive(PT_TRIANGLELIST, 0, 2), OK);
    }
    ASSERT_EQ(device->EndScene(), OK);
    ExpectPicture("discard_locks", backBuffer, [](uint32_t, uint32_t) { return 0x010000u; }, 0);
    // The cells meet at fractional pixel edges, so a few pixels are covered by none
    // of them at edges; none is covered twice and most are covered once.
    const std::vector<uint32_t> p = Pixels(backBuffer);
    uint32_t twice = 0;
    for (const uint32_t v : p) twice += Channel(v, 16) > 1;
    EXPECT_EQ(twice, 0u);
}

// A user-pointer draw larger than the stream the device keeps for such draws (4 MB):
// degenerate triangles, then a full-screen rectangle at the end.
TEST_F(DrawFixture, LargeUserPointerDrawDrawsAllOfIt) {
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    std::vector<Vertex> v((6u << 20) / sizeof(Vertex) / 3 * 3, Vertex{0, 0, 0.5f, 0, 0, 0});
    const std::vector<Vertex> r = Rectangle(-1, -1, 1, 1, Argb(255, 0, 150, 0));
    std::copy(r.begin(), r.end(), v.end() - 6);
    Draw(PT_TRIANGLELIST, v, static_cast<uint32_t>(v.size() / 3));
    ExpectPicture("large_user_pointer_draw", backBuffer, [](uint32_t, uint32_t) { return 0x009600u; }, 1);
}

// Formats whose GL storage keeps their channels elsewhere (alpha or luminance in red) are
// sampled correctly but cannot be drawn into: refused as targets, never drawn wrong.
TEST_F(DrawFixture, TargetFormatsThatCannotBeDrawnAreRefused) {
    const struct { Format format; bool target; } cases[] = {
        {FMT_A8, false}, {FMT_L8, false}, {FMT_A8L8, false}, {FMT_L16, false},
        {FMT_A8R8G8B8, true}, {FMT_R32F, true}, {FMT_G16R16F, true}, {FMT_A2R10G10B10, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(factory->CheckDeviceFormat(0, DEVTYPE_HAL, FMT_X8R8G8B8, USAGE_RENDERTARGET, RTYPE_TEXTURE, c.format),
                  c.target ? OK : ERR_NOTAVAILABLE);
        Surface* rt = nullptr;
        EXPECT_EQ(device->CreateRenderTarget(16, 16, c.format, MULTISAMPLE_NONE, 0, 0, &rt, nullptr),
                  c.target ? OK : ERR_INVALIDCALL);
        Texture* tex = nullptr;
        EXPECT_EQ(device->CreateTexture(16, 16, 1, 0, c.format, POOL_MANAGED, &tex, nullptr), OK);
        if (rt) rt->Release();
        if (tex) tex->Release();
    }
}

// A viewport places the picture and its depth range; Clear fills only the viewport.
TEST_F(DrawFixture, ViewportPlacesDrawsDepthRangeAndClears) {
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    const Viewport quarter = {32, 0, 32, 32, 0.5f, 1.0f};
    ASSERT_EQ(device->SetViewport(&quarter), OK);
    ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET, 0xFF0000FF, 1.0f, 0), OK);
    ExpectPicture("viewport_clear", backBuffer, [](uint32_t x, uint32_t y) {
        return x >= 32 && y < 32 ? 0x0000FFu : 0u;
    }, 0);
    // Depth 0 of the draw lands at the viewport's min z, 0.5: a depth test LESS passes
    // against a buffer cleared to 0.6 and fails against 0.4.
    device->SetRenderState(RS_ZENABLE, 1);
    device->SetRenderState(RS_ZFUNC, CMP_LESS);
    for (const float cleared : {0.6f, 0.4f}) {
        ASSERT_EQ(device->Clear(0, nullptr, CLEAR_TARGET | CLEAR_ZBUFFER, 0, cleared, 0), OK);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, Argb(255, 0, 255, 0), 0.0f), 2);
        const bool drawn = cleared > 0.5f;
        ExpectPicture("viewport_depth_" + std::to_string(drawn), backBuffer, [&](uint32_t x, uint32_t y) {
            return x >= 32 && y < 32 && drawn ? 0x00FF00u : 0u;
        }, 0);
    }
}

// ColorFill, StretchRect and the read-back calls go through the GPU copies: a fill of a
// rectangle, a stretch of it, and GetRenderTargetData / LockRect seeing the result.
TEST_F(DrawFixture, FillStretchAndReadBackThroughTheGpu) {
    Surface* source = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(16, 16, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &source, nullptr), OK);
    held.push_back(source);
    ASSERT_EQ(device->ColorFill(source, nullptr, 0xFF0000FF), OK);
    const Rect left = {0, 0, 8, 16};
    ASSERT_EQ(device->ColorFill(source, &left, 0xFFFF0000), OK);
    Clear(0);
    const Rect dest = {16, 16, 48, 48};
    ASSERT_EQ(device->StretchRect(source, nullptr, backBuffer, &dest, TEXF_POINT), OK);
    ExpectPicture("stretch", backBuffer, [](uint32_t x, uint32_t y) {
        if (x < 16 || x >= 48 || y < 16 || y >= 48) return 0u;
        return x < 32 ? 0xFF0000u : 0x0000FFu;
    }, 0);
    // A lockable target and a system-memory copy read what the GPU drew.
    Surface* lockable = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(kSize, kSize, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 1, &lockable, nullptr), OK);
    held.push_back(lockable);
    Surface* copy = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(kSize, kSize, FMT_A8R8G8B8, POOL_SYSTEMMEM, &copy, nullptr), OK);
    held.push_back(copy);
    device->SetRenderTarget(0, lockable);
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 0, 1, Argb(255, 10, 20, 30)), 2);
    LockedRect lr{};
    ASSERT_EQ(lockable->LockRect(&lr, nullptr, LOCK_READONLY), OK);
    EXPECT_EQ(static_cast<const uint32_t*>(lr.bits)[5] & 0xFFFFFF, 0x0A141Eu);
    EXPECT_EQ(static_cast<const uint32_t*>(lr.bits)[kSize - 1] & 0xFFFFFF, 0u);
    lockable->UnlockRect();
    ASSERT_EQ(device->GetRenderTargetData(lockable, copy), OK);
    ExpectPicture("render_target_data", copy, [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0x0A141Eu : 0u; }, 0);
}

// A draw the validation refuses (outside a scene) draws nothing; after a reset the
// device draws again into its new back buffer.
TEST_F(DrawFixture, RefusedDrawsDrawNothingAndResetKeepsDrawing) {
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    const std::vector<Vertex> quad = Rectangle(-1, -1, 1, 1, Argb(255, 255, 255, 255));
    device->SetFVF(kVertexFvf);
    EXPECT_EQ(device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, quad.data(), sizeof(Vertex)), ERR_INVALIDCALL);
    ExpectPicture("refused_draw", backBuffer, [](uint32_t, uint32_t) { return 0u; }, 0);

    backBuffer->Release();
    backBuffer = nullptr;
    PresentParameters params = Params();
    ASSERT_EQ(device->Reset(&params), OK);
    Prepare();
    UseShaders(kPassVertex, kColourPixel);
    Clear(Argb(255, 0, 0, 255));
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 0, 1, Argb(255, 0, 255, 0)), 2);
    ExpectPicture("after_reset", backBuffer, [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0x00FF00u : 0x0000FFu; }, 0);
}

// Repeated sets between draws are dropped at the device; the draws still see every value
// that changed, and a second thread's context gets the state it needs.
TEST_F(DrawFixture, RepeatedSetsAreDroppedWithoutChangingThePicture) {
    UseShaders(kPassVertex, "float4 Tint : register(c3);\nfloat4 pixel(float4 c : COLOR0) : COLOR0 { return c * Tint; }\n");
    const float full[4] = {1, 1, 1, 1}, half[4] = {0.5f, 0.5f, 0.5f, 1};
    const std::vector<Vertex> left = Rectangle(-1, -1, 0, 1, 0xFFFFFFFFu), right = Rectangle(0, -1, 1, 1, 0xFFFFFFFFu);
    device->SetFVF(kVertexFvf);
    ASSERT_EQ(device->BeginScene(), OK);
    Clear(0);
    device->SetPixelShaderConstantF(3, full, 1);
    device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, left.data(), sizeof(Vertex));
    const uint64_t dropped = recorder->DroppedCalls();
    device->SetPixelShaderConstantF(3, full, 1);
    device->SetRenderState(RS_CULLMODE, CULL_NONE);
    device->SetFVF(kVertexFvf);
    EXPECT_EQ(recorder->DroppedCalls(), dropped + 3);
    device->SetPixelShaderConstantF(3, half, 1);
    device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, right.data(), sizeof(Vertex));
    ASSERT_EQ(device->EndScene(), OK);
    EXPECT_EQ(recorder->DroppedCalls(), dropped + 3);
    ExpectPicture("repeated_sets", backBuffer, [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0xFFFFFFu : 0x808080u; }, 1);

    // Another thread draws with the state this one left (its own context starts empty).
    std::thread([&] {
        device->SetPixelShaderConstantF(3, half, 1);  // dropped: the device holds it
        ASSERT_EQ(device->BeginScene(), OK);
        device->DrawPrimitiveUP(PT_TRIANGLELIST, 2, left.data(), sizeof(Vertex));
        ASSERT_EQ(device->EndScene(), OK);
    }).join();
    EXPECT_EQ(recorder->DroppedCalls(), dropped + 4);
    ExpectPicture("repeated_sets_other_thread", backBuffer, [](uint32_t, uint32_t) { return 0x808080u; }, 1);
}

}  // namespace
}  // namespace gfx
