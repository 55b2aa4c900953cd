#include "ui/elements/UIOpStream.h"

#include <atomic>
#include <cassert>

#include "core/Memory.h"

namespace {

UIOpObserver gObserver = nullptr;
void* gObserverUser = nullptr;
std::atomic<uint32_t> gMismatches{0};

void RunHandler(UIOpHandler handler, uint32_t op, UIElement* element, UIOpReader& reader) {
    handler(op, element, reader);
    if (reader.Left() != 0) {
        // A handler that left bytes (an op of another family, or a short read) never
        // desynchronises the stream: the rest is skipped.
        gMismatches.fetch_add(1, std::memory_order_relaxed);
        assert(!"UI op payload not consumed by its handler");
        reader.Skip(reader.Left());
    }
}

}  // namespace

void RunUIOpRecord(UIOpHandler handler, uint32_t op, CommandRingBuffer& ring) {
    // The element and the count in one read.
    uint8_t head[sizeof(UIElement*) + sizeof(uint32_t)];
    if (!ring.Read(head, sizeof head)) return;
    UIElement* element = nullptr;
    uint32_t count = 0;
    std::memcpy(&element, head, sizeof element);
    std::memcpy(&count, head + sizeof element, sizeof count);
    if (count & kUIOpHeapBlock) {
        uint8_t* block = nullptr;
        if (!ring.ReadValue(block)) return;
        UIOpReader reader(nullptr, block, count & ~kUIOpHeapBlock);
        RunHandler(handler, op, element, reader);
        EngineFree(block);
        return;
    }
    UIOpReader reader(&ring, nullptr, count);
    RunHandler(handler, op, element, reader);
}

bool PostUIOpParts(const UIOpFamily& family, uint32_t op, UIElement* element, const UIOpPart* parts,
                   uint32_t partCount) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < partCount; ++i) total += parts[i].bytes;
    if (total >= kUIOpHeapBlock) return false;
    const uint32_t bytes = uint32_t(total);
    const bool heap = bytes > kUIOpMaxInlinePayload;
    if (gObserver) gObserver(gObserverUser, op, element, bytes, heap);

    if (!gVornexRenderer.IsRendererRunning()) {
        // No render thread: the record runs here and now.
        uint8_t small[256];
        uint8_t* buffer = bytes <= sizeof small ? small : static_cast<uint8_t*>(EngineAlloc(bytes));
        if (!buffer) return false;
        uint32_t at = 0;
        for (uint32_t i = 0; i < partCount; ++i) {
            if (parts[i].bytes) std::memcpy(buffer + at, parts[i].data, parts[i].bytes);
            at += parts[i].bytes;
        }
        UIOpReader reader(nullptr, buffer, bytes);
        RunHandler(family.handler, op, element, reader);
        if (buffer != small) EngineFree(buffer);
        return true;
    }

    // The record in one piece: executor, op, element, count, then the payload or the
    // heap block's pointer.
    uint8_t record[kRenderMaxPayload];
    uint8_t* at = record;
    auto put = [&at](const void* data, uint32_t n) {
        std::memcpy(at, data, n);
        at += n;
    };
    const uintptr_t opWord = op;
    put(&family.executor, sizeof family.executor);
    put(&opWord, sizeof opWord);
    put(&element, sizeof element);
    uint8_t* block = nullptr;
    if (heap) {
        block = static_cast<uint8_t*>(EngineAlloc(bytes));
        if (!block) return false;
        uint32_t offset = 0;
        for (uint32_t i = 0; i < partCount; ++i) {
            if (parts[i].bytes) std::memcpy(block + offset, parts[i].data, parts[i].bytes);
            offset += parts[i].bytes;
        }
        const uint32_t count = kUIOpHeapBlock | bytes;
        put(&count, sizeof count);
        put(&block, sizeof block);
    } else {
        put(&bytes, sizeof bytes);
        for (uint32_t i = 0; i < partCount; ++i)
            if (parts[i].bytes) put(parts[i].data, parts[i].bytes);
    }
    const uint32_t size = uint32_t(at - record);
    if (!gVornexRenderer.BeginCommand(TASK_CALL, size)) {
        EngineFree(block);
        return false;
    }
    gVornexRenderer.Ring().Write(record, size);
    return true;
}

bool uiop_detail::StraightRecords() { return !gObserver && gVornexRenderer.IsRendererRunning(); }


void SetUIOpObserver(UIOpObserver observer, void* user) {
    gObserver = observer;
    gObserverUser = user;
}

uint32_t UIOpPayloadMismatches() { return gMismatches.load(std::memory_order_relaxed); }
