// The drawing device's textures: formats read back through a shader, filtering,
// addressing, mip selection, cube faces, depth textures, and the project's own
// post-processing shader drawing a known input.
// test-sanitize: address
// test-timeout: 600
#include "DrawFixture.h"
#include "ShaderVariantSupport.h"

namespace gfx {
namespace {

constexpr const char* kSamplePixel =
    "sampler2D T : register(s0);\nfloat4 pixel(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(T, uv); }\n";

struct TextureFixture : DrawFixture {
    void SetUp() override {
        DrawFixture::SetUp();
        ASSERT_EQ(device->CreateRenderTarget(kSize, kSize, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr), OK);
        held.push_back(target);
        device->SetRenderTarget(0, target);
        device->SetSamplerState(0, SAMP_MINFILTER, TEXF_POINT);
        device->SetSamplerState(0, SAMP_MAGFILTER, TEXF_POINT);
        device->SetSamplerState(0, SAMP_MIPFILTER, TEXF_NONE);
    }
    Texture* MakeTexture(uint32_t w, uint32_t h, uint32_t levels, Format format) {
        Texture* t = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, 0, format, POOL_MANAGED, &t, nullptr), OK) << format;
        if (t) held.push_back(t);
        return t;
    }
    // Fills every row of level `level` with the same row bytes (or blocks).
    void Fill(Texture* t, uint32_t level, const std::vector<uint8_t>& row) {
        LockedRect lr{};
        ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), OK);
        SurfaceDesc d{};
        t->GetLevelDesc(level, &d);
        const uint32_t rows = d.format == FMT_DXT1 || d.format == FMT_DXT3 || d.format == FMT_DXT5 ? (d.height + 3) / 4 : d.height;
        for (uint32_t y = 0; y < rows; ++y) std::memcpy(static_cast<uint8_t*>(lr.bits) + y * lr.pitch, row.data(), row.size());
        t->UnlockRect(level);
    }
    void DrawQuad() {
        Clear(0);
        Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 1, 1, 0), 2);
    }
    Surface* target = nullptr;
};

std::vector<uint8_t> Repeat(const std::vector<uint8_t>& texel, uint32_t count) {
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < count; ++i) out.insert(out.end(), texel.begin(), texel.end());
    return out;
}

// Each format the renderer and the texture loader use, uploaded from known texels and
// read back through a shader as the original device reads them (missing channels read
// as 1, alpha-only and luminance formats spread as documented).
TEST_F(TextureFixture, EveryFormatReadsBackItsTexels) {
    UseShaders(kPassVertex, kSamplePixel);
    // DXT colour block: colour 0 red, colour 1 blue (R5G6B5), rows of indices 0, 1, 2, 3.
    const std::vector<uint8_t> colourBlock = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF};
    auto dxtRow = [](uint32_t y, uint32_t alpha) {
        const uint32_t r[4] = {255, 0, 170, 85}, b[4] = {0, 255, 85, 170};
        const uint32_t i = (y / 16) % 4;  // a 4 x 4 block over 64 rows: 16 rows per texel row
        return Argb(alpha, r[i], 0, b[i]);
    };
    struct Case {
        Format format;
        std::vector<uint8_t> texel;  // one texel (or one 4 x 4 block)
        std::function<uint32_t(uint32_t y)> expect;
    } cases[] = {
        {FMT_A8R8G8B8, {0x10, 0x20, 0x30, 0x40}, [](uint32_t) { return 0x40302010u; }},
        {FMT_X8R8G8B8, {0x10, 0x20, 0x30, 0x40}, [](uint32_t) { return 0xFF302010u; }},
        {FMT_R8G8B8, {0x10, 0x20, 0x30}, [](uint32_t) { return 0xFF302010u; }},
        {FMT_A8, {0x80}, [](uint32_t) { return 0x80000000u; }},
        {FMT_L8, {0x60}, [](uint32_t) { return 0xFF606060u; }},
        {FMT_A8L8, {0x60, 0x90}, [](uint32_t) { return 0x90606060u; }},
        {FMT_R5G6B5, {0x08, 0x84}, [](uint32_t) { return Argb(255, 132, 130, 66); }},
        {FMT_A16B16G16R16F, {0x00, 0x38, 0x00, 0x34, 0x00, 0x3C, 0x00, 0x3A}, [](uint32_t) { return Argb(191, 128, 64, 255); }},
        {FMT_R32F, {0x00, 0x00, 0x00, 0x3F}, [](uint32_t) { return Argb(255, 128, 255, 255); }},
        {FMT_G16R16F, {0x00, 0x34, 0x00, 0x3A}, [](uint32_t) { return Argb(255, 64, 191, 255); }},
        {FMT_DXT1, colourBlock, [&](uint32_t y) { return dxtRow(y, 255); }},
        {FMT_DXT3, [&] {
             std::vector<uint8_t> b(8, 0x88);
             b.insert(b.end(), colourBlock.begin(), colourBlock.end());
             return b;
         }(),
         [&](uint32_t y) { return dxtRow(y, 0x88); }},
        {FMT_DXT5, [&] {
             std::vector<uint8_t> b = {0x40, 0x10, 0, 0, 0, 0, 0, 0};
             b.insert(b.end(), colourBlock.begin(), colourBlock.end());
             return b;
         }(),
         [&](uint32_t y) { return dxtRow(y, 0x40); }},
    };
    for (const Case& c : cases) {
        Texture* t = MakeTexture(4, 4, 1, c.format);
        ASSERT_NE(t, nullptr);
        const bool block = c.format == FMT_DXT1 || c.format == FMT_DXT3 || c.format == FMT_DXT5;
        Fill(t, 0, block ? c.texel : Repeat(c.texel, 4));
        device->SetTexture(0, t);
        DrawQuad();
        ExpectPicture("format_" + std::to_string(c.format), target, [&](uint32_t, uint32_t y) { return c.expect(y); },
                      2, 0.0, true);
    }
    // A format the back end cannot draw is refused at creation.
    Texture* none = nullptr;
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, FMT_RAWZ, POOL_DEFAULT, &none, nullptr), ERR_INVALIDCALL);
}

TEST_F(TextureFixture, PointAndLinearFilteringAtATexelEdge) {
    UseShaders(kPassVertex, kSamplePixel);
    Texture* t = MakeTexture(2, 1, 1, FMT_A8R8G8B8);
    LockedRect lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), OK);
    static_cast<uint32_t*>(lr.bits)[0] = 0xFF000000;
    static_cast<uint32_t*>(lr.bits)[1] = 0xFFFFFFFF;
    t->UnlockRect(0);
    device->SetTexture(0, t);
    device->SetSamplerState(0, SAMP_ADDRESSU, TADDRESS_CLAMP);
    device->SetSamplerState(0, SAMP_ADDRESSV, TADDRESS_CLAMP);
    DrawQuad();
    ExpectPicture("filter_point", target, [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0u : 0xFFFFFFu; }, 0);
    device->SetSamplerState(0, SAMP_MAGFILTER, TEXF_LINEAR);
    device->SetSamplerState(0, SAMP_MINFILTER, TEXF_LINEAR);
    DrawQuad();
    // Pixel x samples u = x / 64 (the original's pixel centres, no half-texel offset in
    // this shader): black up to the first texel centre (x 16), white from the second
    // (x 48), a ramp between.
    ExpectPicture("filter_linear", target, [](uint32_t x, uint32_t) {
        const float u = static_cast<float>(x) / kSize;
        const float w = std::clamp((u - 0.25f) * 2.0f, 0.0f, 1.0f);
        const uint32_t v = static_cast<uint32_t>(std::lround(w * 255.0f));
        return (v << 16) | (v << 8) | v;
    }, 2);
}

TEST_F(TextureFixture, WrapClampAndBorderAddressing) {
    // uv from -1 to 2 across the picture: the texture shows three times in each direction.
    UseShaders(kPassVertex, "sampler2D T : register(s0);\n"
                            "float4 pixel(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(T, uv * 3 - 1); }\n");
    Texture* t = MakeTexture(2, 2, 1, FMT_A8R8G8B8);
    LockedRect lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), OK);
    const uint32_t texels[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};  // red green / blue white
    for (int i = 0; i < 4; ++i) static_cast<uint32_t*>(lr.bits)[(i / 2) * lr.pitch / 4 + i % 2] = texels[i];
    t->UnlockRect(0);
    device->SetTexture(0, t);
    device->SetSamplerState(0, SAMP_BORDERCOLOR, 0xFF808080);
    for (const uint32_t mode : {TADDRESS_WRAP, TADDRESS_CLAMP, TADDRESS_BORDER}) {
        device->SetSamplerState(0, SAMP_ADDRESSU, mode);
        device->SetSamplerState(0, SAMP_ADDRESSV, mode);
        DrawQuad();
        ExpectPicture("address_" + std::to_string(mode), target, [&](uint32_t x, uint32_t y) {
            const float u = static_cast<float>(x) / kSize * 3 - 1, v = static_cast<float>(y) / kSize * 3 - 1;
            const bool inside = u >= 0 && u < 1 && v >= 0 && v < 1;
            if (mode == TADDRESS_BORDER && !inside) return 0x808080u;
            float cu = u, cv = v;
            if (mode == TADDRESS_WRAP) {
                cu = u - std::floor(u);
                cv = v - std::floor(v);
            } else {
                cu = std::clamp(u, 0.0f, 0.999f);
                cv = std::clamp(v, 0.0f, 0.999f);
            }
            return texels[static_cast<int>(cv * 2) * 2 + static_cast<int>(cu * 2)] & 0xFFFFFF;
        }, 0, 0.04);  // texel edges fall between pixels; allow those pixels either side
    }
}

TEST_F(TextureFixture, MipLevelChosenAtHalfSize) {
    UseShaders(kPassVertex, kSamplePixel);
    Texture* t = MakeTexture(128, 128, 3, FMT_A8R8G8B8);
    const uint32_t colours[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (uint32_t level = 0; level < 3; ++level) {
        std::vector<uint8_t> row(4 * (128u >> level));
        for (size_t i = 0; i < row.size(); i += 4) std::memcpy(&row[i], &colours[level], 4);
        Fill(t, level, row);
    }
    device->SetTexture(0, t);
    device->SetSamplerState(0, SAMP_MIPFILTER, TEXF_POINT);
    DrawQuad();  // 128 texels over 64 pixels: level 1
    ExpectPicture("mip_half", target, [](uint32_t, uint32_t) { return 0x00FF00u; }, 0);
    device->SetSamplerState(0, SAMP_MAXMIPLEVEL, 2);  // the largest level allowed is 2
    DrawQuad();
    ExpectPicture("mip_max_level", target, [](uint32_t, uint32_t) { return 0x0000FFu; }, 0);
}

TEST_F(TextureFixture, CubeFaceChosenByDirection) {
    UseShaders(kPassVertex, "samplerCUBE C : register(s3);\nfloat4 Direction : register(c0);\n"
                            "float4 pixel(float2 uv : TEXCOORD0) : COLOR0 { return texCUBE(C, Direction.xyz); }\n");
    CubeTexture* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(4, 1, 0, FMT_A8R8G8B8, POOL_MANAGED, &cube, nullptr), OK);
    held.push_back(cube);
    const uint32_t faceColours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
    for (uint32_t face = 0; face < 6; ++face) {
        LockedRect lr{};
        ASSERT_EQ(cube->LockRect(static_cast<CubeFace>(face), 0, &lr, nullptr, 0), OK);
        for (int i = 0; i < 16; ++i) static_cast<uint32_t*>(lr.bits)[(i / 4) * lr.pitch / 4 + i % 4] = faceColours[face];
        cube->UnlockRect(static_cast<CubeFace>(face), 0);
    }
    device->SetTexture(3, cube);
    const float directions[6][4] = {{1, 0.1f, 0.2f, 0}, {-1, 0.1f, 0.2f, 0}, {0.1f, 1, 0.2f, 0},
                                    {0.1f, -1, 0.2f, 0}, {0.1f, 0.2f, 1, 0}, {0.1f, 0.2f, -1, 0}};
    for (uint32_t face = 0; face < 6; ++face) {
        device->SetPixelShaderConstantF(0, directions[face], 1);
        DrawQuad();
        ExpectPicture("cube_face_" + std::to_string(face), target,
                      [&](uint32_t, uint32_t) { return faceColours[face] & 0xFFFFFF; }, 0);
    }
}

// A depth texture (the shadow map's kind) written as the depth surface, then read as
// depth in a shader.
TEST_F(TextureFixture, DepthTextureReadsAsDepth) {
    Texture* depth = nullptr;
    ASSERT_EQ(device->CreateTexture(kSize, kSize, 1, USAGE_DEPTHSTENCIL, FMT_INTZ, POOL_DEFAULT, &depth, nullptr), OK);
    held.push_back(depth);
    Surface* level = nullptr;
    ASSERT_EQ(depth->GetSurfaceLevel(0, &level), OK);
    held.push_back(level);
    device->SetDepthStencilSurface(level);
    device->SetRenderState(RS_ZENABLE, 1);
    device->SetRenderState(RS_ZFUNC, CMP_ALWAYS);
    UseShaders(kPassVertex, kColourPixel);
    Clear(0);
    Draw(PT_TRIANGLELIST, Rectangle(-1, -1, 0, 1, 0, 0.25f), 2);
    device->SetDepthStencilSurface(nullptr);
    device->SetRenderState(RS_ZENABLE, 0);
    UseShaders(kPassVertex, "sampler2D D : register(s1);\n"
                            "float4 pixel(float2 uv : TEXCOORD0) : COLOR0 { float z = tex2D(D, uv).r; return float4(z, z, z, 1); }\n");
    device->SetTexture(1, depth);
    device->SetSamplerState(1, SAMP_MINFILTER, TEXF_POINT);
    device->SetSamplerState(1, SAMP_MAGFILTER, TEXF_POINT);
    device->SetSamplerState(1, SAMP_MIPFILTER, TEXF_NONE);
    DrawQuad();
    ExpectPicture("depth_texture", target, [](uint32_t x, uint32_t) { return x < kSize / 2 ? 0x404040u : 0xFFFFFFu; }, 1);
}

// The project's post-processing composite without options copies the scene colour
// times ColorFactor through the full-screen quad of the renderer.
TEST_F(TextureFixture, ProjectPostprocessShaderCopiesAKnownInput) {
    const std::string source = shadervariants::ReadFile(shadervariants::kFolder + "Postprocess.hlsl");
    ASSERT_FALSE(source.empty());
    shadervariants::FolderInclude include;
    const ShaderMacro macros[] = {{"MAX_SHADER_SKINNING_BONES", "64"}, {nullptr, nullptr}};
    UseShaders(source.c_str(), source.c_str(), macros, &include);
    // A scene of four colour bands, a texel per pixel column group.
    Texture* scene = MakeTexture(kSize, kSize, 1, FMT_A8R8G8B8);
    std::vector<uint8_t> row(kSize * 4);
    const uint32_t bands[4] = {0xFF204060, 0xFF806040, 0x80FFFFFF, 0xFF000000};
    for (uint32_t x = 0; x < kSize; ++x) std::memcpy(&row[x * 4], &bands[x / 16], 4);
    Fill(scene, 0, row);
    device->SetTexture(0, scene);
    const float quad[4] = {1, 1, 0.5f / kSize, 0.5f / kSize};
    const float factor[4] = {1, 1, 1, 1};
    device->SetVertexShaderConstantF(0, quad, 1);
    device->SetPixelShaderConstantF(14, factor, 1);
    // The renderer's quad stream: FVF_XYZ | FVF_TEX1, uv 0..1 from the top left.
    struct QuadVertex {
        float x, y, z, u, v;
    } v[4] = {{-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {1, -1, 0, 1, 1}, {-1, -1, 0, 0, 1}};
    device->SetFVF(FVF_XYZ | FVF_TEX1);
    Clear(0);
    ASSERT_EQ(device->BeginScene(), OK);
    ASSERT_EQ(device->DrawPrimitiveUP(PT_TRIANGLEFAN, 2, v, sizeof(QuadVertex)), OK);
    ASSERT_EQ(device->EndScene(), OK);
    ExpectPicture("postprocess_copy", target, [&](uint32_t x, uint32_t) { return bands[x / 16]; }, 1, 0.0, true);
}

}  // namespace
}  // namespace gfx
