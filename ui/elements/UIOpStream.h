#pragma once
// The element op stream: every change the main thread makes to the render half of a UI
// element travels as one record of the renderer's function-call task, run on the render
// thread in posting order.
//
// Record: executor (the family's entry), op number (both native size, the op in the
// argument slot), the element pointer, a u32 payload byte count, then the payload. The
// count lets a family skip an op that is not its own without losing the stream and lets
// the executor check that the handler consumed exactly its payload. A payload too large
// for one record travels as a heap block: the count then carries kUIOpHeapBlock and the
// block's size, the payload is the block pointer, and the executor frees the block after
// the handler ran. Nothing is cut.
//
// While the renderer is not running (start-up, shutdown, tests of the element logic) a
// record runs at once on the posting thread: the render half then has no other user.
//
// Threads: Post* on the main thread; handlers on the render thread.
#include <cstdint>
#include <cstring>

#include "render/VornexRenderer.h"

class UIElement;

// Op numbers of the element and screen families. The kinds' families number their ops in
// their own headers: picture 31-39 and atlas 40 (UIPicture.h), text base 30 and 41-50
// (UITextBase.h), text 51-54 (UIText.h), text box 55-62 (UITextBox.h), template view 63-66
// (UITemplateView.h), rounded rectangle 67 (UIRoundedRect.h), blur 68-69 (UIBlur.h), list
// 70-79 (ui/widgets/UIList.h).
enum UIOp : uint32_t {
    UIOP_DELETE = 0,
    UIOP_ADDCHILD = 1,
    UIOP_REMOVECHILD = 2,
    UIOP_DELETECHILDREN = 3,
    UIOP_RAISEFLAG = 4,
    UIOP_CLEARFLAG = 5,
    UIOP_WINDOWALIGNMENT = 6,
    UIOP_ASPECTSCALING = 7,
    UIOP_POSITION = 8,
    UIOP_POSITIONWITHMASK = 9,
    UIOP_ANCHOR = 10,
    UIOP_ROTATION = 11,
    UIOP_SCALE = 12,
    UIOP_SIZE = 13,
    UIOP_SELECTIONFRAME = 14,
    UIOP_COLOR = 15,
    UIOP_BLENDMODE = 16,
    UIOP_COLORMODE = 17,
    UIOP_OUTLINE = 18,
    UIOP_TAG = 19,
    UIOP_EXTRAPARAM = 20,
    UIOP_NAME = 21,  // the render half's copy of the name
    UIOP_REMOVEACTIONS = 22,
    UIOP_ADDACTION = 23,
    UIOP_ENTITYTRACKING = 24,
    UIOP_VIEWTRANSFORM = 25,
    UIOP_RENDERTREE = 26,
};
constexpr uint32_t kUIElementOpFirst = 0, kUIElementOpLast = 24;
constexpr uint32_t kUIScreenOpFirst = 25, kUIScreenOpLast = 26;
constexpr uint32_t kUIOpLast = 79;

constexpr uint32_t kUIOpHeapBlock = 0x80000000u;
// Bytes of the record before the payload.
constexpr uint32_t kUIOpHeaderBytes =
    uint32_t(sizeof(RenderCallFunction) + sizeof(uintptr_t) + sizeof(void*) + sizeof(uint32_t));
// The largest payload carried inside the record.
constexpr uint32_t kUIOpMaxInlinePayload = kRenderMaxPayload - kUIOpHeaderBytes;

// Reads one op's payload, from the command stream or from a memory block. A read past
// the payload's end reads nothing and fails.
class UIOpReader {
public:
    UIOpReader(CommandRingBuffer* ring, const uint8_t* block, uint32_t bytes) : ring(ring), block(block), left(bytes) {}

    bool Read(void* destination, uint32_t n) {
        if (n > left) return false;
        if (ring) {
            if (!ring->Read(destination, n)) return false;
        } else {
            std::memcpy(destination, block, n);
            block += n;
        }
        left -= n;
        return true;
    }
    template <class T>
    bool ReadValue(T& value) {
        return Read(&value, sizeof value);
    }
    void Skip(uint32_t n) {
        if (n > left) n = left;
        if (ring)
            ring->SkipRead(n);
        else
            block += n;
        left -= n;
    }
    uint32_t Left() const { return left; }

private:
    CommandRingBuffer* ring;
    const uint8_t* block;
    uint32_t left;
};

// A family's handler: called with the op number, the element and its payload.
using UIOpHandler = void (*)(uint32_t op, UIElement* element, UIOpReader& payload);

struct UIOpFamily {
    RenderCallFunction executor;
    UIOpHandler handler;
};

// Runs one record on the render thread: reads the element and the count, hands the
// payload to the handler, skips what it left and frees a heap block.
void RunUIOpRecord(UIOpHandler handler, uint32_t op, CommandRingBuffer& ring);

template <UIOpHandler Handler>
void UIOpExecutor(uint32_t op, CommandRingBuffer& ring) {
    RunUIOpRecord(Handler, op, ring);
}

template <UIOpHandler Handler>
constexpr UIOpFamily MakeUIOpFamily() {
    return {&UIOpExecutor<Handler>, Handler};
}

// Posts one op whose payload is the concatenation of the given parts (null parts of zero
// bytes allowed). False when nothing could be posted (the allocation of a heap block
// failed, or the renderer refused the record).
struct UIOpPart {
    const void* data;
    uint32_t bytes;
};
bool PostUIOpParts(const UIOpFamily& family, uint32_t op, UIElement* element, const UIOpPart* parts,
                   uint32_t partCount);

inline bool PostUIOp(const UIOpFamily& family, uint32_t op, UIElement* element, const void* payload = nullptr,
                     uint32_t bytes = 0) {
    const UIOpPart part{payload, bytes};
    return PostUIOpParts(family, op, element, &part, 1);
}

namespace uiop_detail {
// Whether a fixed-size record may go straight to the renderer: it runs and no test
// observer watches the posts.
bool StraightRecords();
// Writes one whole record (header and payload) as a function-call task. Inline, so a
// fixed-size record is copied with moves of its known size.
inline bool WriteRecord(const void* record, uint32_t size) {
    if (!gVornexRenderer.BeginCommand(TASK_CALL, size)) return false;
    gVornexRenderer.Ring().Write(record, size);
    return true;
}
}  // namespace uiop_detail

// Posts the values packed back to back. Small payloads (every setter's) are laid out with
// the header in one fixed-size record and written with one copy.
template <class... T>
bool PostUIOpValues(const UIOpFamily& family, uint32_t op, UIElement* element, const T&... values) {
    constexpr uint32_t kBytes = (0u + ... + uint32_t(sizeof(T)));
    if constexpr (kBytes <= 64) {
        if (uiop_detail::StraightRecords()) {
            uint8_t record[kUIOpHeaderBytes + kBytes];
            uint8_t* at = record;
            const uintptr_t opWord = op;
            const uint32_t count = kBytes;
            std::memcpy(at, &family.executor, sizeof family.executor);
            at += sizeof family.executor;
            std::memcpy(at, &opWord, sizeof opWord);
            at += sizeof opWord;
            std::memcpy(at, &element, sizeof element);
            at += sizeof element;
            std::memcpy(at, &count, sizeof count);
            at += sizeof count;
            ((std::memcpy(at, &values, sizeof(T)), at += sizeof(T)), ...);
            return uiop_detail::WriteRecord(record, uint32_t(sizeof record));
        }
    }
    const UIOpPart parts[] = {{&values, uint32_t(sizeof(T))}...};
    return PostUIOpParts(family, op, element, parts, sizeof...(T));
}

// Test hooks: the observer sees every posted op (main thread) with its payload size and
// whether it travels as a heap block; the count of records whose handler did not consume
// exactly its payload (render thread writes, any thread reads).
using UIOpObserver = void (*)(void* user, uint32_t op, const UIElement* element, uint32_t payloadBytes, bool heap);
void SetUIOpObserver(UIOpObserver observer, void* user);
uint32_t UIOpPayloadMismatches();
