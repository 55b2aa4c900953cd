#include "ui/elements/UIViewState.h"

#include <cassert>

#include "core/Time.h"
#include "ui/elements/UIConstants.h"

UIViewState gUIViewState;

namespace {
UIRenderTreeFunction gRenderTree = nullptr;
}

void SetUIRenderTreeFunction(UIRenderTreeFunction function) { gRenderTree = function; }

void HandleUIScreenOp(uint32_t op, UIElement* screen, UIOpReader& payload) {
    assert(op >= kUIScreenOpFirst && op <= kUIScreenOpLast && "an op of another family posted to the screen family");
    if (op == UIOP_VIEWTRANSFORM) {
        int64_t game = 0, gameplay = 0;
        float f[4] = {};
        Vector pointer;
        if (payload.ReadValue(game) && payload.ReadValue(gameplay) && payload.ReadValue(f) &&
            payload.ReadValue(pointer))
            SetUIViewTransform(game, gameplay, f[0], f[1], f[2], f[3], pointer);
        return;
    }
    if (op == UIOP_RENDERTREE) {
        uint8_t flag = 0;
        if (payload.ReadValue(flag) && gRenderTree && screen) gRenderTree(screen, flag);
        return;
    }
    payload.Skip(payload.Left());
}

bool PostUIViewTransform(UIElement* screen, int64_t smoothGameTime, int64_t smoothGameplayTime, float a, float b,
                         float c, float d, const Vector& pointer) {
    const float f[4] = {a, b, c, d};
    return PostUIOpValues(kUIScreenFamily, UIOP_VIEWTRANSFORM, screen, smoothGameTime, smoothGameplayTime, f, pointer);
}

void SetUIViewTransform(int64_t smoothGameTime, int64_t smoothGameplayTime, float a, float b, float c, float d,
                        const Vector& pointer) {
    UIViewState& s = gUIViewState;
    s.smoothGameTime = smoothGameTime;
    s.smoothGameplayTime = smoothGameplayTime;
    Time now;
    now.LoadHardwareTime();
    s.hardwareTime = now.ticks;
    s.a = a, s.b = b, s.c = c, s.d = d;
    s.size = Vector(a, b, 0, 0);
    s.inverseSize = Vector(1.0f / a, 1.0f / b, 0, 0);
    s.uiPerScreen = Vector(a / c, b / d, 0, 0);
    s.screenPerUI = Vector(c / a, d / b, 0, 0);
    s.pointer = pointer * Vector(a, b, 0, 0);
    s.hx = (c - 1.0f) * (1.0f / c) * a * 0.5f;
    s.hy = (d - 1.0f) * (1.0f / d) * b * 0.5f;
    s.alignA = s.hx * -2.0f / s.uiPerScreen.x;
    s.alignB = s.hy * 2.0f / s.uiPerScreen.y;
}

bool ApplyWindowAlignment(uint32_t alignment, Vector& offset, uint32_t& alignedBits) {
    // Signs of the x and y offsets per alignment (0: that axis is not aligned).
    static const int8_t kSigns[9][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
    if (alignment > UIWINDOWALIGNMENT_RIGHTBOTTOM) return false;
    const int8_t sx = kSigns[alignment][0], sy = kSigns[alignment][1];
    bool changed = false;
    if (sx && !(alignedBits & UIALIGNED_X)) {
        offset.x += sx * gUIViewState.alignA;
        alignedBits |= UIALIGNED_X;
        changed = true;
    }
    if (sy && !(alignedBits & UIALIGNED_Y)) {
        offset.y += sy * gUIViewState.alignB;
        alignedBits |= UIALIGNED_Y;
        changed = true;
    }
    return changed;
}
