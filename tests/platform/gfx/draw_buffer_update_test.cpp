// test-sanitize: address
// A discard lock of the start of a dynamic vertex buffer on the drawing device: the draw
// reads the new bytes and, past them, what the buffer holds there after a discard (its
// fill, a vertex far down and to the left), never older or uninitialised bytes.
#include <cstring>

#include "DrawFixture.h"

namespace gfx {
namespace {

// Each draw: a triangle over the whole target from the locked vertices 0 to 2, then one
// from vertices 3 and 4 (locked, at y = -0.5) and 5 (past the lock): the fill puts 5 far
// below, so that triangle stays under y = -0.5 (the picture's bottom quarter, not
// checked). Every discard takes the next copy of the buffer.
TEST_F(DrawFixture, ADiscardLockOfTheStartLeavesTheRestAsTheBufferHoldsIt) {
    UseShaders(kPassVertex, kColourPixel);
    VertexBuffer* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(6 * sizeof(Vertex), USAGE_DYNAMIC | USAGE_WRITEONLY, kVertexFvf, POOL_DEFAULT, &vb, nullptr), OK);
    held.push_back(vb);
    device->SetFVF(kVertexFvf);
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    const uint32_t colours[3] = {0x00C800u, 0x0000C8u, 0xC8C800u};
    for (uint32_t draw = 0; draw < 3; ++draw) {
        const uint32_t c = 0xFF000000u | colours[draw];
        const Vertex locked[5] = {{-1, -1, 0.5f, c, 0, 0}, {-1, 3, 0.5f, c, 0, 0}, {3, -1, 0.5f, c, 0, 0},
                                  {-0.5f, -0.5f, 0.25f, 0xFFFF0000u, 0, 0}, {0.5f, -0.5f, 0.25f, 0xFFFF0000u, 0, 0}};
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, sizeof locked, &p, LOCK_DISCARD), OK);
        std::memcpy(p, locked, sizeof locked);
        vb->Unlock();
        Clear(0);
        ASSERT_EQ(device->BeginScene(), OK);
        ASSERT_EQ(device->DrawPrimitive(PT_TRIANGLELIST, 0, 2), OK);
        ASSERT_EQ(device->EndScene(), OK);
        const std::vector<uint32_t> got = Pixels(backBuffer);
        ExpectPicture("discard_lock_of_the_start_" + std::to_string(draw), backBuffer,
                      [&](uint32_t x, uint32_t y) { return y < kSize * 3 / 4 - 1 ? colours[draw] : got[y * kSize + x]; });
    }
}

}  // namespace
}  // namespace gfx
