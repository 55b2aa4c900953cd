// test-timeout: 300
// Instanced streams on the drawing device: stream 0 marked as indexed data draws its
// indexed primitives once per instance, and a stream marked as instance data advances
// once per its divider's worth of instances, also from a buffer locked with discard
// between draws. Pictures compare with tolerances; a failure saves the PNG.
#include <cstring>
#include <vector>

#include "tests/platform/gfx/DrawFixture.h"

namespace gfx {
namespace {

// A unit square's corner scaled and moved by its instance, coloured by another stream.
constexpr const char* kInstanceVertex = R"(
struct VOut { float4 position : POSITION; float4 colour : COLOR0; };
VOut vertex(float4 p : POSITION, float4 place : TEXCOORD0, float4 c : COLOR0) {
    VOut o; o.position = float4(place.xy + p.xy * place.zw, 0.5, 1); o.colour = c; return o;
}
)";

struct Place {
    float x, y, width, height;
};

struct InstancingTest : DrawFixture {
    void SetUp() override {
        DrawFixture::SetUp();
        if (HasFatalFailure()) return;
        UseShaders(kInstanceVertex, kColourPixel);
        const VertexElement elements[] = {{0, 0, DECLTYPE_FLOAT3, 0, DECLUSAGE_POSITION, 0},
                                          {1, 0, DECLTYPE_FLOAT4, 0, DECLUSAGE_TEXCOORD, 0},
                                          {2, 0, DECLTYPE_D3DCOLOR, 0, DECLUSAGE_COLOR, 0},
                                          kDeclEnd};
        ASSERT_EQ(device->CreateVertexDeclaration(elements, &declaration), OK);
        held.push_back(declaration);
        // Three unused vertices first, so the draws use a base vertex.
        const float corners[] = {9, 9, 0, 9, 9, 0, 9, 9, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
        const uint16_t indices[] = {0, 1, 2, 2, 1, 3};
        squares = MakeBuffer(corners, sizeof corners, 0);
        ASSERT_EQ(device->CreateIndexBuffer(sizeof indices, USAGE_WRITEONLY, FMT_INDEX16, POOL_MANAGED, &index, nullptr),
                  OK);
        held.push_back(index);
        void* p = nullptr;
        ASSERT_EQ(index->Lock(0, 0, &p, 0), OK);
        std::memcpy(p, indices, sizeof indices);
        index->Unlock();
        ASSERT_EQ(device->CreateVertexBuffer(8 * sizeof(Place), USAGE_DYNAMIC | USAGE_WRITEONLY, 0, POOL_DEFAULT,
                                             &places, nullptr),
                  OK);
        held.push_back(places);
        for (uint32_t i = 0; i < 12; ++i) colours.push_back(Argb(255, 30 * i + 20, 255 - 30 * i, (i & 1) * 200 + 40));
        colourBuffer = MakeBuffer(colours.data(), uint32_t(colours.size() * 4), 0);
    }
    VertexBuffer* MakeBuffer(const void* bytes, uint32_t size, uint32_t usage) {
        VertexBuffer* vb = nullptr;
        EXPECT_EQ(device->CreateVertexBuffer(size, usage | USAGE_WRITEONLY, 0, POOL_MANAGED, &vb, nullptr), OK);
        if (!vb) return nullptr;
        held.push_back(vb);
        void* p = nullptr;
        EXPECT_EQ(vb->Lock(0, 0, &p, 0), OK);
        std::memcpy(p, bytes, size);
        vb->Unlock();
        return vb;
    }
    // Cell i of a 4 x 4 grid of 16-pixel cells, in clip space, rows from the top.
    static Place Cell(uint32_t i) {
        return {-1.0f + 0.5f * float(i % 4), 1.0f - 0.5f * float(i / 4 + 1), 0.5f, 0.5f};
    }
    // Writes the places of cells first..first+count-1 with discard.
    void WritePlaces(uint32_t first, uint32_t count) {
        std::vector<Place> v;
        for (uint32_t i = 0; i < count; ++i) v.push_back(Cell(first + i));
        void* p = nullptr;
        ASSERT_EQ(places->Lock(0, 0, &p, LOCK_DISCARD), OK);
        std::memcpy(p, v.data(), v.size() * sizeof(Place));
        places->Unlock();
    }
    void BindCommon() {
        device->SetVertexDeclaration(declaration);
        device->SetStreamSource(0, squares, 0, 12);
        device->SetIndices(index);
    }
    Result DrawSquares() { return device->DrawIndexedPrimitive(PT_TRIANGLELIST, 3, 0, 4, 0, 2); }

    VertexDeclaration* declaration = nullptr;
    VertexBuffer* squares = nullptr;
    VertexBuffer* places = nullptr;
    VertexBuffer* colourBuffer = nullptr;
    IndexBuffer* index = nullptr;
    std::vector<uint32_t> colours;
};

// Cell (x / 16, y / 16) is coloured by colour row (cell / divider), empty past the drawn cells.
uint32_t Expected(const std::vector<uint32_t>& colours, uint32_t x, uint32_t y, uint32_t cells, uint32_t divider,
                  uint32_t colourStart, uint32_t secondFirst) {
    const uint32_t cell = (y / 16) * 4 + x / 16;
    if (cell >= cells) return 0;
    const uint32_t inDraw = cell >= secondFirst ? cell - secondFirst : cell;
    const uint32_t start = cell >= secondFirst ? colourStart : 0;
    return colours[start + inDraw / divider] & 0xFFFFFF;
}

TEST_F(InstancingTest, InstancedDrawsEqualOneDrawPerInstance) {
    struct Case {
        const char* name;
        uint32_t divider;  // the colour stream's
    };
    for (const Case& c : {Case{"instancing_divider_1", 1}, Case{"instancing_divider_2", 2}}) {
        SCOPED_TRACE(c.name);
        Clear(0);
        BindCommon();
        ASSERT_EQ(device->BeginScene(), OK);
        // Cells 0-7 in one draw, then cells 8-15 from the same buffer rewritten with
        // discard, the colours read from the colour buffer's fifth entry on.
        WritePlaces(0, 8);
        device->SetStreamSource(1, places, 0, sizeof(Place));
        device->SetStreamSource(2, colourBuffer, 0, 4);
        ASSERT_EQ(device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | 8), OK);
        ASSERT_EQ(device->SetStreamSourceFreq(1, STREAMSOURCE_INSTANCEDATA | 1), OK);
        ASSERT_EQ(device->SetStreamSourceFreq(2, STREAMSOURCE_INSTANCEDATA | c.divider), OK);
        ASSERT_EQ(DrawSquares(), OK);
        WritePlaces(8, 8);
        device->SetStreamSource(2, colourBuffer, 16, 4);
        ASSERT_EQ(device->SetStreamSourceFreq(2, STREAMSOURCE_INSTANCEDATA | c.divider), OK);
        ASSERT_EQ(DrawSquares(), OK);
        for (uint32_t s = 0; s < 3; ++s) device->SetStreamSourceFreq(s, 1);
        ASSERT_EQ(device->EndScene(), OK);
        const uint32_t divider = c.divider;
        const auto& list = colours;
        ExpectPicture(c.name, backBuffer,
                      [&](uint32_t x, uint32_t y) { return Expected(list, x, y, 16, divider, 4, 8); }, 1);
    }
    // The same cells drawn one instance at a time, each instance's data at its stream offset.
    Clear(0);
    BindCommon();
    WritePlaces(0, 8);
    ASSERT_EQ(device->BeginScene(), OK);
    device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | 1);
    device->SetStreamSourceFreq(1, STREAMSOURCE_INSTANCEDATA | 1);
    device->SetStreamSourceFreq(2, STREAMSOURCE_INSTANCEDATA | 1);
    for (uint32_t i = 0; i < 8; ++i) {
        device->SetStreamSource(1, places, i * sizeof(Place), sizeof(Place));
        device->SetStreamSource(2, colourBuffer, i * 4, 4);
        ASSERT_EQ(DrawSquares(), OK);
    }
    for (uint32_t s = 0; s < 3; ++s) device->SetStreamSourceFreq(s, 1);
    ASSERT_EQ(device->EndScene(), OK);
    ExpectPicture("instancing_single_draws", backBuffer,
                  [&](uint32_t x, uint32_t y) { return Expected(colours, x, y, 8, 1, 0, 8); }, 1);
    // With the frequencies reset, the same inputs read per vertex again: the base vertex's
    // places and colours (cell 5, colour 3), not the first element's (cell 0, colour 0).
    std::vector<Place> perVertex(7, Cell(0));
    std::vector<uint32_t> perVertexColours(7, colours[0]);
    for (uint32_t v = 3; v < 7; ++v) perVertex[v] = Cell(5), perVertexColours[v] = colours[3];
    VertexBuffer* vertexPlaces = MakeBuffer(perVertex.data(), 7 * sizeof(Place), 0);
    VertexBuffer* vertexColours = MakeBuffer(perVertexColours.data(), 7 * 4, 0);
    Clear(0);
    device->SetStreamSource(1, vertexPlaces, 0, sizeof(Place));
    device->SetStreamSource(2, vertexColours, 0, 4);
    ASSERT_EQ(device->BeginScene(), OK);
    ASSERT_EQ(DrawSquares(), OK);
    ASSERT_EQ(device->EndScene(), OK);
    ExpectPicture("instancing_reset", backBuffer, [&](uint32_t x, uint32_t y) {
        return (y / 16) * 4 + x / 16 == 5 ? colours[3] & 0xFFFFFF : 0u;
    }, 1);
}

// An instance stream shorter than the draw's instances ask for is refused and draws
// nothing; so is one without a buffer. Non-indexed draws ignore the instance count.
TEST_F(InstancingTest, InstanceStreamsMustHoldEveryInstance) {
    Clear(0);
    BindCommon();
    WritePlaces(0, 8);
    device->SetStreamSource(1, places, 0, sizeof(Place));
    device->SetStreamSource(2, colourBuffer, 0, 4);
    ASSERT_EQ(device->BeginScene(), OK);
    struct Case {
        uint32_t instances, placeDivider, colourOffset;
        Result expect;
    };
    const Case cases[] = {
        {8, 1, 0, OK},                   // exactly the eight places and colours
        {9, 1, 0, ERR_INVALIDCALL},      // a ninth place past the buffer
        {16, 2, 0, ERR_INVALIDCALL},     // sixteen of the twelve colours at divider 1
        {8, 1, 20, ERR_INVALIDCALL},     // colours from the sixth on: one short
        {7, 1, 20, OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.instances);
        device->SetStreamSource(2, colourBuffer, c.colourOffset, 4);
        device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | c.instances);
        device->SetStreamSourceFreq(1, STREAMSOURCE_INSTANCEDATA | c.placeDivider);
        device->SetStreamSourceFreq(2, STREAMSOURCE_INSTANCEDATA | 1);
        EXPECT_EQ(DrawSquares(), c.expect);
    }
    device->SetStreamSource(2, nullptr, 0, 0);
    device->SetStreamSourceFreq(0, STREAMSOURCE_INDEXEDDATA | 2);
    EXPECT_EQ(DrawSquares(), ERR_INVALIDCALL);
    ASSERT_EQ(device->EndScene(), OK);
    for (uint32_t s = 0; s < 3; ++s) device->SetStreamSourceFreq(s, 1);
}

}  // namespace
}  // namespace gfx
