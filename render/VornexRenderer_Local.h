#pragma once
// Private to render/: helpers shared by the renderer's facet files.
#include <cstdint>
#include <cstring>

#include "core/BaseThread.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/VornexRenderer.h"

// Bytes that bring an offset up to a multiple of 4.
inline uint32_t PadTo4(uint32_t offset) { return (4 - (offset & 3)) & 3; }

// Reads packed payload fields in order; false (nothing consumed) when the block ends
// first. One bounds check and one advance for all of them.
template <class... T>
bool Read(CommandRingBuffer& r, T&... fields) {
    constexpr uint32_t size = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    if (r.ReadLeft() < size) return false;
    const uint8_t* p = r.ReadCursor();
    ((std::memcpy(&fields, p, sizeof(T)), p += sizeof(T)), ...);
    r.SkipRead(size);
    return true;
}

// Post's general case, out of line so that the common case needs no stack frame.
template <class... T>
[[gnu::noinline]] bool PostThroughBeginCommand(VornexRenderer& renderer, uint32_t id, const T&... fields) {
    constexpr uint32_t size = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    if (!renderer.BeginCommand(id, size)) return false;
    if constexpr (size > 0) {
        // Each field straight to its place: the open block holds room for the whole
        // payload. (Packed on the stack first, the fields' narrow stores and the copy's
        // wide loads of the same bytes stalled.)
        CommandRingBuffer& ring = renderer.Ring();
        uint8_t* p = ring.Cursor();
        ((std::memcpy(p, &fields, sizeof(T)), p += sizeof(T)), ...);
        ring.Skip(size);
    }
    return true;
}

// One record whose payload is the fields, packed in order.
template <class... T>
bool VornexRenderer::Post(uint32_t id, const T&... fields) {
    constexpr uint32_t size = (0u + ... + static_cast<uint32_t>(sizeof(T)));
#ifndef NDEBUG
    AssertMainThread();
#endif
    CommandRingBuffer& ring = Ring();
    // BeginCommand's common case (an open block with room, no observer), with the record's
    // size known here: the head and then each field stored straight to its place, and the
    // ring's cursor moved once over the whole record. (Moved once for the head and once
    // for the payload, each move waited for the previous one's store of the cursor.)
    if (blockOpen && !taskObserver && ring.Cursor() == recordEnd) {
        const uint32_t used = static_cast<uint32_t>(recordEnd - blockStart);
        const uint32_t pad = PadTo4(used);
        if (uint64_t(used) + pad + 8 + size <= kRenderBlockBytes) {
            // The bookkeeping first: byte stores into the block may alias any field, and
            // after them every field would be loaded again.
            uint8_t* p = ring.Cursor();
            ring.Skip(pad + sizeof id + size);
            recordEnd = ring.Cursor();
            ++postedRecords;
            const uint64_t head = RecordHead(id, pad);  // eight bytes always fit (the terminator's room)
            std::memcpy(p, &head, sizeof head);
            p += pad + sizeof id;
            ((std::memcpy(p, &fields, sizeof(T)), p += sizeof(T)), ...);
            return true;
        }
    }
    return PostThroughBeginCommand(*this, id, fields...);
}

// The device's validation reports, as warnings of the rendering-device category. Each
// distinct report is logged once per device; LogValidationRepeats (when the device closes)
// logs how often each one that came again was reported, and starts the count afresh.
void LogValidationReport(void* user, const gfx::ValidationReport& report);
void LogValidationRepeats();

// 0xAARRGGBB from a float colour: each component clamped to 0..1, times 255, truncated.
inline uint32_t ToDeviceColor(const Vector& c) { return c.GetRGBA(); }
