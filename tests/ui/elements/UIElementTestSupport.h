#pragma once
// Shared helpers of the UI element tests: an op recorder, a recording element and float
// comparisons. Without a running renderer every op runs at once on the posting thread, so
// the render half can be checked right after a main-side call.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ui/elements/UIElement.h"
#include "ui/elements/UIOpStream.h"

namespace uitest {

struct PostedOp {
    uint32_t op;
    const UIElement* element;
    uint32_t bytes;
    bool heap;
};

// Records every posted op while alive.
class OpRecorder {
public:
    OpRecorder() {
        SetUIOpObserver(
            [](void* user, uint32_t op, const UIElement* e, uint32_t bytes, bool heap) {
                static_cast<OpRecorder*>(user)->ops.push_back({op, e, bytes, heap});
            },
            this);
    }
    ~OpRecorder() { SetUIOpObserver(nullptr, nullptr); }
    // The op numbers posted for one element, in order.
    std::vector<uint32_t> For(const UIElement* e) const {
        std::vector<uint32_t> out;
        for (const PostedOp& p : ops)
            if (p.element == e) out.push_back(p.op);
        return out;
    }
    std::vector<PostedOp> ops;
};

// Records its pre-delete hook and its destruction.
class RecordingElement : public UIElement {
public:
    explicit RecordingElement(std::vector<uint32_t>* deleted = nullptr, std::vector<uint32_t>* freed = nullptr)
        : deleted(deleted), freed(freed) {}
    void OnBeforeDelete() override {
        ++beforeDeleteCalls;
        if (deleted) deleted->push_back(GetId());
        UIElement::OnBeforeDelete();
    }
    ~RecordingElement() override {
        if (freed) freed->push_back(GetId());
    }
    std::vector<uint32_t>* deleted;
    std::vector<uint32_t>* freed;
    int beforeDeleteCalls = 0;
};

inline bool SameVector(const Vector& a, const Vector& b) {
    return std::memcmp(&a.x, &b.x, sizeof(float) * 4) == 0;
}

// Within n units in the last place.
inline bool NearUlps(float a, float b, int n = 2) {
    if (a == b) return true;
    int32_t ia, ib;
    std::memcpy(&ia, &a, 4);
    std::memcpy(&ib, &b, 4);
    if ((ia < 0) != (ib < 0)) return false;
    return std::abs(int64_t(ia) - int64_t(ib)) <= n;
}

}  // namespace uitest
