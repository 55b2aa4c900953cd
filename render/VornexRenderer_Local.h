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

// One record whose payload is the fields, packed in order.
template <class... T>
bool VornexRenderer::Post(uint32_t id, const T&... fields) {
    constexpr uint32_t size = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    if (!BeginCommand(id, size)) return false;
    if constexpr (size > 0) {
        // Each field straight to its place: the open block holds room for the whole
        // payload. (Packed on the stack first, the fields' narrow stores and the copy's
        // wide loads of the same bytes stalled.)
        uint8_t* p = Ring().Cursor();
        ((std::memcpy(p, &fields, sizeof(T)), p += sizeof(T)), ...);
        Ring().Skip(size);
    }
    return true;
}

// The device's validation reports, as warnings of the rendering-device category. Each
// distinct report is logged once per device; LogValidationRepeats (when the device closes)
// logs how often each one that came again was reported, and starts the count afresh.
void LogValidationReport(void* user, const gfx::ValidationReport& report);
void LogValidationRepeats();

// 0xAARRGGBB from a float colour: each component clamped to 0..1, times 255, truncated.
inline uint32_t ToDeviceColor(const Vector& c) { return c.GetRGBA(); }
