// The drawing device's coverage against the original device's rules: pixel centres at
// integer screen coordinates and the top-left fill rule (a pixel whose centre lies
// exactly on an edge belongs to the triangle only when the edge is a top or a left
// one), on the back buffer and on a sampled render target; front faces as VFACE sees
// them.
// test-sanitize: address
// test-timeout: 600
#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "DrawFixture.h"

namespace gfx {
namespace {

struct Point {
    double x, y;  // screen pixels, y down; pixel (i, j) has its centre at (i, j)
};
struct Triangle {
    Point a, b, c;
};

// The rule as written down for the original device, counted per pixel of a w x h target.
std::vector<uint32_t> ReferenceCoverage(const std::vector<Triangle>& triangles, uint32_t w, uint32_t h) {
    std::vector<uint32_t> count(size_t{w} * h, 0);
    for (Triangle t : triangles) {
        const double area = (t.b.x - t.a.x) * (t.c.y - t.a.y) - (t.b.y - t.a.y) * (t.c.x - t.a.x);
        if (area == 0) continue;
        if (area < 0) std::swap(t.b, t.c);  // the inside is then on the positive side of each edge
        const Point edges[3][2] = {{t.a, t.b}, {t.b, t.c}, {t.c, t.a}};
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                bool inside = true;
                for (const auto& e : edges) {
                    const double dx = e[1].x - e[0].x, dy = e[1].y - e[0].y;
                    const double side = dx * (y - e[0].y) - dy * (x - e[0].x);
                    // A top edge is horizontal with the inside below it; a left edge has
                    // the inside to its right.
                    const bool topLeft = (dy == 0 && dx > 0) || dy < 0;
                    inside = inside && (side > 0 || (side == 0 && topLeft));
                }
                count[size_t{y} * w + x] += inside;
            }
        }
    }
    return count;
}

// A fan around `centre` (a pixel centre) whose spokes run along each direction, as far as
// `reach` pixels allows in whole steps, so each spoke passes through pixel centres.
std::vector<Triangle> Fan(Point centre, double reach, const std::vector<std::pair<int, int>>& directions) {
    std::vector<std::pair<int, int>> sorted = directions;
    std::sort(sorted.begin(), sorted.end(), [](auto p, auto q) {
        return std::atan2(p.second, p.first) < std::atan2(q.second, q.first);
    });
    std::vector<Point> rim;
    for (const auto& [dx, dy] : sorted) {
        const double steps = std::floor(reach / std::max(std::abs(dx), std::abs(dy)));
        if (steps >= 1) rim.push_back({centre.x + steps * dx, centre.y + steps * dy});
    }
    std::vector<Triangle> fan;
    for (size_t i = 0; i < rim.size(); ++i) fan.push_back({centre, rim[i], rim[(i + 1) % rim.size()]});
    return fan;
}

// Spokes at the slopes whose ties the rule decides (1/32 … 6/7 and their steep mirrors),
// in every quadrant.
std::vector<std::pair<int, int>> Spokes() {
    const std::pair<int, int> octant[] = {{1, 0},  {32, 1}, {13, 1}, {13, 2}, {4, 1}, {2, 1}, {3, 2},
                                          {7, 6},  {1, 1},  {6, 7},  {2, 3},  {1, 2}, {1, 4}, {2, 13},
                                          {1, 13}, {1, 32}};
    std::vector<std::pair<int, int>> out;
    for (const auto& [dx, dy] : octant) {
        out.push_back({dx, dy});
        out.push_back({-dy, dx});
        out.push_back({-dx, -dy});
        out.push_back({dy, -dx});
    }
    return out;
}

struct FillRule : DrawFixture {
    // Draws each triangle once, adding 1 / 255 per draw, into a target of w x h.
    void DrawCounting(const std::vector<Triangle>& triangles, uint32_t w, uint32_t h) {
        std::vector<Vertex> v;
        for (const Triangle& t : triangles)
            for (const Point& p : {t.a, t.b, t.c})
                v.push_back({static_cast<float>(p.x * 2.0 / w - 1.0), static_cast<float>(1.0 - p.y * 2.0 / h), 0.5f,
                             Argb(1, 1, 1, 1), 0, 0});
        Clear(0);
        AdditiveBlend();
        Draw(PT_TRIANGLELIST, v, static_cast<uint32_t>(triangles.size()));
    }
    void ExpectCoverage(const std::string& name, Surface* s, const std::vector<uint32_t>& expect, uint32_t w) {
        ExpectPicture(name, s, [&](uint32_t x, uint32_t y) {
            const uint32_t n = expect[size_t{y} * w + x];
            return Argb(n, n, n, n);
        }, 0);
    }
};

// Fans whose spokes are shared edges at many slopes, bow ties meeting at a pixel centre
// and triangles with single edges on pixel centres: each pixel drawn as often as the
// rule says, so once inside a fan and on its edges only where they are top or left.
TEST_F(FillRule, SharedAndOuterEdgesFollowTheTopLeftRule) {
    const std::vector<Triangle> bowTies = {
        {{39, 8}, {27, 2}, {51, 2}},   {{39, 8}, {51, 14}, {27, 14}},  // meeting at a pixel centre, slopes 1/2
        {{20, 40}, {14, 27}, {14, 53}}, {{20, 40}, {26, 53}, {26, 27}},
    };
    const std::vector<Triangle> singles = {
        {{2, 24}, {12, 29}, {2, 29}},  {{2, 24}, {12, 24}, {12, 29}},  // a shared diagonal of slope 1/2
        {{56, 1}, {62, 4}, {50, 4}},   {{40, 40}, {53, 41}, {40, 60}}, {{60, 30}, {63, 62}, {33, 61}},
    };
    struct Case {
        const char* name;
        uint32_t size;
        std::vector<Triangle> triangles;
    };
    const Case cases[] = {
        {"fan_centre", kSize, Fan({32, 32}, 31, Spokes())},
        {"fan_corner", kSize, Fan({13, 50}, 40, Spokes())},  // spokes leave the target
        {"bow_ties", kSize, bowTies},
        {"single_edges", kSize, singles},
        {"fan_target", 128, Fan({64, 64}, 62, Spokes())},
        {"fan_target_off_centre", 128, Fan({45, 70}, 44, Spokes())},
    };
    Texture* targets[2] = {};
    for (Texture*& t : targets) {
        ASSERT_EQ(device->CreateTexture(128, 128, 1, USAGE_RENDERTARGET, FMT_A8R8G8B8, POOL_DEFAULT, &t, nullptr), OK);
        held.push_back(t);
    }
    Surface* surfaces[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(targets[i]->GetSurfaceLevel(0, &surfaces[i]), OK);
        held.push_back(surfaces[i]);
    }
    Surface* depth = nullptr;
    ASSERT_EQ(device->GetDepthStencilSurface(&depth), OK);
    held.push_back(depth);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint32_t> expect = ReferenceCoverage(c.triangles, c.size, c.size);
        ASSERT_GT(*std::max_element(expect.begin(), expect.end()), 0u);
        UseShaders(kPassVertex, kColourPixel);
        device->SetRenderTarget(0, c.size == kSize ? backBuffer : surfaces[0]);
        device->SetDepthStencilSurface(c.size == kSize ? depth : nullptr);
        DrawCounting(c.triangles, c.size, c.size);
        ExpectCoverage(c.name, c.size == kSize ? backBuffer : surfaces[0], expect, c.size);
        if (c.size == kSize) continue;
        // The target sampled texel for pixel, point filtered, through a quad moved half
        // a pixel up and left: the copy is the same picture, upright.
        device->SetRenderState(RS_ALPHABLENDENABLE, 0);
        device->SetRenderTarget(0, surfaces[1]);
        UseShaders(kPassVertex, "sampler2D T : register(s0);\n"
                                "float4 pixel(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(T, uv); }\n");
        device->SetTexture(0, targets[0]);
        device->SetSamplerState(0, SAMP_MINFILTER, TEXF_POINT);
        device->SetSamplerState(0, SAMP_MAGFILTER, TEXF_POINT);
        const float half = 1.0f / 128;
        Clear(0);
        Draw(PT_TRIANGLELIST, Rectangle(-1 - half, -1 + half, 1 - half, 1 + half, 0), 2);
        device->SetTexture(0, nullptr);
        ExpectCoverage(std::string(c.name) + "_sampled", surfaces[1], expect, c.size);
    }
    device->SetRenderTarget(0, backBuffer);
    device->SetDepthStencilSurface(depth);
}

// Quads over the whole target: one with its edges on the pixel centres of row 0 and
// column 0 (and past the last ones), one moved half a pixel up and left so its edges
// lie between pixels, each covers every pixel exactly once.
TEST_F(FillRule, FullScreenQuadsCoverRowAndColumnZeroOnce) {
    UseShaders(kPassVertex, kColourPixel);
    const float half = 1.0f / kSize;
    const struct {
        const char* name;
        float dx, dy;
    } cases[] = {{"on_centres", 0, 0}, {"half_pixel", -half, half}};
    for (const auto& c : cases) {
        Clear(0);
        AdditiveBlend();
        Draw(PT_TRIANGLELIST, Rectangle(-1 + c.dx, -1 + c.dy, 1 + c.dx, 1 + c.dy, Argb(1, 1, 1, 1)), 2);
        ExpectPicture(std::string("quad_") + c.name, backBuffer, [](uint32_t, uint32_t) { return Argb(1, 1, 1, 1); }, 0);
    }
}

// The front-face input is true on triangles that wind clockwise on screen (the front
// faces that CULL_CCW keeps), false on the others, on the back buffer and on a render
// target.
TEST_F(FillRule, FaceRegisterKeepsItsSign) {
    UseShaders(kPassVertex, "float4 pixel(float4 c : COLOR0, bool face : SV_IsFrontFace) : COLOR0 {\n"
                            "    return face ? float4(0, 1, 0, 1) : float4(1, 0, 0, 1); }\n");
    Surface* target = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(kSize, kSize, FMT_A8R8G8B8, MULTISAMPLE_NONE, 0, 0, &target, nullptr), OK);
    held.push_back(target);
    std::vector<Vertex> cw = Rectangle(-1, -1, 0, 1, 0);  // clockwise on screen
    std::vector<Vertex> ccw = Rectangle(0, -1, 1, 1, 0);
    std::swap(ccw[1], ccw[2]);
    std::swap(ccw[4], ccw[5]);
    for (Surface* s : {backBuffer, target}) {
        device->SetRenderTarget(0, s);
        Clear(0);
        Draw(PT_TRIANGLELIST, cw, 2);
        Draw(PT_TRIANGLELIST, ccw, 2);
        ExpectPicture(s == backBuffer ? "face_back_buffer" : "face_target", s, [](uint32_t x, uint32_t) {
            return x < kSize / 2 ? 0x00FF00u : 0xFF0000u;
        }, 0);
    }
    device->SetRenderTarget(0, backBuffer);
}

}  // namespace
}  // namespace gfx
